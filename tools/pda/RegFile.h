#pragma once

// The .reg text format of Windows' registry tools, read and written:
//
//   Windows Registry Editor Version 5.00        (UTF-16 LE with a byte order
//                                                mark; "REGEDIT4" files are ANSI)
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Demo]          a key, created when missing
//   "Text"="a \"quoted\" C:\\path"              REG_SZ
//   @="the default value"                       the unnamed value
//   "Count"=dword:0000002a                      REG_DWORD
//   "Blob"=hex:00,ff,10                         REG_BINARY
//   "Path"=hex(2):25,00,...                     REG_EXPAND_SZ (UTF-16 LE in 5.00)
//   "List"=hex(7):6f,00,...                     REG_MULTI_SZ
//   "Big"=hex(b):...                            REG_QWORD; hex(N) any type N
//   "Old"=-                                     deletes the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]          deletes the key and all below
//
// Long hex lists continue on the next line after a trailing backslash; lines
// starting with ';' are comments.
//
// Decisions:
// - Texts are kept as UTF-8 in the emulated registry (its narrow calls take
//   bytes): a 5.00 file's UTF-16 becomes UTF-8, and back. A stored byte that is
//   not UTF-8 is written as the character of the same number (Latin-1).
// - A REG_SZ whose data is not exactly one text and its terminator (no
//   terminator, a NUL inside) is written as hex(1), so that nothing is lost.
// - Strings escape \\ and \" as reg does, and \n, \r and \0 as Wine's reg
//   does; all five are read.
// - Only HKEY_LOCAL_MACHINE is read and written (the only hive of the suite).

#include <stdexcept>
#include <string>
#include <vector>

#include <pda/Win32.h>
#include "RegistryAccess.h"

namespace pdatool {
namespace regfile {

// A file refused: the line (1-based; 0 for the whole file) and why.
struct FormatError : std::runtime_error {
  FormatError(int line, const std::string& why)
      : std::runtime_error(line ? "line " + std::to_string(line) + ": " + why : why) {}
};

struct ValueChange {
  registry::Value value;
  bool remove = false;  // "name"=-
};

struct KeyChange {
  std::string key;  // below HKEY_LOCAL_MACHINE
  bool removeKey = false;
  std::vector<ValueChange> values;
};

// Every change of the file, in its order; throws FormatError for anything it
// cannot read exactly (nothing is written before the whole file is read).
std::vector<KeyChange> parse(const std::string& bytes);

struct KeyDump {
  std::string key;  // below HKEY_LOCAL_MACHINE
  std::vector<registry::Value> values;
};

// A 5.00 file (UTF-16 LE with its byte order mark, CR LF line ends) holding
// the keys in the given order.
std::string write(const std::vector<KeyDump>& keys);

}  // namespace regfile
}  // namespace pdatool
