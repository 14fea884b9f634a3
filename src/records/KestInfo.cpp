#include "pda/KestInfo.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The DWORD-typed accessors keep 32 bits on every platform, also where
// unsigned long is wider (see the class comment).
unsigned long asDword(int value) {
  return static_cast<unsigned long>(static_cast<std::uint32_t>(value));
}

int fromDword(unsigned long value) {
  return static_cast<int>(static_cast<std::uint32_t>(value & 0xFFFFFFFFul));
}

}  // namespace

KestInfo::KestInfo(DataSource dataSource) : KestRecord() {
  std::memset(_productVersion, 0, sizeof _productVersion);
  // A prvalue selects the by-value overload: the one that creates the store.
  initializeDataSource(static_cast<DataSource>(dataSource));
}

KestInfo::KestInfo(const KestInfo& other) : KestRecord(other) {
  std::memcpy(_productVersion, other._productVersion, sizeof _productVersion);
}

KestInfo& KestInfo::operator=(const KestInfo& other) {
  KestRecord::operator=(other);
  if (this != &other) std::memcpy(_productVersion, other._productVersion, sizeof _productVersion);
  return *this;
}

KestInfo::~KestInfo() = default;

void KestInfo::initializeDataSource(DataSource dataSource) {
  KestRecord::initializeDataSource(dataSource);
  // Every source but the three stores (WrenDataSource, or a value outside
  // the enumeration) leaves the record without a root node.
  setRoot(createStore(dataSource, KestInfoBaseType));
}

unsigned long KestInfo::getVisaPresentDword() {
  return asDword(getValueInt32("QuillonVisaPresent", 2));
}
int KestInfo::setVisaPresentDword(unsigned long value) {
  return setValueInt32("QuillonVisaPresent", fromDword(value));
}

// One value under two names: there is no separate value for the 32-bit view.
int KestInfo::getGpib32Status() {
  return getValueInt32("Gpib32Status", 0);
}
int KestInfo::getGpib32StatusSysWow64() {
  return getGpib32Status();
}
int KestInfo::setGpib32Status(int value) {
  return setValueInt32("Gpib32Status", value);
}
int KestInfo::setGpib32StatusSysWow64(int value) {
  return setGpib32Status(value);
}

unsigned long KestInfo::getEnable488() {
  return asDword(getValueInt32("Vantrel488Enabled", 0));
}
int KestInfo::setEnable488(unsigned long value) {
  return setValueInt32("Vantrel488Enabled", fromDword(value));
}
unsigned long KestInfo::getEnable488Override() {
  return asDword(getValueInt32("Vantrel488EnabledOverride", 0));
}

int KestInfo::getVtl488WarningDisabled() {
  return getValueInt32("Vantrel488Warning", 99);
}
int KestInfo::setVtl488WarningDisabled(int value) {
  return setValueInt32("Vantrel488Warning", value);
}
int KestInfo::getVerbose4882() {
  return getValueInt32("Verbose4882", 0);
}

int KestInfo::getLegacyPxiAddressState() {
  return getValueBool("UseLegacyPxiInstrFormat", 1);
}
int KestInfo::setLegacyPxiAddressState(int value) {
  return setValueBool("UseLegacyPxiInstrFormat", value);
}
int KestInfo::getHiddenMode() {
  return getValueBool("IOControlHidden", 0);
}
int KestInfo::setHiddenMode(int value) {
  return setValueBool("IOControlHidden", value);
}
int KestInfo::getInstallLevel() {
  return getValueInt32("InstallLevel", 256);
}
unsigned long KestInfo::getRMDlgHiddenMode() {
  return asDword(getValueInt32("RmDialogHidden", 0));
}
int KestInfo::setRMDlgHiddenMode(unsigned long value) {
  return setValueInt32("RmDialogHidden", fromDword(value));
}

int KestInfo::getIoControlStartupTimeoutMilliseconds() {
  return getValueInt32("IoControlStartupTimeoutMilliseconds", 240000);
}
int KestInfo::setIoControlStartupTimeoutMilliseconds(int value) {
  return setValueInt32("IoControlStartupTimeoutMilliseconds", value);
}
int KestInfo::getNkoServerStartupTimeoutMilliseconds() {
  return getValueInt32("NkoStartupTimeoutMilliseconds", 120000);
}
int KestInfo::setNkoServerStartupTimeoutMilliseconds(int value) {
  return setValueInt32("NkoStartupTimeoutMilliseconds", value);
}
int KestInfo::getAutoStartIOServer() {
  return getValueInt32("AutoStartIOServer", 0);
}
int KestInfo::setAutoStartIOServer(int value) {
  return setValueInt32("AutoStartIOServer", value);
}
void KestInfo::getDataDir(char* buffer, unsigned int size) {
  getValueString("DataDir", buffer, size, "");
}
int KestInfo::getWaitForIOReadyMilliseconds() {
  return getValueInt32("WaitForIOReadyMilliseconds", 240000);
}
int KestInfo::setWaitForIOReadyMilliseconds(int value) {
  return setValueInt32("WaitForIOReadyMilliseconds", value);
}
int KestInfo::getViFindRsrcLegacyFormatFor32Bit() {
  return getValueInt32("ViFindRsrcLegacyFormatFor32Bit", 1);
}
int KestInfo::getVisaPxiImplementation() {
  return getValueInt32("VisaPxiImplementation", 2);
}
int KestInfo::setVisaPxiImplementation(int value) {
  return setValueInt32("VisaPxiImplementation", value);
}

