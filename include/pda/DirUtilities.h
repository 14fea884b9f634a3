#pragma once

#include "pda/Export.h"

// Where the suite lives on this computer, computed once per process and then
// kept. The returned texts belong to the library and stay valid for the life
// of the process. Safe for concurrent use by multiple threads.
class PDA_API DirUtilities {
 public:
  // The registered "BaseDir" of the suite (it ends with a path separator),
  // or "." when none is registered. "." has no trailing separator: join file
  // names to the base directory with a helper that inserts one when needed.
  // Looked up once; a value registered later is not seen by this process.
  static const char* getBaseDir();
  // The common application data folder followed by the suite's data folder,
  // ending with a path separator; "" while the folder cannot be found.
  static const char* getSharedDataDir();
  // getSharedDataDir() followed by "PXI" and a path separator.
  static const char* getPxiDataDir();
};

// Formats a message (printf conventions) and reports it to the event log
// under sourceName. eventType 1 is an error, 2 a warning, 4 information; any
// other value is reported as information. Returns the number of characters
// reported, or -1 when formatting failed. A message of 5120 characters or
// more is cut to 5116 characters followed by "..." (5119 in all), reported
// so, and 5119 is returned. An event that cannot be reported is dropped.
// Never changes the thread's last-error code.
PDA_API int logEvent(const char* sourceName, unsigned short eventType, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
