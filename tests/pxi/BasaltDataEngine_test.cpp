// The chassis engine against the remote PXI database of an installed suite.
// Rows are checked with the sqlite3 client in a process of its own.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include "pda/BasaltDataEngine.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

ChassisInfo chassis(const char* serial, const char* vendor = "V", const char* model = "M",
                    const char* usb = "U", int manfId = 1, int modelId = 2, int state = 0) {
  ChassisInfo info;
  std::memset(&info, 0, sizeof info);
  std::strncpy(info.ChassisSN, serial, sizeof info.ChassisSN - 1);
  std::strncpy(info.Vendor, vendor, sizeof info.Vendor - 1);
  std::strncpy(info.Model, model, sizeof info.Model - 1);
  std::strncpy(info.USBAddress, usb, sizeof info.USBAddress - 1);
  info.ManfID = manfId;
  info.ModelID = modelId;
  info.State = state;
  return info;
}

// The rows addChassis stores for c, as NAME=VALUE lines in name order; state
// -1 keeps c's own.
std::string expectedRows(const ChassisInfo& c, int state = -1) {
  return std::string("ChassisSN=") + c.ChassisSN + "\nManfID=" + std::to_string(c.ManfID) +
         "\nModel=" + c.Model + "\nModelID=" + std::to_string(c.ModelID) +
         "\nRecordType=Chassis\nState=" + std::to_string(state < 0 ? c.State : state) +
         "\nUSBAddress=" + c.USBAddress + "\nVendor=" + c.Vendor + "\n";
}

class ChassisEngine : public ::testing::Test {
 protected:
  pdatest::TempMachine machine;  // first: every test gets its own machine
  BasaltDataEngine engine;

  void SetUp() override { machine.installSuite(); }
  std::string db() const { return machine.pxiDir() + "RemotePXI.db"; }
  std::string sql(const std::string& statements) const { return pdatest::sqlite(db(), statements); }
  std::string chassisRows(const std::string& key) const {
    return sql("SELECT NAME || '=' || VALUE FROM Chassis WHERE IDKEY = " + pdatest::sqlQuote(key) +
               " ORDER BY NAME;");
  }
};

// A stored serial, in any letter case, is only marked present (State 1,
// whatever the caller passes); its other values and other chassis stay.
TEST_F(ChassisEngine, KnownSerialInAnyLetterCaseIsOnlyMarkedPresentAndFound) {
  const ChassisInfo quoted = chassis("O'Neil-1", "Vendor's", "M'", "'", 1, 2);
  ASSERT_EQ(0, engine.addChassis(chassis("Other", "VO", "MO", "UO", 3, 4)));
  ASSERT_EQ(0, engine.addChassis(quoted));
  EXPECT_EQ(0, engine.addChassis(chassis("o'neil-1", "Second", "Beta", "usb-b", 8, 9)));
  EXPECT_EQ(expectedRows(quoted, 1), chassisRows("O'Neil-1"));
  EXPECT_EQ("O'Neil-1|8\nOther|8\n",
            sql("SELECT IDKEY, count(*) FROM Chassis GROUP BY IDKEY ORDER BY IDKEY;"));
  // A chassis recorded by another program of the suite, with a record type
  // of its own and further values, keeps its key and spelling; a delete
  // removes only the engine's values.
  sql("INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'RecordType', 'RemoteChassis');"
      "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'ChassisSN', 'Ext-9');"
      "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'Vendor', 'Other');"
      "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'Slots', '18');"
      "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'State', '0');");
  EXPECT_EQ(0, engine.addChassis(chassis("EXT-9", "Mine")));
  EXPECT_EQ("ChassisSN=Ext-9\nRecordType=RemoteChassis\nSlots=18\nState=1\nVendor=Other\n",
            chassisRows("Ext-9"));
  EXPECT_EQ("0\n", sql("SELECT count(*) FROM Chassis WHERE IDKEY = 'EXT-9';"));
  EXPECT_EQ(0, engine.deleteChassis("ext-9"));
  EXPECT_EQ("Slots=18\n", chassisRows("Ext-9"));
  EXPECT_EQ(-1, engine.deleteChassis("Ext-9"));
}

// Empty serials and texts without a terminator are refused before any store
// exists; the placeholders touch nothing.
TEST_F(ChassisEngine, RefusalsAndPlaceholdersTouchNothing) {
  EXPECT_EQ(-1, engine.addChassis(chassis("")));
  EXPECT_EQ(-1, engine.deleteChassis(""));
  EXPECT_EQ(-1, engine.deleteChassis(nullptr));
  ChassisInfo full = chassis("SN-X");
  std::memset(full.Model, 'm', sizeof full.Model);
  EXPECT_EQ(-1, engine.addChassis(full));
  full = chassis("");
  std::memset(full.ChassisSN, 's', sizeof full.ChassisSN);
  EXPECT_EQ(-1, engine.addChassis(full));
  DeviceInfo device;
  std::memset(&device, 0, sizeof device);
  engine.updateChassisState("SN-1", 1);
  EXPECT_EQ(0, engine.addModule(device) | engine.deviceExist(device) | engine.deleteModule(3) |
                   engine.deleteModules("SN-1") | engine.updateModuleState(3, 1) |
                   engine.updateModulesState("SN-1", 1));
  EXPECT_TRUE(pdatest::readEvents().empty());
  EXPECT_FALSE(fs::exists(db()));
  // A text that fills its array up to the terminator is accepted whole.
  ChassisInfo longest = chassis("SN-L");
  std::memset(longest.Model, 'm', sizeof longest.Model - 1);
  EXPECT_EQ(0, engine.addChassis(longest));
  EXPECT_EQ("127\n",
            sql("SELECT length(VALUE) FROM Chassis WHERE IDKEY = 'SN-L' AND NAME = 'Model';"));
}

