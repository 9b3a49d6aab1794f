// The engine-neutral parts of the cursor unit: the refusals of cursors that cannot be changed
// and the in-memory rows cursor procedures and catalog answers use.
#include "dblib/engine/Cursor.h"

#include "dblib/sql/Errors.h"

namespace dbl {

Value ValueRef::ToValue() const {
  switch (kind) {
    case Value::Kind::Null: return Value::Null();
    case Value::Kind::Integer: return Value::Int(i);
    case Value::Kind::Real: return Value::Real(d);
    case Value::Kind::Text: return Value::Text(std::string(p ? p : "", n));
    case Value::Kind::Blob: return Value::Blob(std::string(p ? p : "", n));
  }
  return Value::Null();
}

void ValueRef::AssignTo(Value& v) const {
  v.kind = kind;
  v.i = kind == Value::Kind::Integer ? i : 0;
  v.d = kind == Value::Kind::Real ? d : 0;
  if (kind == Value::Kind::Text || kind == Value::Kind::Blob) v.bytes.assign(p ? p : "", n);
  else v.bytes.clear();
}

void Cursor::RefuseChange() const {
  // A cursor the client opened read only says so; one that could never be changed (joins,
  // expressions, procedure results) answers with the non-updatable query code.
  if (OpenedReadOnly() && Updatable()) throw SqlError(SQLE_READ_ONLY_CURSOR);
  throw SqlError(SQLE_NON_UPDATEABLE_VIEW);
}

int64_t Cursor::Update(const ColumnValues&) { RefuseChange(); }
void Cursor::Delete() { RefuseChange(); }
void Cursor::Insert(const ColumnValues&) { RefuseChange(); }

namespace {

class RowsCursor final : public Cursor {
 public:
  RowsCursor(std::vector<ColumnDesc> columns, std::vector<std::vector<Value>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}

  const std::vector<ColumnDesc>& Columns() const override { return columns_; }
  int32_t OpenCount() const override { return static_cast<int32_t>(rows_.size()); }
  int64_t Position() const override { return pos_; }
  bool MoveTo(int64_t n) override {
    int64_t total = static_cast<int64_t>(rows_.size());
    if (n <= 0) {
      pos_ = 0;
      return false;
    }
    if (n > total) {
      pos_ = total + 1;
      return false;
    }
    pos_ = n;
    return true;
  }
  int64_t Total() override { return static_cast<int64_t>(rows_.size()); }
  bool TotalKnown() const override { return true; }
  bool Scrollable() const override { return true; }
  ValueRef Column(int i) override {
    if (pos_ < 1 || pos_ > static_cast<int64_t>(rows_.size())) throw SqlError(SQLE_NO_CURRENT_ROW);
    const auto& row = rows_[static_cast<size_t>(pos_ - 1)];
    if (i < 0 || static_cast<size_t>(i) >= row.size()) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
    return ValueRef::Of(row[static_cast<size_t>(i)]);
  }
  bool Refresh(bool) override { return pos_ >= 1 && pos_ <= static_cast<int64_t>(rows_.size()); }

 private:
  std::vector<ColumnDesc> columns_;
  std::vector<std::vector<Value>> rows_;
  int64_t pos_ = 0;  // 0 before first, 1..N on a row, N+1 after last
};

}  // namespace

std::unique_ptr<Cursor> MakeRowsCursor(std::vector<ColumnDesc> columns, std::vector<std::vector<Value>> rows) {
  return std::make_unique<RowsCursor>(std::move(columns), std::move(rows));
}

}  // namespace dbl
