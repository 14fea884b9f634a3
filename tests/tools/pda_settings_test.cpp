// pda init, show, get, set, unset and doctor end to end: the installed
// layout, the refusal to overwrite, the registry store at the edges of each
// range and the switch that picks it; broken stores make every reading
// command fail with the store and its reason, writes that would not read back
// are refused before anything is written, and doctor --fix repairs what it
// claims.
#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sys/stat.h>

#  include <string>

#  include "ToolRun.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

const char* const kBaseDirKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

// The layout of an installed suite, with the sample configuration that show
// reads; a second init refuses to overwrite the database.
TEST(PdaInit, LaysOutAnInstalledSuiteThatShowReads) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  struct stat st;
  EXPECT_TRUE(lstat((machine.baseDir() + "bin/SQLite.Interop.dll").c_str(), &st) == 0 &&
              S_ISLNK(st.st_mode) && exists(machine.baseDir() + "bin/SQLite.Interop.dll"));
  EXPECT_EQ(regBytes(kBaseDirKey, "BaseDir").c_str(), machine.baseDir());
  EXPECT_EQ(stored(machine, "SELECT COUNT(DISTINCT IDKEY) FROM ConfigData;"), "5\n");
  // The sample configuration's favourite and log mode (its aliases and records
  // are read by the alias and configuration tests).
  expectLike(json(machine, "show"), R"({"dataSource": {"chosen": "SQLiteDataSource"},
    "favorites": {"TCPIP0::192.168.1.20::inst0::INSTR": "on"},
    "visa": {"logMode": {"stored": "off", "origin": "stored"}}})");
  stored(machine, "INSERT INTO KestInfo (NAME, VALUE) VALUES ('InstallLevel', '9');");
  expectFailure(pda(machine, "init"), 1, "Quillon.db");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM KestInfo WHERE NAME='InstallLevel';"), "9\n");
}

// An existing usage database refuses init; a root given as an argument; a
// base directory without a SQLite library.
TEST(PdaInit, RefusalsAndRootsGivenOtherwise) {
  pdatest::TempMachine other;
  ASSERT_EQ(pdatest::run("mkdir -p " + quote(other.dataDir())), 0);
  pdatest::sqlite(other.dataDir() + "DataAnalytics.db", "CREATE TABLE Keep (x);");
  expectFailure(pda(other, "init"), 1);
  EXPECT_FALSE(exists(other.dataDir() + "Quillon.db"));
  const std::string root = other.path("elsewhere");
  ok(other, {"init", root});
  EXPECT_TRUE(exists(root + "/ProgramData/Tessaro/Tessaro Quillon/Quillon.db"));
  EXPECT_FALSE(exists(other.dataDir() + "Quillon.db"));

  expectFailure(pda(other, {"init", "--base-dir", other.root(), other.path("third")}), 1);
  EXPECT_FALSE(exists(other.path("third")));
}

// A refused last step (registering "BaseDir") leaves nothing behind.
TEST(PdaInit, AFailedInitLeavesNothingThatLooksInstalled) {
  pdatest::TempMachine machine;
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  const Result r = pda(machine, "init");
  unsetenv("PDA_REGISTRY_READONLY");
  expectFailure(r, 1, "access is denied");
  std::string left;
  pdatest::run("cd " + quote(machine.root()) + " && find . -mindepth 1 ! -name tool.stderr", &left);
  EXPECT_EQ(left, "");
  ok(machine, "init");
}

