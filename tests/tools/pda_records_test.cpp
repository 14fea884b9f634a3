// pda alias, visa, favorite, config, sorrel, chassis, usage, log and watch
// end to end on a `pda init` installation: writes on both stores read back by
// a new process and found where the suite's readers look, and the watcher, a
// process of its own, printing changes other processes make.
#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <PersistedDataAccess.h>

#  include <chrono>
#  include <thread>

#  include "ToolRun.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

const std::string kScope = "TCPIP0::192.168.1.20::inst0::INSTR";

// An installed suite whose registry also holds an interface with one
// instrument.
void prepare(const pdatest::TempMachine& machine) {
  ok(machine, "init");
  ok(machine, "reg add " + kSettingsKey + "\\INTF3 /v VISAName /d GPIB3");
  ok(machine, "reg add " + kSettingsKey + "\\INTF3\\dev1 /v Addr /d GPIB3::5::INSTR");
}

// Resolution without regard to case, by kind, an unknown name given back;
// listing in name order.
TEST(PdaAlias, ResolvesAndListsWithoutRegardToCase) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  EXPECT_EQ(ok(machine, "alias resolve SCOPE"), kScope + "\n");
  EXPECT_EQ(ok(machine, "alias resolve scope --brix"), "scope\n");
  const Result r = pda(machine, "alias resolve nosuch");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, "no VISA alias")) << r.err;
  expectLike(json(machine, "alias resolve nosuch"), R"({"resolved": false, "address": "nosuch"})");
  stored(machine,
         "DELETE FROM InstrAliasInfo;"
         "INSERT INTO InstrAliasInfo (IDKEY, NAME, VALUE) VALUES"
         " ('b', 'AliasVisaId', 'B::INSTR'), ('A', 'aliasvisaid', 'A::INSTR'),"
         " ('x''y', 'AliasBrixId', 'q''uote'), ('other', 'SomethingElse', "
         "'ignored');");
  expectLike(json(machine, "alias list")["aliases"],
             R"([{"alias": "A"}, {"alias": "b", "address": "B::INSTR"},
                 {"kind": "brix", "alias": "x'y", "address": "q'uote"}])");
  EXPECT_EQ(json(machine, "alias list --brix")["aliases"].size(), 1u);
  expectFailure(pda(machine, "alias list --visa --brix"), 2);
}

// visa log-mode and visa get/set on the database, names as the suite spells
// them; values out of range and unknown names refused.
TEST(PdaVisa, LogModeGetAndSet) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, "visa log-mode Debugger");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM VisaInfo WHERE NAME='Logging';"), "DEBUGGER\n");
  ok(machine, "visa|set|spec version|5");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM VisaInfo WHERE NAME='Spec Version';"), "5\n");
  for (const char* bad :
       {"visa log-mode loud", "visa set DefaultQSize 2147483648", "visa get NoSuchSetting"})
    expectFailure(pda(machine, bad), 2);
}

// Alias writes on both stores land where the alias reader reads them.
TEST(PdaEdit, AliasesAreWrittenWhereTheAliasReaderReadsThem) {
  pdatest::TempMachine machine;
  prepare(machine);
  for (const std::string store : {" --source sqlite", " --source registry"}) {
    SCOPED_TRACE(store);
    ok(machine, "alias add Meter GPIB3::5::INSTR" + store);
    ok(machine, "alias add meter GPIB3::6::INSTR" + store);  // a new spelling replaces
    ok(machine, "alias add hub usb0,1,2,SN,0 --brix" + store);
    EXPECT_EQ(ok(machine, "alias resolve METER" + store), "GPIB3::6::INSTR\n");
    ok(machine, "alias remove METER" + store);
    expectFailure(pda(machine, "alias remove meter" + store), 1);
  }
  EXPECT_EQ(stored(machine, "SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo WHERE IDKEY = 'hub';"),
            "hub|AliasBrixId|usb0,1,2,SN,0\n");
  EXPECT_EQ(ok(machine, "alias resolve scope"), kScope + "\n");
  EXPECT_EQ(json(machine, "reg query " + kSettingsKey + "\\Devices /v hub")["data"],
            "usb0,1,2,SN,0");
  expectFailure(pda(machine, "alias add a b --source defaults"), 2);
}

// Favourites and remote session parameters on both stores, read by a new
// process.
TEST(PdaEdit, FavouritesAndRemoteSessionParametersReadBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  for (const std::string store : {" --source sqlite", " --source registry"}) {
    SCOPED_TRACE(store);
    ok(machine, "favorite set " + kScope + " OFF" + store);
    EXPECT_EQ(ok(machine, "favorite " + kScope + store), "off\n");
    ok(machine, "favorite set " + kScope + " unset" + store);
    EXPECT_EQ(ok(machine, "favorite " + kScope + store), "not set\n");
    ok(machine, "sorrel set vxi11Server host,port" + store);
    EXPECT_EQ(json(machine, "sorrel" + store)["parameters"]["vxi11Server"], "host,port");
  }
  EXPECT_EQ(stored(machine, "SELECT NAME, VALUE FROM SorrelParamInfo;"), "vxi11Server|host,port\n");
  EXPECT_EQ(stored(machine, "SELECT COUNT(*) FROM InstrumentFavorites;"), "0\n");
}

