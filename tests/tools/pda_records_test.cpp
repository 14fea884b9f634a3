// pda alias, visa, favorite, config, sorrel, chassis, usage, log and watch
// end to end on a `pda init` installation: reads of the sample; writes on
// both stores read back by a new process and found where the suite's readers
// look (checked with the sqlite3 client and the registry); events written
// through the library's own reporting; and the watcher, a process of its
// own, printing changes other processes make and using no processor time
// while nothing changes.
#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <PersistedDataAccess.h>

#  include <chrono>
#  include <csignal>
#  include <fstream>
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

TEST(PdaAlias, ResolvesAndListsWithoutRegardToCase) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  EXPECT_EQ(ok(machine, "alias resolve SCOPE"), kScope + "\n");
  EXPECT_EQ(ok(machine, "alias resolve bench-DMM --brix"), "usb0,10893,4865,MY53000001,0\n");
  // A VISA alias is no Brix alias.
  EXPECT_EQ(ok(machine, "alias resolve scope --brix"), "scope\n");
  const Result r = pda(machine, "alias resolve nosuch");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "nosuch\n");
  EXPECT_TRUE(contains(r.err, "no VISA alias")) << r.err;
  expectLike(json(machine, "alias resolve nosuch"), R"({"resolved": false, "address": "nosuch"})");
  EXPECT_TRUE(json(machine, "alias resolve Dmm")["resolved"].get<bool>());

  // Listed in name order and by kind.
  stored(machine,
         "DELETE FROM InstrAliasInfo;"
         "INSERT INTO InstrAliasInfo (IDKEY, NAME, VALUE) VALUES"
         " ('b', 'AliasVisaId', 'B::INSTR'), ('A', 'aliasvisaid', 'A::INSTR'),"
         " ('c', 'AliasVisaId', 'C::INSTR'), ('x''y', 'AliasBrixId', 'q''uote'),"
         " ('other', 'SomethingElse', 'ignored');");
  expectLike(json(machine, "alias list")["aliases"],
             R"([{"alias": "A"}, {"alias": "b"}, {"alias": "c", "address": "C::INSTR"},
                 {"kind": "brix", "alias": "x'y", "address": "q'uote"}])");
  EXPECT_EQ(json(machine, "alias list --visa")["aliases"].size(), 3u);
  EXPECT_EQ(json(machine, "alias list --brix")["aliases"].size(), 1u);
  expectFailure(pda(machine, "alias list --visa --brix"), 2);
  // The built-in defaults hold no aliases.
  EXPECT_TRUE(contains(ok(machine, "alias list --source defaults"), "(none)"));
}

TEST(PdaVisa, LogModeGetAndSetOnTheDatabase) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  const std::string query = "SELECT VALUE FROM VisaInfo WHERE NAME='Logging';";
  expectLike(json(machine, "visa log-mode"), R"({"stored": "off", "process": "off"})");
  ok(machine, "visa log-mode Debugger");
  EXPECT_EQ(stored(machine, query), "DEBUGGER\n");
  // A new process reads the new value.
  expectLike(json(machine, "visa log-mode"), R"({"stored": "debugger", "process": "debugger"})");
  ok(machine, "visa log-mode eventviewer");
  EXPECT_EQ(stored(machine, query), "EVENTVIEWER\n");
  ok(machine, "visa log-mode off");
  EXPECT_EQ(stored(machine, query), "OFF\n");
  // Keywords that are only read, and a trailing blank that is not trimmed.
  stored(machine, "UPDATE VisaInfo SET VALUE='brix' WHERE NAME='Logging';");
  EXPECT_EQ(json(machine, "visa log-mode")["stored"], "eventviewer");
  stored(machine, "UPDATE VisaInfo SET VALUE='EVENTVIEWER ' WHERE NAME='Logging';");
  EXPECT_EQ(json(machine, "visa log-mode")["stored"], "off");
  expectFailure(pda(machine, "visa log-mode loud"), 2);
  EXPECT_EQ(stored(machine, query), "EVENTVIEWER \n");

  EXPECT_EQ(ok(machine, "visa|get|Spec Version"), "0\n");
  ok(machine, "visa|set|spec version|5");
  EXPECT_EQ(stored(machine, "SELECT VALUE FROM VisaInfo WHERE NAME='Spec Version';"), "5\n");
  EXPECT_EQ(ok(machine, "visa|get|Spec Version"), "5\n");
  EXPECT_EQ(ok(machine, "visa get Manufacturer --source defaults"), "not specified\n");
  for (const char* bad : {"visa set DefaultQSize 12abc", "visa set DefaultQSize 2147483648",
                          "visa get NoSuchSetting", "visa set DefaultQSize"})
    expectFailure(pda(machine, bad), 2);
  EXPECT_EQ(ok(machine, "visa get DefaultQSize"), "50\n");

  stored(machine,
         "INSERT INTO InstrumentFavorites (NAME, VALUE) VALUES ('usb', 'OFF'), ('gpib', '1');");
  EXPECT_EQ(ok(machine, "favorite " + kScope), "on\n");
  EXPECT_EQ(ok(machine, "favorite USB"), "off\n");
  EXPECT_EQ(ok(machine, "favorite gpib"), "not set\n");
  EXPECT_EQ(json(machine, "favorite missing")["favorite"], "not set");
}

