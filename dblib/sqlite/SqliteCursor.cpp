// The SQLite cursor (see SqliteCursor.h for the scrolling scheme and the stream life cycle).
#include "dblib/sqlite/SqliteCursor.h"

#include <strings.h>

#include <unordered_map>

#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStatement.h"
#include "dblib/sqlite/StatementSeams.h"

namespace dbl {

namespace {

constexpr const char* kRowidColumn = "zyl_rowid_";

std::string QuoteIdent(const std::string& name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

// One prepared statement, finalized when the holder goes.
struct Stmt {
  sqlite3_stmt* st = nullptr;
  Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt() { Reset(nullptr); }
  void Reset(sqlite3_stmt* s) {
    if (st) sq::finalize(st);
    st = s;
  }
};

// One column through its sqlite3_value: one lookup, then accessors on the value itself (the
// fetch path reads every column of every row this way). Reading the value unprotected is safe
// because a connection and its cursors are used by one thread at a time; another thread only
// ever interrupts it.
ValueRef ColumnRef(sqlite3_stmt* st, int i) {
  ValueRef r;
  sqlite3_value* v = sq::column_value(st, i);
  switch (sq::value_type(v)) {
    case SQLITE_INTEGER: r.kind = Value::Kind::Integer; r.i = sq::value_int64(v); break;
    case SQLITE_FLOAT: r.kind = Value::Kind::Real; r.d = sq::value_double(v); break;
    case SQLITE_TEXT:
      r.kind = Value::Kind::Text;
      r.p = reinterpret_cast<const char*>(sq::value_text(v));
      r.n = static_cast<size_t>(sq::value_bytes(v));
      break;
    case SQLITE_BLOB:
      r.kind = Value::Kind::Blob;
      r.p = static_cast<const char*>(sq::value_blob(v));
      r.n = static_cast<size_t>(sq::value_bytes(v));
      break;
    default: break;
  }
  return r;
}

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(SqliteConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns,
               const std::vector<Value>& in, const CursorOptions& options)
      : conn_(conn), cols_(std::move(columns)), params_(in) {
    scroll_ = !options.NoScroll();
    readOnly_ = options.ReadOnly();
    // The cursor builds queries around the statement (row count, re-reads): without its
    // trailing comments and semicolons, so that nothing it adds ends up inside a comment.
    base_ = std::string(StatementBody(translated));
    std::string table;
    std::string withRowid;
    if (SingleTableSelect(base_, table)) withRowid = WithRowidColumn(base_, kRowidColumn);
    if (!withRowid.empty()) {
      table_ = table;
      text_ = withRowid;
      rowid_ = true;
    } else {
      text_ = base_;
    }
    StartStream();
    ncols_ = sq::column_count(stream_.st) - (rowid_ ? 1 : 0);
    if (cols_.empty()) {
      // The statement layer gave no description: the cursor still reads every column.
      cols_.resize(static_cast<size_t>(ncols_));
    }
    openCount_ = ComputeOpenCount(conn_.OptionIsOn("row_counts"));
  }

  const std::vector<ColumnDesc>& Columns() const override { return cols_; }
  int32_t OpenCount() const override { return openCount_; }
  int64_t Position() const override { return pos_; }
  bool TotalKnown() const override { return total_ >= 0; }
  bool Scrollable() const override { return scroll_; }
  bool Updatable() const override { return rowid_; }
  bool OpenedReadOnly() const override { return readOnly_; }
  std::string TableName() const override { return table_; }

  bool MoveTo(int64_t n) override {
    src_ = Src::None;
    insertedRowid_ = 0;
    if (n <= 0) {
      pos_ = 0;
      return false;
    }
    if (done_ && n > total_) {
      pos_ = total_ + 1;
      return false;
    }
    if (n > streamRow_) return AdvanceTo(n);
    if (n == streamRow_ && onRow_ && !parked_) {
      pos_ = n;
      src_ = Src::Stream;
      return true;
    }
    // A row the stream has passed (or stands on without its values at hand).
    if (!scroll_) {
      if (n == streamRow_ && rowid_ && LoadRowid(curRowid_)) {
        pos_ = n;
        src_ = Src::Reread;
        return true;
      }
      throw SqlError(SQLE_INVALID_FETCH_POSITION);
    }
    if (rowid_) return RereadAt(n);
    if (HasCached(n)) {
      pos_ = n;
      src_ = Src::Cache;
      return true;
    }
    return RestartTo(n);
  }

  int64_t Total() override {
    if (total_ < 0) total_ = CountRows();
    return total_;
  }

  ValueRef Column(int i) override {
    if (i < 0 || i >= ncols_) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
    switch (src_) {
      case Src::Stream:
        if (!rowid_ && scroll_) CacheCurrent();
        return ColumnRef(stream_.st, i);
      case Src::Reread: return ColumnRef(reread_.st, i);
      case Src::Cache: return ValueRef::Of(cache_[pos_][static_cast<size_t>(i)]);
      default: throw SqlError(SQLE_NO_CURRENT_ROW);
    }
  }

  bool Refresh(bool) override {
    if (insertedRowid_ != 0) return LoadRowid(insertedRowid_) || LoadBaseRow(insertedRowid_);
    if (pos_ < 1 || (done_ && pos_ > total_)) return false;
    if (!rowid_) {
      // Without a rowid the row cannot be found again in the table: it is delivered as read.
      if (src_ == Src::Stream || src_ == Src::Cache) return true;
      return MoveTo(pos_);
    }
    int64_t rowid = 0;
    if (scroll_ && static_cast<size_t>(pos_) <= rowids_.size()) rowid = rowids_[static_cast<size_t>(pos_ - 1)];
    else if (!scroll_ && pos_ == streamRow_) rowid = curRowid_;
    else return false;
    Park();
    src_ = Src::None;
    if (!LoadRowid(rowid)) return false;
    src_ = Src::Reread;
    return true;
  }

  int64_t Update(const ColumnValues& changes) override {
    CheckChangeable();
    int64_t rowid = CurrentRowid();
    std::string sql = "UPDATE " + QuoteIdent(table_) + " SET ";
    std::vector<Value> vals;
    for (const auto& [col, v] : changes) {
      sql += (vals.empty() ? "" : ", ") + QuoteIdent(BaseColumn(col)) + " = ?";
      vals.push_back(v);
    }
    if (vals.empty()) return 0;
    sql += " WHERE rowid = ?";
    vals.push_back(Value::Int(rowid));
    int64_t changed = Write(sql, vals);
    // A new value of an INTEGER PRIMARY KEY column is the row's new rowid: follow it, so the
    // cursor keeps finding its row.
    for (const auto& [col, v] : changes) {
      if (v.kind != Value::Kind::Integer || !IsRowidAlias(BaseColumn(col))) continue;
      if (insertedRowid_ == rowid && insertedRowid_ != 0) insertedRowid_ = v.i;
      if (scroll_ && pos_ >= 1 && static_cast<size_t>(pos_) <= rowids_.size()) rowids_[static_cast<size_t>(pos_ - 1)] = v.i;
      if (!scroll_ && pos_ == streamRow_) curRowid_ = v.i;
      rowid = v.i;
    }
    // The row as stored now is what the cursor shows from here on.
    if (insertedRowid_ == 0) Park();
    src_ = LoadRowid(rowid) || LoadBaseRow(rowid) ? Src::Reread : Src::None;
    return changed;
  }

  void Delete() override {
    CheckChangeable();
    int64_t rowid = CurrentRowid();
    if (Write("DELETE FROM " + QuoteIdent(table_) + " WHERE rowid = ?", {Value::Int(rowid)}) == 0)
      throw SqlError(SQLE_NO_CURRENT_ROW);
    if (insertedRowid_ != 0) {
      insertedRowid_ = 0;
      src_ = Src::None;
      return;
    }
    // The row leaves the result: the cursor stands between its neighbours, so the next
    // FETCH NEXT delivers the row that followed it.
    bool streamOnIt = streamRow_ == pos_;
    if (scroll_ && static_cast<size_t>(pos_) <= rowids_.size()) rowids_.erase(rowids_.begin() + (pos_ - 1));
    if (streamRow_ >= pos_) --streamRow_;
    if (streamOnIt) onRow_ = false;  // the stream still stands on the deleted row
    if (total_ >= 0) --total_;
    --pos_;
    src_ = Src::None;
  }

  void Insert(const ColumnValues& values) override {
    CheckChangeable(false);
    std::string names, marks;
    std::vector<Value> vals;
    for (const auto& [col, v] : values) {
      names += (vals.empty() ? "" : ", ") + QuoteIdent(BaseColumn(col));
      marks += vals.empty() ? "?" : ", ?";
      vals.push_back(v);
    }
    std::string sql = "INSERT INTO " + QuoteIdent(table_) +
                      (vals.empty() ? std::string(" DEFAULT VALUES") : " (" + names + ") VALUES (" + marks + ")");
    Write(sql, vals);
    insertedRowid_ = sq::last_insert_rowid(conn_.Handle());
    if (!LoadRowid(insertedRowid_) && !LoadBaseRow(insertedRowid_)) throw SqlError(SQLE_NO_CURRENT_ROW);
    src_ = Src::Reread;
  }

 private:
  enum class Src { None, Stream, Reread, Cache };

  void StartStream() {
    stream_.Reset(conn_.PrepareRaw(text_));
    SqliteConnection::Bind(stream_.st, params_);
    streamRow_ = 0;
    onRow_ = false;
    parked_ = false;
    done_ = false;
  }

  // One step of the stream; false at the end. A rollback that aborted the read runs the query
  // again up to where it was.
  bool Step() {
    for (int attempt = 0;; ++attempt) {
      int rc = sq::step(stream_.st);
      if (rc == SQLITE_ROW) {
        ++streamRow_;
        onRow_ = true;
        if (rowid_) {
          curRowid_ = sq::column_int64(stream_.st, ncols_);
          if (scroll_ && static_cast<size_t>(streamRow_) > rowids_.size()) rowids_.push_back(curRowid_);
        }
        return true;
      }
      onRow_ = false;
      if (rc == SQLITE_DONE) {
        done_ = true;
        total_ = streamRow_;
        return false;
      }
      if ((rc & 0xFF) == SQLITE_ABORT && attempt == 0) {
        int64_t at = streamRow_;
        Resume(at);
        continue;
      }
      sq::reset(stream_.st);
      ThrowSqlite(conn_.Handle(), rc);
    }
  }

  // Runs the query again and steps over the first k rows.
  void Resume(int64_t k) {
    sq::reset(stream_.st);
    streamRow_ = 0;
    onRow_ = false;
    parked_ = false;
    done_ = false;
    while (streamRow_ < k) {
      int rc = sq::step(stream_.st);
      if (rc == SQLITE_ROW) {
        ++streamRow_;
        onRow_ = true;
        if (rowid_) curRowid_ = sq::column_int64(stream_.st, ncols_);
        continue;
      }
      onRow_ = false;
      if (rc == SQLITE_DONE) {
        done_ = true;
        total_ = streamRow_;
        return;
      }
      sq::reset(stream_.st);
      ThrowSqlite(conn_.Handle(), rc);
    }
  }

  bool AdvanceTo(int64_t n) {
    if (parked_) Resume(streamRow_);
    while (streamRow_ < n) {
      if (done_ || !Step()) {
        pos_ = total_ + 1;
        return false;
      }
    }
    pos_ = n;
    src_ = Src::Stream;
    return true;
  }

  bool RestartTo(int64_t n) {
    Resume(0);
    return AdvanceTo(n);
  }

  // Ends the stream's hold on the connection's read snapshot (see the life cycle).
  void Park() {
    if (reread_.st) sq::reset(reread_.st);
    if (onRow_ && !done_ && !parked_) {
      sq::reset(stream_.st);
      parked_ = true;
      onRow_ = false;
    }
  }

  bool RereadAt(int64_t n) {
    while (static_cast<size_t>(n) <= rowids_.size()) {
      if (LoadRowid(rowids_[static_cast<size_t>(n - 1)])) {
        pos_ = n;
        src_ = Src::Reread;
        return true;
      }
      // Deleted since the cursor passed it: the row has left the result.
      rowids_.erase(rowids_.begin() + (n - 1));
      --streamRow_;
      if (total_ >= 0) --total_;
    }
    return AdvanceTo(n);
  }

  // Reads the row with this rowid through the cursor's own query (same columns, same filter).
  bool LoadRowid(int64_t rowid) {
    if (!reread_.st || rereadIsBase_) {
      rereadIsBase_ = false;
      std::string sql = "SELECT * FROM (" + text_ + ") WHERE " + kRowidColumn + " = :" + kRowidColumn;
      reread_.Reset(conn_.PrepareRaw(sql));
    }
    sq::reset(reread_.st);
    // The rowid marker comes after every marker of the cursor's own text.
    std::vector<Value> vals = params_;
    vals.push_back(Value::Int(rowid));
    SqliteConnection::Bind(reread_.st, vals);
    int rc = sq::step(reread_.st);
    if (rc == SQLITE_ROW) return true;
    sq::reset(reread_.st);
    if (rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc);
    return false;
  }

  // A row the cursor's filter does not show (just inserted): its base columns straight from
  // the table; expression columns read as NULL.
  bool LoadBaseRow(int64_t rowid) {
    std::string list;
    for (int i = 0; i < ncols_; ++i) {
      const ColumnDesc& c = cols_[static_cast<size_t>(i)];
      list += (i ? ", " : "") + (c.baseColumn.empty() ? std::string("NULL") : QuoteIdent(c.baseColumn));
    }
    reread_.Reset(conn_.PrepareRaw("SELECT " + list + " FROM " + QuoteIdent(table_) + " WHERE rowid = ?"));
    rereadIsBase_ = true;  // the next LoadRowid prepares the cursor's own re-read again
    sq::bind_int64(reread_.st, 1, rowid);
    int rc = sq::step(reread_.st);
    if (rc == SQLITE_ROW) return true;
    sq::reset(reread_.st);
    if (rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc);
    return false;
  }

  bool HasCached(int64_t n) const { return cache_.count(n) != 0; }

  void CacheCurrent() {
    if (cache_.count(pos_)) return;
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(ncols_));
    for (int i = 0; i < ncols_; ++i) row.push_back(ColumnRef(stream_.st, i).ToValue());
    cache_.emplace(pos_, std::move(row));
  }

