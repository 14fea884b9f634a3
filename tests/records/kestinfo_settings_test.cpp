// The global settings record: every getter's stored name and default, the
// setters, and the answers of a record without a store.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pda/KestInfo.h"
#include "pda/Version.h"
#include "support/Fixtures.h"

namespace {

std::string readText(KestInfo& record, void (KestInfo::*get)(char*, unsigned int),
                     unsigned int size = 256) {
  std::vector<char> buffer(size + 1, 'x');
  buffer[size] = '\0';
  (record.*get)(buffer.data(), size);
  return buffer.data();
}

// One numeric getter: its stored name and its default.
struct NumberCase {
  const char* name;
  long long fallback;
  std::function<long long(KestInfo&)> get;
};

std::vector<NumberCase> numberGetters() {
  typedef KestInfo K;
  return {
      {"QuillonVisaPresent", 2, [](K& r) { return (long long)r.getVisaPresentDword(); }},
      {"Gpib32Status", 0, [](K& r) { return (long long)r.getGpib32Status(); }},
      {"Gpib32Status", 0, [](K& r) { return (long long)r.getGpib32StatusSysWow64(); }},
      {"Vantrel488Enabled", 0, [](K& r) { return (long long)r.getEnable488(); }},
      {"Vantrel488EnabledOverride", 0, [](K& r) { return (long long)r.getEnable488Override(); }},
      {"Vantrel488Warning", 99, [](K& r) { return (long long)r.getVtl488WarningDisabled(); }},
      {"Verbose4882", 0, [](K& r) { return (long long)r.getVerbose4882(); }},
      {"UseLegacyPxiInstrFormat", 1, [](K& r) { return (long long)r.getLegacyPxiAddressState(); }},
      {"IOControlHidden", 0, [](K& r) { return (long long)r.getHiddenMode(); }},
      {"InstallLevel", 256, [](K& r) { return (long long)r.getInstallLevel(); }},
      {"RmDialogHidden", 0, [](K& r) { return (long long)r.getRMDlgHiddenMode(); }},
      {"IoControlStartupTimeoutMilliseconds", 240000,
       [](K& r) { return (long long)r.getIoControlStartupTimeoutMilliseconds(); }},
      {"NkoStartupTimeoutMilliseconds", 120000,
       [](K& r) { return (long long)r.getNkoServerStartupTimeoutMilliseconds(); }},
      {"AutoStartIOServer", 0, [](K& r) { return (long long)r.getAutoStartIOServer(); }},
      {"WaitForIOReadyMilliseconds", 240000,
       [](K& r) { return (long long)r.getWaitForIOReadyMilliseconds(); }},
      {"ViFindRsrcLegacyFormatFor32Bit", 1,
       [](K& r) { return (long long)r.getViFindRsrcLegacyFormatFor32Bit(); }},
      {"VisaPxiImplementation", 2, [](K& r) { return (long long)r.getVisaPxiImplementation(); }},
      {"GpibAutoIdentifyDefault", 1,
       [](K& r) { return (long long)r.getGpibAutoIdentifyDefault(); }},
      {"PxiInOutDerefDefault", 1, [](K& r) { return (long long)r.getPxiInOutDerefDefault(); }},
      {"PxiMapCacheSize", 6, [](K& r) { return (long long)r.getPxiMapCacheSize(); }},
      {"PxiMapGranularity", 4096, [](K& r) { return (long long)r.getPxiMapGranularity(); }},
      {"PxiMapSizeDefault", 16777216, [](K& r) { return (long long)r.getPxiMapSizeDefault(); }},
      {"UseRegistryForKestConfig", 1,
       [](K& r) { return (long long)r.getUseRegistryForKestConfig(); }},
      {"UseRegistryForKestConfigSystemUser", 1,
       [](K& r) { return (long long)r.getUseRegistryForKestConfigSystemUser(); }},
      {"UseLocalIOForDiscovery", 0, [](K& r) { return (long long)r.getUseLocalIOForDiscovery(); }},
      {"RebootOccurred", 0, [](K& r) { return (long long)r.getRebootOccurred(); }},
      {"RebootRequiredVxi", 0, [](K& r) { return (long long)r.getRebootRequiredVxi(); }},
      {"Max1394Speed", 255, [](K& r) { return (long long)r.getMax1394Speed(); }},
      {"PxiDmaOutThreshold", 512, [](K& r) { return (long long)r.getPxiDmaOutThreshold(); }},
      {"PxiDmaInThreshold", 48, [](K& r) { return (long long)r.getPxiDmaInThreshold(); }},
      {"PxiDmaCancelTimeout", 500, [](K& r) { return (long long)r.getPxiDmaCancelTimeout(); }},
      {"WaitForPxiRMMilliseconds", 120000,
       [](K& r) { return (long long)r.getWaitForPxiRMMilliseconds(); }},
      {"FindAllPxi", 1, [](K& r) { return (long long)r.getFindAllPxi(); }},
      {"LdebugLogging", 0, [](K& r) { return (long long)r.getLdebugLogging(); }},
      {"Win7DriverSwitcherDisabled", 0,
       [](K& r) { return (long long)r.getWin7DriverSwitcherDisabled(); }},
      {"SilentConfigurationActive", 0,
       [](K& r) { return (long long)r.getSilentConfigurationActive(); }},
      {"Ni488InterfaceAutoDetect", 1,
       [](K& r) { return (long long)r.getNi488InterfaceAutoDetect(); }},
      {"BrixNameCaseInsensitive", 1,
       [](K& r) { return (long long)r.getBrixNameCaseInsensitive(); }},
      {"ZTestBoolValue", 0, [](K& r) { return (long long)r.getZTestBoolValue(); }},
      {"MultiThreadingEnabled", 0,
       [](K& r) { return (long long)r.getMultiThreadingEnabledState(); }},
  };
}

// One setter: its stored name, an argument and the text it must store.
struct SetterCase {
  const char* name;
  std::function<int(KestInfo&)> set;
  const char* stored;
};

std::vector<SetterCase> setters() {
  typedef KestInfo K;
  return {
      {"QuillonVisaPresent", [](K& r) { return r.setVisaPresentDword(5ul); }, "5"},
      {"Gpib32Status", [](K& r) { return r.setGpib32Status(3); }, "3"},
      {"Vantrel488Enabled", [](K& r) { return r.setEnable488(1ul); }, "1"},
      {"Vantrel488Warning", [](K& r) { return r.setVtl488WarningDisabled(7); }, "7"},
      {"UseLegacyPxiInstrFormat", [](K& r) { return r.setLegacyPxiAddressState(0); }, "False"},
      {"IOControlHidden", [](K& r) { return r.setHiddenMode(1); }, "True"},
      {"RmDialogHidden", [](K& r) { return r.setRMDlgHiddenMode(1ul); }, "1"},
      {"IoControlStartupTimeoutMilliseconds",
       [](K& r) { return r.setIoControlStartupTimeoutMilliseconds(1000); }, "1000"},
      {"NkoStartupTimeoutMilliseconds",
       [](K& r) { return r.setNkoServerStartupTimeoutMilliseconds(2000); }, "2000"},
      {"AutoStartIOServer", [](K& r) { return r.setAutoStartIOServer(1); }, "1"},
      {"WaitForIOReadyMilliseconds", [](K& r) { return r.setWaitForIOReadyMilliseconds(10); },
       "10"},
      {"VisaPxiImplementation", [](K& r) { return r.setVisaPxiImplementation(1); }, "1"},
      {"UseRegistryForKestConfig", [](K& r) { return r.setUseRegistryForKestConfig(0); }, "False"},
      {"UseRegistryForKestConfigSystemUser",
       [](K& r) { return r.setUseRegistryForKestConfigSystemUser(1); }, "True"},
      {"UseLocalIOForDiscovery", [](K& r) { return r.setUseLocalIOForDiscovery(1); }, "True"},
      {"DmcLoggingLevel", [](K& r) { return r.setDmcLoggingLevel("DEBUG"); }, "DEBUG"},
      {"RebootOccurred", [](K& r) { return r.setRebootOccurred(1); }, "True"},
      {"RebootRequiredVxi", [](K& r) { return r.setRebootRequiredVxi(2); }, "False"},
      {"Win7DriverSwitcherDisabled", [](K& r) { return r.setWin7DriverSwitcherDisabled(1); },
       "True"},
      {"Ni488InterfaceAutoDetect", [](K& r) { return r.setNi488InterfaceAutoDetect(0); }, "False"},
      {"BrixNameCaseInsensitive", [](K& r) { return r.setBrixNameCaseInsensitive(-1); }, "False"},
      {"ZTestBoolValue", [](K& r) { return r.setZTestBoolValue(1); }, "True"},
      {"MultiThreadingEnabled", [](K& r) { return r.setMultiThreadingEnabledState(1); }, "True"},
  };
}

}  // namespace

