// Runs a piece of a test on a thread with a small stack (256 KB unless told otherwise), the way
// an application's worker thread may call us. Nesting limits are tested there: input nested
// just inside a limit must work on such a thread, input beyond it must be refused, and neither
// may overflow the stack. An exception thrown by the piece is thrown again to the caller.
#pragma once

#include <pthread.h>

#include <exception>
#include <functional>
#include <stdexcept>

namespace zyltest {

inline constexpr size_t kSmallStack = 256 * 1024;

inline void RunOnSmallStack(const std::function<void()>& body, size_t stackBytes = kSmallStack) {
  struct Call {
    const std::function<void()>* body;
    std::exception_ptr error;
  } call{&body, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  int rc = pthread_create(
      &thread, &attr,
      [](void* p) -> void* {
        auto* c = static_cast<Call*>(p);
        try {
          (*c->body)();
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &call);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("cannot start a thread with a small stack");
  pthread_join(thread, nullptr);
  if (call.error) std::rethrow_exception(call.error);
}

}  // namespace zyltest