  int64_t CountRows() {
    Stmt count;
    count.Reset(conn_.PrepareRaw("SELECT count(*) FROM (" + base_ + ")"));
    SqliteConnection::Bind(count.st, params_);
    int rc = sq::step(count.st);
    if (rc != SQLITE_ROW) ThrowSqlite(conn_.Handle(), rc);
    return sq::column_int64(count.st, 0);
  }

  int32_t ComputeOpenCount(bool exact) {
    auto clamp = [](int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); };
    if (exact) {
      total_ = CountRows();
      return clamp(total_);
    }
    if (rowid_) {
      // The table's highest rowid is a cheap upper estimate; an empty table is an exact 0.
      Stmt est;
      est.Reset(conn_.PrepareRaw("SELECT max(rowid) FROM " + QuoteIdent(table_)));
      if (sq::step(est.st) == SQLITE_ROW && sq::column_type(est.st, 0) == SQLITE_INTEGER) {
        int64_t m = sq::column_int64(est.st, 0);
        return -clamp(m < 1 ? 1 : m);
      }
      return 0;
    }
    return -1;
  }

  void CheckChangeable(bool needRow = true) {
    if (!rowid_) throw SqlError(table_.empty() ? SQLE_NON_UPDATEABLE_VIEW : SQLE_ONLY_ONE_TABLE);
    if (readOnly_) throw SqlError(SQLE_READ_ONLY_CURSOR);
    if (needRow) CurrentRowid();  // -197 when the cursor stands on no row
  }

