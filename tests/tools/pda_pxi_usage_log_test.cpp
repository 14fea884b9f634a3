// pda chassis, usage and log end to end: rows checked with the sqlite3
// client, events written through the library's own event reporting.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <PersistedDataAccess.h>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::json;
using tooltest::ok;
using tooltest::pda;

// The rows of the seven chassis values of serial (the store may keep others).
std::string chassisRows(const std::string& db, const std::string& serial) {
  return pdatest::sqlite(db,
                         "SELECT COUNT(*) FROM Chassis WHERE IDKEY=" + pdatest::sqlQuote(serial) +
                             " AND NAME IN ('ChassisSN', 'Vendor', 'Model', 'ManfID', "
                             "'ModelID', 'USBAddress', 'State');");
}

std::vector<std::string> chassisArgs(const std::string& serial, const std::string& vendor,
                                     const std::string& state) {
  return {"chassis", "add",        serial,  "--vendor",       vendor,
          "--model", "M9019A",     "--usb", "USB0::1::INSTR", "--manf-id",
          "10893",   "--model-id", "7",     "--state",        state};
}

TEST(PdaChassis, AddsListsMarksPresentAndRemoves) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  ok(machine, chassisArgs("MY001", "Tessaro", "0"));
  ok(machine, chassisArgs("MY002", "Other", "3"));
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  EXPECT_EQ(chassisRows(db, "MY001"), "7\n");

  nlohmann::json list = json(machine, {"chassis", "list"})["chassis"];
  ASSERT_EQ(list.size(), 2u) << list.dump();
  EXPECT_EQ(list[0]["serial"], "MY001");
  EXPECT_EQ(list[0]["Vendor"], "Tessaro");
  EXPECT_EQ(list[0]["ManfID"], 10893);
  EXPECT_EQ(list[0]["State"], 0);

  // Known, in other letter case: only marked present, the rest kept.
  const std::string out = ok(machine, chassisArgs("my001", "Changed", "0"));
  EXPECT_NE(out.find("already known"), std::string::npos) << out;
  list = json(machine, {"chassis", "list"})["chassis"];
  EXPECT_EQ(list[0]["Vendor"], "Tessaro");
  EXPECT_EQ(list[0]["State"], 1);

  ok(machine, {"chassis", "remove", "My001"});
  EXPECT_EQ(chassisRows(db, "MY001"), "0\n");
  EXPECT_EQ(chassisRows(db, "MY002"), "7\n");
  expectFailure(pda(machine, {"chassis", "remove", "MY001"}), 1);

  // A serial number that does not fit the engine's field is refused, not cut.
  expectFailure(pda(machine, chassisArgs(std::string(256, 'S'), "V", "1")), 2);
  EXPECT_EQ(json(machine, {"chassis", "list"})["chassis"].size(), 1u);
}

TEST(PdaUsage, AddsRowsInTheirColumnsAndShowsThem) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  ok(machine, {"usage", "add", "c", "it's.exe", "2026-01-02T03:04:05"});
  ok(machine, {"usage", "add", "com", "com.exe", "T2"});
  ok(machine, {"usage", "add", "net", "net.exe", "T3"});
  ok(machine, {"usage", "add", "session", "remote", "-1", "T4"});
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName, AccessTime FROM VISACAccess;"),
            "it's.exe|2026-01-02T03:04:05\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName FROM VISACOMAccess;"), "com.exe\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName FROM VISANETAccess;"), "net.exe\n");
  EXPECT_EQ(pdatest::sqlite(
                db, "SELECT SessionType, UsageCount, StatisticsTime FROM SorrelSessionAccess;"),
            "remote|-1|T4\n");

  nlohmann::json doc = json(machine, {"usage", "show"});
  ASSERT_EQ(doc["VISACAccess"].size(), 1u);
  EXPECT_EQ(doc["VISACAccess"][0]["ProcessName"], "it's.exe");
  EXPECT_EQ(doc["VISACAccess"][0]["AccessTime"], "2026-01-02T03:04:05");
  EXPECT_EQ(doc["SorrelSessionAccess"][0]["UsageCount"], -1);
  EXPECT_EQ(doc["VISANETAccess"].size(), 1u);
}

TEST(PdaUsage, AMissingDatabaseFailsAndIsNotCreated) {
  pdatest::TempMachine machine;
  machine.installSuite();
  expectFailure(pda(machine, {"usage", "show"}), 1);
  expectFailure(pda(machine, {"usage", "add", "c", "p.exe", "T"}), 1);
  EXPECT_NE(pdatest::run("test -e " + tooltest::quote(machine.dataDir() + "DataAnalytics.db")), 0);
}

TEST(PdaLog, FiltersByTypeAndKeepsTheLastEvents) {
  pdatest::TempMachine machine;
  logEvent("ToolTest", 1, "first error");
  logEvent("ToolTest", 2, "a warning");
  logEvent("ToolTest", 1, "second error\nwith a second line");
  logEvent("ToolTest", 4, "some information");

  nlohmann::json events = json(machine, {"log"})["events"];
  ASSERT_EQ(events.size(), 4u) << events.dump();
  events = json(machine, {"log", "--type", "ERROR"})["events"];
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1]["message"], "second error\nwith a second line");
  EXPECT_EQ(events[1]["source"], "ToolTest");
  EXPECT_EQ(events[1]["type"], "ERROR");
  events = json(machine, {"log", "--type", "error", "--last", "1"})["events"];
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["message"], "second error\nwith a second line");
  events = json(machine, {"log", "--last", "2"})["events"];
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["type"], "ERROR");
  EXPECT_EQ(events[1]["message"], "some information");
  EXPECT_EQ(json(machine, {"log", "--last", "0"})["events"].size(), 0u);

  // The readable form keeps each event on one line.
  const std::string text = ok(machine, {"log", "--type", "warning"});
  EXPECT_NE(text.find("a warning"), std::string::npos) << text;
  EXPECT_EQ(text.find("first error"), std::string::npos) << text;
  const std::string errors = ok(machine, {"log", "--type", "error"});
  EXPECT_NE(errors.find("second error\\nwith a second line"), std::string::npos) << errors;
}

}  // namespace

#endif
