// Registers the stores' work for the moment a program unloads the library:
// the SQLite store closes its process-wide connections and releases the
// SQLite library, so that no file stays locked and no module stays mapped
// behind a library that is gone. Registered while the library loads.

#include "pda/KestSQLite.h"
#include "platform/platform.h"

namespace {

void closeSQLite() {
  KestSQLite::closeAllDatabaseConnections();
}

[[maybe_unused]] const bool registered = (pda::platform::registerUnloadHook(&closeSQLite), true);

}  // namespace
