// Private to zylo's sources: the connection and statement behind the public handles, over the
// components. Nothing here is part of the layer's interface.
//
// A conn owns (or borrows) one TAsaSession and caches statements by text. A stmt owns one TAsaSQL,
// the parameter markers of its text and the values bound for the next run, and, while a cursor is
// open, the description of its columns.
//
//   stmt:  idle --bind_begin, bind_*--> bound --open--> cursor open (serial n) --next...-->
//          --close (hold ends / last row read)--> idle;  bound --execute--> idle
//
// Every call into the components is made with the statement's WantExceptions set, and every
// exception that comes out is turned into zylo::error (rethrow).
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "asa/ZylAsa.h"
#include "zylo/connection.h"

namespace zylo::detail {

// The component exception (or any host exception) as zylo::error, with the SQL state the
// session's error text carries.
[[noreturn]] void rethrow(const Exception& e);

// Inlined: it wraps every read of every field, and a call around the try costs more than the read.
template <class F>
[[gnu::always_inline]] inline auto guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const Exception& e) {
    rethrow(e);
  }
}

// A parameter marker of a statement text.
struct marker {
  std::size_t pos = 0;     // first character in the text
  std::size_t length = 0;  // characters of the marker
  std::string name;        // without ':'; empty for '?'
};

// The markers of a text in order: '?' and ':name', outside string literals, quoted identifiers
// and comments, and not '::' or ':='. The same reading as the client library's.
std::vector<marker> scan_markers(std::string_view sql);

// The first keyword of a text, upper-case ("SELECT"), after blanks and comments.
std::string leading_keyword(std::string_view sql);

struct column {
  Variant index;               // the field number, as the components take it
  Variant cell;                // each row's value, read into the same Variant
  TZyloFieldTypes type = ztUnknown;
  int32_t decimals = 0;
  std::string name;
};

class conn;
class stmt;

// Reads one long column's value of the current row from the server cursor, one piece at a time
// (the statement's ReadBlobPiece), holding nothing but the piece being read.
class blob_reader : public std::streambuf {
 public:
  blob_reader(stmt& s, int column) : stmt_(s), column_(column) {}
  blob_reader(const blob_reader&) = delete;
  blob_reader& operator=(const blob_reader&) = delete;

  // Starts over at the beginning of the value of row `row`.
  void reset(std::uint64_t row) {
    row_ = row;
    offset_ = 0;
    complete_ = false;
    setg(piece_, piece_, piece_);
    in_.clear();
  }
  std::uint64_t row() const { return row_; }
  std::istream& in() { return in_; }

 protected:
  int underflow() override;

 private:
  stmt& stmt_;
  int column_;
  std::uint64_t row_ = 0;
  int32_t offset_ = 0;      // bytes of the value read so far
  bool complete_ = false;   // the server sent the last piece
  char piece_[32765];
  std::istream in_{this};
};

class stmt : public std::enable_shared_from_this<stmt> {
 public:
  stmt(conn& owner, std::string text);
  ~stmt();
  stmt(const stmt&) = delete;
  stmt& operator=(const stmt&) = delete;

  conn& owner;
  const std::uint64_t id;               // names this statement's connection variables
  const std::string text;
  const std::vector<marker> markers;
  std::vector<std::size_t> positional;  // indexes of the '?' markers
  std::unique_ptr<TAsaSQL> sql;

  // Values of the next run, one per marker.
  TVariantArray values;
  std::vector<char> given;
  std::size_t next_positional = 0;
  std::string_view pending_name;        // set by bind_name for the next value
  bool has_pending = false;
  std::vector<int> stream_of;           // per marker: index into streams, or -1
  std::vector<std::istream*> streams;
  std::vector<std::string> variables;   // connection variables made for this run's streams

  // The open cursor.
  std::vector<column> columns;
  bool columns_valid = false;           // columns describe the prepared cursor
  std::uint64_t serial = 0;             // of the cursor open now; 0 when none
  std::uint64_t row = 0;                // changes with every row, so blobs know they are stale
  std::vector<std::unique_ptr<blob_reader>> readers;  // per column, made on demand

  bool cached = false;                  // held by the connection's cache
  bool busy = false;                    // a cached statement lent out
  std::uint64_t last_use = 0;

  const bool schema_change;              // CREATE, ALTER or DROP: cached descriptions go stale
  // Set by finish_binding: the text and values of the run (the statement's own, or with each
  // streamed marker replaced by its connection variable).
  const std::string* run_text = nullptr;
  const TVariantArray* run_values = nullptr;
  std::string stream_text;
  TVariantArray stream_values;

  // Checks that every marker has a value, sends the streams, and sets run_text and run_values.
  void finish_binding();
  void drop_variables() noexcept;
  void close_cursor() noexcept;
  void describe_columns();
};

struct text_hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

class conn : public std::enable_shared_from_this<conn> {
 public:
  explicit conn(std::string_view connection_string);
  explicit conn(TAsaSession& attached);
  ~conn();
  conn(const conn&) = delete;
  conn& operator=(const conn&) = delete;

  TAsaSession& session() const { return *session_; }
  // Drops the cached statements nobody is using (after a change of the schema).
  void flush_cache() noexcept;
  // Runs one piece of a streamed value into a connection variable.
  void append_piece(const std::string& variable, const uint8_t* data, int32_t size);
  void run_side(const std::string& sql);
  TAsaSQL& side();

  std::unordered_map<std::string, std::shared_ptr<stmt>, text_hash, std::equal_to<>> cache;
  std::size_t capacity = 32;
  std::uint64_t tick = 0;
  std::uint64_t serials = 0;            // cursor serials, unique on this connection
  std::uint64_t statements = 0;         // numbers the statements' connection variables
  connection::statistics stats;

 private:
  std::unique_ptr<TAsaSession> owned_;
  TAsaSession* session_ = nullptr;
  std::unique_ptr<TAsaSQL> side_;       // statements run around streamed values
};

}  // namespace zylo::detail
