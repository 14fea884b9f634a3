// The global settings record: getters' defaults and setters' stored texts for
// each kind of setting, number conversions, a record without a store, the
// product version text with its cache, copies, and the real stores (the
// registry of the emulated machine and the SQLite configuration database,
// checked from outside with the registry calls and the sqlite3 client).

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pda/KestInfo.h"
#include "pda/KestRegistry.h"
#include "pda/KestSQLite.h"
#include "pda/Version.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

const char* const kSettingsKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

std::string readText(KestInfo& record, void (KestInfo::*get)(char*, unsigned int),
                     unsigned int size = 256) {
  std::vector<char> buffer(size + 1, 'x');
  buffer[size] = '\0';
  (record.*get)(buffer.data(), size);
  return buffer.data();
}

// One numeric getter of each kind (plain numbers, flags, the unsigned DWORDs,
// the second name of Gpib32Status, the large defaults) with its default.
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
      {"Max1394Speed", 255, [](K& r) { return (long long)r.getMax1394Speed(); }},
  };
}

// One setter of each encoding (numbers as digits, flags as "True"/"False"
// with anything but 1 false, DWORDs, text) with the text it must store.
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
      {"NkoStartupTimeoutMilliseconds",
       [](K& r) { return r.setNkoServerStartupTimeoutMilliseconds(2000); }, "2000"},
      {"DmcLoggingLevel", [](K& r) { return r.setDmcLoggingLevel("DEBUG"); }, "DEBUG"},
      {"RebootRequiredVxi", [](K& r) { return r.setRebootRequiredVxi(2); }, "False"},
      {"BrixNameCaseInsensitive", [](K& r) { return r.setBrixNameCaseInsensitive(-1); }, "False"},
  };
}

std::string registryText(const char* name) {
  unsigned int type = 0;
  std::string bytes;
  if (!pdatest::regGet(kSettingsKey, name, &type, &bytes)) return "<none>";
  return std::string(bytes.c_str());
}

}  // namespace

// The built-in store gives every default and the version; a record without a
// store gives every default, no version, and refuses writes.
TEST(KestInfoDefaults, BuiltInStoreAndRecordWithoutAStore) {
  pdatest::TempMachine machine;
  for (DataSource source : {DeviceIoDataSource, WrenDataSource}) {
    SCOPED_TRACE(source);
    KestInfo record(source);
    const bool builtIn = source == DeviceIoDataSource;
    EXPECT_EQ(record.getDataSource(), source);
    EXPECT_EQ(record.getIKestBase() != nullptr, builtIn);
    for (const NumberCase& c : numberGetters()) EXPECT_EQ(c.get(record), c.fallback) << c.name;
    EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "OFF");
    EXPECT_EQ(readText(record, &KestInfo::getDataDir), "");
    EXPECT_EQ(readText(record, &KestInfo::getCustomBuild), "");
    EXPECT_EQ(readText(record, &KestInfo::get1394VersionCheck), "");
    EXPECT_EQ(readText(record, &KestInfo::getCurrentVersion), builtIn ? PDA_VERSION_STRING : "");
    EXPECT_STREQ(record.getProductVersionString(), builtIn ? PDA_VERSION_STRING : "");
  }
  KestInfo record(WrenDataSource);
  for (const SetterCase& c : setters()) EXPECT_EQ(c.set(record), 0) << c.name;
  EXPECT_EQ(record.getHiddenMode(), 0);
}

// Each setter writes its exact stored name and text; numbers convert as a
// DWORD, and stored texts are read without checks.
TEST(KestInfoSetters, StoredNamesTextsAndNumbers) {
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
  EXPECT_EQ(values.size(), setters().size() + 1);  // the version and every value written
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 6), "DEBUG");
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel, 5), "");  // never cut

  KestInfo gpib(DeviceIoDataSource);  // Gpib32Status: one value under two names
  EXPECT_EQ(gpib.setGpib32StatusSysWow64(1), 1);
  EXPECT_EQ(gpib.getGpib32Status(), 1);
  EXPECT_EQ(gpib.setGpib32Status(4), 1);
  EXPECT_EQ(gpib.getGpib32StatusSysWow64(), 4);
  EXPECT_EQ(gpib.getIKestBase()->NameValueMap()->size(), 2u);  // with the version

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
  EXPECT_EQ(record.setRMDlgHiddenMode(0x100000003ul), 1);
  EXPECT_EQ(values.at("RmDialogHidden"), "3");
