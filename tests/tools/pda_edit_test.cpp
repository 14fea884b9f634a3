// pda alias add|remove, favorite set, config set and sorrel set on both
// stores: each write is read back by a new process, and lands where the
// suite's readers look (checked with the sqlite3 client and the registry).

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::ok;
using tooltest::pda;

const char* const kSettingsKey = "HKLM\\SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

// An installed suite whose registry holds an interface with one instrument.
void prepare(const pdatest::TempMachine& machine) {
  ok(machine, {"init"});
  ok(machine,
     {"reg", "add", std::string(kSettingsKey) + "\\INTF3", "/v", "VISAName", "/d", "GPIB3"});
  ok(machine, {"reg", "add", std::string(kSettingsKey) + "\\INTF3\\dev1", "/v", "Addr", "/d",
               "GPIB3::5::INSTR"});
}

std::string stored(const pdatest::TempMachine& machine, const std::string& sql) {
  return pdatest::sqlite(machine.dataDir() + "Quillon.db", sql);
}

TEST(PdaEdit, AliasesAreWrittenWhereTheAliasReaderReadsThem) {
  pdatest::TempMachine machine;
  prepare(machine);
  for (const char* store : {"sqlite", "registry"}) {
    SCOPED_TRACE(store);
    ok(machine, {"alias", "add", "Meter", "GPIB3::5::INSTR", "--source", store});
    ok(machine, {"alias", "add", "meter", "GPIB3::6::INSTR", "--source", store});  // replaces
    ok(machine, {"alias", "add", "hub", "usb0,1,2,SN,0", "--brix", "--source", store});
    EXPECT_EQ(ok(machine, {"alias", "resolve", "METER", "--source", store}), "GPIB3::6::INSTR\n");
    EXPECT_EQ(ok(machine, {"alias", "resolve", "hub", "--brix", "--source", store}),
              "usb0,1,2,SN,0\n");
    // The other kind's table is untouched by either.
    EXPECT_EQ(ok(machine, {"alias", "resolve", "hub", "--source", store}), "hub\n");
    ok(machine, {"alias", "remove", "METER", "--source", store});
    EXPECT_EQ(ok(machine, {"alias", "resolve", "meter", "--source", store}), "meter\n");
    expectFailure(pda(machine, {"alias", "remove", "meter", "--source", store}), 1);
  }
  EXPECT_EQ(stored(machine, "SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo WHERE IDKEY = 'hub';"),
            "hub|AliasBrixId|usb0,1,2,SN,0\n");
  // The sample's aliases stay.
  EXPECT_EQ(ok(machine, {"alias", "resolve", "scope"}), "TCPIP0::192.168.1.20::inst0::INSTR\n");
  const nlohmann::json keys = tooltest::json(
      machine, {"reg", "query", std::string(kSettingsKey) + "\\Devices", "/v", "hub"});
  EXPECT_EQ(keys["data"], "usb0,1,2,SN,0");
  expectFailure(pda(machine, {"alias", "add", "a", "b", "--source", "defaults"}), 2);
}

TEST(PdaEdit, FavouritesAndRemoteSessionParametersReadBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  const std::string name = "TCPIP0::192.168.1.20::inst0::INSTR";
  for (const char* store : {"sqlite", "registry"}) {
    SCOPED_TRACE(store);
    ok(machine, {"favorite", "set", name, "OFF", "--source", store});
    EXPECT_EQ(ok(machine, {"favorite", name, "--source", store}), "off\n");
    ok(machine, {"favorite", "set", name, "on", "--source", store});
    EXPECT_EQ(ok(machine, {"favorite", name, "--source", store}), "on\n");
    ok(machine, {"favorite", "set", name, "unset", "--source", store});
    EXPECT_EQ(ok(machine, {"favorite", name, "--source", store}), "not set\n");
    expectFailure(pda(machine, {"favorite", "set", name, "maybe", "--source", store}), 2);

    ok(machine, {"sorrel", "set", "vxi11Server", "host,port", "--source", store});
    EXPECT_EQ(tooltest::json(machine, {"sorrel", "--source", store})["parameters"]["vxi11Server"],
              "host,port");
  }
  EXPECT_EQ(stored(machine, "SELECT NAME, VALUE FROM SorrelParamInfo;"), "vxi11Server|host,port\n");
  EXPECT_EQ(stored(machine, "SELECT COUNT(*) FROM InstrumentFavorites;"), "0\n");
  expectFailure(pda(machine, {"sorrel", "set", "a", "b", "--source", "defaults"}), 2);
}

TEST(PdaEdit, ConfigSetOnTheRegistryReadsBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  ok(machine, {"config", "set", "GPIB3", "Disabled", "TRUE", "--source", "registry"});
  ok(machine, {"config", "set", "GPIB3", "Addr", "GPIB3::7::INSTR", "--instrument", "dev1",
               "--source", "registry"});
  EXPECT_EQ(ok(machine, {"config", "get", "gpib3", "Disabled", "--source", "registry"}), "TRUE\n");
  EXPECT_EQ(ok(machine,
               {"config", "get", "GPIB3", "addr", "--instrument", "DEV1", "--source", "registry"}),
            "GPIB3::7::INSTR\n");
  const tooltest::Result missing =
      pda(machine, {"config", "set", "GPIB9", "Disabled", "TRUE", "--source", "registry"});
  expectFailure(missing, 2);
  EXPECT_NE(missing.err.find("there are: GPIB3"), std::string::npos) << missing.err;
  expectFailure(pda(machine, {"config", "get", "GPIB3", "Nope", "--source", "registry"}), 1);
}

// Needs the SQLite store to write a configuration value under the IDKEY the
// record was read from ("IF-LAN0"); until it does, the tool refuses to
// report the write as done.
TEST(PdaEdit, ConfigSetOnSQLiteReadsBackInANewProcess) {
  pdatest::TempMachine machine;
  prepare(machine);
  ok(machine, {"config", "set", "TCPIP0", "Disabled", "TRUE"});
  EXPECT_EQ(ok(machine, {"config", "get", "TCPIP0", "Disabled"}), "TRUE\n");
  EXPECT_EQ(stored(machine, "SELECT IDKEY FROM ConfigData WHERE NAME = 'Disabled';"), "IF-LAN0\n");
}

}  // namespace

#endif
