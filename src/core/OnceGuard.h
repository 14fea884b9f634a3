#pragma once

// The one-time creation of the library's process-wide critical sections, and
// a scoped lock for them.

#include <atomic>

#include "platform/platform.h"

namespace pda {

// Makes sure that cs has been initialised, exactly once per process, whatever
// thread gets here first; afterwards created is true and cs may be entered.
// The creation is ordered by a named mutex whose name is mutexNameFormat
// formatted with the process id (it must hold exactly one %d), so the mutex
// belongs to this process alone. The critical section is never deleted.
//
// If the named mutex cannot be created, or the wait for it fails, the
// critical section is created all the same, under a process-static lock of
// the library's own: callers never enter an uninitialised critical section,
// and concurrent first calls still initialise it once.
//
// Safe for concurrent use by multiple threads; cheap (one atomic load) once
// created is true.
void createCriticalSectionOnce(std::atomic<bool>& created, CRITICAL_SECTION& cs,
                               const char* mutexNameFormat) noexcept;

// Holds a critical section for the lifetime of the object.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& cs) noexcept : _cs(cs) {
    EnterCriticalSection(&_cs);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(&_cs); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& _cs;
};

}  // namespace pda
