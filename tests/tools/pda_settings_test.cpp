// pda init, show, get, set, unset and doctor end to end: the installed
// layout and its sample databases, the refusal to overwrite, the registry
// store at the edges of each range and the switch that picks it; real broken
// stores make every reading command fail with the store and its reason
// (doctor names the same problem), writes that would not read back are
// refused before anything is written, and doctor --fix repairs what it
// claims.
#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sys/stat.h>
#  include <fstream>
#  include <functional>
#  include <string>
#  include <vector>

#  include "SuiteSchema.h"
#  include "ToolRun.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

const char* const kBaseDirKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

bool isLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(PdaInit, LaysOutAnInstalledSuiteThatSetAndShowUse) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  EXPECT_TRUE(isLink(machine.baseDir() + "bin/SQLite.Interop.dll"));
  EXPECT_TRUE(exists(machine.baseDir() + "bin/SQLite.Interop.dll")) << "dangling link";
  EXPECT_TRUE(exists(machine.systemDir() + "/brix32.dll"));
  unsigned int type = 0;
  EXPECT_EQ(regBytes(kBaseDirKey, "BaseDir", &type).c_str(), machine.baseDir());
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(
      stored(machine, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;"),
      "ConfigData\nInstrAliasInfo\nInstrumentFavorites\nKestInfo\nSorrelParamInfo\nVisaInfo\n");
  EXPECT_EQ(stored(machine, "SELECT COUNT(DISTINCT IDKEY) FROM ConfigData;"), "5\n");
  const std::string usage = machine.dataDir() + "DataAnalytics.db";
  EXPECT_EQ(
      pdatest::sqlite(usage, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;"),
      "SorrelSessionAccess\nVISACAccess\nVISACOMAccess\nVISANETAccess\n");
  EXPECT_EQ(
      pdatest::sqlite(usage, "SELECT sql FROM sqlite_master WHERE name='SorrelSessionAccess';"),
      std::string(pdasuite::kAnalyticsTables[3]) + "\n");

  // The process now defaults to the SQLite store and reads the sample tree.
  expectLike(json(machine, "show"), R"({
    "dataSource": {"chosen": "SQLiteDataSource", "installed": true},
    "ioConfiguration": {"interfaces": [{"name": "TCPIP0", "children": [{}]},
      {"name": "USB0", "children": [{"recordType": "Instrument"}, {}]}]},
    "aliases": [{}, {}, {}, {}], "favorites": {"TCPIP0::192.168.1.20::inst0::INSTR": "on"},
    "visa": {"logMode": {"stored": "off", "origin": "stored"},
      "values": {"Manufacturer": {"origin": "default"}}}})");
  // set writes the database; show tells stored from default.
  ok(machine, "set WaitForIOReadyMilliseconds 4321");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM KestInfo WHERE NAME='WaitForIOReadyMilliseconds';"),
            "4321\n");
  EXPECT_EQ(ok(machine, "get waitforioreadymilliseconds"), "4321\n");
  expectLike(json(machine, "get WaitForIOReadyMilliseconds"),
             R"({"value": 4321, "origin": "stored"})");
  EXPECT_EQ(json(machine, "get InstallLevel")["origin"], "default");
  // A value changed behind the tool's back is what it shows next.
  stored(machine, "UPDATE KestInfo SET VALUE='77' WHERE NAME='WaitForIOReadyMilliseconds';");
  EXPECT_EQ(json(machine, "show")["settings"]["values"]["WaitForIOReadyMilliseconds"]["value"], 77);
  ok(machine, "visa set DefaultQSize 100");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM VisaInfo WHERE NAME='DefaultQSize';"), "100\n");
  ok(machine, "visa|set|Manufacturer|it's mine");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM VisaInfo WHERE NAME='Manufacturer';"),
            "it's mine\n");
  EXPECT_EQ(ok(machine, "visa get manufacturer"), "it's mine\n");
  expectLike(json(machine, "show")["visa"]["values"],
             R"({"DefaultQSize": {"value": 100, "origin": "stored"},
                 "MaxSessNbr": {"value": 256, "origin": "default"}})");
  // A second init refuses to overwrite the database.
  stored(machine, "INSERT INTO KestInfo (NAME, VALUE) VALUES ('InstallLevel', '9');");
  expectFailure(pda(machine, "init"), 1, "Quillon.db");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM KestInfo WHERE NAME='InstallLevel';"), "9\n");
}