// A new database gets a chassis's seven values. Delete fails for an unknown
// serial (even on a database it has just made), removes only that chassis in
// any letter case, and a later add starts afresh.
TEST_F(ChassisEngine, NewChassisAndDeleteOfOnlyAKnownChassisInAnyLetterCase) {
  EXPECT_EQ(-1, engine.deleteChassis("Alpha-1"));
  const ChassisInfo a = chassis("Alpha-1");
  const ChassisInfo b =
      chassis("Beta-2", "Tessaro", "M-18", "USB0::1::2::SN-100::INSTR", -7, 65535, 3);
  ASSERT_EQ(0, engine.addChassis(a));
  ASSERT_EQ(0, engine.addChassis(b));  // the new file's tables: tests/stores/sqlite/pxi_test
  EXPECT_EQ(-1, engine.deleteChassis("Alpha-1 "));
  EXPECT_EQ(0, engine.deleteChassis("ALPHA-1"));
  EXPECT_EQ("", chassisRows("Alpha-1"));
  EXPECT_EQ(expectedRows(b), chassisRows("Beta-2"));
  EXPECT_EQ("8\n", sql("SELECT count(*) FROM Chassis;"));
  const ChassisInfo again = chassis("alpha-1", "VN", "MN", "UN", 5, 6);
  EXPECT_EQ(0, engine.addChassis(again));
  EXPECT_EQ(expectedRows(again), chassisRows("alpha-1"));
}

// A trigger refusing one value makes that write fail: the engine still
// attempts every other write or deletion, and a refused State update leaves
// the old one.
TEST_F(ChassisEngine, EveryWriteAndDeletionIsAttemptedWhenOneFails) {
  ASSERT_EQ(0, engine.addChassis(chassis("SN-1")));
  const auto refuse = [this](const std::string& event, const std::string& name) {
    sql("DROP TRIGGER IF EXISTS refuse; CREATE TRIGGER refuse BEFORE " + event +
        " ON Chassis WHEN " + (event == "DELETE" ? "OLD" : "NEW") + ".NAME = '" + name +
        "' BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  };
  refuse("INSERT", "Model");
  EXPECT_EQ(-1, engine.addChassis(chassis("SN-2", "V", "M", "U", 1, 2, 4)));
  EXPECT_EQ(
      "ChassisSN=SN-2\nManfID=1\nModelID=2\nRecordType=Chassis\nState=4\nUSBAddress=U\nVendor=V\n",
      chassisRows("SN-2"));
  refuse("INSERT", "State");
  EXPECT_EQ(-1, engine.addChassis(chassis("SN-1")));
  EXPECT_EQ(expectedRows(chassis("SN-1")), chassisRows("SN-1"));
  refuse("DELETE", "Vendor");
  EXPECT_EQ(-1, engine.deleteChassis("SN-1"));
  EXPECT_EQ("Vendor=V\n", chassisRows("SN-1"));
}

// Built only on POSIX: the racers are forked processes.
#if !defined(_WIN32)
// Several processes add their own chassis to one database at once (made by a
// first one, so that none of the racers does); every chassis arrives whole.
TEST_F(ChassisEngine, ProcessesAddingAtOnceEachStoreTheirChassis) {
  auto serial = [](int i) { return "SN-P" + std::to_string(i); };
  auto start = [&](int i) {
    pid_t pid = fork();
    if (pid == 0)
      _exit(BasaltDataEngine().addChassis(chassis(serial(i).c_str(), "V", "M", "U", i, i)) == 0
                ? 0
                : 1);
    return pid;
  };
  auto succeeded = [](pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  ASSERT_TRUE(succeeded(start(0)));
  std::vector<pid_t> racers;
  for (int i = 1; i <= 3; ++i) racers.push_back(start(i));
  for (pid_t pid : racers) EXPECT_TRUE(succeeded(pid));
  for (int i = 0; i <= 3; ++i)
    EXPECT_EQ(expectedRows(chassis(serial(i).c_str(), "V", "M", "U", i, i)),
              chassisRows(serial(i)));
  EXPECT_EQ("ok\n", sql("PRAGMA integrity_check;"));
}
#endif  // !_WIN32

}  // namespace