int KestInfo::getGpibAutoIdentifyDefault() {
  return getValueBool("GpibAutoIdentifyDefault", 1);
}
int KestInfo::getPxiInOutDerefDefault() {
  return getValueBool("PxiInOutDerefDefault", 1);
}
int KestInfo::getPxiMapCacheSize() {
  return getValueInt32("PxiMapCacheSize", 6);
}
int KestInfo::getPxiMapGranularity() {
  return getValueInt32("PxiMapGranularity", 4096);
}
int KestInfo::getPxiMapSizeDefault() {
  return getValueInt32("PxiMapSizeDefault", 16777216);
}

int KestInfo::getUseRegistryForKestConfig() {
  return getValueBool("UseRegistryForKestConfig", 1);
}
int KestInfo::setUseRegistryForKestConfig(int value) {
  return setValueBool("UseRegistryForKestConfig", value);
}
int KestInfo::getUseRegistryForKestConfigSystemUser() {
  return getValueBool("UseRegistryForKestConfigSystemUser", 1);
}
int KestInfo::setUseRegistryForKestConfigSystemUser(int value) {
  return setValueBool("UseRegistryForKestConfigSystemUser", value);
}
int KestInfo::getUseLocalIOForDiscovery() {
  return getValueBool("UseLocalIOForDiscovery", 0);
}
int KestInfo::setUseLocalIOForDiscovery(int value) {
  return setValueBool("UseLocalIOForDiscovery", value);
}

void KestInfo::getDmcLoggingLevel(char* buffer, unsigned int size) {
  getValueString("DmcLoggingLevel", buffer, size, "OFF");
}
int KestInfo::setDmcLoggingLevel(const char* value) {
  return setValueString("DmcLoggingLevel", value);
}

int KestInfo::getRebootOccurred() {
  return getValueBool("RebootOccurred", 0);
}
int KestInfo::setRebootOccurred(int value) {
  return setValueBool("RebootOccurred", value);
}
int KestInfo::getRebootRequiredVxi() {
  return getValueBool("RebootRequiredVxi", 0);
}
int KestInfo::setRebootRequiredVxi(int value) {
  return setValueBool("RebootRequiredVxi", value);
}

void KestInfo::getCurrentVersion(char* buffer, unsigned int size) {
  getValueString("CurrentVersion", buffer, size, "");
}
void KestInfo::getCustomBuild(char* buffer, unsigned int size) {
  getValueString("CustomBuild", buffer, size, "");
}
void KestInfo::get1394VersionCheck(char* buffer, unsigned int size) {
  getValueString("1394VersionCheck", buffer, size, "");
}
int KestInfo::getMax1394Speed() {
  return getValueInt32("Max1394Speed", 255);
}

int KestInfo::getPxiDmaOutThreshold() {
  return getValueInt32("PxiDmaOutThreshold", 512);
}
int KestInfo::getPxiDmaInThreshold() {
  return getValueInt32("PxiDmaInThreshold", 48);
}
int KestInfo::getPxiDmaCancelTimeout() {
  return getValueInt32("PxiDmaCancelTimeout", 500);
}
int KestInfo::getWaitForPxiRMMilliseconds() {
  return getValueInt32("WaitForPxiRMMilliseconds", 120000);
}
int KestInfo::getFindAllPxi() {
  return getValueBool("FindAllPxi", 1);
}
int KestInfo::getLdebugLogging() {
  return getValueBool("LdebugLogging", 0);
}

int KestInfo::getWin7DriverSwitcherDisabled() {
  return getValueBool("Win7DriverSwitcherDisabled", 0);
}
int KestInfo::setWin7DriverSwitcherDisabled(int value) {
  return setValueBool("Win7DriverSwitcherDisabled", value);
}
int KestInfo::getSilentConfigurationActive() {
  return getValueBool("SilentConfigurationActive", 0);
}
int KestInfo::getNi488InterfaceAutoDetect() {
  return getValueBool("Ni488InterfaceAutoDetect", 1);
}
int KestInfo::setNi488InterfaceAutoDetect(int value) {
  return setValueBool("Ni488InterfaceAutoDetect", value);
}
int KestInfo::getBrixNameCaseInsensitive() {
  return getValueBool("BrixNameCaseInsensitive", 1);
}
int KestInfo::setBrixNameCaseInsensitive(int value) {
  return setValueBool("BrixNameCaseInsensitive", value);
}
int KestInfo::getZTestBoolValue() {
  return getValueBool("ZTestBoolValue", 0);
}
int KestInfo::setZTestBoolValue(int value) {
  return setValueBool("ZTestBoolValue", value);
}
int KestInfo::getMultiThreadingEnabledState() {
  return getValueBool("MultiThreadingEnabled", 0);
}
int KestInfo::setMultiThreadingEnabledState(int value) {
  return setValueBool("MultiThreadingEnabled", value);
}

// Each part is read into 256 bytes, so a stored text of 256 characters or
// more reads as empty (never cut short); the two parts with their blank then
// always fit the 512-byte cache.
const char* KestInfo::getProductVersionString() {
  if (_productVersion[0] != '\0') return _productVersion;
  char version[256];
  char customBuild[256];
  std::memset(version, 0, sizeof version);
  std::memset(customBuild, 0, sizeof customBuild);
  getValueString("CurrentVersion", version, sizeof version, "");
  getValueString("CustomBuild", customBuild, sizeof customBuild, "");
  if (customBuild[0] == '\0')
    std::snprintf(_productVersion, sizeof _productVersion, "%s", version);
  else
    std::snprintf(_productVersion, sizeof _productVersion, "%s %s", version, customBuild);
  return _productVersion;
}