#endif
  IKestBase* root = record.getIKestBase();
  root->setValueString("Vantrel488EnabledOverride", "4294967295");  // saturates
  root->setValueString("InstallLevel", "12abc");
  root->setValueString("PxiMapCacheSize", "-6");
  root->setValueString("FindAllPxi", "no");
  root->setValueString("IoControlStartupTimeoutMilliseconds", "99999999999");
  root->setValueString("WaitForPxiRMMilliseconds", "");
  EXPECT_EQ(record.getEnable488Override(), 2147483647ul);
  EXPECT_EQ(record.getInstallLevel(), 12);
  EXPECT_EQ(record.getPxiMapCacheSize(), 0);
  EXPECT_EQ(record.getFindAllPxi(), 0);
  EXPECT_EQ(record.getIoControlStartupTimeoutMilliseconds(), INT_MAX);
  EXPECT_EQ(record.getWaitForPxiRMMilliseconds(), 120000);  // empty: the default
}

// The version and the custom build joined by one blank; the text is cached
// once found (a copy takes the cache as it stands, in a buffer of its own),
// and read again next time while nothing is stored.
TEST(KestInfoVersion, VersionTextAndItsCache) {
  const struct {
    const char* label;
    std::string version;  // "-" for none stored
    std::string build;    // "-" for none stored
    std::string expected;
  } cases[] = {
      {"version alone", "2.0.1.3", "-", "2.0.1.3"},
      {"with custom build", "2.0.1.3", "Hotfix 7", "2.0.1.3 Hotfix 7"},
      {"custom build alone", "-", "Lab", " Lab"},
      {"longest parts fill the cache", std::string(255, 'v'), std::string(255, 'b'),
       std::string(255, 'v') + " " + std::string(255, 'b')},
      {"part too long reads as empty", std::string(256, 'v'), "B", " B"},
  };
  pdatest::TempMachine machine;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    KestInfo record(DeviceIoDataSource);
    IKestBase* root = record.getIKestBase();
    // The built-in store builds its defaults again whenever its maps are
    // both empty, so one unrelated value stays in place.
    root->setValueString("Unrelated", "1");
    if (c.version == "-")
      root->deleteName("CurrentVersion");
    else
      root->setValueString("CurrentVersion", c.version.c_str());
    if (c.build != "-") root->setValueString("CustomBuild", c.build.c_str());
    EXPECT_EQ(record.getProductVersionString(), c.expected);
  }

  KestInfo source(DeviceIoDataSource);
  const char* first = source.getProductVersionString();
  EXPECT_STREQ(first, PDA_VERSION_STRING);
  source.getIKestBase()->setValueString("CurrentVersion", "7.7.7.7");
  source.getIKestBase()->setValueString("CustomBuild", "X");
  EXPECT_EQ(source.getProductVersionString(), first);  // the same buffer, in the record
  EXPECT_STREQ(first, PDA_VERSION_STRING);
  KestInfo cached(source);
  EXPECT_STREQ(cached.getProductVersionString(), PDA_VERSION_STRING);
  EXPECT_NE(cached.getProductVersionString(), first);

  KestInfo empty(DeviceIoDataSource);
  empty.getIKestBase()->setValueString("Unrelated", "1");
  empty.getIKestBase()->deleteName("CurrentVersion");
  KestInfo uncached(empty);
  EXPECT_STREQ(empty.getProductVersionString(), "");
  empty.getIKestBase()->setValueString("CurrentVersion", "3.1.0.0");
  EXPECT_STREQ(empty.getProductVersionString(), "3.1.0.0");
  empty.getIKestBase()->setValueString("CurrentVersion", "4.0.0.0");
  EXPECT_STREQ(empty.getProductVersionString(), "3.1.0.0");
  EXPECT_STREQ(uncached.getProductVersionString(), "4.0.0.0");
}