// On SQLite the value goes under the IDKEY the record was read from
// ("IF-LAN0"); an unknown interface is named with the ones there are.
TEST(PdaEdit, ConfigSetReadsBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  ok(machine,
     "config set GPIB3 Addr GPIB3::7::INSTR --instrument dev1 "
     "--source registry");
  EXPECT_EQ(ok(machine, "config get GPIB3 addr --instrument DEV1 --source registry"),
            "GPIB3::7::INSTR\n");
  expectFailure(pda(machine, "config set GPIB9 Disabled TRUE --source registry"), 2,
                "there are: GPIB3");
  expectFailure(pda(machine, "config get GPIB3 Nope --source registry"), 1);
  ok(machine, "config set TCPIP0 Disabled TRUE");
  EXPECT_EQ(stored(machine, "SELECT IDKEY, VALUE FROM ConfigData WHERE NAME = 'Disabled';"),
            "IF-LAN0|TRUE\n");
}

Args chassisArgs(const std::string& serial, const std::string& vendor) {
  return split("chassis add " + serial + " --vendor " + vendor +
               " --model M9019A --usb USB0::1::INSTR --manf-id 10893 "
               "--model-id 7 --state 0");
}

// Known serials in other letter case are only marked present; removal finds
// any spelling; a serial too long for the engine's field is refused.
TEST(PdaChassis, AddsListsMarksPresentAndRemoves) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, chassisArgs("MY001", "Tessaro"));
  ok(machine, chassisArgs("MY002", "Other"));
  EXPECT_TRUE(contains(ok(machine, chassisArgs("my001", "Changed")), "already known"));
  expectLike(json(machine, "chassis list")["chassis"],
             R"([{"serial": "MY001", "Vendor": "Tessaro", "ManfID": 10893, "State": 1}, {}])");
  ok(machine, "chassis remove My001");
  expectFailure(pda(machine, "chassis remove MY001"), 1);
  expectFailure(pda(machine, chassisArgs(std::string(256, 'S'), "V")), 2);
  EXPECT_EQ(
      pdatest::sqlite(machine.pxiDir() + "RemotePXI.db", "SELECT DISTINCT IDKEY FROM Chassis;"),
      "MY002\n");
}

// usage add writes its table's columns; a missing database is not created.
TEST(PdaUsage, AddsRowsInTheirColumnsAndShowsThem) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, "usage add c it's.exe 2026-01-02T03:04:05");
  ok(machine, "usage add session remote -1 T4");
  EXPECT_EQ(pdatest::sqlite(machine.dataDir() + "DataAnalytics.db",
                            "SELECT ProcessName, AccessTime FROM VISACAccess;"),
            "it's.exe|2026-01-02T03:04:05\n");
  expectLike(json(machine, "usage show"), R"({"SorrelSessionAccess": [{"UsageCount": -1}]})");
  pdatest::TempMachine bare;
  bare.installSuite();
  expectFailure(pda(bare, "usage add c p.exe T"), 1);
  EXPECT_FALSE(exists(bare.dataDir() + "DataAnalytics.db"));
}

// Events written through the library's reporting, filtered and the last few.
TEST(PdaLog, FiltersByTypeAndKeepsTheLastEvents) {
  pdatest::TempMachine machine;
  logEvent("ToolTest", 1, "first error");
  logEvent("ToolTest", 2, "a warning");
  logEvent("ToolTest", 1, "second error\nwith a second line");
  expectLike(json(machine, "log --type ERROR")["events"],
             R"([{}, {"message": "second error\nwith a second line", "type": "ERROR"}])");
  expectLike(json(machine, "log --last 2")["events"], R"([{"type": "WARNING"}, {}])");
  EXPECT_TRUE(contains(ok(machine, "log --type error"), "second error\\nwith a second line"));
}

// Polls path until it holds expected, at most a few seconds.
bool waitFor(const std::string& path, const std::string& expected) {
  for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
    if (readText(path).find(expected) != std::string::npos) return true;
  return false;
}

// User plus system time of the processes pids (blanks between), in clock ticks.
long cpuTicks(const std::string& pids) {
  std::string out;
  pdatest::run("cd /proc && for p in " + pids +
                   "; do cat $p/stat; done | awk '{s += $14 + $15} END {print s}'",
               &out);
  return std::stol(out);
}

struct Watcher {
  std::string pid, out;
  Watcher(const pdatest::TempMachine& machine, const std::string& args, const std::string& name)
      : out(machine.path(name + ".out")) {
    pdatest::run(quote(PDA_TOOL_PATH) + " watch " + args + " >" + quote(out) + " 2>" +
                     quote(out + ".err") + " </dev/null & echo -n $!",
                 &pid);
    waitFor(out + ".err", "watching");
  }
  ~Watcher() {
    pdatest::run("kill -INT " + pid + "; while kill -0 " + pid +
                 "; do sleep 0.02; done 2>/dev/null");
  }
};

// Watchers of each store see other processes' writes, filtered by name, and
// use no processor time while idle.
TEST(PdaWatch, PrintsChangesOtherProcessesMakeOnEachStore) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, "set IOControlHidden false --source registry");
  Watcher sqlite(machine, "", "sqlite");
  Watcher registry(machine, "--source registry iocontrolhidden", "registry");
  const long before = cpuTicks(sqlite.pid + " " + registry.pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LE(cpuTicks(sqlite.pid + " " + registry.pid) - before, 5);
  ok(machine, "set IOControlHidden true");
  EXPECT_TRUE(waitFor(sqlite.out, " sqlite globalSettings IOControlHidden (none) -> \"True\"\n"))
      << readText(sqlite.out);
  ok(machine, "alias add meter GPIB0::5::INSTR --source registry");
  ok(machine, "set IOControlHidden true --source registry");
  EXPECT_TRUE(
      waitFor(registry.out, " registry globalSettings IOControlHidden \"False\" -> \"True\"\n"))
      << readText(registry.out);
  const std::string lines = readText(registry.out);
  EXPECT_EQ(lines.find('\n'), lines.size() - 1) << lines;
  EXPECT_EQ(lines[23], 'Z') << lines;
}

}  // namespace

#endif  // !_WIN32
