#pragma once

// Shared by the registry store's source files: the base key, the access
// rights every registry node uses and the fixed buffer sizes.

#include <memory>

#include "core/NodeHolder.h"
#include "pda/IKestBase.h"
#include "platform/platform.h"

namespace pda {
namespace registry {

// Where the suite's settings live below HKEY_LOCAL_MACHINE.
constexpr char kBaseKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

// Always the 64-bit view: a 32-bit build on 64-bit Windows must see the same
// keys as the suite's 64-bit programs.
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM kWriteAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
constexpr REGSAM kRead32Access = KEY_READ | KEY_WOW64_32KEY;
static_assert(kReadAccess == 0x20119, "read access of a registry node");
static_assert(kWriteAccess == 0xF013F, "write access of a registry node");
static_assert(kRead32Access == 0x20219, "read access in the 32-bit view");

// Key paths, subkey names, the interface values the root builder reads and
// formatted numbers. Key names have at most 255 characters.
constexpr unsigned int kNameBufferSize = 256;
// Value names and value data as enumerated.
constexpr unsigned int kValueBufferSize = 1024;

using pda::NodeHolder;

}  // namespace registry
}  // namespace pda
