#pragma once

// The SQLite result codes, open flags and event types that the store uses by
// name, and the bound of every wait for a busy database.

namespace pda {
namespace sqlite {

const int kOk = 0;
const int kError = 1;
const int kBusy = 5;
const int kLocked = 6;
const int kReadOnly = 8;
const int kCantOpen = 14;
const int kMisuse = 21;
const int kRow = 100;
const int kDone = 101;

const int kOpenReadOnly = 0x1;
const int kOpenReadWrite = 0x2;
const int kOpenCreate = 0x4;

// Event types of logEvent.
const unsigned short kEventError = 1;
const unsigned short kEventWarning = 2;
const unsigned short kEventInformation = 4;

// Busy prepares and steps are tried this many times, sleeping this long
// after each busy or locked result: about one second in all. Every other
// wait of a writer (for the process's other writers of the file, for the
// writers of other processes) is bounded by the same second.
const int kBusyAttempts = 100;
const unsigned kBusySleepMs = 10;
const unsigned kLockWaitMs = kBusyAttempts * kBusySleepMs;

inline bool isBusy(int result) {
  return result == kBusy || result == kLocked;
}

}  // namespace sqlite
}  // namespace pda