TEST(PdaEdit, AliasesAreWrittenWhereTheAliasReaderReadsThem) {
  pdatest::TempMachine machine;
  prepare(machine);
  for (const std::string store : {" --source sqlite", " --source registry"}) {
    SCOPED_TRACE(store);
    ok(machine, "alias add Meter GPIB3::5::INSTR" + store);
    ok(machine, "alias add meter GPIB3::6::INSTR" + store);  // replaces
    ok(machine, "alias add hub usb0,1,2,SN,0 --brix" + store);
    EXPECT_EQ(ok(machine, "alias resolve METER" + store), "GPIB3::6::INSTR\n");
    EXPECT_EQ(ok(machine, "alias resolve hub --brix" + store), "usb0,1,2,SN,0\n");
    // The other kind's table is untouched by either.
    EXPECT_EQ(ok(machine, "alias resolve hub" + store), "hub\n");
    ok(machine, "alias remove METER" + store);
    EXPECT_EQ(ok(machine, "alias resolve meter" + store), "meter\n");
    expectFailure(pda(machine, "alias remove meter" + store), 1);
  }
  EXPECT_EQ(stored(machine, "SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo WHERE IDKEY = 'hub';"),
            "hub|AliasBrixId|usb0,1,2,SN,0\n");
  // The sample's aliases stay.
  EXPECT_EQ(ok(machine, "alias resolve scope"), kScope + "\n");
  EXPECT_EQ(json(machine, "reg query " + kSettingsKey + "\\Devices /v hub")["data"],
            "usb0,1,2,SN,0");
  expectFailure(pda(machine, "alias add a b --source defaults"), 2);
}

TEST(PdaEdit, FavouritesAndRemoteSessionParametersReadBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  for (const std::string store : {" --source sqlite", " --source registry"}) {
    SCOPED_TRACE(store);
    for (const char* state : {"OFF off", "on on", "unset not set"}) {
      const std::string s = state;
      ok(machine, "favorite set " + kScope + " " + s.substr(0, s.find(' ')) + store);
      EXPECT_EQ(ok(machine, "favorite " + kScope + store), s.substr(s.find(' ') + 1) + "\n");
    }
    expectFailure(pda(machine, "favorite set " + kScope + " maybe" + store), 2);
    ok(machine, "sorrel set vxi11Server host,port" + store);
    EXPECT_EQ(json(machine, "sorrel" + store)["parameters"]["vxi11Server"], "host,port");
  }
  EXPECT_EQ(stored(machine, "SELECT NAME, VALUE FROM SorrelParamInfo;"), "vxi11Server|host,port\n");
  EXPECT_EQ(stored(machine, "SELECT COUNT(*) FROM InstrumentFavorites;"), "0\n");
  expectFailure(pda(machine, "sorrel set a b --source defaults"), 2);
}