// ---------------------------------------------------------------------------
// Defaults on the built-in store, and without a store

TEST(KestInfoDefaults, BuiltInStoreGivesEveryDefaultButTheVersion) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  EXPECT_EQ(record.getDataSource(), DeviceIoDataSource);
  for (const NumberCase& c : numberGetters()) EXPECT_EQ(c.get(record), c.fallback) << c.name;
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "OFF");
  EXPECT_EQ(readText(record, &KestInfo::getDataDir), "");
  EXPECT_EQ(readText(record, &KestInfo::getCustomBuild), "");
  EXPECT_EQ(readText(record, &KestInfo::get1394VersionCheck), "");
  EXPECT_EQ(readText(record, &KestInfo::getCurrentVersion), PDA_VERSION_STRING);
  EXPECT_STREQ(record.getProductVersionString(), PDA_VERSION_STRING);
}

TEST(KestInfoDefaults, RecordWithoutAStoreGivesEveryDefaultAndRefusesWrites) {
  pdatest::TempMachine machine;
  KestInfo record(WrenDataSource);
  EXPECT_EQ(record.getDataSource(), WrenDataSource);
  EXPECT_EQ(record.getIKestBase(), nullptr);
  for (const NumberCase& c : numberGetters()) EXPECT_EQ(c.get(record), c.fallback) << c.name;
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "OFF");
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 3), "");  // "OFF" needs 4 bytes
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 4), "OFF");
  EXPECT_EQ(readText(record, &KestInfo::getCurrentVersion), "");
  for (const SetterCase& c : setters()) EXPECT_EQ(c.set(record), 0) << c.name;
  EXPECT_EQ(record.setHiddenMode(1), 0);
  EXPECT_EQ(record.getHiddenMode(), 0);
  EXPECT_STREQ(record.getProductVersionString(), "");
}

