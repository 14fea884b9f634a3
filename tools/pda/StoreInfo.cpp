#include <pda/Win32.h>

#include "StoreInfo.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "Command.h"

namespace pdatool {

namespace {

const char* const kSuiteSettingsKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

std::string hexBytes(const std::string& bytes) {
  std::string out;
  char cell[4];
  for (unsigned char c : bytes) {
    std::snprintf(cell, sizeof cell, "%s%02x", out.empty() ? "" : " ", c);
    out += cell;
  }
  return out.empty() ? "(empty)" : out;
}

}  // namespace

std::string RegistryValue::typeName() const {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "type " + std::to_string(type);
  }
}

std::string RegistryValue::display() const {
  if (!present) return "";
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string text = bytes;
    text.resize(std::strlen(text.c_str()));
    return "\"" + text + "\"";
  }
  if (type == REG_DWORD && bytes.size() == 4) {
    DWORD value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return std::to_string(value);
  }
  return hexBytes(bytes);
}

RegistryValue readSuiteSetting(const char* name) {
  RegistryValue result;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSuiteSettingsKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return result;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<BYTE> data(size + 1, 0);
    DWORD got = size;
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &got) == ERROR_SUCCESS &&
        got <= size) {
      result.present = true;
      result.type = type;
      result.bytes.assign(reinterpret_cast<const char*>(data.data()), got);
    }
  }
  RegCloseKey(key);
  return result;
}

SourceReport explainSource(DataSource requested) {
  SourceReport report;
  report.installed = KestDeviceIoConfig::kestIsInstalled() != 0;
  report.registrySwitch = readSuiteSetting("_UseRegistryForPersistedData");
  if (requested != UnknownDataSource) {
    report.chosen = requested;
    report.requested = true;
    report.reason = std::string("requested with --source: ") + describeDataSource(requested);
  } else {
    report.chosen = KestRecord::getGlobalDefaultDataSource();
    std::string why;
    if (!report.installed) {
      why = "the suite is not installed (no brix32.dll in the system directory)";
    } else if (!report.registrySwitch.present) {
      why = "the suite is installed and \"_UseRegistryForPersistedData\" is not set";
    } else {
      why = "the suite is installed and \"_UseRegistryForPersistedData\" is " +
            report.registrySwitch.display() + " (" + report.registrySwitch.typeName() + ")";
    }
    report.reason = why + ", so the process uses " + describeDataSource(report.chosen);
  }
  report.publishedChoice = readSuiteSetting("_UnmanagedCodePersistedDataStore");
  return report;
}

NodePtr createConfigurationRoot(DataSource source) {
  switch (source) {
    case RegistryDataSource:
      return NodePtr(KestRegistry::CreateInstance(KestConfigBaseType));
    case SQLiteDataSource:
      return NodePtr(KestSQLite::CreateInstance(KestConfigBaseType));
    case DeviceIoDataSource:
      return NodePtr(KestDeviceIoConfig::CreateInstance(KestConfigBaseType));
    default:
      return NodePtr();
  }
}

}  // namespace pdatool
