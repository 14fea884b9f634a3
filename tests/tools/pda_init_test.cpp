// pda init end to end: the installed layout, the sample databases, the
// refusal to overwrite, and show/get/set on the SQLite store afterwards.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sys/stat.h>

#  include "ToolRun.h"

namespace {

using tooltest::json;
using tooltest::ok;
using tooltest::pda;

bool isLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(PdaInit, LaysOutAnInstalledSuiteWithSampleDatabases) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});

  EXPECT_TRUE(isLink(machine.baseDir() + "bin/SQLite.Interop.dll"));
  EXPECT_TRUE(exists(machine.baseDir() + "bin/SQLite.Interop.dll")) << "dangling link";
  EXPECT_TRUE(exists(machine.systemDir() + "/brix32.dll"));
  unsigned int type = 0;
  std::string baseDir;
  ASSERT_TRUE(pdatest::regGet("SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion",
                              "BaseDir", &type, &baseDir));
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(std::string(baseDir.c_str()), machine.baseDir());

  const std::string config = machine.dataDir() + "Quillon.db";
  EXPECT_EQ(
      pdatest::sqlite(config, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;"),
      "ConfigData\nInstrAliasInfo\nInstrumentFavorites\nKestInfo\nSorrelParamInfo\nVisaInfo\n");
  EXPECT_EQ(pdatest::sqlite(config, "SELECT COUNT(DISTINCT IDKEY) FROM ConfigData;"), "5\n");
  const std::string usage = machine.dataDir() + "DataAnalytics.db";
  EXPECT_EQ(
      pdatest::sqlite(usage, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;"),
      "SorrelSessionAccess\nVISACAccess\nVISACOMAccess\nVISANETAccess\n");
  EXPECT_EQ(
      pdatest::sqlite(usage, "SELECT sql FROM sqlite_master WHERE name='SorrelSessionAccess';"),
      "CREATE TABLE SorrelSessionAccess (SessionType TEXT, UsageCount INTEGER, "
      "StatisticsTime TEXT)\n");

  // The process now defaults to the SQLite store and reads the sample tree.
  const nlohmann::json doc = json(machine, {"show"});
  EXPECT_EQ(doc["dataSource"]["chosen"], "SQLiteDataSource");
  EXPECT_TRUE(doc["dataSource"]["installed"].get<bool>());
  const nlohmann::json& interfaces = doc["ioConfiguration"]["interfaces"];
  ASSERT_EQ(interfaces.size(), 2u) << interfaces.dump();
  EXPECT_EQ(interfaces[0]["name"], "TCPIP0");
  EXPECT_EQ(interfaces[0]["children"].size(), 1u);
  EXPECT_EQ(interfaces[1]["name"], "USB0");
  EXPECT_EQ(interfaces[1]["children"].size(), 2u);
  EXPECT_EQ(interfaces[1]["children"][0]["recordType"], "Instrument");
  EXPECT_EQ(doc["aliases"].size(), 4u);
  EXPECT_EQ(doc["favorites"]["TCPIP0::192.168.1.20::inst0::INSTR"], "on");
  EXPECT_EQ(doc["visa"]["logMode"]["stored"], "off");
  EXPECT_EQ(doc["visa"]["logMode"]["origin"], "stored");
  EXPECT_EQ(doc["visa"]["values"]["Manufacturer"]["origin"], "default");
}

TEST(PdaInit, SetWritesTheDatabaseAndShowTellsStoredFromDefault) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string config = machine.dataDir() + "Quillon.db";

  ok(machine, {"set", "WaitForIOReadyMilliseconds", "4321"});
  EXPECT_EQ(pdatest::sqlite(config,
                            "SELECT VALUE FROM KestInfo WHERE NAME='WaitForIOReadyMilliseconds';"),
            "4321\n");
  EXPECT_EQ(ok(machine, {"get", "waitforioreadymilliseconds"}), "4321\n");
  nlohmann::json got = json(machine, {"get", "WaitForIOReadyMilliseconds"});
  EXPECT_EQ(got["value"], 4321);
  EXPECT_EQ(got["origin"], "stored");
  EXPECT_EQ(json(machine, {"get", "InstallLevel"})["origin"], "default");

  // A value changed behind the tool's back is what it shows next.
  pdatest::sqlite(config,
                  "UPDATE KestInfo SET VALUE='77' WHERE NAME='WaitForIOReadyMilliseconds';");
  EXPECT_EQ(json(machine, {"show"})["settings"]["values"]["WaitForIOReadyMilliseconds"]["value"],
            77);

  ok(machine, {"visa", "set", "DefaultQSize", "100"});
  EXPECT_EQ(pdatest::sqlite(config, "SELECT VALUE FROM VisaInfo WHERE NAME='DefaultQSize';"),
            "100\n");
  ok(machine, {"visa", "set", "Manufacturer", "it's mine"});
  EXPECT_EQ(pdatest::sqlite(config, "SELECT VALUE FROM VisaInfo WHERE NAME='Manufacturer';"),
            "it's mine\n");
  EXPECT_EQ(ok(machine, {"visa", "get", "manufacturer"}), "it's mine\n");
  const nlohmann::json visa = json(machine, {"show"})["visa"]["values"];
  EXPECT_EQ(visa["DefaultQSize"]["value"], 100);
  EXPECT_EQ(visa["DefaultQSize"]["origin"], "stored");
  EXPECT_EQ(visa["MaxSessNbr"]["value"], 256);
  EXPECT_EQ(visa["MaxSessNbr"]["origin"], "default");
}

