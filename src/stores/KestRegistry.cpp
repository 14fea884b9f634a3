// The registry store: construction, handles, copies, reading a key's values
// and writing them back. The subkey builders are in KestRegistryTree.cpp, the
// static key helpers in KestRegistryHelpers.cpp.
#include "pda/KestRegistry.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/Text.h"
#include "stores/KestRegistryKeys.h"

using namespace pda::registry;

namespace {

// Writes the base key, followed by "\" and name when name is given, into out.
// A path that does not fit is refused rather than cut short: a shortened path
// would name a different key.
bool buildKeyPath(char* out, std::size_t size, const char* name) noexcept {
  const std::size_t base = std::strlen(kBaseKey);
  const std::size_t extra = (name && *name) ? 1 + std::strlen(name) : 0;
  if (base + extra + 1 > size) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, kBaseKey, base);
  if (extra) {
    out[base] = '\\';
    std::memcpy(out + base + 1, name, extra - 1);
  }
  out[base + extra] = '\0';
  return true;
}

// A second handle to the key behind h with the given rights; null when h is
// null or the key can no longer be opened with those rights.
HKEY reopenKey(HKEY h, REGSAM access) noexcept {
  if (!h) return nullptr;
  HKEY copy = nullptr;
  if (RegOpenKeyExA(h, "", 0, access, &copy) != ERROR_SUCCESS) return nullptr;
  return copy;
}

// The signed reading of a 32-bit pattern, without relying on how the
// compiler narrows an unsigned value that does not fit.
int32_t signedFromBits(uint32_t bits) noexcept {
  if (bits <= 0x7FFFFFFFu) return static_cast<int32_t>(bits);
  return -static_cast<int32_t>(~bits) - 1;
}

// The text of one registry value, or false when the value gives no entry:
// zero bytes of data, or a type other than REG_SZ, REG_DWORD and REG_BINARY.
// data holds size bytes followed by at least one spare byte.
bool valueText(DWORD type, BYTE* data, DWORD size, std::string* text) {
  if (size == 0) return false;
  char number[kNameBufferSize];
  switch (type) {
    case REG_SZ: {
      data[size] = 0;  // the spare byte: text stored without its NUL stays bounded
      const char* chars = reinterpret_cast<const char*>(data);
      const void* end = std::memchr(chars, 0, size);
      text->assign(chars, end ? static_cast<const char*>(end) - chars : size);
      return true;
    }
    case REG_DWORD: {
      // A short REG_DWORD (fewer than 4 bytes) reads its bytes as the low
      // bytes of the number; the bytes it lacks count as zero.
      uint32_t bits = 0;
      for (DWORD i = 0; i < 4 && i < size; ++i) bits |= static_cast<uint32_t>(data[i]) << (8 * i);
      std::snprintf(number, sizeof number, "%d", static_cast<int>(signedFromBits(bits)));
      text->assign(number);
      return true;
    }
    case REG_BINARY:
      std::snprintf(number, sizeof number, "%d", static_cast<int>(data[0]));
      text->assign(number);
      return true;
    default:
      return false;
  }
}

}  // namespace

