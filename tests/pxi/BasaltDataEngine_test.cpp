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

ChassisInfo chassis(const char* serial, const char* vendor = "Tessaro", const char* model = "M-18",
                    const char* usb = "USB0::0x1234::0x5678::SN1::INSTR", int manfId = 4660,
                    int modelId = 22136, int state = 0) {
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

class ChassisEngine : public ::testing::Test {
 protected:
  pdatest::TempMachine machine;  // first: every test gets its own machine
  BasaltDataEngine engine;

  void SetUp() override { machine.installSuite(); }

  std::string db() const { return machine.pxiDir() + "RemotePXI.db"; }

  // The rows of one chassis as NAME=VALUE lines, in name order.
  std::string chassisRows(const std::string& key) const {
    return pdatest::sqlite(db(), "SELECT NAME || '=' || VALUE FROM Chassis WHERE IDKEY = " +
                                     pdatest::sqlQuote(key) + " ORDER BY NAME;");
  }
  std::string count(const std::string& where) const {
    return pdatest::sqlite(db(), "SELECT count(*) FROM Chassis WHERE " + where + ";");
  }
};

std::string expectedRows(const std::string& serial, const std::string& vendor,
                         const std::string& model, const std::string& usb, int manfId, int modelId,
                         int state) {
  return "ChassisSN=" + serial + "\nManfID=" + std::to_string(manfId) + "\nModel=" + model +
         "\nModelID=" + std::to_string(modelId) +
         "\nRecordType=Chassis\nState=" + std::to_string(state) + "\nUSBAddress=" + usb +
         "\nVendor=" + vendor + "\n";
}

// ---------------------------------------------------------------- adding

TEST_F(ChassisEngine, NewChassisOnANewDatabaseWritesItsSevenValues) {
  ASSERT_FALSE(fs::exists(db()));
  EXPECT_EQ(0, engine.addChassis(chassis("SN-100", "Tessaro", "M-18", "USB0::1::2::SN-100::INSTR",
                                         -7, 65535, 3)));
  ASSERT_TRUE(fs::exists(db()));
  EXPECT_EQ("Chassis\nPModules\nPciBuses\nSModules\n",
            pdatest::sqlite(db(),
                            "SELECT name FROM sqlite_master WHERE type = 'table' "
                            "ORDER BY name;"));
  EXPECT_EQ("Bus0|0\nBus2|0\nBus4|0\nBus6|0\nBus8|0\nBus10|0\nBus12|0\nBus14|0\nBus16|0\nBus18|0\n",
            pdatest::sqlite(db(), "SELECT NAME, VALUE FROM PciBuses ORDER BY ID;"));
  EXPECT_EQ(expectedRows("SN-100", "Tessaro", "M-18", "USB0::1::2::SN-100::INSTR", -7, 65535, 3),
            chassisRows("SN-100"));
  EXPECT_EQ("8\n", count("1"));
}

TEST_F(ChassisEngine, SecondAddOfTheSameSerialOnlyMarksItPresent) {
  ASSERT_EQ(0, engine.addChassis(chassis("Other", "VO", "MO", "UO", 3, 4, 0)));
  ASSERT_EQ(0, engine.addChassis(chassis("SN-1", "First", "Alpha", "usb-a", 1, 2, 0)));
  EXPECT_EQ(0, engine.addChassis(chassis("SN-1", "Second", "Beta", "usb-b", 8, 9, 0)));
  EXPECT_EQ(expectedRows("SN-1", "First", "Alpha", "usb-a", 1, 2, 1), chassisRows("SN-1"));
  EXPECT_EQ("16\n", count("1"));
  // Present stays present whatever State the caller passes.
  EXPECT_EQ(0, engine.addChassis(chassis("SN-1", "Third", "Gamma", "usb-c", 0, 0, 5)));
  EXPECT_EQ(expectedRows("SN-1", "First", "Alpha", "usb-a", 1, 2, 1), chassisRows("SN-1"));
  EXPECT_EQ(expectedRows("Other", "VO", "MO", "UO", 3, 4, 0), chassisRows("Other"));
}

TEST_F(ChassisEngine, SerialInOtherLetterCaseIsTheStoredChassis) {
  ASSERT_EQ(0, engine.addChassis(chassis("pxi-abc", "Lower", "m", "u", 1, 1, 0)));
  EXPECT_EQ(0, engine.addChassis(chassis("PXI-ABC", "Upper", "M", "U", 2, 2, 0)));
  EXPECT_EQ(0, engine.addChassis(chassis("Pxi-Abc", "Mixed", "M", "U", 3, 3, 0)));
  EXPECT_EQ("pxi-abc|8\n",
            pdatest::sqlite(db(), "SELECT IDKEY, count(*) FROM Chassis GROUP BY IDKEY;"));
  EXPECT_EQ(expectedRows("pxi-abc", "Lower", "m", "u", 1, 1, 1), chassisRows("pxi-abc"));
}

TEST_F(ChassisEngine, QuotesInValuesAreStoredAsPassed) {
  ASSERT_EQ(0, engine.addChassis(chassis("O'Neil-1", "Vendor's", "M'", "'", 1, 2, 0)));
  EXPECT_EQ(expectedRows("O'Neil-1", "Vendor's", "M'", "'", 1, 2, 0), chassisRows("O'Neil-1"));
  EXPECT_EQ(0, engine.addChassis(chassis("o'neil-1")));
  EXPECT_EQ("State=1\n", pdatest::sqlite(db(),
                                         "SELECT NAME || '=' || VALUE FROM Chassis "
                                         "WHERE NAME = 'State';"));
}

// A chassis recorded by another program of the suite, with a record type of
// its own and further values, is found and only marked present; its rows
// keep their key and spelling, and a delete removes only the engine's values.
TEST_F(ChassisEngine, ChassisRecordedByAnotherProgramIsFound) {
  ASSERT_EQ(0, engine.addChassis(chassis("seed")));
  pdatest::sqlite(db(),
                  "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'RecordType', 'RemoteChassis');"
                  "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'ChassisSN', 'Ext-9');"
                  "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'Vendor', 'Other');"
                  "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'Slots', '18');"
                  "INSERT INTO Chassis VALUES(NULL, 'Ext-9', 'State', '0');");
  EXPECT_EQ(0, engine.addChassis(chassis("EXT-9", "Mine", "M", "U", 1, 2, 0)));
  EXPECT_EQ("ChassisSN=Ext-9\nRecordType=RemoteChassis\nSlots=18\nState=1\nVendor=Other\n",
            chassisRows("Ext-9"));
  EXPECT_EQ("0\n", count("IDKEY = 'EXT-9'"));
  EXPECT_EQ(0, engine.deleteChassis("ext-9"));
  EXPECT_EQ("Slots=18\n", chassisRows("Ext-9"));
  EXPECT_EQ(-1, engine.deleteChassis("Ext-9"));
}

// ---------------------------------------------------------------- refusals

TEST_F(ChassisEngine, EmptySerialIsRefusedWithoutCreatingAStore) {
  EXPECT_EQ(-1, engine.addChassis(chassis("")));
  EXPECT_EQ(-1, engine.deleteChassis(""));
  EXPECT_EQ(-1, engine.deleteChassis(nullptr));
  EXPECT_FALSE(fs::exists(db()));
  EXPECT_TRUE(pdatest::readEvents().empty());
}

TEST_F(ChassisEngine, TextFieldWithoutTerminatorIsRefused) {
  ChassisInfo full = chassis("SN-X");
  std::memset(full.Model, 'm', sizeof full.Model);
  EXPECT_EQ(-1, engine.addChassis(full));
  ChassisInfo fullSerial = chassis("");
  std::memset(fullSerial.ChassisSN, 's', sizeof fullSerial.ChassisSN);
  EXPECT_EQ(-1, engine.addChassis(fullSerial));
  EXPECT_FALSE(fs::exists(db()));
  // A text that fills its array up to the terminator is accepted whole.
  ChassisInfo longest = chassis("SN-L");
  std::memset(longest.Model, 'm', sizeof longest.Model - 1);
  EXPECT_EQ(0, engine.addChassis(longest));
  EXPECT_EQ("127\n", pdatest::sqlite(db(),
                                     "SELECT length(VALUE) FROM Chassis WHERE "
                                     "NAME = 'Model';"));
}

TEST_F(ChassisEngine, PlaceholdersReturnZeroAndTouchNothing) {
  DeviceInfo device;
  std::memset(&device, 0, sizeof device);
  std::strcpy(device.ChassisSN, "SN-1");
  EXPECT_EQ(0, engine.addModule(device));
  EXPECT_EQ(0, engine.deviceExist(device));
  EXPECT_EQ(0, engine.deleteModule(3));
  EXPECT_EQ(0, engine.deleteModules("SN-1"));
  EXPECT_EQ(0, engine.deleteModules(nullptr));
  EXPECT_EQ(0, engine.updateModuleState(3, 1));
  EXPECT_EQ(0, engine.updateModulesState("SN-1", 1));
  engine.updateChassisState("SN-1", 1);
  EXPECT_FALSE(fs::exists(db()));

  ASSERT_EQ(0, engine.addChassis(chassis("SN-1", "V", "M", "U", 1, 2, 0)));
  engine.updateChassisState("SN-1", 1);
  EXPECT_EQ(0, engine.updateModulesState("SN-1", 1));
  EXPECT_EQ(0, engine.deleteModules("SN-1"));
  EXPECT_EQ(expectedRows("SN-1", "V", "M", "U", 1, 2, 0), chassisRows("SN-1"));
}

// ---------------------------------------------------------------- deleting

TEST_F(ChassisEngine, DeletingAnUnknownSerialFailsAndChangesNothing) {
  EXPECT_EQ(-1, engine.deleteChassis("A"));  // on a database just created
  ASSERT_EQ(0, engine.addChassis(chassis("A", "VA", "MA", "UA", 1, 2, 0)));
  EXPECT_EQ(-1, engine.deleteChassis("B"));
  EXPECT_EQ(-1, engine.deleteChassis("A "));
  EXPECT_EQ(expectedRows("A", "VA", "MA", "UA", 1, 2, 0), chassisRows("A"));
}

TEST_F(ChassisEngine, DeleteRemovesOnlyThatChassisInAnyLetterCase) {
  ASSERT_EQ(0, engine.addChassis(chassis("Alpha-1", "VA", "MA", "UA", 1, 2, 0)));
  ASSERT_EQ(0, engine.addChassis(chassis("Beta-2", "VB", "MB", "UB", 3, 4, 0)));
  EXPECT_EQ(0, engine.deleteChassis("ALPHA-1"));
  EXPECT_EQ("0\n", count("IDKEY = 'Alpha-1'"));
  EXPECT_EQ(expectedRows("Beta-2", "VB", "MB", "UB", 3, 4, 0), chassisRows("Beta-2"));
  // Gone means gone: a second delete fails, and adding again starts afresh.
  EXPECT_EQ(-1, engine.deleteChassis("Alpha-1"));
  EXPECT_EQ(0, engine.addChassis(chassis("alpha-1", "VN", "MN", "UN", 5, 6, 0)));
  EXPECT_EQ(expectedRows("alpha-1", "VN", "MN", "UN", 5, 6, 0), chassisRows("alpha-1"));
}

// ---------------------------------------------------------------- store failures

// A trigger that refuses one value makes that one write fail; the engine
// still attempts the other six, which stay.
TEST_F(ChassisEngine, EveryWriteOfANewChassisIsAttemptedWhenOneFails) {
  ASSERT_EQ(0, engine.addChassis(chassis("seed")));
  pdatest::sqlite(db(),
                  "CREATE TRIGGER refuse_model BEFORE INSERT ON Chassis WHEN NEW.NAME = 'Model' "
                  "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_EQ(-1, engine.addChassis(chassis("SN-2", "V", "M", "U", 1, 2, 4)));
  EXPECT_EQ(
      "ChassisSN=SN-2\nManfID=1\nModelID=2\nRecordType=Chassis\nState=4\nUSBAddress=U\n"
      "Vendor=V\n",
      chassisRows("SN-2"));
}

TEST_F(ChassisEngine, KnownChassisWhoseStateCannotBeWrittenFails) {
  ASSERT_EQ(0, engine.addChassis(chassis("SN-1", "V", "M", "U", 1, 2, 0)));
  pdatest::sqlite(db(),
                  "CREATE TRIGGER refuse_state BEFORE INSERT ON Chassis WHEN NEW.NAME = 'State' "
                  "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_EQ(-1, engine.addChassis(chassis("SN-1")));
  // The failed write was rolled back: the old State is still there.
  EXPECT_EQ(expectedRows("SN-1", "V", "M", "U", 1, 2, 0), chassisRows("SN-1"));
}

TEST_F(ChassisEngine, EveryDeletionIsAttemptedWhenOneFails) {
  ASSERT_EQ(0, engine.addChassis(chassis("SN-1", "V", "M", "U", 1, 2, 0)));
  pdatest::sqlite(db(),
                  "CREATE TRIGGER keep_vendor BEFORE DELETE ON Chassis WHEN OLD.NAME = 'Vendor' "
                  "BEGIN SELECT RAISE(ABORT, 'kept'); END;");
  EXPECT_EQ(-1, engine.deleteChassis("SN-1"));
  EXPECT_EQ("Vendor=V\n", chassisRows("SN-1"));
}

// ---------------------------------------------------------------- concurrency

// Built only on POSIX: the racers are forked processes.
#if !defined(_WIN32)
// Several processes add their own chassis to one database at once; the write
// transactions wait for each other and every chassis arrives whole.
TEST_F(ChassisEngine, ProcessesAddingAtOnceEachStoreTheirChassis) {
  // One process creates the database first, so that none of the racers does.
  auto runChild = [](int index) -> pid_t {
    pid_t pid = fork();
    if (pid == 0) {
      BasaltDataEngine own;
      const std::string serial = "SN-P" + std::to_string(index);
      _exit(own.addChassis(chassis(serial.c_str(), "V", "M", "U", index, index, 0)) == 0 ? 0 : 1);
    }
    return pid;
  };
  auto wait = [](pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  pid_t first = runChild(0);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(wait(first));

  std::vector<pid_t> racers;
  for (int i = 1; i <= 3; ++i) {
    pid_t pid = runChild(i);
    ASSERT_GT(pid, 0);
    racers.push_back(pid);
  }
  for (pid_t pid : racers) EXPECT_TRUE(wait(pid));
  for (int i = 0; i <= 3; ++i) {
    const std::string serial = "SN-P" + std::to_string(i);
    EXPECT_EQ(expectedRows(serial, "V", "M", "U", i, i, 0), chassisRows(serial));
  }
  EXPECT_EQ("ok\n", pdatest::sqlite(db(), "PRAGMA integrity_check;"));
}
#endif  // !_WIN32

}  // namespace