// On SQLite the value goes under the IDKEY the record was read from
// ("IF-LAN0").
TEST(PdaEdit, ConfigSetReadsBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  ok(machine, "config set GPIB3 Disabled TRUE --source registry");
  ok(machine, "config set GPIB3 Addr GPIB3::7::INSTR --instrument dev1 --source registry");
  EXPECT_EQ(ok(machine, "config get gpib3 Disabled --source registry"), "TRUE\n");
  EXPECT_EQ(ok(machine, "config get GPIB3 addr --instrument DEV1 --source registry"),
            "GPIB3::7::INSTR\n");
  expectFailure(pda(machine, "config set GPIB9 Disabled TRUE --source registry"), 2,
                "there are: GPIB3");
  expectFailure(pda(machine, "config get GPIB3 Nope --source registry"), 1);

  ok(machine, "config set TCPIP0 Disabled TRUE");
  EXPECT_EQ(ok(machine, "config get TCPIP0 Disabled"), "TRUE\n");
  EXPECT_EQ(stored(machine, "SELECT IDKEY FROM ConfigData WHERE NAME = 'Disabled';"), "IF-LAN0\n");
}

// The rows of the seven chassis values of serial (the store may keep others).
std::string chassisRows(const std::string& db, const std::string& serial) {
  return pdatest::sqlite(db,
                         "SELECT COUNT(*) FROM Chassis WHERE IDKEY=" + pdatest::sqlQuote(serial) +
                             " AND NAME IN ('ChassisSN', 'Vendor', 'Model', 'ManfID', "
                             "'ModelID', 'USBAddress', 'State');");
}

Args chassisArgs(const std::string& serial, const std::string& vendor, const std::string& state) {
  return split("chassis add " + serial + " --vendor " + vendor +
               " --model M9019A --usb USB0::1::INSTR --manf-id 10893 --model-id 7 --state " +
               state);
}

TEST(PdaChassis, AddsListsMarksPresentAndRemoves) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, chassisArgs("MY001", "Tessaro", "0"));
  ok(machine, chassisArgs("MY002", "Other", "3"));
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  EXPECT_EQ(chassisRows(db, "MY001"), "7\n");
  expectLike(json(machine, "chassis list")["chassis"],
             R"([{"serial": "MY001", "Vendor": "Tessaro", "ManfID": 10893, "State": 0}, {}])");
  // Known, in other letter case: only marked present, the rest kept.
  EXPECT_TRUE(contains(ok(machine, chassisArgs("my001", "Changed", "0")), "already known"));
  expectLike(json(machine, "chassis list")["chassis"][0], R"({"Vendor": "Tessaro", "State": 1})");
  ok(machine, "chassis remove My001");
  EXPECT_EQ(chassisRows(db, "MY001"), "0\n");
  EXPECT_EQ(chassisRows(db, "MY002"), "7\n");
  expectFailure(pda(machine, "chassis remove MY001"), 1);
  // A serial number that does not fit the engine's field is refused, not cut.
  expectFailure(pda(machine, chassisArgs(std::string(256, 'S'), "V", "1")), 2);
  EXPECT_EQ(json(machine, "chassis list")["chassis"].size(), 1u);
}

TEST(PdaUsage, AddsRowsInTheirColumnsAndShowsThem) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  for (const char* add : {"c it's.exe 2026-01-02T03:04:05", "com com.exe T2", "net net.exe T3",
                          "session remote -1 T4"})
    ok(machine, std::string("usage add ") + add);
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName, AccessTime FROM VISACAccess;"),
            "it's.exe|2026-01-02T03:04:05\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName FROM VISACOMAccess;"), "com.exe\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName FROM VISANETAccess;"), "net.exe\n");
  EXPECT_EQ(pdatest::sqlite(
                db, "SELECT SessionType, UsageCount, StatisticsTime FROM SorrelSessionAccess;"),
            "remote|-1|T4\n");
  expectLike(json(machine, "usage show"), R"({"VISANETAccess": [{}],
      "VISACAccess": [{"ProcessName": "it's.exe", "AccessTime": "2026-01-02T03:04:05"}],
      "SorrelSessionAccess": [{"UsageCount": -1}]})");

  // A missing database fails and is not created.
  pdatest::TempMachine bare;
  bare.installSuite();
  expectFailure(pda(bare, "usage show"), 1);
  expectFailure(pda(bare, "usage add c p.exe T"), 1);
  EXPECT_FALSE(exists(bare.dataDir() + "DataAnalytics.db"));
}

