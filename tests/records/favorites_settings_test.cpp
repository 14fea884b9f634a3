// Instrument favourites: "On" and "Off" in any letter case, anything else
// not set, on every store.

#include <gtest/gtest.h>

#include <string>

#include "pda/KestConfig.h"
#include "support/Fixtures.h"

namespace {

const char kFavoritesKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\InstrumentFavorites";

void expectStoredSettings(InstrumentFavoritesInfo& favorites) {
  EXPECT_EQ(InstrumentFavoriteOn, favorites.getInstrumentFavoriteSetting("SCOPE"));
  EXPECT_EQ(InstrumentFavoriteOff, favorites.getInstrumentFavoriteSetting("Meter"));
  EXPECT_EQ(InstrumentFavoriteNotSet, favorites.getInstrumentFavoriteSetting("Counter"));
  EXPECT_EQ(InstrumentFavoriteNotSet, favorites.getInstrumentFavoriteSetting("Padded"));
  EXPECT_EQ(InstrumentFavoriteNotSet, favorites.getInstrumentFavoriteSetting("Missing"));
  EXPECT_EQ(InstrumentFavoriteNotSet, favorites.getInstrumentFavoriteSetting(nullptr));
}

}  // namespace

// "On" and "Off" in any letter case, anything else (a value too long for
// the read buffer too) not set, on the database and the registry; writes are
// read back by a new record; the built-in defaults take a value in memory.
TEST(FavoritesStores, OnOffAndEverythingElseOnEveryStore) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  const char* const stored[][2] = {
      {"Scope", "ON"}, {"Meter", "off"}, {"Counter", "1"}, {"Padded", "On "}};
  for (const auto& value : stored) {
    pdatest::sqlite(db, "INSERT INTO InstrumentFavorites(NAME, VALUE) VALUES(" +
                            pdatest::sqlQuote(value[0]) + "," + pdatest::sqlQuote(value[1]) + ");");
    pdatest::regSetString(kFavoritesKey, value[0], value[1]);
  }
  for (DataSource source : {SQLiteDataSource, RegistryDataSource}) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    InstrumentFavoritesInfo favorites(source);
    expectStoredSettings(favorites);
  }
  {
    InstrumentFavoritesInfo favorites;
    EXPECT_EQ(SQLiteDataSource, favorites.getDataSource());
    EXPECT_NE(0, favorites.setValueString("dmm", "on"));
  }
  EXPECT_EQ(InstrumentFavoriteOn,
            InstrumentFavoritesInfo(SQLiteDataSource).getInstrumentFavoriteSetting("DMM"));

  InstrumentFavoritesInfo defaults(DeviceIoDataSource);  // in memory
  ASSERT_NE(nullptr, defaults.getIKestBase());
  ASSERT_NE(0, defaults.setValueString("Huge", std::string(100000, 'O').c_str()));
  EXPECT_EQ(InstrumentFavoriteNotSet, defaults.getInstrumentFavoriteSetting("Huge"));
  ASSERT_NE(0, defaults.setValueString("Short", "oN"));
  EXPECT_EQ(InstrumentFavoriteOn, defaults.getInstrumentFavoriteSetting("short"));
}