TEST(KestInfoDefaults, SourceOutsideTheEnumerationHasNoStore) {
  pdatest::TempMachine machine;
  KestInfo record(static_cast<DataSource>(12));
  EXPECT_EQ(record.getIKestBase(), nullptr);
  EXPECT_STREQ(record.getDataSourceString(), "InvalidDataSource");
  EXPECT_EQ(record.getInstallLevel(), 256);
  EXPECT_EQ(record.setHiddenMode(1), 0);
}

// ---------------------------------------------------------------------------
// Setters write the exact stored names

TEST(KestInfoSetters, EachSetterStoresItsNameAndText) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  const ::NameValueMap& values = *record.getIKestBase()->NameValueMap();
  for (const SetterCase& c : setters()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.set(record), 1);
    auto it = values.find(c.name);
    ASSERT_NE(it, values.end());
    EXPECT_EQ(it->first, c.name);  // spelling and letter case
    EXPECT_EQ(it->second, c.stored);
  }
  // The version and every value written, nothing else.
  EXPECT_EQ(values.size(), setters().size() + 1);
}

TEST(KestInfoSetters, WrittenValuesReadBackThroughTheGetters) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  for (const SetterCase& c : setters()) ASSERT_EQ(c.set(record), 1) << c.name;
  EXPECT_EQ(record.getVisaPresentDword(), 5ul);
  EXPECT_EQ(record.getVtl488WarningDisabled(), 7);
  EXPECT_EQ(record.getLegacyPxiAddressState(), 0);
  EXPECT_EQ(record.getHiddenMode(), 1);
  EXPECT_EQ(record.getNkoServerStartupTimeoutMilliseconds(), 2000);
  EXPECT_EQ(record.getRebootRequiredVxi(), 0);
  EXPECT_EQ(record.getBrixNameCaseInsensitive(), 0);
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "DEBUG");
}