TEST(PdaInit, RefusalsAndRootsGivenOtherwise) {
  pdatest::TempMachine other;
  // Only the usage database exists: refused too.
  ASSERT_EQ(pdatest::run("mkdir -p " + quote(other.dataDir())), 0);
  pdatest::sqlite(other.dataDir() + "DataAnalytics.db", "CREATE TABLE Keep (x);");
  expectFailure(pda(other, "init"), 1);
  EXPECT_FALSE(exists(other.dataDir() + "Quillon.db"));
  // The root as an argument; the machine of PDA_ROOT is untouched.
  const std::string root = other.path("elsewhere");
  ok(other, {"init", root});
  EXPECT_TRUE(exists(root + "/ProgramData/Tessaro/Tessaro Quillon/Quillon.db"));
  EXPECT_TRUE(exists(root + "/System32/brix32.dll"));
  EXPECT_FALSE(exists(other.dataDir() + "Quillon.db"));

  // PDA_ROOT relative to the working directory: "BaseDir" is registered whole.
  pdatest::TempMachine machine;
  ok(machine, "init");
  pdatest::TempMachine second;
  const Result r = pdaWith(second, "cd " + quote(second.root()) + " && PDA_ROOT=rel",
                           {"init", "--no-samples", "--base-dir", machine.baseDir()});
  ASSERT_EQ(r.status, 0) << r.err;
  setenv("PDA_ROOT", (second.root() + "/rel").c_str(), 1);
  EXPECT_EQ(regBytes(kBaseDirKey, "BaseDir").c_str(), machine.baseDir());
  EXPECT_EQ(pdatest::sqlite(second.root() + "/rel/ProgramData/Tessaro/Tessaro Quillon/Quillon.db",
                            "SELECT count(*) FROM ConfigData; SELECT count(*) FROM "
                            "sqlite_master WHERE name='ConfigDataByIdKey';"),
            "0\n1\n");
  EXPECT_FALSE(exists(second.root() + "/rel/Program Files"));
  setenv("PDA_ROOT", second.root().c_str(), 1);
  // A base directory without a loadable SQLite library is refused up front.
  expectFailure(pda(second, {"init", "--base-dir", second.root(), second.path("third")}), 1);
  EXPECT_FALSE(exists(second.path("third")));
}

TEST(PdaInit, AFailedInitLeavesNothingThatLooksInstalled) {
  pdatest::TempMachine machine;
  // The last step, registering "BaseDir", is refused.
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  const Result r = pda(machine, "init");
  unsetenv("PDA_REGISTRY_READONLY");
  expectFailure(r, 1, "access is denied");
  std::string left;
  pdatest::run("cd " + quote(machine.root()) + " && find . -mindepth 1 ! -name tool.stderr", &left);
  EXPECT_EQ(left, "");
  EXPECT_EQ(pda(machine, "doctor").status, 1);
  ok(machine, "init");  // nothing in the way of a second run
}

