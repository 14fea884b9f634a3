#pragma once

// The values of one emulated registry key, as kept in the file ".values" of
// the key's directory.
//
// File format (integers are 32-bit little-endian):
//
//   "PDAVALUES 1\n"                        header line: magic and version
//   count                                  number of records
//   count times:
//     nameLength, name bytes               no NUL inside; "" is the default value
//     type                                 any number, kept as written
//     dataLength, data bytes               raw, kept exactly
//   crc                                    CRC-32 (IEEE) of every byte before it
//
// Records are in creation order. A file is accepted only when it is complete
// and exact: the right header, every length inside the file, no bytes left
// over, no two names equal without regard to case, and a matching CRC. Anything
// else is garbage, and a key whose file is garbage has no values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pda {
namespace platform {

struct RegValue {
  std::string name;  // as first written
  uint32_t type = 0;
  std::string data;  // raw bytes
};

// The longest value name the registry accepts, in characters (as Windows).
constexpr std::size_t kMaxValueNameLength = 16383;

// The bytes of a values file holding values, in their order.
std::string serializeValues(const std::vector<RegValue>& values);

// Parses the bytes of a values file. Returns true and fills out (replacing
// its content) when the bytes are a valid file; returns false and leaves out
// empty otherwise. Never reads outside [bytes, bytes + size). bytes may be
// null when size is 0.
bool parseValues(const void* bytes, std::size_t size, std::vector<RegValue>* out);

enum class ValuesReadResult {
  ok,       // the file was read and parsed
  missing,  // no such file: a key without values
  garbage,  // the file exists but is not a valid values file
  failed,   // the file could not be read (errno set by the failing call)
};

// Reads and parses the values file at path. On anything but ok, values is empty.
ValuesReadResult readValuesFile(const std::string& path, std::vector<RegValue>* values);
// The same for path relative to the directory descriptor dirFd (or to the
// working directory with AT_FDCWD, which any absolute path ignores).
ValuesReadResult readValuesFileAt(int dirFd, const std::string& path,
                                  std::vector<RegValue>* values);

// Replaces the values file "<dir>/.values" as a whole: writes a temporary file
// in dir, flushes it to disk and renames it over the old one, so that a reader
// sees either the old or the new file. The caller holds the key's lock (the
// temporary file has one fixed name per key). Returns 0 or an errno value.
int writeValuesFile(const std::string& dir, const std::vector<RegValue>& values);

// The file names used inside a key directory. They begin with '.', which the
// name encoding of keys never produces, so they cannot clash with a subkey.
extern const char* const kValuesFileName;
extern const char* const kValuesTempFileName;

}  // namespace platform
}  // namespace pda