TEST(KestInfoSetters, Gpib32StatusIsOneValueUnderTwoNames) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  EXPECT_EQ(record.setGpib32StatusSysWow64(1), 1);
  EXPECT_EQ(record.getGpib32Status(), 1);
  EXPECT_EQ(record.setGpib32Status(4), 1);
  EXPECT_EQ(record.getGpib32StatusSysWow64(), 4);
  EXPECT_EQ(record.getIKestBase()->NameValueMap()->size(), 2u);  // with the version
}

TEST(KestInfoSetters, DwordValuesKeepThirtyTwoBits) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  const ::NameValueMap& values = *record.getIKestBase()->NameValueMap();
  EXPECT_EQ(record.setVisaPresentDword(2147483647ul), 1);
  EXPECT_EQ(values.at("QuillonVisaPresent"), "2147483647");
  EXPECT_EQ(record.getVisaPresentDword(), 2147483647ul);
  // Above the signed range the number is stored signed, as on Windows, and
  // a negative text reads as 0.
  EXPECT_EQ(record.setEnable488(4294967295ul), 1);
  EXPECT_EQ(values.at("Vantrel488Enabled"), "-1");
  EXPECT_EQ(record.getEnable488(), 0ul);
#if ULONG_MAX > 0xFFFFFFFFul
  // Only where unsigned long is wider than a DWORD (not on Windows).
  EXPECT_EQ(record.setRMDlgHiddenMode(0x100000003ul), 1);  // wider than a DWORD
  EXPECT_EQ(values.at("RmDialogHidden"), "3");
#endif
  // A stored number above the signed range saturates.
  EXPECT_EQ(record.getIKestBase()->setValueString("Vantrel488EnabledOverride", "4294967295"), 1);
  EXPECT_EQ(record.getEnable488Override(), 2147483647ul);
}

TEST(KestInfoSetters, StoredTextIsReturnedWithoutChecks) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  IKestBase* root = record.getIKestBase();
  root->setValueString("InstallLevel", "12abc");
  root->setValueString("PxiMapCacheSize", "-6");
  root->setValueString("FindAllPxi", "no");
  root->setValueString("IoControlStartupTimeoutMilliseconds", "99999999999");
  root->setValueString("WaitForPxiRMMilliseconds", "");
  EXPECT_EQ(record.getInstallLevel(), 12);
  EXPECT_EQ(record.getPxiMapCacheSize(), 0);
  EXPECT_EQ(record.getFindAllPxi(), 0);
  EXPECT_EQ(record.getIoControlStartupTimeoutMilliseconds(), INT_MAX);
  EXPECT_EQ(record.getWaitForPxiRMMilliseconds(), 120000);  // empty: the default
}

TEST(KestInfoSetters, StringSettingThatDoesNotFitLeavesTheBufferEmpty) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  EXPECT_EQ(record.setDmcLoggingLevel("VERBOSE"), 1);
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 8), "VERBOSE");
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 7), "");
}
