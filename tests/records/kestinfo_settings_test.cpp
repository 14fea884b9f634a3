// The global settings record: getters' defaults and setters' stored texts for
// each kind of setting, number conversions, and a record without a store.

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

// One getter of each kind: plain numbers, flags, the unsigned DWORDs, the
// second name of Gpib32Status, and the large defaults.
std::vector<NumberCase> numberGetters() {
  typedef KestInfo K;
  return {
      {"QuillonVisaPresent", 2, [](K& r) { return (long long)r.getVisaPresentDword(); }},
      {"Gpib32Status", 0, [](K& r) { return (long long)r.getGpib32StatusSysWow64(); }},
      {"Vantrel488Warning", 99, [](K& r) { return (long long)r.getVtl488WarningDisabled(); }},
      {"UseLegacyPxiInstrFormat", 1, [](K& r) { return (long long)r.getLegacyPxiAddressState(); }},
      {"InstallLevel", 256, [](K& r) { return (long long)r.getInstallLevel(); }},
      {"IoControlStartupTimeoutMilliseconds", 240000,
       [](K& r) { return (long long)r.getIoControlStartupTimeoutMilliseconds(); }},
      {"PxiMapSizeDefault", 16777216, [](K& r) { return (long long)r.getPxiMapSizeDefault(); }},
      {"Max1394Speed", 255, [](K& r) { return (long long)r.getMax1394Speed(); }},
  };
}

// One setter: its stored name, an argument and the text it must store.
struct SetterCase {
  const char* name;
  std::function<int(KestInfo&)> set;
  const char* stored;
};

// One setter of each encoding: numbers as digits, flags as "True"/"False"
// (anything but 1 is false), DWORDs, and text.
std::vector<SetterCase> setters() {
  typedef KestInfo K;
  return {
      {"QuillonVisaPresent", [](K& r) { return r.setVisaPresentDword(5ul); }, "5"},
      {"Vantrel488Warning", [](K& r) { return r.setVtl488WarningDisabled(7); }, "7"},
      {"UseLegacyPxiInstrFormat", [](K& r) { return r.setLegacyPxiAddressState(0); }, "False"},
      {"IOControlHidden", [](K& r) { return r.setHiddenMode(1); }, "True"},
      {"RmDialogHidden", [](K& r) { return r.setRMDlgHiddenMode(1ul); }, "1"},
      {"NkoStartupTimeoutMilliseconds",
       [](K& r) { return r.setNkoServerStartupTimeoutMilliseconds(2000); }, "2000"},
      {"DmcLoggingLevel", [](K& r) { return r.setDmcLoggingLevel("DEBUG"); }, "DEBUG"},
      {"RebootRequiredVxi", [](K& r) { return r.setRebootRequiredVxi(2); }, "False"},
      {"BrixNameCaseInsensitive", [](K& r) { return r.setBrixNameCaseInsensitive(-1); }, "False"},
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
  EXPECT_EQ(readText(record, &KestInfo::getCurrentVersion), "");
  for (const SetterCase& c : setters()) EXPECT_EQ(c.set(record), 0) << c.name;
  EXPECT_EQ(record.setHiddenMode(1), 0);
  EXPECT_EQ(record.getHiddenMode(), 0);
  EXPECT_STREQ(record.getProductVersionString(), "");
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
