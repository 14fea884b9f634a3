// The remote-session parameter record on every store.

#include <gtest/gtest.h>

#include <string>

#include "pda/KestConfig.h"
#include "support/Fixtures.h"

namespace {

std::string read(SorrelParams& params, const char* name) {
  char buffer[256];
  params.getValueString(name, buffer, sizeof buffer, "<missing>");
  return buffer;
}

}  // namespace

TEST(SorrelParamsStores, DefaultsListTheTwoInterfaceTypes) {
  pdatest::TempMachine machine;
  SorrelParams params(DeviceIoDataSource);
  ASSERT_NE(nullptr, params.kestBase());
  EXPECT_EQ(params.getIKestBase(), params.kestBase());
  EXPECT_EQ("LU,Name,Interface,NotUsed,BusAddr,VISAName,log_errors", read(params, "VXI11SERVER"));
  EXPECT_EQ(
      "LU,Name,Interface,Slot,BusAddr,PNPvid,PNPModel,PNPsecId,PNPsn,SysCtl,PNPprefix,"
      "Discoverable,Hidden,ATNDelay",
      read(params, "pcigpib"));
  EXPECT_EQ("<missing>", read(params, "usb"));
}

TEST(SorrelParamsStores, WrenHasNoStore) {
  pdatest::TempMachine machine;
  SorrelParams params(WrenDataSource);
  EXPECT_EQ(nullptr, params.kestBase());
  EXPECT_EQ("<missing>", read(params, "pcigpib"));
  EXPECT_EQ(0, params.setValueString("pcigpib", "LU"));
}

TEST(SorrelParamsStores, SQLiteReadsAndWritesItsTable) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db, "INSERT INTO SorrelParamInfo(NAME, VALUE) VALUES('usbtmc','LU,Name');");
  {
    SorrelParams params;  // the default store of an installed suite
    EXPECT_EQ(SQLiteDataSource, params.getDataSource());
    EXPECT_EQ("LU,Name", read(params, "USBTMC"));
    EXPECT_NE(0, params.setValueString("lan", "LU,Host"));
  }
  EXPECT_EQ("LU,Host\n",
            pdatest::sqlite(db, "SELECT VALUE FROM SorrelParamInfo WHERE NAME = 'lan';"));
  SorrelParams again(SQLiteDataSource);
  EXPECT_EQ("LU,Host", read(again, "lan"));
}

TEST(SorrelParamsStores, RegistryReadsTheParamsKey) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString("SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\Params", "vxi11Server",
                        "LU,Name");
  SorrelParams params(RegistryDataSource);
  EXPECT_EQ("LU,Name", read(params, "vxi11server"));
  EXPECT_EQ("<missing>", read(params, "pcigpib"));  // no built-in defaults mixed in
}
