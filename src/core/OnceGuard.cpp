#include "core/OnceGuard.h"

#include <cstdio>
#include <mutex>

namespace pda {

namespace {

// Taken around the initialisation itself. With the named mutex held it is
// never contended; it is what keeps the creation single when the named mutex
// could not be had (and when one thread got the named mutex while another
// could not). Constant-initialised, so usable from any static initialiser.
std::mutex _creationLock;

}  // namespace

void createCriticalSectionOnce(std::atomic<bool>& created, CRITICAL_SECTION& cs,
                               const char* mutexNameFormat) noexcept {
  if (created.load(std::memory_order_acquire)) return;

  char name[256];
  // The name holds the process id, so the mutex orders this process's
  // threads only and never ties two processes together.
  int n = std::snprintf(name, sizeof name, mutexNameFormat ? mutexNameFormat : "",
                        static_cast<int>(GetCurrentProcessId()));
  HANDLE mutex = n > 0 && static_cast<std::size_t>(n) < sizeof name
                     ? CreateMutexA(nullptr, FALSE, name)
                     : nullptr;
  bool owned = false;
  if (mutex) {
    DWORD wait = WaitForSingleObject(mutex, INFINITE);
    // An abandoned mutex is owned all the same; its owner died outside this
    // code (the creation below cannot be interrupted half-way).
    owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }

  {
    std::lock_guard<std::mutex> lock(_creationLock);
    if (!created.load(std::memory_order_relaxed)) {
      InitializeCriticalSection(&cs);
      created.store(true, std::memory_order_release);
    }
  }

  if (owned) ReleaseMutex(mutex);
  if (mutex) CloseHandle(mutex);
}

}  // namespace pda
