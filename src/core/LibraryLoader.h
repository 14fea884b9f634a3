#pragma once

#include "platform/platform.h"

namespace pda {

// Loads a library that the suite needs (the SQLite library) from path, which
// must be absolute. A relative path, such as the "./bin/SQLite.Interop.dll"
// that the fallback base directory "." gives on a machine without "BaseDir",
// would be found through the process's current directory, where anyone who
// can write a folder could plant a library of that name: it is refused, and
// an error event (source "SQLite") names the path and the reason. Returns the
// module (release with FreeLibrary), or null when refused or not loadable.
HMODULE loadSuiteLibrary(const char* path);

}  // namespace pda
