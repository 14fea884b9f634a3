#pragma once

// Helpers shared by the files of the POSIX stand-in: the machine's
// directories, environment switches and the translation of errno values into
// the Win32 codes that the stand-in reports.
//
// The process-wide tables of the stand-in (open key handles, mutexes, event
// sources, loaded libraries) are allocated once and never destroyed. The
// library's unload hook closes the SQLite connections after the C++ static
// destructors of the process have run, and closing may still report to the
// event log or touch the registry: the tables must outlive every destructor.

#include <string>

#include "platform/platform.h"

namespace pda {
namespace platform {
namespace posix {

// machineRoot() followed by '/' and rel.
std::string underRoot(const char* rel);

// Whether the environment variable name is set to exactly "1".
bool envSwitch(const char* name) noexcept;

// The Win32 code for an errno value; fallback for values without a closer match.
DWORD win32FromErrno(int error, DWORD fallback) noexcept;

// mkdir -p with mode 0755. Returns 0 or the errno of the first failure;
// directories that already exist are fine.
int makeDirectories(const std::string& path) noexcept;

// write() of the whole buffer, repeating after partial writes and EINTR.
// Returns 0 or an errno value.
int writeAll(int fd, const void* data, std::size_t size) noexcept;

}  // namespace posix
}  // namespace platform
}  // namespace pda