  int64_t CurrentRowid() {
    if (insertedRowid_ != 0) return insertedRowid_;
    if (scroll_ && pos_ >= 1 && static_cast<size_t>(pos_) <= rowids_.size()) return rowids_[static_cast<size_t>(pos_ - 1)];
    if (!scroll_ && pos_ >= 1 && pos_ == streamRow_) return curRowid_;
    throw SqlError(SQLE_NO_CURRENT_ROW);
  }

  bool IsRowidAlias(const std::string& column) const {
    const char* type = nullptr;
    const char* coll = nullptr;
    int notNull = 0, pk = 0, autoinc = 0;
    if (sq::table_column_metadata(conn_.Handle(), nullptr, table_.c_str(), column.c_str(), &type, &coll, &notNull, &pk,
                                  &autoinc) != SQLITE_OK || !pk || !type)
      return false;
    if (strcasecmp(type, "INTEGER") != 0) return false;
    // Only a table whose primary key is this one column uses it as the rowid.
    Stmt info;
    info.Reset(conn_.PrepareRaw("SELECT count(*) FROM pragma_table_info(" + QuoteLiteral(table_) + ") WHERE pk > 0"));
    return sq::step(info.st) == SQLITE_ROW && sq::column_int64(info.st, 0) == 1;
  }

