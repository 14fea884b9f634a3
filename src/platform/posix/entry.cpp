// The library's entry point on POSIX: when the library is unloaded (dlclose
// of its last reference, or the end of the process) the process-wide SQLite
// connections are closed and the SQLite library released, as the Windows
// build does on process detach.

#include "pda/KestSQLite.h"

namespace {

__attribute__((destructor)) void onLibraryUnload() {
  KestSQLite::closeAllDatabaseConnections();
}

}  // namespace
