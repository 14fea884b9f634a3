// The tool against real broken stores: every reading command fails with the
// store and its reason instead of printing defaults, doctor names the same
// problem, writes that would not read back are refused before anything is
// written, unset, and doctor --fix on a fresh machine.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sys/stat.h>

#  include <fstream>
#  include <functional>
#  include <string>
#  include <vector>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::ok;
using tooltest::pda;
using tooltest::pdaWith;
using tooltest::quote;

const char* const kStoreKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
const char* const kSwitchKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

std::string configDb(const pdatest::TempMachine& m) {
  return m.dataDir() + "Quillon.db";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(ready);
      std::string line;
      if (std::getline(in, line) && line == "held") return;
      pdatest::run("sleep 0.01");
    }
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
    std::string prefix;                              // shell text before the tool
    std::vector<std::vector<std::string>> commands;  // each must fail with status 1
    const char* reason;                              // in each message and in doctor's report
  };
  const std::vector<std::vector<std::string>> readers = {
      {"get", "IOControlHidden"},         {"alias", "list"},
      {"visa", "get", "DefaultQSize"},    {"favorite", "x"},
      {"set", "IOControlHidden", "true"}, {"unset", "IOControlHidden"}};
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
         pdatest::regSetString(kStoreKey, "IOControlHidden", "True");
         std::fstream f(m.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values"),
                        std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(20);
         f.put('X');
       },
       "",
       {{"get", "IOControlHidden", "--source", "registry"},
        {"show", "--source", "registry"},
        {"set", "IOControlHidden", "false", "--source", "registry"}},
       "is damaged"},
      {"unreadable root",  // tests run as root: the tool runs as nobody
       [](const pdatest::TempMachine& m) { chmod(m.root().c_str(), 0700); },
       "setpriv --reuid=65534 --regid=65534 --clear-groups",
       {{"get", "IOControlHidden"}, {"show"}, {"alias", "list"}},
       "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pdatest::TempMachine machine;
    ok(machine, {"init"});
    c.breakIt(machine);
    for (const auto& args : c.commands) {
      SCOPED_TRACE(args[0]);
      const tooltest::Result r = pdaWith(machine, c.prefix, args);
      if (args[0] == "show") {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.out, "\nProblems\n")) << r.out;
      } else {
        expectFailure(r, 1);
      }
      EXPECT_TRUE(contains(r.err, c.reason)) << r.err;
    }
    const tooltest::Result doctor = pdaWith(machine, c.prefix, {"doctor"});
    EXPECT_EQ(doctor.status, 1);
    EXPECT_TRUE(contains(doctor.out, "FAIL") && contains(doctor.out, c.reason)) << doctor.out;
  }
}

TEST(PdaHealth, DatabaseHeldByAnotherProcessIsReportedAsLocked) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  ExclusiveHolder holder(machine);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"get", "IOControlHidden"}, {"set", "IOControlHidden", "true"}}) {
    SCOPED_TRACE(args[0]);
    const tooltest::Result r = pda(machine, args);
    expectFailure(r, 1);
    EXPECT_TRUE(contains(r.err, "database is locked (another process has held it")) << r.err;
  }
  const tooltest::Result doctor = pda(machine, {"doctor", "--json"});
  EXPECT_EQ(doctor.status, 1);
  EXPECT_TRUE(contains(doctor.out, "database is locked")) << doctor.out;
}

TEST(PdaWrites, RefusedBeforeWritingWhatWouldNotReadBack) {
  pdatest::TempMachine fresh;
  // The built-in defaults keep nothing.
  tooltest::Result r = pda(fresh, {"set", "IOControlHidden", "true"});
  expectFailure(r, 1);
  EXPECT_TRUE(contains(r.err, "pda init installs a store")) << r.err;

  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string longest(1023, 'r');
  const struct {
    std::vector<std::string> args;
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
    r = pda(machine, c.args);
    if (!c.refusal) {
      EXPECT_EQ(r.status, 0) << r.err;
      std::vector<std::string> get = c.args;
      get.erase(get.begin() + 2);
      get[get[0] == "visa" ? 1 : 0] = "get";
      EXPECT_EQ(ok(machine, get), c.args[2] + "\n");
    } else {
      expectFailure(r, 1);
      EXPECT_TRUE(contains(r.err, c.refusal)) << r.err;
    }
  }
  EXPECT_EQ(ok(machine, {"get", "DmcLoggingLevel", "--source", "registry"}), longest + "\n");

  // A value the registry store's reader cannot take hides those after it: the
  // store is reported, and nothing more is written behind it.
  pdatest::regSetString(kStoreKey, "Huge", std::string(2000, 'h'));
  r = pda(machine, {"set", "AutoStartIOServer", "1", "--source", "registry"});
  expectFailure(r, 1);
  EXPECT_TRUE(contains(r.err, "'Huge' has 2001 bytes")) << r.err;
  unsigned int type = 0;
  std::string bytes;
  EXPECT_FALSE(pdatest::regGet(kStoreKey, "AutoStartIOServer", &type, &bytes));

  // A refusal by the store names its cause.
  pdatest::TempMachine readOnly;
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  r = pda(readOnly, {"set", "AutoStartIOServer", "1", "--source", "registry"});
  unsetenv("PDA_REGISTRY_READONLY");
  expectFailure(r, 1);
  EXPECT_TRUE(contains(r.err, "access is denied")) << r.err;
}