// The registry store at the edges of each range, and the switch that makes
// show, get and set follow it (and "False" as text switches back).
TEST(PdaGetSet, TheRegistryAtTheEdgesOfEachRangeAndTheSwitch) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "set VisaPxiImplementation 7 --source registry");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Set VisaPxiImplementation to 7 in the registry\n");
  EXPECT_EQ(ok(machine, "get visapxiimplementation --source REGISTRY"), "7\n");
  ok(machine, "set IOControlHidden yes --source registry");
  EXPECT_EQ(ok(machine, "get IOControlHidden --source registry"), "true\n");
  for (const char* edge : {"VisaPxiImplementation 2147483647", "VisaPxiImplementation 0",
                           "QuillonVisaPresent 0", "QuillonVisaPresent 2147483647"}) {
    SCOPED_TRACE(edge);
    const Args a = split(edge);
    ok(machine, "set " + a[0] + " " + a[1] + " --source registry");
    EXPECT_EQ(ok(machine, "get " + a[0] + " --source registry"), a[1] + "\n");
  }
  machine.installSuite();  // no database
  expectFailure(pda(machine, "set AutoStartIOServer 1 --source sqlite"), 1);

  pdatest::TempMachine installed;
  ok(installed, "init");
  EXPECT_EQ(json(installed, "show")["dataSource"]["chosen"], "SQLiteDataSource");
  ok(installed, {"reg", "add", kSwitchKey, "/v", "_UseRegistryForPersistedData", "/t", "REG_DWORD",
                 "/d", "1"});
  ok(installed, "reg add " + kSettingsKey + " /v WaitForIOReadyMilliseconds /t REG_DWORD /d 1234");
  expectLike(json(installed, "show"), R"({"dataSource": {"chosen": "RegistryDataSource"},
      "settings": {"values": {"WaitForIOReadyMilliseconds": {"value": 1234, "origin": "stored"}}}})");
  ok(installed, "set AutoStartIOServer 7");
  EXPECT_EQ(regBytes(kRawSettingsKey, "AutoStartIOServer"), std::string("\x07\0\0\0", 4));
  EXPECT_EQ(stored(installed, "SELECT COUNT(*) FROM KestInfo WHERE NAME='AutoStartIOServer';"),
            "0\n");
  ok(installed, {"reg", "add", kSwitchKey, "/v", "_UseRegistryForPersistedData", "/t", "REG_SZ",
                 "/d", "False", "/f"});
  EXPECT_EQ(json(installed, "show")["dataSource"]["chosen"], "SQLiteDataSource");
}

std::string configDb(const pdatest::TempMachine& m) {
  return m.dataDir() + "Quillon.db";
}

// Holds the configuration database with BEGIN EXCLUSIVE from the sqlite3
// client until the object goes; waits until the lock is taken.
struct ExclusiveHolder {
  std::string pidFile;
  explicit ExclusiveHolder(const pdatest::TempMachine& m) : pidFile(m.path("holder.pid")) {
    const std::string ready = m.path("holder.ready");
    // In a process group of its own, so that the client and its feeder end
    // together.
    pdatest::run(
        "setsid sh -c '(echo \"BEGIN EXCLUSIVE;\"; echo .print held; sleep 30) | sqlite3 \"$0\" "
        ">\"$1\" 2>&1' " +
        quote(configDb(m)) + " " + quote(ready) + " >/dev/null 2>&1 </dev/null & echo $! >" +
        quote(pidFile));
    for (int i = 0; i < 500; ++i, pdatest::run("sleep 0.01"))
      if (readText(ready) == "held\n") return;
    ADD_FAILURE() << "the sqlite3 client did not take the lock";
  }
  ~ExclusiveHolder() {
    pdatest::run("kill -- -$(cat " + quote(pidFile) + ") 2>/dev/null; sleep 0.1");
  }
};

