#pragma once

#include "pda/Export.h"
#include "pda/KestRecord.h"
#include "pda/KestTypes.h"

// The suite-wide settings: each accessor reads or writes one named value of
// the settings record through the store the record uses. Getters return the
// default shown beside them when the value is not stored; setters return
// non-zero on success and 0 on failure (always 0 without a store).
//
// The getters and setters declared unsigned long go through the same signed
// 32-bit reads and writes as the others, so only 0 to 2147483647 survive a
// round trip: a setter keeps the low 32 bits of its argument (as a DWORD
// would, also where unsigned long is wider) and stores them as a signed
// number, and a negative stored text reads as 0, a number above 2147483647
// as 2147483647.
//
// Copies share the tree with their source (see KestRecord) and copy the
// product version cache as it stands.
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API KestInfo : public KestRecord {
 public:
  explicit KestInfo(DataSource dataSource = UnknownDataSource);
  KestInfo(const KestInfo& other);
  KestInfo& operator=(const KestInfo& other);
  ~KestInfo() override;

  unsigned long getVisaPresentDword();  // "QuillonVisaPresent", 2
  int setVisaPresentDword(unsigned long value);
  int getGpib32Status();          // "Gpib32Status", 0
  int getGpib32StatusSysWow64();  // the same value
  int setGpib32Status(int value);
  int setGpib32StatusSysWow64(int value);
  unsigned long getEnable488();  // "Vantrel488Enabled", 0
  int setEnable488(unsigned long value);
  unsigned long getEnable488Override();  // "Vantrel488EnabledOverride", 0
  int getVtl488WarningDisabled();        // "Vantrel488Warning", 99
  int setVtl488WarningDisabled(int value);
  int getVerbose4882();            // "Verbose4882", 0
  int getLegacyPxiAddressState();  // "UseLegacyPxiInstrFormat", true
  int setLegacyPxiAddressState(int value);
  int getHiddenMode();  // "IOControlHidden", false
  int setHiddenMode(int value);
  int getInstallLevel();               // "InstallLevel", 256
  unsigned long getRMDlgHiddenMode();  // "RmDialogHidden", 0
  int setRMDlgHiddenMode(unsigned long value);
  int getIoControlStartupTimeoutMilliseconds();  // 240000
  int setIoControlStartupTimeoutMilliseconds(int value);
  int getNkoServerStartupTimeoutMilliseconds();  // "NkoStartupTimeoutMilliseconds", 120000
  int setNkoServerStartupTimeoutMilliseconds(int value);
  int getAutoStartIOServer();  // 0
  int setAutoStartIOServer(int value);
  void getDataDir(char* buffer, unsigned int size);  // ""
  int getWaitForIOReadyMilliseconds();               // 240000
  int setWaitForIOReadyMilliseconds(int value);
  int getViFindRsrcLegacyFormatFor32Bit();  // 1
  int getVisaPxiImplementation();           // 2
  int setVisaPxiImplementation(int value);
  int getGpibAutoIdentifyDefault();   // true
  int getPxiInOutDerefDefault();      // true
  int getPxiMapCacheSize();           // 6
  int getPxiMapGranularity();         // 4096
  int getPxiMapSizeDefault();         // 16777216
  int getUseRegistryForKestConfig();  // true
  int setUseRegistryForKestConfig(int value);
  int getUseRegistryForKestConfigSystemUser();  // true
  int setUseRegistryForKestConfigSystemUser(int value);
  int getUseLocalIOForDiscovery();  // false
  int setUseLocalIOForDiscovery(int value);
  void getDmcLoggingLevel(char* buffer, unsigned int size);  // "OFF"
  int setDmcLoggingLevel(const char* value);
  int getRebootOccurred();  // false
  int setRebootOccurred(int value);
  int getRebootRequiredVxi();  // false
  int setRebootRequiredVxi(int value);
  void getCurrentVersion(char* buffer, unsigned int size);    // ""
  void getCustomBuild(char* buffer, unsigned int size);       // ""
  void get1394VersionCheck(char* buffer, unsigned int size);  // ""
  int getMax1394Speed();                                      // 255
  int getPxiDmaOutThreshold();                                // 512
  int getPxiDmaInThreshold();                                 // 48
  int getPxiDmaCancelTimeout();                               // 500
  int getWaitForPxiRMMilliseconds();                          // 120000
  int getFindAllPxi();                                        // true
  int getLdebugLogging();                                     // false
  int getWin7DriverSwitcherDisabled();                        // false
  int setWin7DriverSwitcherDisabled(int value);
  int getSilentConfigurationActive();  // false
  int getNi488InterfaceAutoDetect();   // true
  int setNi488InterfaceAutoDetect(int value);
  int getBrixNameCaseInsensitive();  // true
  int setBrixNameCaseInsensitive(int value);
  int getZTestBoolValue();  // false
  int setZTestBoolValue(int value);
  int getMultiThreadingEnabledState();  // "MultiThreadingEnabled", false
  int setMultiThreadingEnabledState(int value);

  // "CurrentVersion", followed by one blank and "CustomBuild" when that is
  // not empty. Read once and then kept in the record (a later change of the
  // stored values is not seen); while both are empty nothing is kept and the
  // next call reads again. The text belongs to the record.
  const char* getProductVersionString();

 private:
  using KestRecord::initializeDataSource;
  // Resolves the data source and creates the settings store's root node.
  virtual void initializeDataSource(DataSource dataSource);

  char _productVersion[512];
};