KestRegistry::KestRegistry(IKestBase* parent, const char* name, bool openKeys)
    : IKestBase(), _hReadKey(nullptr), _hWriteKey(nullptr), _keyName(name ? name : "KestInfo") {
  _parent = parent;
  setRecordType(getRecordType(_keyName.c_str()));
  setRecordId(_keyName.c_str());

  if (!parent) {
    char path[kNameBufferSize];
    const bool fits = buildKeyPath(path, sizeof path, name);
    initializeRegKeys(HKEY_LOCAL_MACHINE, path, openKeys && fits);
    return;
  }

  // A child opens its key below its parent's read handle; the open-keys flag
  // does not apply. A child never creates a missing key (a missing "Aliases"
  // key stays missing): the read handle is opened first, and the create call
  // on the parent's read handle, which then opens the existing key for
  // writing, is made only when that succeeded. Windows checks a create below
  // a handle against the parent key's security, not against the rights of
  // the handle, so a create alone would add the key. A parent without a read
  // handle, or one that is not a registry node, gives the child no handles.
  auto* registryParent = dynamic_cast<KestRegistry*>(parent);
  if (!registryParent) return;
  if (registryParent->_hReadKey) {
    HKEY read = nullptr;
    if (RegOpenKeyExA(registryParent->_hReadKey, _keyName.c_str(), 0, kReadAccess, &read) ==
        ERROR_SUCCESS) {
      _hReadKey = read;
      HKEY write = nullptr;
      if (RegCreateKeyExA(registryParent->_hReadKey, _keyName.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr, &write,
                          nullptr) == ERROR_SUCCESS)
        _hWriteKey = write;
    }
  }
  _nameValueMap.clear();
}

// The copy gets handles of its own (reopened with the same rights), so that
// each handle is closed exactly once, by the node that opened it.
KestRegistry::KestRegistry(const KestRegistry& other)
    : IKestBase(other), _hReadKey(nullptr), _hWriteKey(nullptr), _keyName(other._keyName) {
  copyKeysFrom(other);
}

KestRegistry& KestRegistry::operator=(const KestRegistry& other) {
  if (this == &other) {
    IKestBase::operator=(other);
    return *this;
  }
  // Everything that may throw comes before the handles change hands.
  std::string keyName(other._keyName);
  IKestBase::operator=(other);
  closeKeys();
  copyKeysFrom(other);
  _keyName.swap(keyName);
  return *this;
}

KestRegistry::~KestRegistry() {
  closeKeys();
}

void KestRegistry::closeKeys() noexcept {
  if (_hReadKey) RegCloseKey(_hReadKey);
  _hReadKey = nullptr;
  if (_hWriteKey) RegCloseKey(_hWriteKey);
  _hWriteKey = nullptr;
}

void KestRegistry::copyKeysFrom(const KestRegistry& other) {
  _hReadKey = reopenKey(other._hReadKey, kReadAccess);
  _hWriteKey = reopenKey(other._hWriteKey, kWriteAccess);
}

KestRegistry* KestRegistry::CreateInstance(KestBaseType type) {
  switch (type) {
    case KestInfoBaseType:
    case KestConfigBaseType:
      return new KestRegistry(nullptr, nullptr, true);
    case VisaInfoBaseType:
      return new KestRegistry(nullptr, "VISAInfo", true);
    case SorrelParamsBaseType:
      return new KestRegistry(nullptr, "Params", true);
    case AliasBaseType:
      // The alias root has no key of its own; its two children open theirs.
      return new KestRegistry(nullptr, "Alias", false);
    case InstrumentFavoritesBaseType:
      return new KestRegistry(nullptr, "InstrumentFavorites", true);
    default:
      return nullptr;
  }
}

IKestBase* KestRegistry::getNewIKestBase(IKestBase* parent, const char* name) {
  return new KestRegistry(parent, name, true);
}

void KestRegistry::initializeRegKeys(HKEY hive, const char* path, bool openKeys) {
  closeKeys();
  if (openKeys && path) {
    // Creates the key when it is missing and the process may create it.
    HKEY write = nullptr;
    if (RegCreateKeyExA(hive, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                        &write, nullptr) == ERROR_SUCCESS)
      _hWriteKey = write;
    HKEY read = nullptr;
    if (RegOpenKeyExA(hive, path, 0, kReadAccess, &read) == ERROR_SUCCESS) _hReadKey = read;
  }
  _nameValueMap.clear();
}

