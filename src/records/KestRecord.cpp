#include "pda/KestRecord.h"

#include <atomic>
#include <cstring>
#include <string>

#include "base/Text.h"
#include "core/OnceGuard.h"
#include "pda/KestDeviceIoConfig.h"
#include "pda/KestRegistry.h"
#include "pda/KestSQLite.h"
#include "platform/platform.h"

namespace {

const char* const kSuiteSettingsKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSwitchValue = "_UseRegistryForPersistedData";
const char* const kPublishedValue = "_UnmanagedCodePersistedDataStore";

// The switch is read into a buffer of this many bytes; a longer value cannot
// be read and leaves the default on SQLite.
const DWORD kSwitchBufferSize = 16;

// The process-wide default store: 0 until decided, then 1, 2 or 3 for the
// life of the process. Written only under the guard below; atomic so that
// writeDataSourceBool, which any thread may call, reads it without a race.
std::atomic<int> _defaultDataSource{UnknownDataSource};

// The critical section that guards the decision, created once per process
// under the per-process named mutex "KestRecord_Mutex_20150525_PID_<pid>" and
// never deleted. If that mutex cannot be created, the one-time guard still
// creates the critical section, under a lock of its own: the decision is
// then guarded all the same, never made unguarded by two threads at once
// (which could publish twice and let a record see the default change).
CRITICAL_SECTION _defaultDataSourceCs;
std::atomic<bool> _defaultDataSourceCsCreated{false};

// Decides the default from the installation and the registry switch.
// Called with the guard held, while the default is still 0. switchRead tells
// whether the switch was read successfully (whatever its type): only then is
// the decision published.
DataSource decideDefault(bool* switchRead) {
  *switchRead = false;
  if (!KestDeviceIoConfig::kestIsInstalled()) return DeviceIoDataSource;

  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSuiteSettingsKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return SQLiteDataSource;

  BYTE data[kSwitchBufferSize];
  std::memset(data, 0, sizeof data);
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  LONG rc = RegQueryValueExA(key, kSwitchValue, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return SQLiteDataSource;
  *switchRead = true;
  if (size > sizeof data) size = sizeof data;

  switch (type) {
    case REG_SZ: {
      // A text of exactly 16 bytes has no terminator inside the buffer:
      // bound the text by the bytes read, and stop at an inner terminator.
      std::string text(reinterpret_cast<const char*>(data), size);
      text.resize(std::strlen(text.c_str()));
      return pda::ciEquals(text.c_str(), "True") ? RegistryDataSource : SQLiteDataSource;
    }
    case REG_DWORD: {
      // A short DWORD reads its missing bytes as the buffer's zeros.
      DWORD value = 0;
      std::memcpy(&value, data, sizeof value);
      return value != 0 ? RegistryDataSource : SQLiteDataSource;
    }
    case REG_BINARY:
      return data[0] != 0 ? RegistryDataSource : SQLiteDataSource;
    default:
      return SQLiteDataSource;
  }
}

}  // namespace

KestRecord::KestRecord() : _root(nullptr), _dataSource(UnknownDataSource) {}

// Copies share the tree. Every record holds one reference on its root node
// and releases it in its destructor (IKestBase::releaseNode), so the tree is
// destroyed exactly once, with the last record that refers to it, whichever
// record that is. Assignment takes the new reference before dropping the
// old one, so assigning a record to itself, or to a copy of itself, is safe;
// the tree the target held before is released (and destroyed if no other
// record shares it), never leaked.
KestRecord::KestRecord(const KestRecord& other)
    : _root(other._root), _dataSource(other._dataSource) {
  IKestBase::retainNode(_root);
}

KestRecord& KestRecord::operator=(const KestRecord& other) {
  IKestBase::retainNode(other._root);
  IKestBase* old = _root;
  _root = other._root;
  _dataSource = other._dataSource;
  IKestBase::releaseNode(old);
  return *this;
}

KestRecord::~KestRecord() {
  IKestBase::releaseNode(_root);
  _root = nullptr;
}

void KestRecord::setRoot(IKestBase* node) noexcept {
  IKestBase* old = _root;
  _root = node;
  if (old != node) IKestBase::releaseNode(old);
}

IKestBase* KestRecord::createStore(DataSource source, KestBaseType type) {
  switch (source) {
    case RegistryDataSource:
      return KestRegistry::CreateInstance(type);
    case SQLiteDataSource:
      return KestSQLite::CreateInstance(type);
    case DeviceIoDataSource:
      return KestDeviceIoConfig::CreateInstance(type);
    default:
      return nullptr;
  }
}

void KestRecord::initializeDataSource(DataSource& dataSource) {
  setRoot(nullptr);
  if (dataSource == UnknownDataSource) dataSource = getGlobalDefaultDataSource();
  _dataSource = dataSource;
}

void KestRecord::initializeSubKeyMap() {
  if (_root) _root->initializeSubKeyMap();
}

void KestRecord::initializeNameValueMap() {
  if (_root) _root->initializeNameValueMap();
}

int KestRecord::getValueBool(const char* name, int defaultValue) {
  return _root ? _root->getValueBool(name, defaultValue) : defaultValue;
}

int KestRecord::getValueInt32(const char* name, int defaultValue) {
  return _root ? _root->getValueInt32(name, defaultValue) : defaultValue;
}

// Without a root node the default is copied when it fits with its
// terminator, and the buffer is left "" otherwise. As the node does, the
// first byte is written even when bufferSize is 0 (the caller's buffer holds
// at least one byte), so the caller always finds a terminated text; a null
// buffer is left alone.
void KestRecord::getValueString(const char* name, char* buffer, unsigned int bufferSize,
                                const char* const defaultValue) {
  if (_root) {
    _root->getValueString(name, buffer, bufferSize, defaultValue);
    return;
  }
  if (!buffer) return;
  if (bufferSize == 0) {
    buffer[0] = '\0';
    return;
  }
  pda::copyWhole(buffer, bufferSize, defaultValue);
}

int KestRecord::setValueBool(const char* name, int value) {
  return _root ? _root->setValueBool(name, value) : 0;
}

int KestRecord::setValueInt32(const char* name, int value) {
  return _root ? _root->setValueInt32(name, value) : 0;
}

int KestRecord::setValueString(const char* name, const char* const value) {
  return _root ? _root->setValueString(name, value) : 0;
}

// Values outside the enumeration (a cast integer) get a name of their own
// rather than a null pointer or a neighbour's name: callers print the result
// without checking it.
const char* KestRecord::getDataSourceString(DataSource value) {
  switch (value) {
    case UnknownDataSource:
      return "UnknownDataSource";
    case RegistryDataSource:
      return "RegistryDataSource";
    case SQLiteDataSource:
      return "SQLiteDataSource";
    case DeviceIoDataSource:
      return "DeviceIoDataSource";
    case WrenDataSource:
      return "WrenDataSource";
    default:
      return "InvalidDataSource";
  }
}

const char* KestRecord::getDataSourceString() const {
  return getDataSourceString(_dataSource);
}

DataSource KestRecord::getGlobalDefaultDataSource() {
  pda::createCriticalSectionOnce(_defaultDataSourceCsCreated, _defaultDataSourceCs,
                                 "KestRecord_Mutex_20150525_PID_%d");
  pda::CriticalSectionLock lock(_defaultDataSourceCs);
  if (_defaultDataSource.load(std::memory_order_relaxed) == UnknownDataSource) {
    bool switchRead = false;
    const DataSource chosen = decideDefault(&switchRead);
    _defaultDataSource.store(chosen, std::memory_order_release);
    if (switchRead) writeDataSourceBool();
  }
  return static_cast<DataSource>(_defaultDataSource.load(std::memory_order_relaxed));
}

void KestRecord::writeDataSourceBool() {
  const char* text = _defaultDataSource.load(std::memory_order_acquire) == RegistryDataSource
                         ? "Registry"
                         : "Database";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSuiteSettingsKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, kPublishedValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
}
