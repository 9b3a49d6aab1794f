// zylo/connection.h: a connection, its statements, typed rows and transactions, over the
// components TAsaSession and TAsaSQL (which stay reachable: connection::session(),
// statement::component()).
//
//   zylo::connection db("dbf=/data/sales.db;uid=dba;pwd=sql");
//   for (auto [id, name] : db.query<std::int64_t, std::optional<std::string>>(
//            "SELECT id, name FROM customer WHERE city = ?", "Basel")) ...
//   auto total = db.one<double>("SELECT SUM(amount) FROM orders WHERE customer = :c", zylo::arg("c", id));
//   zylo::transaction tx(db);
//   db.execute("UPDATE stock SET qty = qty - ? WHERE item = ?", 2, item);
//   tx.commit();   // without it, the destructor rolls back
//
// Statements. connection::query/one/maybe/execute prepare a text once and keep it in the
// connection's statement cache, so running the same text again only binds the new values and
// opens again; connection::prepare gives a statement of your own. Parameters are '?' markers,
// filled in order by the plain values, and ':name' markers, filled by zylo::arg("name", value)
// wherever the name occurs; every marker needs a value, and every value a marker.
//
// Rows. query<T...>() returns an input range whose rows are std::tuple<T...> read from the
// current row of an open cursor; the cursor closes when the range is destroyed (or runs out).
// A row is valid until the next one is read: `for (const auto& [a, b] : ...)` reads without copying.
//
// Threads: a connection and everything made from it are used by one thread at a time
// (zylo::pool shares connections between threads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "zylo/values.h"

class TAsaSession;
class TAsaSQL;

namespace zylo {

class connection;
class statement;
template <class... Ts>
class rows;

namespace detail {

class conn;

// A statement held for one use: the cursor it opened is closed, and a statement borrowed from
// the connection's cache is given back, when the hold ends.
class hold {
 public:
  hold() = default;
  hold(std::shared_ptr<conn> c, std::shared_ptr<stmt> s, bool leased) noexcept
      : conn_(std::move(c)), stmt_(std::move(s)), leased_(leased) {}
  hold(hold&& o) noexcept { *this = std::move(o); }
  hold& operator=(hold&& o) noexcept;
  ~hold() { finish(); }
  stmt& get() const;  // zylo::error once the hold has ended
  void opened(std::uint64_t serial) noexcept { serial_ = serial; }
  std::uint64_t serial() const noexcept { return serial_; }
  void finish() noexcept;

