// zylo: the connection pool. One mutex guards the idle list and the counts; connections are
// opened and checked outside it, so a slow connect or check holds up nobody but its caller.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "zylo/internal.h"
#include "zylo/pool.h"

namespace zylo {
namespace detail {

class pool_state {
 public:
  pool_state(std::string text, pool::options opts) : connection_string(std::move(text)), options(std::move(opts)) {
    if (options.max_size == 0) throw error("a pool needs room for at least one connection", 0, "HY024");
  }

  const std::string connection_string;
  const pool::options options;

  mutable std::mutex lock;
  std::condition_variable freed;                   // a connection came back or a place came free
  std::vector<std::unique_ptr<connection>> idle;   // most recently returned last
  pool::statistics stats;                          // open, peak and the counters (idle is idle.size())

  // Called with the lock held: takes a place for a connection that is about to be opened.
  void reserve() {
    ++stats.open;
    stats.peak = std::max(stats.peak, stats.open);
  }
  void give_back_place() {
    std::lock_guard<std::mutex> g(lock);
    --stats.open;
    freed.notify_one();
  }
  void discard(std::unique_ptr<connection> c) noexcept {
    c.reset();  // closes it, or leaves it to the statements still using it
    std::lock_guard<std::mutex> g(lock);
    --stats.open;
    ++stats.discarded;
    freed.notify_one();
  }
};

}  // namespace detail

pool::lease::lease(std::shared_ptr<detail::pool_state> p, std::unique_ptr<connection> c) noexcept
    : pool_(std::move(p)), conn_(std::move(c)) {}

pool::lease::lease(lease&& o) noexcept = default;

pool::lease& pool::lease::operator=(lease&& o) noexcept {
  if (this != &o) {
    release();
    pool_ = std::move(o.pool_);
    conn_ = std::move(o.conn_);
  }
  return *this;
}

pool::lease::~lease() { release(); }

void pool::lease::release() noexcept {
  if (!conn_ || !pool_) return;
  std::unique_ptr<connection> c = std::move(conn_);
  std::shared_ptr<detail::pool_state> p = std::move(pool_);
  bool reusable = false;
  try {
    // Rows, statements or blobs still held elsewhere keep the connection busy: it cannot serve
    // another thread, so it leaves the pool (and closes once they are gone).
    reusable = c->conn_.use_count() == 1 && c->connected();
    if (reusable && c->in_transaction()) c->rollback();
    reusable = reusable && c->connected() && !c->in_transaction();
  } catch (const std::exception&) {
    reusable = false;
  }
  if (!reusable) {
    p->discard(std::move(c));
    return;
  }
  std::lock_guard<std::mutex> g(p->lock);
  p->idle.push_back(std::move(c));
  p->freed.notify_one();
}

pool::pool(std::string connection_string, options opts)
    : state_(std::make_shared<detail::pool_state>(std::move(connection_string), std::move(opts))) {}

pool::~pool() = default;

pool::lease pool::acquire() { return acquire(state_->options.wait); }

pool::lease pool::acquire(std::chrono::milliseconds wait) {
  auto l = take(std::chrono::steady_clock::now() + wait);
  if (!l) {
    throw error("no connection of the pool came free within " + std::to_string(wait.count()) + " ms (all " +
                    std::to_string(state_->options.max_size) + " in use)",
                0, "HYT00");
  }
  return std::move(*l);
}

std::optional<pool::lease> pool::try_acquire() { return take(std::nullopt); }

std::optional<pool::lease> pool::take(std::optional<std::chrono::steady_clock::time_point> deadline) {
  detail::pool_state& p = *state_;
  for (;;) {
    std::unique_ptr<connection> c;
    {
      std::unique_lock<std::mutex> g(p.lock);
      bool waited = false;
      while (p.idle.empty() && p.stats.open >= p.options.max_size) {
        if (!deadline) return std::nullopt;
        if (!waited) {
          ++p.stats.waits;
          waited = true;
        }
        if (p.freed.wait_until(g, *deadline) == std::cv_status::timeout && p.idle.empty() &&
            p.stats.open >= p.options.max_size) {
          ++p.stats.timeouts;
          return std::nullopt;
        }
      }
      if (!p.idle.empty()) {
        c = std::move(p.idle.back());
        p.idle.pop_back();
      } else {
        p.reserve();
      }
    }
    if (c) {
      if (!p.options.check_on_acquire || c->ping()) return lease(state_, std::move(c));
      p.discard(std::move(c));  // broke while idle: try the next one, or open a new one
      continue;
    }
    try {
      c = std::make_unique<connection>(p.connection_string);
      if (p.options.on_connect) p.options.on_connect(*c);
    } catch (...) {
      c.reset();
      p.give_back_place();
      throw;
    }
    {
      std::lock_guard<std::mutex> g(p.lock);
      ++p.stats.opened;
    }
    return lease(state_, std::move(c));
  }
}

pool::statistics pool::stats() const {
  std::lock_guard<std::mutex> g(state_->lock);
  statistics s = state_->stats;
  s.idle = state_->idle.size();
  return s;
}

}  // namespace zylo