TEST(PdaUnset, RemovesEverySpellingSoThatTheDefaultApplies) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  pdatest::sqlite(configDb(machine),
                  "INSERT INTO KestInfo (NAME, VALUE) VALUES ('iocontrolhidden', 'True'),"
                  " ('IOCONTROLHIDDEN', 'True');");
  EXPECT_EQ(ok(machine, {"get", "IOControlHidden"}), "true\n");
  EXPECT_TRUE(contains(ok(machine, {"unset", "IocontrolHidden"}), "Removed IOControlHidden"));
  EXPECT_EQ(pdatest::sqlite(configDb(machine),
                            "SELECT count(*) FROM KestInfo WHERE NAME LIKE 'iocontrolhidden';"),
            "0\n");
  EXPECT_EQ(tooltest::json(machine, {"get", "IOControlHidden"})["origin"], "default");
  EXPECT_TRUE(contains(ok(machine, {"unset", "IOControlHidden"}), "Nothing to remove"));

  ok(machine, {"set", "WaitForIOReadyMilliseconds", "5", "--source", "registry"});
  ok(machine, {"unset", "waitforioreadymilliseconds", "--source", "registry"});
  unsigned int type = 0;
  std::string bytes;
  EXPECT_FALSE(pdatest::regGet(kStoreKey, "WaitForIOReadyMilliseconds", &type, &bytes));

  ok(machine, {"visa", "log-mode", "debugger"});
  ok(machine, {"visa", "unset", "LOGGING"});
  EXPECT_EQ(tooltest::json(machine, {"visa", "log-mode"})["origin"], "default");
  expectFailure(pda(machine, {"unset", "NoSuchSetting"}), 2);
}

TEST(PdaDoctor, FreshInitPassesAndFixRepairsWhatItClaims) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const nlohmann::json clean = tooltest::json(machine, {"doctor"});
  EXPECT_EQ(clean["problems"], 0) << clean.dump();
  EXPECT_GE(clean["checks"].size(), 12u);

  // An older database without the index, and a switch set while no program
  // of the suite has published its choice.
  pdatest::sqlite(configDb(machine), "DROP INDEX ConfigDataByIdKey;");
  pdatest::regSetDword(kSwitchKey, "_UseRegistryForPersistedData", 1);
  const tooltest::Result broken = pda(machine, {"doctor"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_TRUE(contains(broken.out, "no ConfigDataByIdKey")) << broken.out;
  EXPECT_TRUE(contains(broken.out, "no choice (\"Registry\") is published")) << broken.out;

  const std::string fixed = ok(machine, {"doctor", "--fix"});
  EXPECT_TRUE(contains(fixed, "fixed  added the index")) << fixed;
  EXPECT_FALSE(contains(fixed, "FAIL")) << fixed;
  EXPECT_EQ(pdatest::sqlite(configDb(machine),
                            "EXPLAIN QUERY PLAN SELECT IDKEY, NAME, VALUE FROM ConfigData "
                            "ORDER BY IDKEY;")
                    .find("USING COVERING INDEX ConfigDataByIdKey") != std::string::npos,
            true);
  unsigned int type = 0;
  std::string published;
  ASSERT_TRUE(pdatest::regGet(kSwitchKey, "_UnmanagedCodePersistedDataStore", &type, &published));
  EXPECT_STREQ(published.c_str(), "Registry");

  // A machine without the suite is a problem doctor cannot fix.
  pdatest::TempMachine bare;
  const tooltest::Result r = pda(bare, {"doctor", "--fix", "--json"});
  EXPECT_EQ(r.status, 1);
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["fixed"].size(), 0u);
  EXPECT_EQ(doc["checks"][1]["check"], "suite marker");
  EXPECT_EQ(doc["checks"][1]["ok"], false);
}

}  // namespace

#endif  // !_WIN32
