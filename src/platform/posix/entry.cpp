// The library's entry point on POSIX: when the library is unloaded (dlclose
// of its last reference, or the end of the process) the registered unload
// hooks run (the SQLite store closes its connections and releases the SQLite
// library), as the Windows build does on process detach.

#include "platform/platform.h"

namespace {

__attribute__((destructor)) void onLibraryUnload() {
  pda::platform::runUnloadHooks();
}

}  // namespace
