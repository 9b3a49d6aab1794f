// zylo: statements — one TAsaSQL per statement, run with the values bound for it: the cursor
// opened and walked for queries, the execute side for everything else, and long values streamed
// into connection variables that the text refers to in place of their markers.
#include <algorithm>

#include "zylo/internal.h"

namespace zylo::detail {

namespace {

bool is_schema_change(std::string_view sql) {
  const std::string k = leading_keyword(sql);
  return k == "CREATE" || k == "ALTER" || k == "DROP";
}

std::string ordinal(std::size_t n) {
  const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th" : n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
  return std::to_string(n) + suffix;
}

// Pieces of a streamed value: one DT_BINARY host variable's worth.
constexpr std::size_t kPiece = 32765;

}  // namespace

stmt::stmt(conn& o, std::string t)
    : owner(o),
      id(++o.statements),
      text(std::move(t)),
      markers(scan_markers(text)),
      sql(std::make_unique<TAsaSQL>(nullptr)),
      schema_change(is_schema_change(text)) {
  for (std::size_t i = 0; i < markers.size(); ++i)
    if (markers[i].name.empty()) positional.push_back(i);
  values.resize(markers.size());
  given.assign(markers.size(), 0);
  stream_of.assign(markers.size(), -1);
  sql->SetSession(&owner.session());
  sql->SetWantExceptions(true);
  // A new preparation (or resumable statement described at open) means new columns.
  sql->AfterPrepare = [this](TObject*) {
    columns_valid = false;
    ++owner.stats.prepares;
  };
  sql->AfterUnprepare = [this](TObject*) { columns_valid = false; };
}

stmt::~stmt() {
  close_cursor();
  sql->AfterPrepare = nullptr;
  sql->AfterUnprepare = nullptr;
  try {
    sql.reset();
  } catch (const Exception&) {
    // Unpreparing on a connection that broke: the statement goes either way.
  }
}

void stmt::finish_binding() {
  for (std::size_t i = 0; i < markers.size(); ++i) {
    if (given[i]) continue;
    if (!markers[i].name.empty())
      throw error("no value for the parameter ':" + markers[i].name + "' (give it with zylo::arg)", 0, "07002");
    const std::size_t n = static_cast<std::size_t>(std::find(positional.begin(), positional.end(), i) - positional.begin());
    throw error("no value for the " + ordinal(n + 1) + " '?' of the statement (it has " +
                    std::to_string(positional.size()) + ")",
                0, "07002");
  }
  if (streams.empty()) {
    run_text = &text;
    run_values = &values;
    return;
  }
  // Each streamed value goes into a connection variable first, piece by piece; the statement
  // then names the variable where its marker stood.
  std::vector<std::string> names(streams.size());
  for (std::size_t k = 0; k < streams.size(); ++k) {
    names[k] = "zylo_stream_" + std::to_string(id) + "_" + std::to_string(k + 1);
    std::istream& in = *streams[k];
    if (!in) throw error("the stream given for a parameter cannot be read", 0, "HY000");
    owner.run_side("CREATE VARIABLE " + names[k] + " LONG BINARY");
    variables.push_back(names[k]);
    owner.run_side("SET " + names[k] + " = ''");
    std::vector<char> piece(kPiece);
    for (;;) {
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      const std::streamsize got = in.gcount();
      if (got > 0) owner.append_piece(names[k], reinterpret_cast<const uint8_t*>(piece.data()), static_cast<int32_t>(got));
      if (!in) {
        if (in.bad()) throw error("reading the stream given for a parameter failed", 0, "HY000");
        break;
      }
    }
  }
  stream_text.clear();
  stream_values.clear();
  std::size_t from = 0;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    if (stream_of[i] < 0) {
      stream_values.push_back(values[i]);
      continue;
    }
    stream_text.append(text, from, markers[i].pos - from);
    stream_text += names[static_cast<std::size_t>(stream_of[i])];
    from = markers[i].pos + markers[i].length;
  }
  stream_text.append(text, from, std::string::npos);
  run_text = &stream_text;
  run_values = &stream_values;
}