TEST(PdaLog, FiltersByTypeAndKeepsTheLastEvents) {
  pdatest::TempMachine machine;
  logEvent("ToolTest", 1, "first error");
  logEvent("ToolTest", 2, "a warning");
  logEvent("ToolTest", 1, "second error\nwith a second line");
  logEvent("ToolTest", 4, "some information");
  const std::string second = R"({"message": "second error\nwith a second line")";
  expectLike(json(machine, "log")["events"], "[{}, {}, {}, {}]");
  expectLike(json(machine, "log --type ERROR")["events"],
             ("[{}, " + second + R"(, "source": "ToolTest", "type": "ERROR"}])").c_str());
  expectLike(json(machine, "log --type error --last 1")["events"], ("[" + second + "}]").c_str());
  expectLike(json(machine, "log --last 2")["events"],
             R"([{"type": "ERROR"}, {"message": "some information"}])");
  EXPECT_EQ(json(machine, "log --last 0")["events"].size(), 0u);
  // The readable form keeps each event on one line.
  const std::string text = ok(machine, "log --type warning");
  EXPECT_TRUE(contains(text, "a warning") && !contains(text, "first error")) << text;
  EXPECT_TRUE(contains(ok(machine, "log --type error"), "second error\\nwith a second line"));
}

// Polls path until it holds expected, at most a few seconds (the change
// usually shows within milliseconds; a loaded machine may be slower).
bool waitFor(const std::string& path, const std::string& expected) {
  for (int i = 0; i < 100; ++i) {
    if (readText(path).find(expected) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// User plus system time of a process, in clock ticks.
long cpuTicks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  long total = 0;
  for (int i = 1; i <= 15 && in >> field; ++i)
    if (i == 14 || i == 15) total += std::stol(field);
  return total;
}

struct Watcher {
  int pid = 0;
  std::string out;
  Watcher(const pdatest::TempMachine& machine, const std::string& args, const std::string& name)
      : out(machine.path(name + ".out")) {
    std::string pidText;
    pdatest::run(quote(PDA_TOOL_PATH) + " watch " + args + " >" + quote(out) + " 2>" +
                     quote(out + ".err") + " </dev/null & echo $!",
                 &pidText);
    pid = std::stoi(pidText);
    // Started once it says so on standard error.
    waitFor(out + ".err", "watching");
  }
  ~Watcher() {
    ::kill(pid, SIGINT);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
};

TEST(PdaWatch, PrintsChangesOtherProcessesMakeOnEachStore) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  ok(machine, "set IOControlHidden false --source registry");
  Watcher sqlite(machine, "", "sqlite");
  Watcher registry(machine, "--source registry iocontrolhidden", "registry");

  // Idle: blocked in the kernel, not polling.
  const long before = cpuTicks(sqlite.pid) + cpuTicks(registry.pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LE(cpuTicks(sqlite.pid) + cpuTicks(registry.pid) - before, 5);

  ok(machine, "set IOControlHidden true");
  EXPECT_TRUE(waitFor(sqlite.out, " sqlite globalSettings IOControlHidden (none) -> \"True\"\n"))
      << readText(sqlite.out);
  ok(machine, "alias add meter GPIB0::5::INSTR --source registry");
  ok(machine, "set IOControlHidden true --source registry");
  EXPECT_TRUE(
      waitFor(registry.out, " registry globalSettings IOControlHidden \"False\" -> \"True\"\n"))
      << readText(registry.out);
  // Filtered by name: the alias is not shown; each line starts with the time.
  const std::string lines = readText(registry.out);
  EXPECT_FALSE(contains(lines, "meter")) << lines;
  EXPECT_EQ(lines.find('\n'), lines.size() - 1) << lines;
  EXPECT_EQ(lines.rfind("20", 0), 0u) << lines;
  EXPECT_EQ(lines[23], 'Z') << lines;
}

}  // namespace

#endif  // !_WIN32
