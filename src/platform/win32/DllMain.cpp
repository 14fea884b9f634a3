// The library's entry point. Kept alone in its file so that only the DLL
// carries it: the static archive that the tests link never pulls it in.

#include "platform/platform.h"

// When a program unloads the library with FreeLibrary (lpReserved is null),
// the process goes on: the registered unload hooks run (the SQLite store
// closes its connections and releases the SQLite library), so that no file stays locked and no
// module stays mapped behind a library that is gone.
//
// When the whole process ends (lpReserved is not null), nothing is done. The
// other threads have already been stopped wherever they were, possibly inside
// SQLite with its locks held, and SQLite.Interop.dll may already have been
// detached, since a library loaded at run time is torn down before the one
// that loaded it. Calling into it then could hang or crash the exit. Skipping
// loses nothing: no transaction is left open between calls, the system
// releases the file handles and locks, and SQLite recovers any journal that
// a killed writer left on the next open.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // No thread attach and detach notifications: the library keeps no
      // per-thread state that needs them.
      DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      if (reserved == nullptr) pda::platform::runUnloadHooks();
      break;
    default:
      break;
  }
  return TRUE;
}
