#pragma once

// The one place where the moving commands (export, import, copy, diff, reg
// export/import, alias and favourite edits on the registry) call the
// registry themselves. Keys are paths below HKEY_LOCAL_MACHINE, always in the
// 64-bit view, as the library's registry store opens them. Every failure
// throws WriteError naming the key.

#include <pda/Win32.h>
#include <string>
#include <vector>

namespace pdatool {
namespace registry {

// The value types the tool writes and reads by number (the registry's own).
enum : unsigned long {
  kNone = 0,
  kString = 1,
  kExpandString = 2,
  kBinary = 3,
  kDword = 4,
  kMultiString = 7,
  kQword = 11
};

struct Value {
  std::string name;
  unsigned long type = kNone;
  std::string bytes;  // the data as stored, terminators included
};

// Whether the key exists (and can be read).
bool exists(const std::string& key);
// Its values in the registry's order; an empty list when the key is missing.
std::vector<Value> values(const std::string& key);
// Its subkeys' names in the registry's order; empty when the key is missing.
std::vector<std::string> subKeys(const std::string& key);
// Creates the key (and those above it) when missing.
void createKey(const std::string& key);
void setValue(const std::string& key, const Value& value);
// Removes a value; a value that is not there is no failure.
void deleteValue(const std::string& key, const std::string& name);
// Removes the key with everything below it; a missing key is no failure.
void deleteTree(const std::string& key);

// Text of a REG_SZ value as the library reads it: up to the first NUL.
std::string text(const Value& value);
// A REG_SZ value of text, with its terminator.
Value stringValue(const std::string& name, const std::string& text);
// A REG_DWORD value of the low 32 bits of number.
Value dwordValue(const std::string& name, long long number);
// The signed reading of a REG_DWORD, as the library's registry store reads it.
long long dwordNumber(const Value& value);

}  // namespace registry
}  // namespace pdatool
