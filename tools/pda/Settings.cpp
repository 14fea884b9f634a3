#include <pda/Win32.h>

#include "Settings.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "Command.h"

namespace pdatool {

namespace {

// Large enough for any setting a person would store; a longer stored text
// reads as empty through the record (it never truncates), and so here too.
const unsigned int kStringBufferSize = 64 * 1024;

std::string lower(const std::string& text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Strict decimal: optional minus sign (when allowed), at least one digit,
// nothing else, within [min, max].
//
// Numbers are taken from 0 to 2147483647 only: the records store a number as
// its signed text and read a stored minus sign as no number at all, so a
// negative number (or a DWORD above the signed range, stored signed) would
// read back as 0. The tool refuses what would not read back as written.
long long parseInteger(const std::string& name, const std::string& text, long long min,
                       long long max) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-' && min < 0) ++i;
  bool digits = i < text.size();
  for (std::size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') digits = false;
  if (!digits) throw UsageError(name + " takes a whole number, not '" + text + "'");
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < min || value > max)
    throw UsageError(name + " takes a number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not " + text);
  return value;
}

int parseBool(const std::string& name, const std::string& text) {
  const std::string t = lower(text);
  if (t == "1" || t == "true" || t == "yes" || t == "on") return 1;
  if (t == "0" || t == "false" || t == "no" || t == "off") return 0;
  throw UsageError(name + " takes true or false, not '" + text + "'");
}

typedef int (KestInfo::*IntGetter)();
typedef int (KestInfo::*IntSetter)(int);
typedef unsigned long (KestInfo::*DwordGetter)();
typedef int (KestInfo::*DwordSetter)(unsigned long);
typedef void (KestInfo::*StringGetter)(char*, unsigned int);
typedef int (KestInfo::*StringSetter)(const char*);

Setting int32Setting(const char* name, IntGetter get, IntSetter set = nullptr) {
  Setting s{name, Kind::Int32, nullptr, nullptr};
  s.read = [get](KestInfo& r) {
    SettingValue v;
    v.kind = Kind::Int32;
    v.number = (r.*get)();
    return v;
  };
  if (set)
    s.write = [name, set](KestInfo& r, const std::string& text) {
      return (r.*set)(static_cast<int>(parseInteger(name, text, 0, INT_MAX)));
    };
  return s;
}

Setting dwordSetting(const char* name, DwordGetter get, DwordSetter set = nullptr) {
  Setting s{name, Kind::Dword, nullptr, nullptr};
  s.read = [get](KestInfo& r) {
    SettingValue v;
    v.kind = Kind::Dword;
    v.number = static_cast<long long>((r.*get)());
    return v;
  };
  if (set)
    s.write = [name, set](KestInfo& r, const std::string& text) {
      return (r.*set)(static_cast<unsigned long>(parseInteger(name, text, 0, INT_MAX)));
    };
  return s;
}

Setting boolSetting(const char* name, IntGetter get, IntSetter set = nullptr) {
  Setting s{name, Kind::Bool, nullptr, nullptr};
  s.read = [get](KestInfo& r) {
    SettingValue v;
    v.kind = Kind::Bool;
    v.number = (r.*get)() ? 1 : 0;
    return v;
  };
  if (set)
    s.write = [name, set](KestInfo& r, const std::string& text) {
      return (r.*set)(parseBool(name, text));
    };
  return s;
}

Setting textSetting(const char* name, StringGetter get, StringSetter set = nullptr) {
  Setting s{name, Kind::String, nullptr, nullptr};
  s.read = [get](KestInfo& r) {
    std::vector<char> buffer(kStringBufferSize, '\0');
    (r.*get)(buffer.data(), kStringBufferSize);
    SettingValue v;
    v.kind = Kind::String;
    v.text = buffer.data();
    return v;
  };
  if (set) s.write = [set](KestInfo& r, const std::string& text) { return (r.*set)(text.c_str()); };
  return s;
}

std::vector<Setting> buildTable() {
  typedef KestInfo K;
  return {
      dwordSetting("QuillonVisaPresent", &K::getVisaPresentDword, &K::setVisaPresentDword),
      int32Setting("Gpib32Status", &K::getGpib32Status, &K::setGpib32Status),
      dwordSetting("Vantrel488Enabled", &K::getEnable488, &K::setEnable488),
      dwordSetting("Vantrel488EnabledOverride", &K::getEnable488Override),
      int32Setting("Vantrel488Warning", &K::getVtl488WarningDisabled, &K::setVtl488WarningDisabled),
      int32Setting("Verbose4882", &K::getVerbose4882),
      boolSetting("UseLegacyPxiInstrFormat", &K::getLegacyPxiAddressState,
                  &K::setLegacyPxiAddressState),
      boolSetting("IOControlHidden", &K::getHiddenMode, &K::setHiddenMode),
      int32Setting("InstallLevel", &K::getInstallLevel),
      dwordSetting("RmDialogHidden", &K::getRMDlgHiddenMode, &K::setRMDlgHiddenMode),
      int32Setting("IoControlStartupTimeoutMilliseconds",
                   &K::getIoControlStartupTimeoutMilliseconds,
                   &K::setIoControlStartupTimeoutMilliseconds),
      int32Setting("NkoStartupTimeoutMilliseconds", &K::getNkoServerStartupTimeoutMilliseconds,
                   &K::setNkoServerStartupTimeoutMilliseconds),
      int32Setting("AutoStartIOServer", &K::getAutoStartIOServer, &K::setAutoStartIOServer),
      textSetting("DataDir", &K::getDataDir),
      int32Setting("WaitForIOReadyMilliseconds", &K::getWaitForIOReadyMilliseconds,
                   &K::setWaitForIOReadyMilliseconds),
      int32Setting("ViFindRsrcLegacyFormatFor32Bit", &K::getViFindRsrcLegacyFormatFor32Bit),
      int32Setting("VisaPxiImplementation", &K::getVisaPxiImplementation,
                   &K::setVisaPxiImplementation),
      boolSetting("GpibAutoIdentifyDefault", &K::getGpibAutoIdentifyDefault),
      boolSetting("PxiInOutDerefDefault", &K::getPxiInOutDerefDefault),
      int32Setting("PxiMapCacheSize", &K::getPxiMapCacheSize),
      int32Setting("PxiMapGranularity", &K::getPxiMapGranularity),
      int32Setting("PxiMapSizeDefault", &K::getPxiMapSizeDefault),
      boolSetting("UseRegistryForKestConfig", &K::getUseRegistryForKestConfig,
                  &K::setUseRegistryForKestConfig),
      boolSetting("UseRegistryForKestConfigSystemUser", &K::getUseRegistryForKestConfigSystemUser,
                  &K::setUseRegistryForKestConfigSystemUser),
      boolSetting("UseLocalIOForDiscovery", &K::getUseLocalIOForDiscovery,
                  &K::setUseLocalIOForDiscovery),
      textSetting("DmcLoggingLevel", &K::getDmcLoggingLevel, &K::setDmcLoggingLevel),
      boolSetting("RebootOccurred", &K::getRebootOccurred, &K::setRebootOccurred),
      boolSetting("RebootRequiredVxi", &K::getRebootRequiredVxi, &K::setRebootRequiredVxi),
      textSetting("CurrentVersion", &K::getCurrentVersion),
      textSetting("CustomBuild", &K::getCustomBuild),
      textSetting("1394VersionCheck", &K::get1394VersionCheck),
      int32Setting("Max1394Speed", &K::getMax1394Speed),
      int32Setting("PxiDmaOutThreshold", &K::getPxiDmaOutThreshold),
      int32Setting("PxiDmaInThreshold", &K::getPxiDmaInThreshold),
      int32Setting("PxiDmaCancelTimeout", &K::getPxiDmaCancelTimeout),
      int32Setting("WaitForPxiRMMilliseconds", &K::getWaitForPxiRMMilliseconds),
      boolSetting("FindAllPxi", &K::getFindAllPxi),
      boolSetting("LdebugLogging", &K::getLdebugLogging),
      boolSetting("Win7DriverSwitcherDisabled", &K::getWin7DriverSwitcherDisabled,
                  &K::setWin7DriverSwitcherDisabled),
      boolSetting("SilentConfigurationActive", &K::getSilentConfigurationActive),
      boolSetting("Ni488InterfaceAutoDetect", &K::getNi488InterfaceAutoDetect,
                  &K::setNi488InterfaceAutoDetect),
      boolSetting("BrixNameCaseInsensitive", &K::getBrixNameCaseInsensitive,
                  &K::setBrixNameCaseInsensitive),
      boolSetting("ZTestBoolValue", &K::getZTestBoolValue, &K::setZTestBoolValue),
      boolSetting("MultiThreadingEnabled", &K::getMultiThreadingEnabledState,
                  &K::setMultiThreadingEnabledState),
  };
}

}  // namespace

const std::vector<Setting>& allSettings() {
  static const std::vector<Setting> table = buildTable();
  return table;
}

const Setting* findSetting(const std::string& name) {
  const std::string wanted = lower(name);
  for (const Setting& s : allSettings())
    if (lower(s.name) == wanted) return &s;
  return nullptr;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Int32:
      return "int32";
    case Kind::Dword:
      return "dword";
    case Kind::Bool:
      return "bool";
    case Kind::String:
      return "string";
  }
  return "";
}

std::string displayText(const SettingValue& value) {
  switch (value.kind) {
    case Kind::Bool:
      return value.number ? "true" : "false";
    case Kind::String:
      return value.text;
    default:
      return std::to_string(value.number);
  }
}

bool isStored(KestInfo& record, const char* name) {
  IKestBase* root = record.getIKestBase();
  if (!root) return false;
  const ::NameValueMap* values = root->NameValueMap();
  return values->find(name) != values->end();
}

}  // namespace pdatool