 private:
  std::shared_ptr<conn> conn_;  // keeps the session alive as long as its statements are used
  std::shared_ptr<stmt> stmt_;
  bool leased_ = false;         // borrowed from the cache
  std::uint64_t serial_ = 0;    // the cursor this use opened (0: none)
};

hold acquire(const std::shared_ptr<conn>& c, std::string_view sql);  // from the cache
std::shared_ptr<stmt> make_statement(const std::shared_ptr<conn>& c, std::string_view sql);
void bind_begin(stmt& s);
// Opens the cursor with the values bound since bind_begin; true when there is a first row. The
// result must have `columns` columns.
bool open(stmt& s, std::size_t columns);
bool next(stmt& s, std::uint64_t serial);  // the next row of the cursor `serial`
std::uint64_t serial(const stmt& s) noexcept;
std::int64_t execute(stmt& s);  // rows affected
TAsaSQL& component(stmt& s);
const std::string& text(const stmt& s);

template <class... A>
void bind_all(stmt& s, A&&... args) {
  bind_begin(s);
  (bind_value(s, std::forward<A>(args)), ...);
}

// One column: the value itself; several: the tuple.
template <class... Ts>
struct single_row {
  using type = std::tuple<Ts...>;
};
template <class T>
struct single_row<T> {
  using type = T;
};

struct access {
  template <class... Ts>
  static rows<Ts...> open(hold h, bool has_row) {
    return rows<Ts...>(std::move(h), has_row);
  }
  template <class... Ts>
  static std::optional<typename single_row<Ts...>::type> only(rows<Ts...>& r, const char* what) {
    if (!r.has_row_) return std::nullopt;
    std::tuple<Ts...> v = std::move(r.row_);
    if (r.advance_row()) throw error(std::string(what) + ": the query returned more than one row", 0, "21000");
    if constexpr (sizeof...(Ts) == 1) return std::optional<typename single_row<Ts...>::type>(std::get<0>(std::move(v)));
    else return std::optional<typename single_row<Ts...>::type>(std::move(v));
  }
  static blob make_blob(std::shared_ptr<stmt> s, std::shared_ptr<conn> c, int column, std::uint64_t row) {
    blob b;
    b.stmt_ = std::move(s);
    b.conn_ = std::move(c);
    b.column_ = column;
    b.row_ = row;
    return b;
  }
  static stmt* blob_stmt(const blob& b) { return b.stmt_.get(); }
  static int blob_column(const blob& b) { return b.column_; }
  static std::uint64_t blob_row(const blob& b) { return b.row_; }
};

template <class... Ts, class... A>
rows<Ts...> run_query(hold h, A&&... args) {
  static_assert(sizeof...(Ts) > 0, "name the column types: query<std::int64_t, std::string>(...)");
  stmt& s = h.get();
  bind_all(s, std::forward<A>(args)...);
  const bool has_row = open(s, sizeof...(Ts));
  h.opened(serial(s));
  return access::open<Ts...>(std::move(h), has_row);
}

template <class... Ts, class... A>
std::optional<typename single_row<Ts...>::type> run_maybe(hold h, const char* what, A&&... args) {
  rows<Ts...> r = run_query<Ts...>(std::move(h), std::forward<A>(args)...);
  return access::only(r, what);
}

template <class... Ts, class... A>
typename single_row<Ts...>::type run_one(hold h, A&&... args) {
  auto v = run_maybe<Ts...>(std::move(h), "one", std::forward<A>(args)...);
  if (!v) throw error("one: the query returned no row", 0, "02000");
  return std::move(*v);
}

template <class... A>
std::int64_t run_execute(hold h, A&&... args) {
  bind_all(h.get(), std::forward<A>(args)...);
  return execute(h.get());
}

}  // namespace detail

// The rows of one query: an input range over std::tuple<Ts...>.
template <class... Ts>
class rows {
 public:
  using value_type = std::tuple<Ts...>;

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::tuple<Ts...>;
    using difference_type = std::ptrdiff_t;
    using reference = const value_type&;
    using pointer = const value_type*;

    iterator() = default;
    reference operator*() const { return r_->row_; }
    pointer operator->() const { return &r_->row_; }
    iterator& operator++() {
      r_->advance_row();
      return *this;
    }
    void operator++(int) { ++*this; }
    friend bool operator==(const iterator& i, std::default_sentinel_t) { return i.at_end(); }

   private:
    friend class rows;
    explicit iterator(rows* r) : r_(r) {}
    bool at_end() const { return !r_ || !r_->has_row_; }
    rows* r_ = nullptr;
  };

  rows(rows&&) noexcept = default;
  rows& operator=(rows&&) noexcept = default;

  // Rows are read as the range is walked; begin() continues where the last walk stopped.
  iterator begin() { return iterator(this); }
  std::default_sentinel_t end() const { return {}; }
  // The statement component, its cursor on the current row.
  TAsaSQL& component() const { return detail::component(hold_.get()); }
  // Closes the cursor now rather than when the rows are destroyed.
  void close() noexcept {
    has_row_ = false;
    hold_.finish();
  }

 private:
  friend struct detail::access;
  rows(detail::hold h, bool has_row) : hold_(std::move(h)), has_row_(has_row) {
    if (has_row_) read_row();
  }
  template <std::size_t... I>
  void read_columns(std::index_sequence<I...>) {
    detail::stmt& s = hold_.get();
    (detail::read_value(s, static_cast<int>(I), std::get<I>(row_)), ...);
  }
  void read_row() { read_columns(std::index_sequence_for<Ts...>{}); }
  bool advance_row() {
    if (!has_row_) return false;
    has_row_ = detail::next(hold_.get(), hold_.serial());
    if (has_row_) read_row();
    else hold_.finish();  // the cursor is done: close it (and commit, when the session does) now
    return has_row_;
  }

  detail::hold hold_;
  value_type row_{};
  bool has_row_ = false;
};

// A prepared statement of one's own (connection::prepare), run again and again with new values.
class statement {
 public:
  statement() = default;

