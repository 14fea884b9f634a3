#pragma once

// Locks that clang's thread-safety analysis can check (scripts/lint builds the
// library with -Wthread-safety), and the annotations that name what each lock
// guards and the order in which locks are taken. With other compilers the
// annotations are empty.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#if defined(__clang__)
#  define PDA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#  define PDA_THREAD_ANNOTATION(x)
#endif

#define PDA_CAPABILITY(x) PDA_THREAD_ANNOTATION(capability(x))
#define PDA_SCOPED_CAPABILITY PDA_THREAD_ANNOTATION(scoped_lockable)
#define PDA_GUARDED_BY(x) PDA_THREAD_ANNOTATION(guarded_by(x))
#define PDA_PT_GUARDED_BY(x) PDA_THREAD_ANNOTATION(pt_guarded_by(x))
#define PDA_ACQUIRED_BEFORE(...) PDA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define PDA_ACQUIRED_AFTER(...) PDA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define PDA_REQUIRES(...) PDA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PDA_ACQUIRE(...) PDA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PDA_RELEASE(...) PDA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PDA_TRY_ACQUIRE(...) PDA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define PDA_EXCLUDES(...) PDA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define PDA_RETURN_CAPABILITY(x) PDA_THREAD_ANNOTATION(lock_returned(x))
#define PDA_NO_THREAD_SAFETY_ANALYSIS PDA_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace pda {

// A plain mutex, held only for short work that never waits for anything.
class PDA_CAPABILITY("mutex") Mutex {
 public:
  void lock() PDA_ACQUIRE() { _m.lock(); }
  void unlock() PDA_RELEASE() { _m.unlock(); }

 private:
  std::mutex _m;
};

class PDA_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) PDA_ACQUIRE(m) : _m(m) { _m.lock(); }
  ~MutexLock() PDA_RELEASE() { _m.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& _m;
};

// A recursive mutex handed on in the order in which threads asked for it: a
// thread that keeps taking it again at once cannot keep it from the others.
// A waiter waits while the line moves and gives up only when the lock has
// not changed hands for `patience`: each holder's turn is bounded, so the
// wait is bounded by the turns before it, and a holder that does not give
// the lock back does not hold its waiters beyond that. A waiter that gives
// up leaves its place in the line.
class PDA_CAPABILITY("mutex") TimedRecursiveMutex {
 public:
  bool tryLock(std::chrono::milliseconds patience) PDA_TRY_ACQUIRE(true) {
    std::unique_lock<std::mutex> lock(_m);
    const std::thread::id me = std::this_thread::get_id();
    if (_depth > 0 && _owner == me) {
      ++_depth;
      return true;
    }
    const unsigned long long ticket = _next++;
    unsigned long long handedOn = _handedOn;
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (_serving != ticket || _depth > 0) {
      if (_turn.wait_until(lock, deadline) != std::cv_status::timeout) continue;
      if (_serving == ticket && _depth == 0) break;
      if (_handedOn != handedOn) {  // the line moved: wait on
        handedOn = _handedOn;
        deadline = std::chrono::steady_clock::now() + patience;
        continue;
      }
      _abandoned.insert(ticket);
      skipAbandoned();
      return false;
    }
    _owner = me;
    _depth = 1;
    ++_serving;
    ++_handedOn;
    skipAbandoned();
    return true;
  }
  void unlock() PDA_RELEASE() {
    std::lock_guard<std::mutex> lock(_m);
    if (--_depth > 0) return;
    _owner = std::thread::id();
    _turn.notify_all();
  }

 private:
  // Tickets whose holders gave up are passed over. REQUIRES: _m held.
  void skipAbandoned() {
    while (!_abandoned.empty() && *_abandoned.begin() == _serving) {
      _abandoned.erase(_abandoned.begin());
      ++_serving;
    }
    _turn.notify_all();
  }

  std::mutex _m;
  std::condition_variable _turn;
  unsigned long long _next = 0;      // the next ticket handed out
  unsigned long long _serving = 0;   // the ticket whose turn comes next
  unsigned long long _handedOn = 0;  // how often the lock changed hands
  std::set<unsigned long long> _abandoned;
  std::thread::id _owner;
  int _depth = 0;
};

}  // namespace pda
