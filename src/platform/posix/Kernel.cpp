// Kernel calls of the stand-in: the thread's last error, critical sections,
// named mutexes, the process id, Sleep, and the time and file helpers.
//
// Mutexes behave as Windows mutexes do: owned by one thread at a time,
// recursively (each wait must be matched by a release), released only by the
// owner (others get ERROR_NOT_OWNER), and abandoned when the owning thread ends
// without releasing (the next wait returns WAIT_ABANDONED and owns it). A named
// mutex is found by its exact name (names are case-sensitive, as kernel object
// names are) for as long as a handle to it is open; the names are private to
// the process. A null or empty name gives an unnamed mutex.

#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"

namespace {

thread_local DWORD tLastError = 0;

// Windows refuses more than this many nested acquisitions of one mutex.
constexpr unsigned long kMaxRecursion = 0x7FFFFFFFul;

struct MutexObject {
  std::mutex lock;
  std::condition_variable freed;
  std::thread::id owner;    // GUARDED_BY(lock); default id when free
  unsigned long count = 0;  // GUARDED_BY(lock)
  bool abandoned = false;   // GUARDED_BY(lock)
  std::string name;         // empty for an unnamed mutex
  int handleCount = 0;      // GUARDED_BY(tableMutex())
};
using MutexPtr = std::shared_ptr<MutexObject>;

// The mutexes the current thread owns, so that they are abandoned, not left
// owned for ever, when the thread ends. The list is a plain pointer (its
// storage outlives every destructor of the thread) and the reaper that
// empties it at the thread's end is created with the first entry; code that
// runs after the reaper, late in a thread's exit, no longer tracks what it takes.
thread_local std::vector<MutexPtr>* tHeld = nullptr;
thread_local bool tReaped = false;

struct Reaper {
  ~Reaper() {
    tReaped = true;
    std::vector<MutexPtr>* held = tHeld;
    tHeld = nullptr;
    if (!held) return;
    std::thread::id me = std::this_thread::get_id();
    for (const MutexPtr& m : *held) {
      std::lock_guard<std::mutex> guard(m->lock);
      if (m->owner != me) continue;
      m->owner = std::thread::id();
      m->count = 0;
      m->abandoned = true;
      m->freed.notify_one();
    }
    delete held;
  }
};
thread_local Reaper tReaper;

void trackOwned(const MutexPtr& m) {
  if (tReaped) return;
  (void)&tReaper;  // the first use in a thread sets up its destructor
  if (!tHeld) tHeld = new std::vector<MutexPtr>;
  tHeld->push_back(m);
}

void untrackOwned(const MutexObject* m) {
  if (!tHeld) return;
  for (auto it = tHeld->begin(); it != tHeld->end(); ++it) {
    if (it->get() == m) {
      tHeld->erase(it);
      return;
    }
  }
}

// One open handle; several handles may refer to one named mutex.
struct MutexHandle {
  MutexPtr object;
};

// Never destroyed (PosixSupport.h says why).
std::mutex& tableMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::unordered_map<const void*, std::unique_ptr<MutexHandle>>& handleTable() {
  static auto* table = new std::unordered_map<const void*, std::unique_ptr<MutexHandle>>;
  return *table;
}
std::unordered_map<std::string, MutexPtr>& namedMutexes() {
  static auto* table = new std::unordered_map<std::string, MutexPtr>;
  return *table;
}

MutexPtr findMutex(HANDLE h) {
  std::lock_guard<std::mutex> guard(tableMutex());
  auto it = handleTable().find(h);
  return it == handleTable().end() ? nullptr : it->second->object;
}

void takeOwnership(const MutexPtr& m) {
  m->owner = std::this_thread::get_id();
  m->count = 1;
  trackOwned(m);
}

std::recursive_mutex* sectionLock(LPCRITICAL_SECTION cs) {
  // A section used without InitializeCriticalSection (zero-filled static
  // storage) gets its lock here, once, whichever thread comes first.
  void* impl = __atomic_load_n(&cs->impl, __ATOMIC_ACQUIRE);
  if (impl) return static_cast<std::recursive_mutex*>(impl);
  auto* fresh = new std::recursive_mutex;
  void* expected = nullptr;
  if (__atomic_compare_exchange_n(&cs->impl, &expected, fresh, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE))
    return fresh;
  delete fresh;
  return static_cast<std::recursive_mutex*>(expected);
}

}  // namespace