TEST(PdaHealth, BrokenStoresFailWithTheStoreAndItsReason) {
  struct Case {
    const char* name;
    std::function<void(const pdatest::TempMachine&)> breakIt;
    std::string prefix;          // shell text before the tool
    std::vector<Args> commands;  // each must fail with status 1
    const char* reason;          // in each message and in doctor's report
  };
  std::vector<Args> readers;
  for (const char* c : {"get IOControlHidden", "alias list", "visa get DefaultQSize", "favorite x",
                        "set IOControlHidden true", "unset IOControlHidden"})
    readers.push_back(split(c));
  const Case cases[] = {
      {"not a database",
       [](const pdatest::TempMachine& m) {
         std::ofstream(configDb(m), std::ios::trunc) << "these are not the droids\n";
       },
       "", readers, "file is not a database"},
      {"missing library",
       [](const pdatest::TempMachine& m) {
         std::remove((m.baseDir() + "bin/SQLite.Interop.dll").c_str());
       },
       "", readers, "No such file or directory"},
      {"damaged values file",
       [](const pdatest::TempMachine& m) {
         pdatest::regSetString(kRawSettingsKey, "IOControlHidden", "True");
         std::fstream f(m.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values"),
                        std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(20);
         f.put('X');
       },
       "",
       {split("get IOControlHidden --source registry"), split("show --source registry"),
        split("set IOControlHidden false --source registry")},
       "is damaged"},
      {"unreadable root",  // tests run as root: the tool runs as nobody
       [](const pdatest::TempMachine& m) { chmod(m.root().c_str(), 0700); },
       "setpriv --reuid=65534 --regid=65534 --clear-groups",
       {split("get IOControlHidden"), split("show"), split("alias list")},
       "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pdatest::TempMachine machine;
    ok(machine, "init");
    c.breakIt(machine);
    for (const auto& args : c.commands) {
      SCOPED_TRACE(args[0]);
      const Result r = pdaWith(machine, c.prefix, args);
      if (args[0] == "show") {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.out, "\nProblems\n")) << r.out;
      } else {
        expectFailure(r, 1);
      }
      EXPECT_TRUE(contains(r.err, c.reason)) << r.err;
    }
    const Result doctor = pdaWith(machine, c.prefix, split("doctor"));
    EXPECT_EQ(doctor.status, 1);
    EXPECT_TRUE(contains(doctor.out, "FAIL") && contains(doctor.out, c.reason)) << doctor.out;
  }
}

TEST(PdaHealth, DatabaseHeldByAnotherProcessIsReportedAsLocked) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ExclusiveHolder holder(machine);
  for (const char* command : {"get IOControlHidden", "set IOControlHidden true"})
    expectFailure(pda(machine, command), 1, "database is locked (another process has held it");
  const Result doctor = pda(machine, "doctor --json");
  EXPECT_EQ(doctor.status, 1);
  EXPECT_TRUE(contains(doctor.out, "database is locked")) << doctor.out;
}