void stmt::drop_variables() noexcept {
  for (const std::string& v : variables) {
    try {
      owner.run_side("DROP VARIABLE " + v);
    } catch (const std::exception&) {
      // The connection ends the variable at the latest; nothing to report it to here.
    }
  }
  variables.clear();
}

void stmt::close_cursor() noexcept {
  if (serial) {
    serial = 0;
    ++row;
    try {
      sql->Close();
    } catch (const Exception&) {
      // Closing commits when the session does so automatically; the component does not report
      // that outcome either.
    }
  }
  drop_variables();
}

void stmt::describe_columns() {
  if (columns_valid && !sql->GetResumable()) return;
  TZyloFieldDefs& defs = *sql->GetFieldDefs();
  columns.resize(static_cast<std::size_t>(defs.Count()));
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TZyloFieldDef& d = *defs.Items(i);
    column& c = columns[static_cast<std::size_t>(i)];
    c.index = Variant(static_cast<int>(i));
    c.type = d.FieldType;
    c.decimals = d.Decimals;
    c.name = d.Name;
  }
  readers.clear();
  columns_valid = true;
}

void bind_begin(stmt& s) {
  std::fill(s.given.begin(), s.given.end(), 0);
  s.next_positional = 0;
  s.has_pending = false;
  if (!s.streams.empty()) {
    s.streams.clear();
    std::fill(s.stream_of.begin(), s.stream_of.end(), -1);
  }
}

bool open(stmt& s, std::size_t columns) {
  s.close_cursor();  // rows still walking this statement's last cursor end here
  s.finish_binding();
  const std::string& text = *s.run_text;
  const bool prepared = s.sql->GetPrepared() && s.sql->GetOpenSQL() == text;
  if (prepared) ++s.owner.stats.reuses;
  s.serial = ++s.owner.serials;
  ++s.row;
  bool has_row = false;
  try {
    has_row = guarded([&] {
      return prepared ? s.sql->OpenReadPrepared(*s.run_values) : s.sql->OpenRead(text, *s.run_values);
    });
    if (!s.sql->GetActive()) throw error("the statement returned no result set", 0, "24000");
    s.describe_columns();
  } catch (...) {
    s.close_cursor();
    throw;
  }
  if (s.columns.size() != columns) {
    s.close_cursor();
    throw error("the query returns " + std::to_string(s.columns.size()) + " column(s), the row type has " +
                    std::to_string(columns),
                0, "07008");
  }
  return has_row;
}

bool next(stmt& s, std::uint64_t serial) {
  if (!serial || s.serial != serial)
    throw error("these rows are closed: their statement has run again since", 0, "24000");
  ++s.row;
  return guarded([&] { return s.sql->Next(); });
}

std::uint64_t serial(const stmt& s) noexcept { return s.serial; }

std::int64_t execute(stmt& s) {
  // Streamed values of a query still open on this statement live in the variables list too.
  if (!s.variables.empty()) s.close_cursor();
  s.finish_binding();
  struct drop {
    stmt& s;
    ~drop() { s.drop_variables(); }
  } dropper{s};
  const std::string& text = *s.run_text;
  const bool prepared = s.sql->GetExecPrepared() && s.sql->GetExecSQL() == text;
  if (prepared) ++s.owner.stats.reuses;
  guarded([&] { prepared ? s.sql->ExecutePrepared(*s.run_values) : s.sql->Execute(text, *s.run_values); });
  const std::int64_t affected = s.sql->GetRowsProcessed();
  if (s.schema_change) s.owner.flush_cache();
  return affected;
}

TAsaSQL& component(stmt& s) { return *s.sql; }
const std::string& text(const stmt& s) { return s.text; }

}  // namespace zylo::detail