TEST(PdaInit, RefusesToOverwriteAnExistingDatabase) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string config = machine.dataDir() + "Quillon.db";
  pdatest::sqlite(config, "INSERT INTO KestInfo (NAME, VALUE) VALUES ('InstallLevel', '9');");

  tooltest::Result again = pda(machine, {"init"});
  tooltest::expectFailure(again, 1);
  EXPECT_NE(again.err.find("Quillon.db"), std::string::npos) << again.err;
  EXPECT_EQ(pdatest::sqlite(config, "SELECT VALUE FROM KestInfo WHERE NAME='InstallLevel';"),
            "9\n");
}

TEST(PdaInit, RefusesWhenOnlyTheUsageDatabaseExists) {
  pdatest::TempMachine other;
  ASSERT_EQ(pdatest::run("mkdir -p " + tooltest::quote(other.dataDir())), 0);
  pdatest::sqlite(other.dataDir() + "DataAnalytics.db", "CREATE TABLE Keep (x);");
  tooltest::expectFailure(pda(other, {"init"}), 1);
  EXPECT_FALSE(exists(other.dataDir() + "Quillon.db"));
}

TEST(PdaInit, TakesTheRootAsAnArgument) {
  pdatest::TempMachine machine;
  const std::string root = machine.path("elsewhere");
  ok(machine, {"init", root});
  EXPECT_TRUE(exists(root + "/ProgramData/Tessaro/Tessaro Quillon/Quillon.db"));
  EXPECT_TRUE(exists(root + "/System32/brix32.dll"));
  // The machine of PDA_ROOT is untouched.
  EXPECT_FALSE(exists(machine.dataDir() + "Quillon.db"));
}

TEST(PdaInit, AFailedInitLeavesNothingThatLooksInstalled) {
  pdatest::TempMachine machine;
  // The last step, registering "BaseDir", is refused.
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  const tooltest::Result r = pda(machine, {"init"});
  unsetenv("PDA_REGISTRY_READONLY");
  tooltest::expectFailure(r, 1);
  EXPECT_NE(r.err.find("access is denied"), std::string::npos) << r.err;
  std::string left;
  pdatest::run(
      "cd " + tooltest::quote(machine.root()) + " && find . -mindepth 1 ! -name tool.stderr",
      &left);
  EXPECT_EQ(left, "");
  EXPECT_EQ(pda(machine, {"doctor"}).status, 1);
  ok(machine, {"init"});  // nothing in the way of a second run
}

TEST(PdaInit, RelativeRootsEmptyDatabasesAndAnExistingBaseDirectory) {
  pdatest::TempMachine machine;
  // PDA_ROOT relative to the working directory: "BaseDir" is registered whole.
  ok(machine, {"init"});
  pdatest::TempMachine second;
  const tooltest::Result r =
      tooltest::pdaWith(second, "cd " + tooltest::quote(second.root()) + " && PDA_ROOT=rel",
                        {"init", "--no-samples", "--base-dir", machine.baseDir()});
  ASSERT_EQ(r.status, 0) << r.err;
  setenv("PDA_ROOT", (second.root() + "/rel").c_str(), 1);
  unsigned int type = 0;
  std::string baseDir;
  ASSERT_TRUE(pdatest::regGet("SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion",
                              "BaseDir", &type, &baseDir));
  EXPECT_EQ(std::string(baseDir.c_str()), machine.baseDir());
  const std::string config = second.root() + "/rel/ProgramData/Tessaro/Tessaro Quillon/Quillon.db";
  EXPECT_EQ(pdatest::sqlite(config,
                            "SELECT count(*) FROM ConfigData; SELECT count(*) FROM "
                            "sqlite_master WHERE name='ConfigDataByIdKey';"),
            "0\n1\n");
  EXPECT_FALSE(exists(second.root() + "/rel/Program Files"));
  setenv("PDA_ROOT", second.root().c_str(), 1);
  // A base directory without a loadable SQLite library is refused up front.
  const tooltest::Result bad =
      pda(second, {"init", "--base-dir", second.root(), second.path("third")});
  tooltest::expectFailure(bad, 1);
  EXPECT_FALSE(exists(second.path("third")));
}

}  // namespace

#endif
