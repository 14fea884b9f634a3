#include "core/LibraryLoader.h"

#include "pda/DirUtilities.h"

namespace pda {

HMODULE loadSuiteLibrary(const char* path) {
  if (!platform::isAbsolutePath(path)) {
    logEvent("SQLite", EVENTLOG_ERROR_TYPE,
             "loadSuiteLibrary: Refused to load a library from a relative path\n"
             "path = '%s'\n"
             "reason = libraries are loaded only from an absolute path, never through the "
             "current directory; register the suite's absolute \"BaseDir\"\n",
             path ? path : "");
    return nullptr;
  }
  return platform::loadLibraryFromAbsolutePath(path);
}

}  // namespace pda
