#include "PlatformSeam.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include "Command.h"

#if defined(_WIN32)
#  include <io.h>
#  define PDA_ISATTY _isatty
#  define PDA_STDIN 0
#else
#  include <dlfcn.h>
#  include <fcntl.h>
#  include <unistd.h>
#  define PDA_ISATTY isatty
#  define PDA_STDIN STDIN_FILENO
#endif

namespace pdatool {
namespace seam {

namespace {

namespace fs = std::filesystem;

struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle) RegCloseKey(handle);
  }
};

long openKey(const std::string& key, REGSAM access, Key& out) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access | KEY_WOW64_64KEY, &out.handle);
}

#if !defined(_WIN32)
// CRC-32 (IEEE) as the stand-in's values files carry it over every byte
// before it; byte by byte, since only doctor and the store checks read
// files this way.
uint32_t crc32(const unsigned char* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  while (n--) {
    c ^= *p++;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

uint32_t u32(const std::string& b, std::size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

// The stand-in's values file: "PDAVALUES 1\n", a count, then per value a
// name length, name, type, data length and data, then the CRC of all that.
bool valuesFileIntact(const std::string& bytes) {
  static const char kMagic[] = "PDAVALUES 1\n";
  const std::size_t magic = sizeof kMagic - 1;
  if (bytes.size() < magic + 8 || bytes.compare(0, magic, kMagic) != 0) return false;
  const std::size_t body = bytes.size() - 4;
  if (crc32(reinterpret_cast<const unsigned char*>(bytes.data()), body) != u32(bytes, body))
    return false;
  // Each record: name length, name, type, data length, data.
  std::size_t at = magic + 4;
  auto take = [&](std::size_t n) {
    if (body < at || body - at < n) return false;
    at += n;
    return true;
  };
  for (uint32_t count = u32(bytes, magic); count > 0; --count) {
    if (!take(4) || !take(u32(bytes, at - 4)) || !take(8) || !take(u32(bytes, at - 4)))
      return false;
  }
  return at == body;
}

// The directory of a key below HKLM: each part in the stand-in's encoding,
// which keeps letters and digits and most punctuation as they are; parts are
// matched without regard to case, so the walk below compares that way.
std::string keyDirectory(const std::string& key) {
  fs::path dir = fs::path(registryDirectory()) / "HKLM";
  std::size_t start = 0;
  while (start <= key.size() && !key.empty()) {
    const std::size_t end = key.find('\\', start);
    const std::string part = key.substr(start, end == std::string::npos ? end : end - start);
    std::error_code ec;
    bool found = false;
    for (fs::directory_iterator it(dir, ec), last; !ec && it != last; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() == part.size() &&
          std::equal(name.begin(), name.end(), part.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
          })) {
        dir = it->path();
        found = true;
        break;
      }
    }
    if (!found) return "";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return dir.string();
}
#endif

}  // namespace

long regReadValues(const std::string& key, std::vector<RegEntry>* values) {
  values->clear();
  Key k;
  long rc = openKey(key, KEY_READ, k);
  if (rc != kRegOk) return rc;
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = 0, dataSize = 0;
    rc = RegQueryInfoKeyA(k.handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          &nameSize, &dataSize, nullptr, nullptr);
    if (rc != kRegOk) return rc;
    std::vector<char> name(nameSize + 2);
    std::vector<BYTE> data(dataSize + 1);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueA(k.handle, index, name.data(), &nameLength, nullptr, &type, data.data(),
                       &dataLength);
    if (rc == ERROR_NO_MORE_ITEMS) return kRegOk;
    if (rc != kRegOk) return rc;
    values->push_back(
        RegEntry{std::string(name.data(), nameLength), type,
                 std::string(reinterpret_cast<const char*>(data.data()), dataLength)});
  }
}

long regSubKeys(const std::string& key, std::vector<std::string>* names) {
  names->clear();
  Key k;
  long rc = openKey(key, KEY_READ, k);
  if (rc != kRegOk) return rc;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD length = sizeof name;
    rc = RegEnumKeyExA(k.handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kRegOk;
    if (rc != kRegOk) return rc;
    names->emplace_back(name, length);
  }
}

long regProbeWrite(const std::string& key) {
  Key k;
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_WRITE | KEY_WOW64_64KEY, nullptr, &k.handle, nullptr);
}