TEST(PdaWrites, RefusedBeforeWritingWhatWouldNotReadBack) {
  pdatest::TempMachine fresh;
  // The built-in defaults keep nothing.
  expectFailure(pda(fresh, "set IOControlHidden true"), 1, "pda init installs a store");

  pdatest::TempMachine machine;
  ok(machine, "init");
  const std::string longest(1023, 'r');
  const struct {
    Args args;
    const char* refusal;  // null: written and read back
  } cases[] = {
      {{"set", "DmcLoggingLevel", longest, "--source", "registry"}, nullptr},
      {{"set", "DmcLoggingLevel", longest + "r", "--source", "registry"}, "at most 1,023"},
      {{"visa", "set", "Manufacturer", longest + "r", "--source", "registry"}, "at most 1,023"},
      {{"set", "DmcLoggingLevel", std::string(65535, 's')}, nullptr},
      {{"set", "DmcLoggingLevel", std::string(65536, 's')}, "at most 65535"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + std::to_string(c.args[2].size()));
    const Result r = pda(machine, c.args);
    if (c.refusal) {
      expectFailure(r, 1, c.refusal);
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    Args get = c.args;
    get.erase(get.begin() + 2);
    get[0] = "get";
    EXPECT_EQ(ok(machine, get), c.args[2] + "\n");
  }
  EXPECT_EQ(ok(machine, "get DmcLoggingLevel --source registry"), longest + "\n");

  // A value the registry store's reader cannot take hides those after it: the
  // store is reported, and nothing more is written behind it.
  pdatest::regSetString(kRawSettingsKey, "Huge", std::string(2000, 'h'));
  expectFailure(pda(machine, "set AutoStartIOServer 1 --source registry"), 1,
                "'Huge' has 2001 bytes");
  EXPECT_EQ(regBytes(kRawSettingsKey, "AutoStartIOServer"), "<none>");

  // A refusal by the store names its cause.
  pdatest::TempMachine readOnly;
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  const Result r = pda(readOnly, "set AutoStartIOServer 1 --source registry");
  unsetenv("PDA_REGISTRY_READONLY");
  expectFailure(r, 1, "access is denied");
}

TEST(PdaUnset, RemovesEverySpellingSoThatTheDefaultApplies) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  stored(machine,
         "INSERT INTO KestInfo (NAME, VALUE) VALUES ('iocontrolhidden', 'True'),"
         " ('IOCONTROLHIDDEN', 'True');");
  EXPECT_EQ(ok(machine, "get IOControlHidden"), "true\n");
  EXPECT_TRUE(contains(ok(machine, "unset IocontrolHidden"), "Removed IOControlHidden"));
  EXPECT_EQ(stored(machine, "SELECT count(*) FROM KestInfo WHERE NAME LIKE 'iocontrolhidden';"),
            "0\n");
  EXPECT_EQ(json(machine, "get IOControlHidden")["origin"], "default");
  EXPECT_TRUE(contains(ok(machine, "unset IOControlHidden"), "Nothing to remove"));
  ok(machine, "set WaitForIOReadyMilliseconds 5 --source registry");
  ok(machine, "unset waitforioreadymilliseconds --source registry");
  EXPECT_EQ(regBytes(kRawSettingsKey, "WaitForIOReadyMilliseconds"), "<none>");
  ok(machine, "visa log-mode debugger");
  ok(machine, "visa unset LOGGING");
  EXPECT_EQ(json(machine, "visa log-mode")["origin"], "default");
  expectFailure(pda(machine, "unset NoSuchSetting"), 2);
}

TEST(PdaDoctor, FreshInitPassesAndFixRepairsWhatItClaims) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  const nlohmann::json clean = json(machine, "doctor");
  EXPECT_EQ(clean["problems"], 0) << clean.dump();
  EXPECT_GE(clean["checks"].size(), 12u);

  // An older database without the index, and a switch set while no program
  // of the suite has published its choice.
  stored(machine, "DROP INDEX ConfigDataByIdKey;");
  pdatest::regSetDword(kRawSwitchKey, "_UseRegistryForPersistedData", 1);
  const Result broken = pda(machine, "doctor");
  EXPECT_EQ(broken.status, 1);
  EXPECT_TRUE(contains(broken.out, "no ConfigDataByIdKey")) << broken.out;
  EXPECT_TRUE(contains(broken.out, "no choice (\"Registry\") is published")) << broken.out;

  const std::string fixed = ok(machine, "doctor --fix");
  EXPECT_TRUE(contains(fixed, "fixed  added the index")) << fixed;
  EXPECT_FALSE(contains(fixed, "FAIL")) << fixed;
  EXPECT_TRUE(contains(stored(machine,
                              "EXPLAIN QUERY PLAN SELECT IDKEY, NAME, VALUE FROM "
                              "ConfigData ORDER BY IDKEY;"),
                       "USING COVERING INDEX ConfigDataByIdKey"));
  EXPECT_STREQ(regBytes(kRawSwitchKey, "_UnmanagedCodePersistedDataStore").c_str(), "Registry");

  // A machine without the suite is a problem doctor cannot fix.
  pdatest::TempMachine bare;
  const Result r = pda(bare, "doctor --fix --json");
  EXPECT_EQ(r.status, 1);
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["fixed"].size(), 0u);
  EXPECT_EQ(doc["checks"][1]["check"], "suite marker");
  EXPECT_EQ(doc["checks"][1]["ok"], false);
}

}  // namespace

#endif  // !_WIN32
