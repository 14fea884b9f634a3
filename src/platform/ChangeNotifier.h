#pragma once

// Waits for changes of registry keys and files: inotify on the POSIX
// stand-in, change notifications of the registry and the file system on
// Windows. Used by ChangeWatch (src/watch).
//
// Thread safety: one thread at a time calls watch* and wait; wake() may be
// called from any thread.

#include <memory>

namespace pda {
namespace platform {

class ChangeNotifier {
 public:
  virtual ~ChangeNotifier() = default;
  // Watches the key at subKey below HKEY_LOCAL_MACHINE (64-bit view) with
  // every key below it, also keys created later. A key that does not exist
  // yet is watched from its nearest existing ancestor. False when it cannot
  // be watched at all.
  virtual bool watchKey(const char* subKey) = 0;
  // Watches the file at path with its SQLite journals (path + "-journal",
  // "-wal"); its directory must exist. False when it cannot be watched.
  virtual bool watchFile(const char* path) = 0;
  // Waits at most timeoutMs (0xFFFFFFFF: no limit) for a change of anything
  // watched: 1 something changed, 0 the time passed, -1 woken by wake() or
  // failed.
  virtual int wait(unsigned int timeoutMs) = 0;
  // Makes the current or next wait return -1.
  virtual void wake() noexcept = 0;
};

// Null when the system refuses (no inotify instance, no event object).
std::unique_ptr<ChangeNotifier> createChangeNotifier();

}  // namespace platform
}  // namespace pda
