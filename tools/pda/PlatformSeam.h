#pragma once

// The one place where the tool's health checks and repairs (doctor, unset,
// the store checks of every command) touch the registry calls, the emulated
// machine's files and library loading directly. Everything else in those
// commands goes through the library's records; a change to the names of the
// platform calls is a change to PlatformSeam.cpp only.

#include <pda/Win32.h>
#include <string>
#include <vector>

namespace pdatool {
namespace seam {

// Keys are paths below HKEY_LOCAL_MACHINE in the 64-bit view, written with
// backslashes. Results are Win32 error codes: 0 for success.
const long kRegOk = 0;
const long kRegNotFound = 2;

struct RegEntry {
  std::string name;
  unsigned long type = 0;
  std::string data;  // raw bytes, whole however long
};

// Every value of key, however long, in the registry's order.
long regReadValues(const std::string& key, std::vector<RegEntry>* values);
// The names of key's direct subkeys.
long regSubKeys(const std::string& key, std::vector<std::string>* names);
// Opens key for writing, creating it when missing; writes nothing.
long regProbeWrite(const std::string& key);
// Sets a REG_SZ value, creating the key when missing.
long regSetText(const std::string& key, const std::string& name, const std::string& text);
// One value of key: false when the key or value is missing or unreadable.
bool regReadValue(const std::string& key, const std::string& name, RegEntry* value);
// "access is denied", "the key does not exist", ...
std::string regErrorText(long code);

// The registry store's readers take value names and data of at most this
// many bytes (a name with its terminator); the first value beyond that ends
// the read of its key.
const std::size_t kRegistryReadLimit = 1024;

// The emulated machine: problems that make every store unreadable (the root
// cannot be listed). Empty when all is well or when there is no emulated
// machine (Windows).
std::string machineRootProblem();
// The directory of the emulated registry ("" on Windows) and its problem.
std::string registryDirectory();
std::string registryDirectoryProblem();

// Values files of the emulated registry below the directory of key (every
// key when key is empty) that are damaged: a wrong header, a length beyond
// the file or a checksum that does not match. A key with a damaged file
// reads as a key without values. Always empty on Windows.
std::vector<std::string> damagedValuesFiles(const std::string& key);

// Loads the library at path as the stores do; "" when it loads and exports
// SQLite, otherwise the system's reason.
std::string libraryLoadProblem(const std::string& path);

// The event log: where it is, and "" when this process can append to it.
std::string eventLogPath();
std::string eventLogProblem();

// Whether standard input is a terminal (for questions).
bool stdinIsTerminal();

// Milliseconds to sleep while a database is busy.
void sleepMilliseconds(unsigned int ms);

}  // namespace seam
}  // namespace pdatool