// The registry store at the edges of each range; --source overrides the
// default store without deciding (or publishing) it, the registry switch makes
// show, get and set follow it, show explains it, and "False" switches back.
TEST(PdaGetSet, TheRegistryAtTheEdgesOfEachRangeAndTheSwitch) {
  pdatest::TempMachine machine;
  EXPECT_EQ(ok(machine, "set VisaPxiImplementation 7 --source registry"),
            "Set VisaPxiImplementation to 7 in the registry\n");
  for (const char* edge :
       {"IOControlHidden yes true", "VisaPxiImplementation 2147483647", "QuillonVisaPresent 0"}) {
    SCOPED_TRACE(edge);
    const Args a = split(edge);
    ok(machine, "set " + a[0] + " " + a[1] + " --source registry");
    EXPECT_EQ(ok(machine, "get " + a[0] + " --source REGISTRY"), a.back() + "\n");
  }
  pdatest::TempMachine installed;
  ok(installed, "init");
  expectLike(json(installed, "show --source defaults")["dataSource"],
             R"({"chosen": "DeviceIoDataSource", "requested": true, "published": null})");
  const std::string switchTo =
      std::string("reg|add|") + kSwitchKey + "|/v|_UseRegistryForPersistedData|/t|REG_SZ|/d|";
  ok(installed, switchTo + "TRUE");
  ok(installed, "reg add " + kSettingsKey + " /v WaitForIOReadyMilliseconds /t REG_DWORD /d 1234");
  const nlohmann::json doc = json(installed, "show");
  expectLike(doc, R"({"dataSource": {"chosen": "RegistryDataSource", "installed": true,
      "registrySwitch": {"type": "REG_SZ", "value": "TRUE"}, "published": {"value": "Registry"}},
      "settings": {"values": {"WaitForIOReadyMilliseconds": {"value": 1234, "origin": "stored"}}}})");
  EXPECT_TRUE(contains(doc["dataSource"]["reason"].get<std::string>(), "registry"));
  ok(installed, "set AutoStartIOServer 7");
  EXPECT_EQ(regBytes(kRawSettingsKey, "AutoStartIOServer"), std::string("\x07\0\0\0", 4));
  EXPECT_EQ(stored(installed, "SELECT COUNT(*) FROM KestInfo WHERE NAME='AutoStartIOServer';"),
            "0\n");
  ok(installed, switchTo + "False|/f");
  EXPECT_EQ(json(installed, "show")["dataSource"]["chosen"], "SQLiteDataSource");
}

// Every reading command fails with the store and its reason; doctor names the
// same problem.
TEST(PdaHealth, BrokenStoresFailWithTheStoreAndItsReason) {
  const std::string readers = "get IOControlHidden;alias list;favorite x;unset IOControlHidden";
  const struct {
    const char* breakIt;   // a script run in the machine's root
    const char* prefix;    // shell text before the tool
    std::string commands;  // ';' between them; each fails with status 1
    const char* reason;    // in each message and in doctor's report
  } cases[] = {
      {"echo no >\"$DATA/Quillon.db\"", "", readers, "file is not a database"},
      {"rm \"$BASE/bin/SQLite.Interop.dll\"", "", readers, "No such file or directory"},
      {"pda reg add 'HKLM\\SOFTWARE\\Vantrel\\Quillon\\CurrentVersion' /v "
       "IOControlHidden /d True\n"
       "printf X | dd "
       "of=registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values bs=1 "
       "seek=20 conv=notrunc",
       "", "show --source registry;set IOControlHidden false --source registry", "is damaged"},
      // Tests run as root: the tool runs as nobody.
      {"chmod 700 .", "setpriv --reuid=65534 --regid=65534 --clear-groups",
       "get IOControlHidden;show", "Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.breakIt);
    pdatest::TempMachine machine;
    ok(machine, "init");
    std::string out;
    ASSERT_EQ(runScript(machine,
                        "set -e\nDATA=" + quote(machine.dataDir()) +
                            " BASE=" + quote(machine.baseDir()) + "\n" + c.breakIt,
                        &out),
              0)
        << out;
    for (const std::string& command : split(c.commands, ';')) {
      SCOPED_TRACE(command);
      const Result r = pdaWith(machine, c.prefix, command);
      if (command.rfind("show", 0) == 0) {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.out, "\nProblems\n")) << r.out;
      } else {
        expectFailure(r, 1);
      }
      EXPECT_TRUE(contains(r.err, c.reason)) << r.err;
    }
    const Result doctor = pdaWith(machine, c.prefix, "doctor");
    EXPECT_EQ(doctor.status, 1);
    EXPECT_TRUE(contains(doctor.out, "FAIL") && contains(doctor.out, c.reason)) << doctor.out;
  }
}

// A database the sqlite3 client holds with BEGIN EXCLUSIVE: reads and writes
// report it as locked.
TEST(PdaHealth, DatabaseHeldByAnotherProcessIsReportedAsLocked) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  const std::string pidFile = machine.path("holder.pid"), ready = machine.path("holder.ready");
  // In a process group of its own, so that the client and its feeder end
  // together.
  pdatest::run(
      "setsid sh -c '(echo \"BEGIN EXCLUSIVE;\"; echo .print held; "
      "sleep 30) | sqlite3 \"$0\" "
      ">\"$1\" 2>&1' " +
      quote(machine.dataDir() + "Quillon.db") + " " + quote(ready) +
      " >/dev/null 2>&1 </dev/null & echo $! >" + quote(pidFile));
  for (int i = 0; i < 500 && readText(ready) != "held\n"; ++i) pdatest::run("sleep 0.01");
  ASSERT_EQ(readText(ready), "held\n") << "the sqlite3 client did not take the lock";
  for (const char* command : {"get IOControlHidden", "set IOControlHidden true"})
    expectFailure(pda(machine, command), 1, "database is locked (another process has held it");
  EXPECT_TRUE(contains(pda(machine, "doctor --json").out, "database is locked"));
  pdatest::run("kill -- -$(cat " + quote(pidFile) + ") 2>/dev/null; sleep 0.1");
}

