#pragma once

// Subkey paths: splitting a caller's path into key names, planning where a
// path starts (the handle's key, or the hive root when the 32-bit view
// redirects it below HKLM\SOFTWARE to HKLM\SOFTWARE\Wow6432Node), and walking
// it to open or create the key. Registry.cpp has the decisions these follow.

#include <string>
#include <vector>

#include "platform/platform.h"

namespace pda {
namespace platform {
namespace reg {

// Splits subKey on '\\' into names. Null or "" gives no names; one trailing
// '\\' is ignored; a leading one, an empty name between two, or a name longer
// than 255 characters is ERROR_INVALID_PARAMETER.
LONG splitPath(const char* subKey, std::vector<std::string>* out);

// Opens (create false) or opens or creates (create true) the key subKey below
// hKey with the rights sam asks for, and gives a new handle in *result and,
// when asked, whether the key was created in *disposition.
LONG openOrCreate(HKEY hKey, LPCSTR subKey, REGSAM sam, bool create, PHKEY result,
                  LPDWORD disposition);

}  // namespace reg
}  // namespace platform
}  // namespace pda
