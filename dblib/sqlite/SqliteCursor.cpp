// The SQLite cursor (see SqliteCursor.h for the scrolling scheme, the stream life cycle and what a
// plan keeps between opens).
#include "dblib/sqlite/SqliteCursor.h"

#include <strings.h>

#include <optional>
#include <unordered_map>

#include "dblib/sql/Dialect.h"
#include "dblib/sql/Fit.h"
#include "dblib/sqlite/ForeignKeys.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/RowidList.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStatement.h"
#include "dblib/sqlite/StatementSeams.h"

namespace dbl {

namespace {

constexpr const char* kRowidColumn = "zyl_rowid_";

// Rows an open that must report the exact count reads ahead: a result that ends within them
// is counted by reading it, without a second pass over the data.
constexpr size_t kLookAhead = 32;

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
ValueRef ColumnRef(sqlite3_stmt* st, int i) { return RefOf(sq::column_value(st, i)); }

}  // namespace

// ---- CursorPlan ------------------------------------------------------------------------------

CursorPlan::CursorPlan(SqliteConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns)
    : conn_(conn), cols_(std::move(columns)) {
  // The cursor builds queries around the statement (row count, re-reads): without its trailing
  // comments and semicolons, so that nothing it adds ends up inside a comment.
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
}

CursorPlan::~CursorPlan() {
  for (auto& list : idle_)
    for (sqlite3_stmt* st : list) sq::finalize(st);
}

std::string CursorPlan::TextOf(Kind k) const {
  switch (k) {
    case kStream: return text_;
    case kReread: return "SELECT * FROM (" + text_ + ") WHERE " + kRowidColumn + " = :" + kRowidColumn;
    case kCount: return "SELECT count(*) FROM (" + base_ + ")";
    case kEstimate: return "SELECT max(rowid) FROM " + QuoteIdent(table_);
    default: break;
  }
  return {};
}

sqlite3_stmt* CursorPlan::Take(Kind k) {
  auto& list = idle_[k];
  if (list.empty()) return conn_.PrepareRaw(TextOf(k));
  sqlite3_stmt* st = list.back();
  list.pop_back();
  return st;
}

void CursorPlan::Give(Kind k, sqlite3_stmt* st) {
  sq::reset(st);
  sq::clear_bindings(st);
  // Two of a kind serve two cursors open on the statement at once; more are not worth keeping.
  if (stale_ || idle_[k].size() >= 2) {
    sq::finalize(st);
    return;
  }
  idle_[k].push_back(st);
}

void CursorPlan::TakeHead(std::vector<std::vector<Value>>& rows) { rows.swap(head_); }

void CursorPlan::GiveHead(std::vector<std::vector<Value>>& rows) {
  if (rows.size() > head_.size()) rows.swap(head_);
}

namespace {

// A statement borrowed from the plan for as long as the holder lives (or until Release).
class Borrowed {
 public:
  explicit Borrowed(CursorPlan::Kind kind) : kind_(kind) {}
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  ~Borrowed() { Release(); }
  sqlite3_stmt* Get(CursorPlan& plan) {
    if (!st_) {
      st_ = plan.Take(kind_);
      plan_ = &plan;
      reprepares_ = sq::stmt_status(st_, SQLITE_STMTSTATUS_REPREPARE);
    }
    return st_;
  }
  sqlite3_stmt* st() const { return st_; }
  // Whether SQLite prepared it again since it was borrowed: the schema changed meanwhile.
  bool Reprepared() const { return st_ && sq::stmt_status(st_, SQLITE_STMTSTATUS_REPREPARE) != reprepares_; }
  void Release() {
    if (st_) plan_->Give(kind_, st_);
    st_ = nullptr;
  }