// Assignment releases the old tree and takes the new one with its cache;
// self-assignment keeps both.
TEST(KestInfoCopies, AssignmentReleasesTheOldTreeAndTakesTheNew) {
  pdatest::TempMachine machine;
  KestInfo target(DeviceIoDataSource);
  KestInfo source(DeviceIoDataSource);
  IKestBase* oldRoot = target.getIKestBase();
  IKestBase::retainNode(oldRoot);  // observe it past the assignment
  EXPECT_EQ(oldRoot->referenceCount(), 2);
  source.setRebootOccurred(1);
  source.getProductVersionString();
  target = source;
  EXPECT_EQ(oldRoot->referenceCount(), 1);
  EXPECT_EQ(target.getIKestBase(), source.getIKestBase());
  EXPECT_EQ(target.getRebootOccurred(), 1);
  EXPECT_STREQ(target.getProductVersionString(), PDA_VERSION_STRING);
  IKestBase::releaseNode(oldRoot);
  KestInfo& alias = target;
  target = alias;
  EXPECT_EQ(target.getIKestBase()->referenceCount(), 2);
  EXPECT_STREQ(target.getProductVersionString(), PDA_VERSION_STRING);
  KestInfo none(WrenDataSource);
  target = none;
  EXPECT_EQ(target.getIKestBase(), nullptr);
  EXPECT_EQ(target.getDataSource(), WrenDataSource);
  EXPECT_EQ(target.setHiddenMode(1), 0);
  EXPECT_STREQ(target.getProductVersionString(), "");
}

// The registry's settings key and the database's KestInfo table, each read
// back by a second record and from outside; the database is the default
// store of an installed suite.
TEST(KestInfoStores, ReadsAndWritesTheRegistryAndTheDatabase) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetDword(kSettingsKey, "InstallLevel", 3);
  pdatest::regSetString(kSettingsKey, "DmcLoggingLevel", "WARN");
  KestInfo record(RegistryDataSource);
  EXPECT_EQ(record.getDataSource(), RegistryDataSource);
  ASSERT_NE(dynamic_cast<KestRegistry*>(record.getIKestBase()), nullptr);
  EXPECT_EQ(record.getInstallLevel(), 3);
  EXPECT_EQ(readText(record, &KestInfo::getDmcLoggingLevel), "WARN");
  EXPECT_EQ(record.getVtl488WarningDisabled(), 99);  // not stored
  EXPECT_EQ(record.setHiddenMode(1), 1);
  EXPECT_EQ(record.setVisaPxiImplementation(4), 1);
  EXPECT_NE(registryText("IOControlHidden"), "<none>");
  KestInfo again(RegistryDataSource);
  EXPECT_EQ(again.getHiddenMode(), 1);
  EXPECT_EQ(again.getVisaPxiImplementation(), 4);

  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO KestInfo(NAME, VALUE) VALUES('InstallLevel', '17'),"
                  "('CurrentVersion', '5.4.3.2'),('CustomBuild', 'Lab build'),"
                  "('Max1394Speed', '400');");
  KestInfo sqlite;
  EXPECT_EQ(sqlite.getDataSource(), SQLiteDataSource);
  ASSERT_NE(dynamic_cast<KestSQLite*>(sqlite.getIKestBase()), nullptr);
  EXPECT_EQ(sqlite.getInstallLevel(), 17);
  EXPECT_EQ(sqlite.getMax1394Speed(), 400);
  EXPECT_EQ(sqlite.getPxiDmaInThreshold(), 48);
  EXPECT_STREQ(sqlite.getProductVersionString(), "5.4.3.2 Lab build");
  EXPECT_EQ(sqlite.setDmcLoggingLevel("ALL"), 1);
  EXPECT_EQ(sqlite.setRebootOccurred(1), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='DmcLoggingLevel';"),
            "ALL\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='RebootOccurred';"),
            "True\n");
}

TEST(KestInfoStores, MissingDatabaseGivesDefaultsAndFailedWrites) {
  pdatest::TempMachine machine;
  machine.installSuite();
  KestInfo record(SQLiteDataSource);
  EXPECT_EQ(record.getInstallLevel(), 256);
  EXPECT_STREQ(record.getProductVersionString(), "");
  EXPECT_EQ(record.setHiddenMode(1), 0);
  EXPECT_EQ(record.getHiddenMode(), 0);
}

#if !defined(_WIN32)
// The stand-in's switch for a process without write rights.
TEST(KestInfoStores, RegistryWritesFailWithoutWriteAccess) {
  pdatest::TempMachine machine;
  pdatest::regSetDword(kSettingsKey, "AutoStartIOServer", 2);
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  KestInfo record(RegistryDataSource);
  EXPECT_EQ(record.getAutoStartIOServer(), 2);
  EXPECT_EQ(record.setAutoStartIOServer(5), 0);
  EXPECT_EQ(record.getAutoStartIOServer(), 2);
  unsetenv("PDA_REGISTRY_READONLY");
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet(kSettingsKey, "AutoStartIOServer", &type, &bytes));
  EXPECT_EQ(type, static_cast<unsigned int>(REG_DWORD));
  EXPECT_EQ(bytes, std::string("\x02\0\0\0", 4));  // untouched
}
#endif
