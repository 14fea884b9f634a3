// The global settings record: getters' defaults and setters' stored names and
// texts, the DWORD conversions, and the product version text with its cache.

#include <gtest/gtest.h>

#include <climits>
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

// One numeric getter of each kind (numbers, flags, DWORDs, the second name of
// Gpib32Status, the large defaults) with its default.
struct NumberCase {
  const char* name;
  long long fallback;
  std::function<long long(KestInfo&)> get;
};
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
      {"FindAllPxi", 1, [](K& r) { return (long long)r.getFindAllPxi(); }},
  };
}

// One setter of each encoding (numbers as digits, flags as "True"/"False",
// DWORDs, text) with the text it must store.
struct SetterCase {
  const char* name;
  std::function<int(KestInfo&)> set;
  const char* stored;
};
std::vector<SetterCase> setters() {
  typedef KestInfo K;
  return {
      {"QuillonVisaPresent", [](K& r) { return r.setVisaPresentDword(5ul); }, "5"},
      {"Vantrel488Warning", [](K& r) { return r.setVtl488WarningDisabled(7); }, "7"},
      {"UseLegacyPxiInstrFormat", [](K& r) { return r.setLegacyPxiAddressState(0); }, "False"},
      {"IOControlHidden", [](K& r) { return r.setHiddenMode(1); }, "True"},
      {"RmDialogHidden", [](K& r) { return r.setRMDlgHiddenMode(1ul); }, "1"},
      {"DmcLoggingLevel", [](K& r) { return r.setDmcLoggingLevel("DEBUG"); }, "DEBUG"},
  };
}

}  // namespace

// The built-in store gives every default and the version; each setter
// writes its exact stored name and text; DWORDs keep 32 bits.
TEST(KestInfoSetters, DefaultsStoredNamesTextsAndNumbers) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  for (const NumberCase& c : numberGetters()) EXPECT_EQ(c.get(record), c.fallback) << c.name;
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "OFF");
  for (auto get :
       {&KestInfo::getDataDir, &KestInfo::getCustomBuild, &KestInfo::get1394VersionCheck})
    EXPECT_EQ(readText(record, get), "");
  EXPECT_EQ(readText(record, &KestInfo::getCurrentVersion), PDA_VERSION_STRING);
  const ::NameValueMap& values = *record.getIKestBase()->NameValueMap();
  for (const SetterCase& c : setters()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.set(record), 1);
    auto it = values.find(c.name);
    ASSERT_NE(it, values.end());
    EXPECT_EQ(it->first, c.name);  // spelling and letter case
    EXPECT_EQ(it->second, c.stored);
  }
  EXPECT_EQ(values.size(), setters().size() + 1);  // the version and every value written
  KestInfo gpib(DeviceIoDataSource);               // Gpib32Status: one value under two names
  EXPECT_EQ(gpib.setGpib32StatusSysWow64(1), 1);
  EXPECT_EQ(gpib.getGpib32Status(), 1);
  EXPECT_EQ(gpib.setGpib32Status(4), 1);
  EXPECT_EQ(gpib.getGpib32StatusSysWow64(), 4);
  EXPECT_EQ(gpib.getIKestBase()->NameValueMap()->size(), 2u);  // with the version
  // Above the signed range a DWORD is stored signed, as on Windows; a
  // negative text reads as 0.
  EXPECT_EQ(record.setEnable488(4294967295ul), 1);
  EXPECT_EQ(values.at("Vantrel488Enabled"), "-1");
  EXPECT_EQ(record.getEnable488(), 0ul);
#if ULONG_MAX > 0xFFFFFFFFul
  // Only where unsigned long is wider than a DWORD (not on Windows).
  EXPECT_EQ(record.setRMDlgHiddenMode(0x100000003ul), 1);
  EXPECT_EQ(values.at("RmDialogHidden"), "3");
#endif
}

// The version and the custom build joined by one blank, each part read into
// 256 bytes; the text is cached once found (copies and assignments take the
// cache), and read again next time while nothing is stored.
TEST(KestInfoVersion, VersionTextAndItsCache) {
  const struct {
    std::string version, build, expected;
  } cases[] = {
      {"2.0.1.3", "Hotfix 7", "2.0.1.3 Hotfix 7"},
      {std::string(255, 'v'), std::string(255, 'b'),
       std::string(255, 'v') + " " + std::string(255, 'b')},
      {std::string(256, 'v'), "B", " B"},
  };
  pdatest::TempMachine machine;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.substr(0, 20));
    KestInfo record(DeviceIoDataSource);
    IKestBase* root = record.getIKestBase();
    // The built-in store rebuilds its defaults whenever its maps are both
    // empty, so one unrelated value stays in place.
    root->setValueString("Unrelated", "1");
    root->setValueString("CurrentVersion", c.version.c_str());
    root->setValueString("CustomBuild", c.build.c_str());
    EXPECT_EQ(record.getProductVersionString(), c.expected);
  }
  KestInfo source(DeviceIoDataSource);
  const char* first = source.getProductVersionString();
  source.getIKestBase()->setValueString("CurrentVersion", "7.7.7.7");
  EXPECT_EQ(source.getProductVersionString(), first);  // the same buffer, in the record
  EXPECT_STREQ(first, PDA_VERSION_STRING);
  KestInfo cached(source);
  EXPECT_STREQ(cached.getProductVersionString(), PDA_VERSION_STRING);
  KestInfo assigned(WrenDataSource);
  assigned = source;
  EXPECT_STREQ(assigned.getProductVersionString(), PDA_VERSION_STRING);
  KestInfo empty(DeviceIoDataSource);
  empty.getIKestBase()->setValueString("Unrelated", "1");
  empty.getIKestBase()->deleteName("CurrentVersion");
  EXPECT_STREQ(empty.getProductVersionString(), "");
  empty.getIKestBase()->setValueString("CurrentVersion", "3.1.0.0");
  EXPECT_STREQ(empty.getProductVersionString(), "3.1.0.0");
}