  static std::string QuoteLiteral(const std::string& text) {
    std::string out = "'";
    for (char ch : text) {
      if (ch == '\'') out += '\'';
      out += ch;
    }
    return out + "'";
  }

  const std::string& BaseColumn(int col) const {
    if (col < 0 || col >= ncols_) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
    const ColumnDesc& c = cols_[static_cast<size_t>(col)];
    if (c.baseColumn.empty()) throw SqlError(SQLE_NON_UPDATEABLE_COLUMN);
    return c.baseColumn;
  }

  int64_t Write(const std::string& sql, const std::vector<Value>& vals) {
    conn_.BeginIfNeeded();
    Stmt w;
    w.Reset(conn_.PrepareRaw(sql));
    SqliteConnection::Bind(w.st, vals);
    int rc = sq::step(w.st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowSqlite(conn_.Handle(), rc, sql);
    return sq::changes(conn_.Handle());
  }

  SqliteConnection& conn_;
  std::vector<ColumnDesc> cols_;
  std::vector<Value> params_;  // host values, bound again whenever the query runs again
  std::string base_;           // the statement's text in SQLite's dialect
  std::string text_;           // what the stream runs (base_ with the rowid column, or base_)
  std::string table_;          // the one base table, empty otherwise
  bool rowid_ = false;         // the stream's last column is the base table's rowid
  bool scroll_ = true;
  bool readOnly_ = true;
  int ncols_ = 0;              // result columns the client sees
  int32_t openCount_ = 0;

  Stmt stream_;
  int64_t streamRow_ = 0;  // rows the stream has passed; it stands on row streamRow_ when onRow_
  bool onRow_ = false;
  bool parked_ = false;    // reset to free the snapshot; resumes by skipping streamRow_ rows
  bool done_ = false;      // stepped past the last row: total_ == streamRow_
  int64_t total_ = -1;     // N, -1 while unknown
  int64_t pos_ = 0;        // 0 before first, 1..N on a row, N+1 after last
  Src src_ = Src::None;    // where the current row's values are read from

  std::vector<int64_t> rowids_;                               // rowid of row k at [k-1]
  std::unordered_map<int64_t, std::vector<Value>> cache_;     // delivered rows (no rowid)
  Stmt reread_;              // the current row read again (by rowid)
  bool rereadIsBase_ = false;  // reread_ holds LoadBaseRow's statement, not the re-read query
  int64_t insertedRowid_ = 0;  // != 0: the current row is the row PUT inserted
  int64_t curRowid_ = 0;       // rowid of the row the stream stands on (or last stood on)
};

}  // namespace

std::unique_ptr<Cursor> MakeSqliteCursor(SqliteConnection& conn, const std::string& translated,
                                         std::vector<ColumnDesc> columns, const std::vector<Value>& in,
                                         const CursorOptions& options) {
  return std::make_unique<SqliteCursor>(conn, translated, std::move(columns), in, options);
}

std::unique_ptr<Cursor> OpenCursor(SqlStatement& st, const std::vector<Value>& in, const CursorOptions& options) {
  std::vector<ColumnDesc> cols;
  bool mayVary = false;
  st.DescribeOutput(cols, mayVary);
  return MakeSqliteCursor(st.Conn(), st.Translated(), std::move(cols), in, options);
}

}  // namespace dbl