// Values longer than a store's reader takes are refused before anything is
// written; a value the registry reader cannot take is reported.
TEST(PdaWrites, RefusedBeforeWritingWhatWouldNotReadBack) {
  pdatest::TempMachine fresh;
  expectFailure(pda(fresh, "set IOControlHidden true"), 1, "pda init installs a store");
  pdatest::TempMachine machine;
  ok(machine, "init");
  const std::string longest(1023, 'r');
  ok(machine, {"set", "DmcLoggingLevel", longest, "--source", "registry"});
  EXPECT_EQ(ok(machine, "get DmcLoggingLevel --source registry"), longest + "\n");
  expectFailure(pda(machine, {"set", "DmcLoggingLevel", longest + "r", "--source", "registry"}), 1,
                "at most 1,023");
  ok(machine, {"set", "DmcLoggingLevel", std::string(65535, 's')});
  EXPECT_EQ(ok(machine, "get DmcLoggingLevel"), std::string(65535, 's') + "\n");
  expectFailure(pda(machine, {"set", "DmcLoggingLevel", std::string(65536, 's')}), 1,
                "at most 65535");
  pdatest::regSetString(kRawSettingsKey, "Huge", std::string(2000, 'h'));
  expectFailure(pda(machine, "set AutoStartIOServer 1 --source registry"), 1,
                "'Huge' has 2001 bytes");
  EXPECT_EQ(regBytes(kRawSettingsKey, "AutoStartIOServer"), "<none>");
}

// unset removes every letter-case spelling, on both stores and for VISA.
TEST(PdaUnset, RemovesEverySpellingSoThatTheDefaultApplies) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  stored(machine,
         "INSERT INTO KestInfo (NAME, VALUE) VALUES ('iocontrolhidden', 'True'),"
         " ('IOCONTROLHIDDEN', 'True');");
  EXPECT_TRUE(contains(ok(machine, "unset IocontrolHidden"), "Removed IOControlHidden"));
  EXPECT_EQ(json(machine, "get IOControlHidden")["origin"], "default");
  EXPECT_TRUE(contains(ok(machine, "unset IOControlHidden"), "Nothing to remove"));
  ok(machine, "set WaitForIOReadyMilliseconds 5 --source registry");
  ok(machine, "unset waitforioreadymilliseconds --source registry");
  EXPECT_EQ(regBytes(kRawSettingsKey, "WaitForIOReadyMilliseconds"), "<none>");
  ok(machine, "visa log-mode debugger");
  ok(machine, "visa unset LOGGING");
  EXPECT_EQ(json(machine, "visa log-mode")["origin"], "default");
}

// doctor finds a missing index and an unpublished switch and --fix repairs
// both; a machine without the suite cannot be fixed.
TEST(PdaDoctor, FreshInitPassesAndFixRepairsWhatItClaims) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  EXPECT_EQ(json(machine, "doctor")["problems"], 0);
  stored(machine, "DROP INDEX ConfigDataByIdKey;");
  pdatest::regSetDword(kRawSwitchKey, "_UseRegistryForPersistedData", 1);
  const Result broken = pda(machine, "doctor");
  EXPECT_EQ(broken.status, 1);
  EXPECT_TRUE(contains(broken.out, "no ConfigDataByIdKey") &&
              contains(broken.out, "no choice (\"Registry\") is published"))
      << broken.out;
  EXPECT_TRUE(contains(ok(machine, "doctor --fix"), "fixed  added the index"));
  EXPECT_TRUE(contains(stored(machine,
                              "EXPLAIN QUERY PLAN SELECT IDKEY, NAME, VALUE FROM "
                              "ConfigData ORDER BY IDKEY;"),
                       "USING COVERING INDEX ConfigDataByIdKey"));
  EXPECT_STREQ(regBytes(kRawSwitchKey, "_UnmanagedCodePersistedDataStore").c_str(), "Registry");
  pdatest::TempMachine bare;
  const Result r = pda(bare, "doctor --fix --json");
  EXPECT_EQ(r.status, 1);
  expectLike(nlohmann::json::parse(r.out)["fixed"], "[]");
}

}  // namespace

#endif  // !_WIN32