  template <class... Ts, class... A>
  rows<Ts...> query(A&&... args) {
    return detail::run_query<Ts...>(hold(), std::forward<A>(args)...);
  }
  // The single row (its one value, or its tuple); zylo::error when there is none or more than one.
  template <class... Ts, class... A>
  typename detail::single_row<Ts...>::type one(A&&... args) {
    return detail::run_one<Ts...>(hold(), std::forward<A>(args)...);
  }
  // Zero or one row; zylo::error when there are more.
  template <class... Ts, class... A>
  std::optional<typename detail::single_row<Ts...>::type> maybe(A&&... args) {
    return detail::run_maybe<Ts...>(hold(), "maybe", std::forward<A>(args)...);
  }
  // Runs a statement that returns no rows; the number of rows it affected.
  template <class... A>
  std::int64_t execute(A&&... args) {
    return detail::run_execute(hold(), std::forward<A>(args)...);
  }

  const std::string& sql() const;
  TAsaSQL& component() const;

 private:
  friend class connection;
  statement(std::shared_ptr<detail::conn> c, std::shared_ptr<detail::stmt> s)
      : conn_(std::move(c)), stmt_(std::move(s)) {}
  detail::hold hold() const;
  std::shared_ptr<detail::conn> conn_;
  std::shared_ptr<detail::stmt> stmt_;
};

class connection {
 public:
  // Connects with a connection string: the server's parameters (eng, dbf, dbn, uid, pwd, links,
  // start ... are passed on) and the session's own:
  //   servertype=client|server|workgroup   (default: server when dbf is given, else client)
  //   serverparams=...                      switches for a server that is started
  //   library=dblib10.dll, librarypath=DIR  the client library and where to find it
  //   isolation=0..3                        isolation level set on connect
  //   autocommit, rowcounts, trimblanks, commitondisconnect, oemconvert = yes|no
  // A relative dbf is taken from the current directory.
  explicit connection(std::string_view connection_string);
  // Works on a session the caller has opened and keeps alive longer than this connection and all
  // it makes; its settings are left as they are.
  explicit connection(TAsaSession& session);
  connection(connection&&) noexcept;
  connection& operator=(connection&&) noexcept;
  ~connection();

  template <class... Ts, class... A>
  rows<Ts...> query(std::string_view sql, A&&... args) {
    return detail::run_query<Ts...>(detail::acquire(conn_, sql), std::forward<A>(args)...);
  }
  template <class... Ts, class... A>
  typename detail::single_row<Ts...>::type one(std::string_view sql, A&&... args) {
    return detail::run_one<Ts...>(detail::acquire(conn_, sql), std::forward<A>(args)...);
  }
  template <class... Ts, class... A>
  std::optional<typename detail::single_row<Ts...>::type> maybe(std::string_view sql, A&&... args) {
    return detail::run_maybe<Ts...>(detail::acquire(conn_, sql), "maybe", std::forward<A>(args)...);
  }
  template <class... A>
  std::int64_t execute(std::string_view sql, A&&... args) {
    return detail::run_execute(detail::acquire(conn_, sql), std::forward<A>(args)...);
  }
  statement prepare(std::string_view sql);

  // For sessions without automatic commit (autocommit=no): ends the work done so far.
  void commit();
  void rollback();
  bool in_transaction() const;
  bool connected() const;
  // Runs a trivial query; false when the connection no longer works.
  bool ping() noexcept;

  struct statistics {
    std::uint64_t prepares = 0;  // texts the server prepared for this connection
    std::uint64_t reuses = 0;    // runs of a statement the cache already held prepared
    std::size_t cached = 0;      // statements in the cache now
  };
  statistics stats() const;

  TAsaSession& session() const;

 private:
  friend class transaction;
  friend class pool;
  explicit connection(std::shared_ptr<detail::conn> c) : conn_(std::move(c)) {}
  std::shared_ptr<detail::conn> conn_;
};

// A user transaction: begun on construction, rolled back by the destructor unless commit() ran.
// One at a time per connection: a second while one is active throws zylo::error.
class transaction {
 public:
  explicit transaction(connection& db);
  transaction(const transaction&) = delete;
  transaction& operator=(const transaction&) = delete;
  ~transaction();  // never throws
  void commit();
  void rollback();
  bool active() const noexcept { return active_; }

 private:
  std::shared_ptr<detail::conn> conn_;
  bool active_ = false;
};

}  // namespace zylo