long regSetText(const std::string& key, const std::string& name, const std::string& text) {
  Key k;
  long rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, &k.handle, nullptr);
  if (rc != kRegOk) return rc;
  return RegSetValueExA(k.handle, name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

bool regReadValue(const std::string& key, const std::string& name, RegEntry* value) {
  std::vector<RegEntry> values;
  if (regReadValues(key, &values) != kRegOk) return false;
  for (RegEntry& v : values) {
    if (v.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(v.name[i])) !=
          std::tolower(static_cast<unsigned char>(name[i])))
        same = false;
    if (same) {
      *value = std::move(v);
      return true;
    }
  }
  return false;
}

std::string regErrorText(long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "the key does not exist";
    case ERROR_ACCESS_DENIED:
      return "access is denied (a user without administrator rights, or PDA_REGISTRY_READONLY=1)";
    case ERROR_CANTREAD:
      return "the key cannot be read";
    case ERROR_CANTWRITE:
      return "the key cannot be written";
    default:
      return "registry error " + std::to_string(code);
  }
}

#if defined(_WIN32)

std::string machineRootProblem() {
  return "";
}
std::string registryDirectory() {
  return "";
}
std::string registryDirectoryProblem() {
  return "";
}
std::vector<std::string> damagedValuesFiles(const std::string&) {
  return {};
}
std::string libraryLoadProblem(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return "cannot load '" + path + "' (error " + std::to_string(GetLastError()) + ")";
  const bool sqlite = GetProcAddress(module, "sqlite3_open_v2") != nullptr;
  FreeLibrary(module);
  return sqlite ? "" : "'" + path + "' is no SQLite library (it lacks sqlite3_open_v2)";
}
std::string eventLogPath() {
  return "the Application event log";
}
std::string eventLogProblem() {
  HANDLE log = RegisterEventSourceA(nullptr, "pda");
  if (!log) return "cannot register an event source (error " + std::to_string(GetLastError()) + ")";
  DeregisterEventSource(log);
  return "";
}

#else

std::string machineRootProblem() {
  const std::string root = machineRoot();
  std::error_code ec;
  if (!fs::exists(root, ec)) return ec ? "'" + root + "': " + ec.message() : "";
  fs::directory_iterator it(root, ec);
  if (ec) return "cannot read the machine root '" + root + "': " + ec.message();
  return "";
}

std::string registryDirectory() {
  return machineRoot() + "/registry";
}

std::string registryDirectoryProblem() {
  const std::string dir = registryDirectory();
  std::error_code ec;
  if (!fs::exists(dir, ec) && !ec) return "";
  if (!ec && !fs::is_directory(dir, ec)) return "'" + dir + "' is not a directory";
  fs::directory_iterator it(dir, ec);
  if (ec) return "cannot read the registry directory '" + dir + "': " + ec.message();
  return "";
}

std::vector<std::string> damagedValuesFiles(const std::string& key) {
  std::vector<std::string> damaged;
  const std::string top = key.empty() ? registryDirectory() : keyDirectory(key);
  std::error_code ec;
  if (top.empty() || !fs::is_directory(top, ec)) return damaged;
  for (fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec),
       last;
       !ec && it != last; it.increment(ec)) {
    if (it->path().filename() != ".values") continue;
    std::ifstream in(it->path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.bad() && !valuesFileIntact(bytes)) damaged.push_back(it->path().string());
  }
  return damaged;
}

std::string libraryLoadProblem(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    // dlerror names the path first; the callers name it already.
    const char* error = dlerror();
    std::string why = error ? error : "";
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    return why.empty() ? "cannot be loaded" : why;
  }
  const bool sqlite = dlsym(handle, "sqlite3_open_v2") != nullptr;
  dlclose(handle);
  return sqlite ? "" : "'" + path + "' is no SQLite library (it lacks sqlite3_open_v2)";
}

std::string eventLogPath() {
  return machineRoot() + "/EventLog/Application.log";
}

std::string eventLogProblem() {
  // Checked without creating anything: the log itself when it exists, else
  // the nearest directory that would hold it.
  const std::string path = eventLogPath();
  std::error_code ec;
  if (fs::exists(path, ec)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return "cannot append to '" + path + "': " + std::strerror(errno);
    ::close(fd);
    return "";
  }
  fs::path dir = fs::path(path).parent_path();
  while (!fs::exists(dir, ec) && dir.has_parent_path() && dir.parent_path() != dir)
    dir = dir.parent_path();
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    return "cannot create '" + path + "' in '" + dir.string() + "': " + std::strerror(errno);
  return "";
}

#endif

bool stdinIsTerminal() {
  return PDA_ISATTY(PDA_STDIN) != 0;
}

void sleepMilliseconds(unsigned int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace seam
}  // namespace pdatool