extern "C" {

DWORD pdaGetLastError(void) {
  return tLastError;
}
void pdaSetLastError(DWORD dwErrCode) {
  tLastError = dwErrCode;
}

DWORD pdaGetCurrentProcessId(void) {
  return static_cast<DWORD>(::getpid());
}

void pdaSleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == INFINITE) {
    for (;;) ::pause();
  }
  struct timespec left;
  left.tv_sec = static_cast<time_t>(dwMilliseconds / 1000);
  left.tv_nsec = static_cast<long>(dwMilliseconds % 1000) * 1000000L;
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void pdaInitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (!lpCriticalSection) return;
  lpCriticalSection->impl = new std::recursive_mutex;
}

void pdaEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (!lpCriticalSection) return;
  sectionLock(lpCriticalSection)->lock();
}

void pdaLeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  // Leaving a section the thread does not hold is a caller's error, as on
  // Windows; a section that was never entered has no lock to release.
  if (!lpCriticalSection) return;
  void* impl = __atomic_load_n(&lpCriticalSection->impl, __ATOMIC_ACQUIRE);
  if (impl) static_cast<std::recursive_mutex*>(impl)->unlock();
}

void pdaDeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (!lpCriticalSection) return;
  void* impl = __atomic_exchange_n(&lpCriticalSection->impl, nullptr, __ATOMIC_ACQ_REL);
  delete static_cast<std::recursive_mutex*>(impl);
}

HANDLE pdaCreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  (void)lpMutexAttributes;  // no security descriptors here
  // Test hook: acts as a process that may not create the mutex.
  if (pda::platform::posix::envSwitch("PDA_FAIL_CREATE_MUTEX")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::string name = lpName ? lpName : "";
  auto handle = std::make_unique<MutexHandle>();
  bool existed = false;
  {
    std::lock_guard<std::mutex> guard(tableMutex());
    if (!name.empty()) {
      auto it = namedMutexes().find(name);
      if (it != namedMutexes().end()) {
        handle->object = it->second;
        existed = true;
      }
    }
    if (!handle->object) {
      handle->object = std::make_shared<MutexObject>();
      handle->object->name = name;
      if (!name.empty()) namedMutexes()[name] = handle->object;
    }
    ++handle->object->handleCount;
  }
  // The initial ownership is only for the creator: opening an existing mutex
  // does not take it.
  if (bInitialOwner && !existed) {
    std::lock_guard<std::mutex> guard(handle->object->lock);
    takeOwnership(handle->object);
  }
  HANDLE h = handle.get();
  {
    std::lock_guard<std::mutex> guard(tableMutex());
    handleTable()[h] = std::move(handle);
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

DWORD pdaWaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  MutexPtr m = findMutex(hHandle);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(m->lock);
  if (m->owner == me) {
    if (m->count >= kMaxRecursion) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return WAIT_FAILED;
    }
    ++m->count;
    return WAIT_OBJECT_0;
  }
  auto isFree = [&] { return m->owner == std::thread::id(); };
  if (dwMilliseconds == INFINITE) {
    m->freed.wait(guard, isFree);
  } else if (!m->freed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds), isFree)) {
    return WAIT_TIMEOUT;
  }
  bool abandoned = m->abandoned;
  m->abandoned = false;
  takeOwnership(m);
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL pdaReleaseMutex(HANDLE hMutex) {
  MutexPtr m = findMutex(hMutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(m->lock);
  if (m->owner != std::this_thread::get_id()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--m->count == 0) {
    m->owner = std::thread::id();
    untrackOwned(m.get());
    m->freed.notify_one();
  }
  return TRUE;
}

BOOL pdaCloseHandle(HANDLE hObject) {
  std::unique_ptr<MutexHandle> handle;  // destroyed after the table's lock
  std::lock_guard<std::mutex> guard(tableMutex());
  auto it = handleTable().find(hObject);
  if (it == handleTable().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handle = std::move(it->second);
  handleTable().erase(it);
  // The name lives as long as a handle to the mutex is open; an owner that
  // closes its last handle keeps its ownership record until it ends, as the
  // object lives on in its list of owned mutexes.
  if (--handle->object->handleCount == 0 && !handle->object->name.empty())
    namedMutexes().erase(handle->object->name);
  return TRUE;
}

}  // extern "C"

namespace pda {
namespace platform {

long long fileModificationTime(const char* path) {
  if (!path) return 0;
  struct stat st;
  if (::stat(path, &st) != 0) return 0;
  return static_cast<long long>(st.st_mtime);
}

double monotonicMilliseconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

}  // namespace platform
}  // namespace pda
