// Cursors on the network engine: a server-side cursor (DECLARE ... [NO] SCROLL CURSOR WITH HOLD)
// read in blocks, so a result of any size stays on the server and only the rows around the
// client's position travel. The client keeps one block (and the current row, when it was read
// again or changed through the cursor).
//
// Blocks: a forward read fetches FORWARD n rows (n doubling from 64 to 4096 while the client
// reads on); a jump moves the server cursor (MOVE ABSOLUTE) and fetches the block there; a read
// backwards fetches the block that ends at the wanted row. The count of a result comes from
// MOVE FORWARD ALL (a forward-only cursor counts with a separate query instead).
//
// Row identity: a SELECT over one base table also selects the table's primary key (or, for a
// table without one, the row's ctid) behind the client's columns, so the current row can be read
// again as the database holds it now (WHERE key = ...) and changed through the cursor.
//
// Life cycle: declared and open (position 0) --MoveTo--> on a row / after last --destructor-->
// the server cursor is closed with the connection's next round trip.
#include <algorithm>
#include <climits>
#include <map>
#include <set>

#include "dblib/engine/Cursor.h"
#include "dblib/postgres/PgEngine.h"
#include "dblib/sql/Dialect.h"

namespace dbl {
namespace {

constexpr int kFirstBlock = 64;
constexpr int kMaxBlock = 4096;

std::string QuoteIdent(const std::string& name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

class PgCursor final : public Cursor {
 public:
  PgCursor(PgConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns,
           const std::vector<Value>& in, const CursorOptions& options)
      : conn_(conn), cols_(std::move(columns)), params_(in) {
    scroll_ = !options.NoScroll();
    readOnly_ = options.ReadOnly();
    base_ = translated;
    text_ = translated;
    FindIdentity();
    name_ = conn_.NewName("zc_");
    std::string declare = "DECLARE " + name_ + (scroll_ ? " SCROLL" : " NO SCROLL") + " CURSOR WITH HOLD FOR " + text_;
    // Declared and the first block read in one round trip.
    std::vector<pg::Result> r =
        conn_.Run({PgCommand::Sql(declare, &params_), PgCommand::Sql(FetchText(kFirstBlock))}, true);
    tx_ = conn_.TransactionNumber();
    declared_ = true;
    TakeBlock(std::move(r[1]), 1, kFirstBlock);
    ncols_ = PQnfields(block_.get()) - int(keyCols_.size());
    if (cols_.empty()) conn_.DescribeColumns(block_.get(), cols_);
    if (cols_.size() > size_t(ncols_)) cols_.resize(size_t(ncols_));
    oids_.resize(size_t(PQnfields(block_.get())));
    for (int i = 0; i < PQnfields(block_.get()); ++i) oids_[size_t(i)] = PQftype(block_.get(), i);
    if (options.exactCount) openCount_ = int32_t(std::min<int64_t>(Total(), INT32_MAX));
    // Without row_counts the count is an estimate (negative): the rows of the first block, and
    // one more when the block did not reach the end.
    else openCount_ = total_ == 0 ? 0 : -int32_t(total_ >= 0 ? total_ : blockRows_ + 1);
  }

  ~PgCursor() override {
    if (declared_) conn_.CloseLater(name_, tx_);
  }

  const std::vector<ColumnDesc>& Columns() const override { return cols_; }
  int32_t OpenCount() const override { return openCount_; }
  int64_t Position() const override { return pos_; }
  bool TotalKnown() const override { return total_ >= 0; }
  bool Scrollable() const override { return scroll_; }
  bool Updatable() const override { return !keyCols_.empty(); }
  bool OpenedReadOnly() const override { return readOnly_; }
  std::string TableName() const override { return table_; }

  bool MoveTo(int64_t n) override {
    current_.reset();
    if (n <= 0) {
      pos_ = 0;
      return false;
    }
    // A forward-only cursor reads the current row again, never one before it.
    if (!scroll_ && n < pos_) throw SqlError(SQLE_INVALID_FETCH_POSITION);
    int64_t s = ToServer(n);
    if (total_ >= 0 && s > total_) {
      pos_ = ClientTotal() + 1;
      return false;
    }
    if (!InBlock(s)) {
      if (!scroll_ && s < blockStart_ + blockRows_) throw SqlError(SQLE_INVALID_FETCH_POSITION);
      int64_t start = s;
      int want = kFirstBlock;
      if (s == blockStart_ + blockRows_) {
        // Reading on: larger blocks each time.
        want = std::min(kMaxBlock, std::max(kFirstBlock, blockWant_ * 2));
      } else if (s < blockStart_) {
        // Reading backwards: the block that ends at row s.
        start = std::max<int64_t>(1, s - kFirstBlock + 1);
      }
      Load(start, want);
      if (!InBlock(s)) {
        pos_ = total_ >= 0 ? ClientTotal() + 1 : n;
        return false;
      }
    }
    pos_ = n;
    row_ = s;
    return true;
  }

  int64_t Total() override {
    if (total_ >= 0) return ClientTotal();
    if (!scroll_) {
      std::vector<Value> p = params_;
      pg::Result r = conn_.RunOne("SELECT count(*) FROM (" + base_ + ") zyl_q", p, true);
      total_ = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
      return ClientTotal();
    }
    // From where the server cursor stands to the end; it then stands after the last row.
    pg::Result r = conn_.RunOne("MOVE FORWARD ALL IN " + name_, {}, true);
    int64_t moved = std::strtoll(PQcmdTuples(r.get()), nullptr, 10);
    total_ = std::max<int64_t>(serverPos_, 0) + moved;
    if (serverPos_ > total_) total_ = serverPos_ - 1;
    serverPos_ = total_ + 1;
    return ClientTotal();
  }

  ValueRef Column(int i) override {
    if (i < 0 || i >= ncols_) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
    const PGresult* r;
    int row;
    if (current_) {
      r = current_.get();
      row = 0;
    } else if (pos_ >= 1 && InBlock(row_) && (total_ < 0 || pos_ <= ClientTotal())) {
      r = block_.get();
      row = int(row_ - blockStart_);
    } else {
      throw SqlError(SQLE_NO_CURRENT_ROW);
    }
    if (PQgetisnull(r, row, i)) return {};
    return PgValue(PQgetvalue(r, row, i), PQgetlength(r, row, i), oids_[size_t(i)], scratch_);
  }

  bool Refresh(bool) override {
    std::vector<Value> key;
    if (!CurrentKey(key)) return false;
    current_.reset();
    return Reread(key);
  }

  int64_t Update(const ColumnValues& changes) override {
    CheckChangeable();
    std::vector<Value> key;
    if (!CurrentKey(key)) throw SqlError(SQLE_NO_CURRENT_ROW);
    std::string sql = "UPDATE " + QuoteIdent(table_) + " SET ";
    std::vector<Value> vals;
    for (const auto& [col, v] : changes) {
      sql += (vals.empty() ? "" : ", ") + QuoteIdent(BaseColumn(col)) + " = $" + std::to_string(vals.size() + 1);
      vals.push_back(v);
    }
    if (vals.empty()) return 0;
    sql += KeyCondition(vals) + " RETURNING " + KeyList();
    pg::Result r = conn_.RunOne(sql, vals, true);
    int64_t changed = PQntuples(r.get());
    if (changed > 0) {
      // The row under its key as it is now (a changed key or a new ctid included).
      std::vector<Value> now = KeyOf(r.get(), 0, 0);
      SetCurrentKey(now);
      if (!Reread(now)) ReadBase(now);
    }
    return changed;
  }

  void Delete() override {
    CheckChangeable();
    std::vector<Value> key;
    if (!CurrentKey(key)) throw SqlError(SQLE_NO_CURRENT_ROW);
    std::vector<Value> vals;
    std::string sql = "DELETE FROM " + QuoteIdent(table_) + KeyCondition(vals, &key);
    pg::Result r = conn_.RunOne(sql, vals, true);
    if (std::strtoll(PQcmdTuples(r.get()), nullptr, 10) == 0) throw SqlError(SQLE_NO_CURRENT_ROW);
    if (!inserted_.empty()) {
      inserted_.clear();
      current_.reset();
      return;
    }
    // The row leaves the result: the cursor stands between its neighbours, so the next
    // FETCH NEXT delivers the row that followed it.
    deleted_.insert(row_);
    --pos_;
    current_.reset();
  }

  void Insert(const ColumnValues& values) override {
    CheckChangeable(false);
    std::string names, marks;
    std::vector<Value> vals;
    for (const auto& [col, v] : values) {
      names += (vals.empty() ? "" : ", ") + QuoteIdent(BaseColumn(col));
      vals.push_back(v);
      marks += (vals.size() == 1 ? "$" : ", $") + std::to_string(vals.size());
    }
    std::string sql = "INSERT INTO " + QuoteIdent(table_) +
                      (vals.empty() ? std::string(" DEFAULT VALUES") : " (" + names + ") VALUES (" + marks + ")") +
                      " RETURNING " + KeyList();
    pg::Result r = conn_.RunOne(sql, vals, true);
    inserted_ = KeyOf(r.get(), 0, 0);
    if (!Reread(inserted_) && !ReadBase(inserted_)) throw SqlError(SQLE_NO_CURRENT_ROW);
  }

 private:
  bool InBlock(int64_t s) const { return s >= blockStart_ && s < blockStart_ + blockRows_; }

  // Client position n -> the server's row number, past the rows deleted through the cursor.
  int64_t ToServer(int64_t n) const {
    int64_t s = n;
    for (int64_t d : deleted_) {
      if (d <= s) ++s;
      else break;
    }
    return s;
  }
  int64_t ClientTotal() const { return total_ - int64_t(deleted_.size()); }

  std::string FetchText(int n) const { return "FETCH FORWARD " + std::to_string(n) + " FROM " + name_; }

  // A SELECT over one base table: the table's key (or ctid) as hidden last columns.
  void FindIdentity() {
    std::string table;
    if (!SingleTableSelect(base_, table)) return;
    SelectShape s = AnalyzeSelect(base_);
    if (s.limited) return;
    std::vector<Value> p{Value::Text(table)};
    pg::Result r = conn_.RunOne(
        "SELECT a.attname, c.relname FROM pg_class c"
        " LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary"
        " LEFT JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = ANY(i.indkey)"
        " WHERE c.oid = to_regclass($1) AND c.relkind IN ('r', 'p') ORDER BY array_position(i.indkey, a.attnum)",
        p, false);
    if (PQntuples(r.get()) == 0) return;
    table_ = PQgetvalue(r.get(), 0, 1);
    std::string q = s.from[0].alias.empty() ? table : s.from[0].alias;
    std::string list;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      if (PQgetisnull(r.get(), i, 0)) break;
      keyCols_.push_back(PQgetvalue(r.get(), i, 0));
    }
    if (keyCols_.empty()) keyCols_.push_back("ctid");
    for (size_t k = 0; k < keyCols_.size(); ++k)
      list += ", " + QuoteIdent(q) + "." + QuoteIdent(keyCols_[k]) + " AS zyl_k" + std::to_string(k);
    std::string head = base_.substr(0, s.fromPos);
    while (!head.empty() && std::isspace(static_cast<unsigned char>(head.back()))) head.pop_back();
    text_ = head + list + " " + base_.substr(s.fromPos);
  }

  void TakeBlock(pg::Result r, int64_t start, int want) {
    int rows = PQntuples(r.get());
    block_ = std::move(r);
    blockStart_ = start;
    blockRows_ = rows;
    blockWant_ = want;
    if (rows < want) {
      total_ = start + rows - 1;
      serverPos_ = total_ + 1;
    } else {
      serverPos_ = start + rows - 1;
    }
  }

  // Rows start .. start+want-1 into the block.
  void Load(int64_t start, int want) {
    std::vector<PgCommand> cmds;
    if (serverPos_ != start - 1) cmds.push_back(PgCommand::Sql("MOVE ABSOLUTE " + std::to_string(start - 1) + " IN " + name_));
    cmds.push_back(PgCommand::Sql(FetchText(want)));
    std::vector<pg::Result> r = conn_.Run(cmds, true);
    TakeBlock(std::move(r.back()), start, want);
  }

  bool CurrentKey(std::vector<Value>& key) {
    if (keyCols_.empty()) return false;
    if (!inserted_.empty()) {
      key = inserted_;
      return true;
    }
    if (pos_ < 1 || (total_ >= 0 && pos_ > ClientTotal()) || ToServer(pos_) != row_) return false;
    if (auto it = changedKeys_.find(row_); it != changedKeys_.end()) {
      key = it->second;
      return true;
    }
    if (!InBlock(row_)) return false;
    key = KeyOf(block_.get(), int(row_ - blockStart_), ncols_);
    return true;
  }

  void SetCurrentKey(const std::vector<Value>& key) {
    if (!inserted_.empty()) inserted_ = key;
    else changedKeys_[row_] = key;
  }

  std::vector<Value> KeyOf(const PGresult* r, int row, int first) {
    std::vector<Value> key;
    for (size_t k = 0; k < keyCols_.size(); ++k) {
      int c = first + int(k);
      key.push_back(PQgetisnull(r, row, c) ? Value() : Value::Text(PQgetvalue(r, row, c)));
    }
    return key;
  }

  std::string KeyList() const {
    std::string s;
    for (const std::string& k : keyCols_) s += (s.empty() ? "" : ", ") + QuoteIdent(k);
    return s;
  }

  // " WHERE k0 = $n AND ..." with the key values appended to vals.
  std::string KeyCondition(std::vector<Value>& vals, const std::vector<Value>* key = nullptr) {
    std::vector<Value> own;
    if (!key) {
      CurrentKey(own);
      key = &own;
    }
    std::string s;
    for (size_t k = 0; k < keyCols_.size(); ++k) {
      vals.push_back((*key)[k]);
      s += (k ? " AND " : " WHERE ") + QuoteIdent(keyCols_[k]) + " = $" + std::to_string(vals.size()) +
           (keyCols_[k] == "ctid" ? "::tid" : "");
    }
    return s;
  }

  // The row with this key through the cursor's own query (same columns, same filter).
  bool Reread(const std::vector<Value>& key) {
    std::vector<Value> vals = params_;
    std::string cond;
    for (size_t k = 0; k < keyCols_.size(); ++k) {
      vals.push_back(key[k]);
      cond += std::string(k ? " AND " : " WHERE ") + "zyl_q.zyl_k" + std::to_string(k) + " = $" +
              std::to_string(vals.size()) + (keyCols_[k] == "ctid" ? "::tid" : "");
    }
    pg::Result r = conn_.RunOne("SELECT * FROM (" + text_ + ") zyl_q" + cond, vals, false);
    if (PQntuples(r.get()) == 0) return false;
    current_ = std::move(r);
    return true;
  }

  // A row the cursor's filter does not show (just inserted): its base columns from the table.
  bool ReadBase(const std::vector<Value>& key) {
    std::string list;
    for (int i = 0; i < ncols_; ++i) {
      const ColumnDesc& c = cols_[size_t(i)];
      list += (i ? ", " : "") + (c.baseColumn.empty() ? std::string("NULL") : QuoteIdent(c.baseColumn));
    }
    std::vector<Value> vals;
    std::string sql = "SELECT " + list + " FROM " + QuoteIdent(table_) + KeyCondition(vals, &key);
    pg::Result r = conn_.RunOne(sql, vals, false);
    if (PQntuples(r.get()) == 0) return false;
    current_ = std::move(r);
    return true;
  }

  void CheckChangeable(bool needRow = true) {
    if (keyCols_.empty()) throw SqlError(table_.empty() ? SQLE_NON_UPDATEABLE_VIEW : SQLE_ONLY_ONE_TABLE);
    if (readOnly_) throw SqlError(SQLE_READ_ONLY_CURSOR);
    std::vector<Value> key;
    if (needRow && !CurrentKey(key)) throw SqlError(SQLE_NO_CURRENT_ROW);
  }

  const std::string& BaseColumn(int col) const {
    if (col < 0 || col >= ncols_) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
    const ColumnDesc& c = cols_[size_t(col)];
    if (c.baseColumn.empty()) throw SqlError(SQLE_NON_UPDATEABLE_COLUMN);
    return c.baseColumn;
  }

  PgConnection& conn_;
  std::vector<ColumnDesc> cols_;
  std::vector<Value> params_;  // host values, bound again for every re-read
  std::string base_;           // the statement in the server's dialect
  std::string text_;           // what the cursor runs: base_ with the key columns, or base_
  std::string table_;          // the one base table, empty otherwise
  std::vector<std::string> keyCols_;  // primary key columns (or ctid) selected behind the client's
  std::string name_;           // the server cursor's name
  uint64_t tx_ = 0;            // the connection's transaction that declared it
  bool declared_ = false;
  bool scroll_ = true;
  bool readOnly_ = true;
  int ncols_ = 0;
  int32_t openCount_ = 0;
  std::vector<unsigned> oids_;  // type of every fetched column

  pg::Result block_;            // rows blockStart_ .. blockStart_ + blockRows_ - 1
  int64_t blockStart_ = 1;
  int blockRows_ = 0;
  int blockWant_ = 0;
  int64_t serverPos_ = 0;       // where the server cursor stands (0 before first, N+1 after last)
  int64_t total_ = -1;          // N, -1 while unknown
  int64_t pos_ = 0;             // 0 before first, 1..N on a row, N+1 after last
  pg::Result current_;          // the current row read again or changed (row 0), else null
  std::vector<Value> inserted_;  // key of the row PUT inserted, while it is the current row
  std::map<int64_t, std::vector<Value>> changedKeys_;  // rows whose key (or ctid) an update changed
  std::set<int64_t> deleted_;    // server rows deleted through the cursor (left the numbering)
  int64_t row_ = 0;              // the server's row number of the current row
  std::string scratch_;          // decoded binary value of the last Column() read
};

}  // namespace

std::unique_ptr<Cursor> OpenPgCursor(PgConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns,
                                     const std::vector<Value>& in, const CursorOptions& options) {
  return std::make_unique<PgCursor>(conn, translated, std::move(columns), in, options);
}

}  // namespace dbl
