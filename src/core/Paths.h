#pragma once

#include <cstddef>

namespace pda {

// Writes dir followed by file into out (size bytes). A path separator is put
// between the two when dir is not empty and does not already end with one,
// so that the fallback base directory "." still gives "./file". Returns false,
// leaving out "", when the whole path does not fit: a path is never truncated.
bool buildPath(char* out, std::size_t size, const char* dir, const char* file) noexcept;

}  // namespace pda