 private:
  CursorPlan::Kind kind_;
  CursorPlan* plan_ = nullptr;
  sqlite3_stmt* st_ = nullptr;
  int reprepares_ = 0;
};

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<CursorPlan> plan, const std::vector<Value>& in, const CursorOptions& options)
      : plan_(std::move(plan)), conn_(plan_->Conn()), cols_(&plan_->Columns()), params_(in) {
    scroll_ = !options.NoScroll();
    readOnly_ = options.ReadOnly();
    rowid_ = plan_->Rowid();
    StartStream();
    ncols_ = sq::column_count(stream_.st()) - (rowid_ ? 1 : 0);
    FitColumns();
    openCount_ = ComputeOpenCount(options.exactCount);
  }

  ~SqliteCursor() override {
    // The next open reads ahead into the same storage; long values are not worth keeping.
    for (auto& row : head_)
      for (Value& v : row)
        if (v.bytes.capacity() > 1024) std::string().swap(v.bytes);
    plan_->GiveHead(head_);
  }

  const std::vector<ColumnDesc>& Columns() const override { return *cols_; }
  int32_t OpenCount() const override { return openCount_; }
  int64_t Position() const override { return pos_; }
  bool TotalKnown() const override { return total_ >= 0; }
  bool Scrollable() const override { return scroll_; }
  bool Updatable() const override { return rowid_; }
  bool OpenedReadOnly() const override { return readOnly_; }
  std::string TableName() const override { return plan_->Table(); }

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
    // A row read ahead at open, not passed yet, or the one the cursor stands on (a forward-only
    // cursor may fetch that one again, as it may the row its stream stands on).
    if (n <= headCount_ && (n > delivered_ || (n == delivered_ && src_ != Src::Cache && !(scroll_ && !rowid_))))
      return FromHead(n);
    if (n > streamRow_) return AdvanceTo(n);
    if (n == streamRow_ && onRow_ && !parked_) {
      pos_ = n;
      src_ = Src::Stream;
      Delivered(n);
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
        return ColumnRef(stream_.st(), i);
      case Src::Head: return ValueRef::Of(head_[static_cast<size_t>(pos_ - 1)][static_cast<size_t>(i)]);
      case Src::Reread: return ColumnRef(reread_.st(), i);
      case Src::Base: return ColumnRef(baseRow_.st, i);
      case Src::Cache: return ValueRef::Of(cache_[pos_][static_cast<size_t>(i)]);
      default: throw SqlError(SQLE_NO_CURRENT_ROW);
    }
  }

  bool Refresh(bool) override {
    if (insertedRowid_ != 0) return LoadInserted(insertedRowid_);
    if (pos_ < 1 || (done_ && pos_ > total_)) return false;
    if (!rowid_) {
      // Without a rowid the row cannot be found again in the table: it is delivered as read.
      if (src_ == Src::Stream || src_ == Src::Cache || src_ == Src::Head) return true;
      return MoveTo(pos_);
    }
    int64_t rowid = 0;
    if (static_cast<size_t>(pos_) <= rowids_.size()) rowid = rowids_[static_cast<size_t>(pos_ - 1)];
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
    std::string sql = "UPDATE " + QuoteIdent(plan_->Table()) + " SET ";
    std::vector<Value> vals;
    for (const auto& [col, v] : changes) {
      sql += (vals.empty() ? "" : ", ") + QuoteIdent(BaseColumn(col)) + " = ?";
      vals.push_back(FittedValue(WriteType(col), v, conn_.WriteRules()));
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
      if (pos_ >= 1 && static_cast<size_t>(pos_) <= rowids_.size()) rowids_.set(static_cast<size_t>(pos_ - 1), v.i);
      if (!scroll_ && pos_ == streamRow_) curRowid_ = v.i;
      rowid = v.i;
    }
    // The row as stored now is what the cursor shows from here on.
    if (insertedRowid_ == 0) Park();
    if (!LoadInserted(rowid)) src_ = Src::None;
    return changed;
  }

  void Delete() override {
    CheckChangeable();
    int64_t rowid = CurrentRowid();
    if (Write("DELETE FROM " + QuoteIdent(plan_->Table()) + " WHERE rowid = ?", {Value::Int(rowid)}) == 0)
      throw SqlError(SQLE_NO_CURRENT_ROW);
    if (insertedRowid_ != 0) {
      insertedRowid_ = 0;
      src_ = Src::None;
      return;
    }
    // The row leaves the result: the cursor stands between its neighbours, so the next
    // FETCH NEXT delivers the row that followed it.
    bool streamOnIt = streamRow_ == pos_;
    if (static_cast<size_t>(pos_) <= rowids_.size()) rowids_.erase(static_cast<size_t>(pos_ - 1));
    DropHeadRow(pos_);
    if (streamRow_ >= pos_) --streamRow_;
    if (streamOnIt) onRow_ = false;  // the stream still stands on the deleted row
    if (total_ >= 0) --total_;
    if (delivered_ >= pos_) --delivered_;
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
      vals.push_back(FittedValue(WriteType(col), v, conn_.WriteRules()));
    }
    std::string sql = "INSERT INTO " + QuoteIdent(plan_->Table()) +
                      (vals.empty() ? std::string(" DEFAULT VALUES") : " (" + names + ") VALUES (" + marks + ")");
    Write(sql, vals);
    insertedRowid_ = sq::last_insert_rowid(conn_.Handle());
    if (!LoadInserted(insertedRowid_)) throw SqlError(SQLE_NO_CURRENT_ROW);
  }

 private:
  enum class Src { None, Stream, Head, Reread, Base, Cache };

  void StartStream() {
    SqliteConnection::Bind(stream_.Get(*plan_), params_);
    streamRow_ = 0;
    onRow_ = false;
    parked_ = false;
    done_ = false;
  }

  // The description covers every column the stream delivers.
  void FitColumns() {
    if (static_cast<int>(cols_->size()) >= ncols_) return;
    // The statement layer described fewer columns (or none): the cursor still reads every one.
    ownCols_ = *cols_;
    ownCols_.resize(static_cast<size_t>(ncols_));
    cols_ = &ownCols_;
  }

  // The schema changed since the plan was made (SQLite prepared the stream again): this cursor
  // describes its columns afresh, and the statement makes a new plan for the next open.
  void Redescribe() {
    plan_->MarkStale();
    ncols_ = sq::column_count(stream_.st()) - (rowid_ ? 1 : 0);
    Stmt fresh;
    fresh.Reset(conn_.PrepareRaw(plan_->Base()));
    ownCols_.clear();
    DescribeColumns(conn_, fresh.st, plan_->Base(), ownCols_);
    cols_ = &ownCols_;
    FitColumns();
  }

  // One step of the stream; false at the end. A rollback that aborted the read runs the query
  // again up to where it was.
  bool Step() {
    for (int attempt = 0;; ++attempt) {
      int rc = sq::step(stream_.st());
      if (!schemaChecked_) {
        schemaChecked_ = true;
        if (stream_.Reprepared()) Redescribe();
      }
      if (rc == SQLITE_ROW) {
        ++streamRow_;
        onRow_ = true;
        if (rowid_) {
          curRowid_ = sq::column_int64(stream_.st(), ncols_);
          // A forward-only cursor keeps the rowids of the rows read ahead only (its current row
          // may be one of them).
          if ((scroll_ || readingAhead_) && static_cast<size_t>(streamRow_) > rowids_.size()) rowids_.push_back(curRowid_);
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
      sq::reset(stream_.st());
      ThrowSqlite(conn_.Handle(), rc);
    }
  }

  // Runs the query again and steps over the first k rows.
  void Resume(int64_t k) {
    sqlite3_stmt* st = stream_.st();
    sq::reset(st);
    streamRow_ = 0;
    onRow_ = false;
    parked_ = false;
    done_ = false;
    while (streamRow_ < k) {
      int rc = sq::step(st);
      if (rc == SQLITE_ROW) {
        ++streamRow_;
        onRow_ = true;
        if (rowid_) curRowid_ = sq::column_int64(st, ncols_);
        continue;
      }
      onRow_ = false;
      if (rc == SQLITE_DONE) {
        done_ = true;
        total_ = streamRow_;
        return;
      }
      sq::reset(st);
      ThrowSqlite(conn_.Handle(), rc);
    }
  }

  void Delivered(int64_t n) {
    if (n <= delivered_) return;
    delivered_ = n;
    // The rows read ahead at open are no longer needed once the cursor has passed them.
    if (delivered_ >= headCount_ && headCount_ > 0 && !done_) headCount_ = 0;
  }

  void DropHeadRow(int64_t n) {
    if (n > headCount_) return;
    head_.erase(head_.begin() + (n - 1));
    --headCount_;
  }

  // Row n (not delivered yet) from the rows read ahead at open.
  bool FromHead(int64_t n) {
    pos_ = n;
    if (!rowid_ && scroll_) {
      // Kept as every delivered row of such a cursor is kept (the head's copy is not needed again).
      cache_.emplace(n, std::move(head_[static_cast<size_t>(n - 1)]));
      src_ = Src::Cache;
    } else {
      src_ = Src::Head;
    }
    delivered_ = n;
    return true;
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
    Delivered(n);
    return true;
  }

  bool RestartTo(int64_t n) {
    Resume(0);
    return AdvanceTo(n);
  }

  // Ends the stream's hold on the connection's read snapshot (see the life cycle). The rows read
  // ahead at open are as old as that snapshot: they go too.
  void Park() {
    if (reread_.st()) sq::reset(reread_.st());
    if (onRow_ && !done_ && !parked_) {
      sq::reset(stream_.st());
      parked_ = true;
      onRow_ = false;
    }
    if (!done_) headCount_ = 0;
  }

  bool RereadAt(int64_t n) {
    while (static_cast<size_t>(n) <= rowids_.size()) {
      if (LoadRowid(rowids_[static_cast<size_t>(n - 1)])) {
        pos_ = n;
        src_ = Src::Reread;
        return true;
      }
      // Deleted since the cursor passed it: the row has left the result.
      rowids_.erase(static_cast<size_t>(n - 1));
      DropHeadRow(n);
      --streamRow_;
      if (total_ >= 0) --total_;
    }
    return AdvanceTo(n);
  }

  // Reads the row with this rowid through the cursor's own query (same columns, same filter).
  bool LoadRowid(int64_t rowid) {
    sqlite3_stmt* st = reread_.Get(*plan_);
    sq::reset(st);
    // The rowid marker comes after every marker of the cursor's own text.
    std::vector<Value> vals = params_;
    vals.push_back(Value::Int(rowid));
    SqliteConnection::Bind(st, vals);
    int rc = sq::step(st);
    if (rc == SQLITE_ROW) return true;
    sq::reset(st);
    if (rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc);
    return false;
  }

  // The row PUT inserted or an UPDATE changed, made current: through the cursor's own query,
  // or, when the cursor's filter does not show it, its base columns straight from the table
  // (expression columns read as NULL).
  bool LoadInserted(int64_t rowid) {
    if (LoadRowid(rowid)) {
      src_ = Src::Reread;
      return true;
    }
    std::string list;
    for (int i = 0; i < ncols_; ++i) {
      const ColumnDesc& c = (*cols_)[static_cast<size_t>(i)];
      list += (i ? ", " : "") + (c.baseColumn.empty() ? std::string("NULL") : QuoteIdent(c.baseColumn));
    }
    baseRow_.Reset(conn_.PrepareRaw("SELECT " + list + " FROM " + QuoteIdent(plan_->Table()) + " WHERE rowid = ?"));
    sq::bind_int64(baseRow_.st, 1, rowid);
    int rc = sq::step(baseRow_.st);
    if (rc == SQLITE_ROW) {
      src_ = Src::Base;
      return true;
    }
    sq::reset(baseRow_.st);
    if (rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc);
    return false;
  }

  bool HasCached(int64_t n) const { return cache_.count(n) != 0; }

  void CacheCurrent() {
    if (cache_.count(pos_)) return;
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(ncols_));
    for (int i = 0; i < ncols_; ++i) row.push_back(ColumnRef(stream_.st(), i).ToValue());
    cache_.emplace(pos_, std::move(row));
  }

  int64_t CountRows() {
    Borrowed count(CursorPlan::kCount);
    sqlite3_stmt* st = count.Get(*plan_);
    SqliteConnection::Bind(st, params_);
    int rc = sq::step(st);
    if (rc != SQLITE_ROW) ThrowSqlite(conn_.Handle(), rc);
    return sq::column_int64(st, 0);
  }

  int32_t ComputeOpenCount(bool exact) {
    auto clamp = [](int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); };
    if (exact) {
      ReadAhead();
      if (!done_) total_ = CountRows();
      return clamp(total_);
    }
    if (rowid_) {
      // The table's highest rowid is a cheap upper estimate; an empty table is an exact 0.
      Borrowed est(CursorPlan::kEstimate);
      sqlite3_stmt* st = est.Get(*plan_);
      if (sq::step(st) == SQLITE_ROW && sq::column_type(st, 0) == SQLITE_INTEGER) {
        int64_t m = sq::column_int64(st, 0);
        return -clamp(m < 1 ? 1 : m);
      }
      return 0;
    }
    return -1;
  }

  // Reads up to kLookAhead rows, keeping a copy of each: a result that ends within them is
  // counted, and its rows are delivered from the copies.
  void ReadAhead() {
    plan_->TakeHead(head_);
    readingAhead_ = true;
    size_t kept = 0;
    while (kept < kLookAhead && Step()) {
      if (head_.size() <= kept) head_.emplace_back();
      std::vector<Value>& row = head_[kept++];
      row.resize(static_cast<size_t>(ncols_));
      for (int i = 0; i < ncols_; ++i) ColumnRef(stream_.st(), i).AssignTo(row[static_cast<size_t>(i)]);
    }
    headCount_ = static_cast<int64_t>(kept);
    readingAhead_ = false;
  }

  void CheckChangeable(bool needRow = true) {
    if (!rowid_) throw SqlError(plan_->Table().empty() ? SQLE_NON_UPDATEABLE_VIEW : SQLE_ONLY_ONE_TABLE);
    if (readOnly_) throw SqlError(SQLE_READ_ONLY_CURSOR);
    if (needRow) CurrentRowid();  // -197 when the cursor stands on no row
  }

  int64_t CurrentRowid() {
    if (insertedRowid_ != 0) return insertedRowid_;
    if (pos_ >= 1 && static_cast<size_t>(pos_) <= rowids_.size()) return rowids_[static_cast<size_t>(pos_ - 1)];
    if (!scroll_ && pos_ >= 1 && pos_ == streamRow_) return curRowid_;
    throw SqlError(SQLE_NO_CURRENT_ROW);
  }

  bool IsRowidAlias(const std::string& column) const {
    const char* type = nullptr;
    const char* coll = nullptr;
    int notNull = 0, pk = 0, autoinc = 0;
    const std::string& table = plan_->Table();
    if (sq::table_column_metadata(conn_.Handle(), nullptr, table.c_str(), column.c_str(), &type, &coll, &notNull, &pk,
                                  &autoinc) != SQLITE_OK || !pk || !type)
      return false;
    if (strcasecmp(type, "INTEGER") != 0) return false;
    // Only a table whose primary key is this one column uses it as the rowid.
    Stmt info;
    info.Reset(conn_.PrepareRaw("SELECT count(*) FROM pragma_table_info(" + QuoteLiteral(table) + ") WHERE pk > 0"));
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
    const ColumnDesc& c = (*cols_)[static_cast<size_t>(col)];
    if (c.baseColumn.empty()) throw SqlError(SQLE_NON_UPDATEABLE_COLUMN);
    return c.baseColumn;
  }

  // The declared type of the base column behind result column col, as a write must meet it.
  ColumnType WriteType(int col) {
    if (writeTypes_.empty()) writeTypes_.resize(static_cast<size_t>(ncols_));
    auto& slot = writeTypes_[static_cast<size_t>(col)];
    if (!slot) {
      const char* decl = nullptr;
      const char* coll = nullptr;
      int notNull = 0, pk = 0, autoinc = 0;
      slot = ColumnType{};
      if (sq::table_column_metadata(conn_.Handle(), nullptr, plan_->Table().c_str(), BaseColumn(col).c_str(), &decl, &coll,
                                    &notNull, &pk, &autoinc) == SQLITE_OK &&
          decl)
        slot = ColumnTypeOf(std::string_view(decl));
    }
    return *slot;
  }

  int64_t Write(const std::string& sql, const std::vector<Value>& vals) {
    conn_.BeginIfNeeded();
    Stmt w;
    w.Reset(conn_.PrepareRaw(sql));
    SqliteConnection::Bind(w.st, vals);
    int rc = sq::step(w.st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowWriteFailure(conn_, w.st, rc, sql);
    return sq::changes(conn_.Handle());
  }

  // The plan goes last: the borrowed statements below are given back to it.
  std::shared_ptr<CursorPlan> plan_;
  SqliteConnection& conn_;
  const std::vector<ColumnDesc>* cols_;  // the plan's, or ownCols_
  std::vector<ColumnDesc> ownCols_;      // this cursor's own description (see FitColumns)
  std::vector<Value> params_;  // host values, bound again whenever the query runs again
  bool rowid_ = false;         // the stream's last column is the base table's rowid
  bool scroll_ = true;
  bool readOnly_ = true;
  int ncols_ = 0;              // result columns the client sees
  int32_t openCount_ = 0;

  Borrowed stream_{CursorPlan::kStream};
  int64_t streamRow_ = 0;  // rows the stream has passed; it stands on row streamRow_ when onRow_
  bool onRow_ = false;
  bool parked_ = false;    // reset to free the snapshot; resumes by skipping streamRow_ rows
  bool done_ = false;      // stepped past the last row: total_ == streamRow_
  bool schemaChecked_ = false;
  bool readingAhead_ = false;
  int64_t total_ = -1;     // N, -1 while unknown
  int64_t pos_ = 0;        // 0 before first, 1..N on a row, N+1 after last
  int64_t delivered_ = 0;  // highest position the cursor has stood on
  Src src_ = Src::None;    // where the current row's values are read from

  std::vector<std::vector<Value>> head_;  // rows 1 .. headCount_ read ahead at open (storage may be longer)
  int64_t headCount_ = 0;
  RowidList rowids_;                                          // rowid of row k at [k-1]
  std::unordered_map<int64_t, std::vector<Value>> cache_;     // delivered rows (no rowid)
  Borrowed reread_{CursorPlan::kReread};  // the current row read again (by rowid)
  Stmt baseRow_;               // a row the cursor's filter does not show, from the table
  int64_t insertedRowid_ = 0;  // != 0: the current row is the row PUT inserted
  int64_t curRowid_ = 0;       // rowid of the row the stream stands on (or last stood on)
  std::vector<std::optional<ColumnType>> writeTypes_;  // per result column, looked up on first write
};

}  // namespace

std::unique_ptr<Cursor> OpenCursor(SqlStatement& st, const std::vector<Value>& in, const CursorOptions& options) {
  std::shared_ptr<CursorPlan>& plan = st.Plan();
  if (!plan || plan->Stale()) {
    std::vector<ColumnDesc> cols;
    bool mayVary = false;
    st.DescribeOutput(cols, mayVary);
    plan = std::make_shared<CursorPlan>(st.Conn(), st.Translated(), std::move(cols));
  }
  auto cursor = std::make_unique<SqliteCursor>(plan, in, options);
  // The schema changed since the statement was prepared: prepared again, a DESCRIBE of it and
  // the next open's plan see the tables as they are now.
  if (plan->Stale()) {
    plan.reset();
    st.Reprepare();
  }
  return cursor;
}

}  // namespace dbl