int KestRegistry::getSubKeyCount() {
  if (!_hReadKey) return 0;
  DWORD count = 0;
  if (RegQueryInfoKeyA(_hReadKey, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return count > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(count);
}

void KestRegistry::getSubKeyName(int index, char* buffer, unsigned int size) {
  if (!buffer || size == 0) return;
  buffer[0] = '\0';
  if (!_hReadKey || index < 0) return;
  DWORD length = size;
  if (RegEnumKeyExA(_hReadKey, static_cast<DWORD>(index), buffer, &length, nullptr, nullptr,
                    nullptr, nullptr) != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return;
  }
  buffer[length < size ? length : size - 1] = '\0';
}

const char* KestRegistry::getRecordType(const char* name) {
  if (_parent) return pda::ciStartsWith(_keyName.c_str(), "INTF") ? "Instrument" : "";
  if (!name) return "";
  if (pda::ciStartsWith(name, "INTF")) return "Interface";
  if (pda::ciEquals(name, "Params")) return "SorrelParams";
  if (pda::ciEquals(name, "KestInfo")) return "KestInfo";
  if (pda::ciEquals(name, "Devices") || pda::ciEquals(name, "VisaDevices")) return "Alias";
  return "";
}

// The registry store keeps what it read: a node that wants the registry's
// current state is made anew.
void KestRegistry::reInitialize() {}

void KestRegistry::initializeNameValueMap() {
  if (!_nameValueMap.empty() || !_hReadKey) return;
  // Both sizes are given to the registry as 1024; each buffer has one byte
  // more so that what comes back can always be terminated.
  char name[kValueBufferSize + 1];
  BYTE data[kValueBufferSize + 1];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kValueBufferSize;
    DWORD dataSize = kValueBufferSize;
    DWORD type = REG_NONE;
    std::memset(data, 0, sizeof data);
    // Stops at the end of the values and at the first name or data that does
    // not fit (ERROR_MORE_DATA): that value and every later one stay unread.
    if (RegEnumValueA(_hReadKey, index, name, &nameLength, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS)
      break;
    name[nameLength < kValueBufferSize ? nameLength : kValueBufferSize] = '\0';
    if (dataSize > kValueBufferSize) dataSize = kValueBufferSize;
    std::string text;
    if (!valueText(type, data, dataSize, &text)) continue;
    _nameValueMap[name] = text;
  }
}

int KestRegistry::setValueString(const char* name, const char* const value) {
  if (!value) return deleteName(name);
  initializeNameValueMap();
  if (!name || !_hWriteKey) return 0;
  const std::size_t length = std::strlen(value);
  if (length >= 0xFFFFFFFFu) return 0;
  if (RegSetValueExA(_hWriteKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(length + 1)) != ERROR_SUCCESS)
    return 0;
  return IKestBase::setValueString(name, value);
}

// Every non-zero value is true here, unlike the in-memory base.
int KestRegistry::setValueBool(const char* name, int value) {
  return setValueString(name, value != 0 ? "True" : "False");
}

int KestRegistry::setValueInt32(const char* name, int value) {
  initializeNameValueMap();
  if (!name || !_hWriteKey) return 0;
  const uint32_t bits = static_cast<uint32_t>(value);
  const BYTE data[4] = {static_cast<BYTE>(bits & 0xFF), static_cast<BYTE>((bits >> 8) & 0xFF),
                        static_cast<BYTE>((bits >> 16) & 0xFF),
                        static_cast<BYTE>((bits >> 24) & 0xFF)};
  if (RegSetValueExA(_hWriteKey, name, 0, REG_DWORD, data, sizeof data) != ERROR_SUCCESS) return 0;
  char text[kNameBufferSize];
  std::snprintf(text, sizeof text, "%d", value);
  return IKestBase::setValueString(name, text);
}

// Deleting a value that the key does not have fails, as the registry does.
int KestRegistry::deleteName(const char* name) {
  initializeNameValueMap();
  if (!name || !_hWriteKey) return 0;
  if (RegDeleteValueA(_hWriteKey, name) != ERROR_SUCCESS) return 0;
  return IKestBase::deleteName(name);
}
