// Alias resolution and listing on every store: the built-in defaults, the
// SQLite configuration database and the registry.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pda/KestAliases.h"
#include "pda/KestRecord.h"
#include "support/Fixtures.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
const char kSwitchKey[] = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

// A buffer with guard bytes after the size the library is told, so that a
// write past the end shows up as a changed guard.
struct GuardedBuffer {
  explicit GuardedBuffer(unsigned int size, char fill = '#') : size(size), bytes(size + 16, fill) {}
  char* data() { return bytes.data(); }
  std::string text() const { return std::string(bytes.data(), strnlen(bytes.data(), size)); }
  bool guardIntact(char fill = '#') const {
    for (std::size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != fill) return false;
    return true;
  }
  unsigned int size;
  std::vector<char> bytes;
};

std::string insertAlias(const std::string& alias, const std::string& kind,
                        const std::string& address) {
  return "INSERT INTO InstrAliasInfo(IDKEY, NAME, VALUE) VALUES(" + pdatest::sqlQuote(alias) + "," +
         pdatest::sqlQuote(kind) + "," + pdatest::sqlQuote(address) + ");";
}

// An installed suite whose database holds the given SQL's aliases.
std::string installWithAliases(const pdatest::TempMachine& machine, const std::string& sql) {
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  if (!sql.empty()) pdatest::sqlite(db, sql);
  return db;
}

}  // namespace

// ---------------------------------------------------------------------------
// Built-in defaults and WrenDataSource: no alias tables, names pass through.

TEST(AliasesDefaults, BuiltInStoresPassEveryNameThrough) {
  pdatest::TempMachine machine;  // nothing installed: the default is the built-in store
  EXPECT_EQ(DeviceIoDataSource, KestAliases().getDataSource());
  for (DataSource source : {DeviceIoDataSource, WrenDataSource}) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    KestAliases aliases(source);
    EXPECT_EQ(source, aliases.getDataSource());
    ASSERT_NE(nullptr, aliases.getIKestBase());
    EXPECT_STREQ("Alias", aliases.getIKestBase()->RecordType());

    char address[64] = "junk";
    EXPECT_EQ(0, aliases.unaliasVisaAddress("MyScope", address, sizeof address));
    EXPECT_STREQ("MyScope", address);
    EXPECT_EQ(0, aliases.unaliasBrixAddress("hp3458", address, sizeof address));
    EXPECT_STREQ("hp3458", address);
    EXPECT_EQ(0, aliases.unaliasBrixAddress(nullptr, address, sizeof address));
    EXPECT_STREQ("", address);

    char alias[32] = "x";
    std::strcpy(address, "y");
    EXPECT_EQ(0, aliases.getVisaAliasByIndex(0, alias, sizeof alias, address, sizeof address));
    EXPECT_STREQ("", alias);
    EXPECT_STREQ("", address);
    EXPECT_EQ(0, aliases.getBrixAliasByIndex(-1, alias, sizeof alias, address, sizeof address));
  }
}

// ---------------------------------------------------------------------------
// Buffers: never partial, never out of bounds.

TEST(AliasesBuffers, NameTooLongForBufferLeavesItEmptyWithinBounds) {
  pdatest::TempMachine machine;
  KestAliases aliases(DeviceIoDataSource);
  GuardedBuffer exact(6);  // "abcdef" needs 7 bytes
  EXPECT_EQ(0, aliases.unaliasVisaAddress("abcdef", exact.data(), exact.size));
  EXPECT_EQ("", exact.text());
  EXPECT_TRUE(exact.guardIntact());

  GuardedBuffer fits(7);
  EXPECT_EQ(0, aliases.unaliasVisaAddress("abcdef", fits.data(), fits.size));
  EXPECT_EQ("abcdef", fits.text());
  EXPECT_TRUE(fits.guardIntact());
}

// ---------------------------------------------------------------------------
// SQLite configuration database.

TEST(AliasesSQLite, ResolvesWithoutRegardToCase) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("MYDMM", "AliasVisaId", "GPIB0::22::INSTR") +
                                  insertAlias("Counter", "aliasbrixid", "gpib0,7"));
  KestAliases aliases(SQLiteDataSource);
  char address[64];
  EXPECT_EQ(1, aliases.unaliasVisaAddress("mydmm", address, sizeof address));
  EXPECT_STREQ("GPIB0::22::INSTR", address);
  EXPECT_EQ(1, aliases.unaliasBrixAddress("COUNTER", address, sizeof address));
  EXPECT_STREQ("gpib0,7", address);
  // The tables are separate: a VISA alias is no Brix alias.
  EXPECT_EQ(0, aliases.unaliasBrixAddress("MyDmm", address, sizeof address));
  EXPECT_STREQ("MyDmm", address);
}

TEST(AliasesSQLite, UnknownAndEmptyAddressesPassTheNameThrough) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("Blank", "AliasVisaId", "") +
                                  "INSERT INTO InstrAliasInfo(IDKEY, NAME, VALUE) "
                                  "VALUES('NullOne','AliasVisaId',NULL);" +
                                  insertAlias("Real", "AliasVisaId", "TCPIP0::host::INSTR"));
  KestAliases aliases(SQLiteDataSource);
  char address[64];
  EXPECT_EQ(0, aliases.unaliasVisaAddress("Blank", address, sizeof address));
  EXPECT_STREQ("Blank", address);
  EXPECT_EQ(0, aliases.unaliasVisaAddress("NullOne", address, sizeof address));
  EXPECT_STREQ("NullOne", address);
  EXPECT_EQ(0, aliases.unaliasVisaAddress("Missing Alias", address, sizeof address));
  EXPECT_STREQ("Missing Alias", address);
}

TEST(AliasesSQLite, AddressOneCharacterTooLongCountsAsUnresolved) {
  pdatest::TempMachine machine;
  const std::string resource = "GPIB0::22::INSTR";  // 16 characters, 17 bytes
  installWithAliases(machine, insertAlias("dmm", "AliasVisaId", resource));
  KestAliases aliases(SQLiteDataSource);

  GuardedBuffer tooSmall(static_cast<unsigned int>(resource.size()));
  EXPECT_EQ(0, aliases.unaliasVisaAddress("dmm", tooSmall.data(), tooSmall.size));
  EXPECT_EQ("dmm", tooSmall.text());
  EXPECT_TRUE(tooSmall.guardIntact());

  GuardedBuffer exact(static_cast<unsigned int>(resource.size() + 1));
  EXPECT_EQ(1, aliases.unaliasVisaAddress("dmm", exact.data(), exact.size));
  EXPECT_EQ(resource, exact.text());
  EXPECT_TRUE(exact.guardIntact());

  // Neither the address nor the name fits: the buffer stays empty.
  GuardedBuffer tiny(3);
  EXPECT_EQ(0, aliases.unaliasVisaAddress("dmm", tiny.data(), tiny.size));
  EXPECT_EQ("", tiny.text());
  EXPECT_TRUE(tiny.guardIntact());
}

TEST(AliasesSQLite, ResolvesInPlaceWhenAliasAndBufferAreOneArray) {
  pdatest::TempMachine machine;
  installWithAliases(machine,
                     insertAlias("scope", "AliasVisaId", "USB0::0x0957::0x1796::MY1::INSTR"));
  KestAliases aliases(SQLiteDataSource);
  char buffer[64] = "SCOPE";
  EXPECT_EQ(1, aliases.unaliasVisaAddress(buffer, buffer, sizeof buffer));
  EXPECT_STREQ("USB0::0x0957::0x1796::MY1::INSTR", buffer);

  std::strcpy(buffer, "not-an-alias");
  EXPECT_EQ(0, aliases.unaliasVisaAddress(buffer, buffer, sizeof buffer));
  EXPECT_STREQ("not-an-alias", buffer);
}

TEST(AliasesSQLite, ListsInCaseInsensitiveOrderWithIndexBounds) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("b", "AliasVisaId", "addr-b") +
                                  insertAlias("A", "AliasVisaId", "addr-A") +
                                  insertAlias("c", "AliasVisaId", "addr-c"));
  KestAliases aliases(SQLiteDataSource);
  char alias[16];
  char address[16];
  const char* expected[][2] = {{"A", "addr-A"}, {"b", "addr-b"}, {"c", "addr-c"}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(1, aliases.getVisaAliasByIndex(i, alias, sizeof alias, address, sizeof address));
    EXPECT_STREQ(expected[i][0], alias);
    EXPECT_STREQ(expected[i][1], address);
  }
  std::strcpy(alias, "stale");
  std::strcpy(address, "stale");
  EXPECT_EQ(0, aliases.getVisaAliasByIndex(3, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("", alias);
  EXPECT_STREQ("", address);

  EXPECT_EQ(1, aliases.getVisaAliasByIndex(-1, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("A", alias);
  EXPECT_STREQ("addr-A", address);
  EXPECT_EQ(1, aliases.getVisaAliasByIndex(-2147483647 - 1, alias, sizeof alias, address,
                                           sizeof address));
  EXPECT_STREQ("A", alias);
  EXPECT_EQ(0,
            aliases.getVisaAliasByIndex(2147483647, alias, sizeof alias, address, sizeof address));
}

TEST(AliasesSQLite, ListingNeverWritesPartialTexts) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("LongAliasName", "AliasBrixId", "gpib7,22"));
  KestAliases aliases(SQLiteDataSource);
  GuardedBuffer alias(13);   // the name needs 14 bytes
  GuardedBuffer address(9);  // the address needs exactly 9
  EXPECT_EQ(1,
            aliases.getBrixAliasByIndex(0, alias.data(), alias.size, address.data(), address.size));
  EXPECT_EQ("", alias.text());
  EXPECT_TRUE(alias.guardIntact());
  EXPECT_EQ("gpib7,22", address.text());
  EXPECT_TRUE(address.guardIntact());
}

TEST(AliasesSQLite, VisaOnlyTableLeavesBrixEmpty) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("x", "AliasVisaId", "ASRL1::INSTR") +
                                  insertAlias("y", "SomethingElse", "ignored"));
  KestAliases aliases(SQLiteDataSource);
  char alias[16];
  char address[16];
  EXPECT_EQ(0, aliases.getBrixAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  EXPECT_EQ(0, aliases.unaliasBrixAddress("x", address, sizeof address));
  EXPECT_STREQ("x", address);
  // Rows of another kind are no aliases at all.
  EXPECT_EQ(0, aliases.unaliasVisaAddress("y", address, sizeof address));
  EXPECT_EQ(1, aliases.getVisaAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("x", alias);
  EXPECT_EQ(0, aliases.getVisaAliasByIndex(1, alias, sizeof alias, address, sizeof address));
}

TEST(AliasesSQLite, EnumerationIsStableAgainstConcurrentChanges) {
  pdatest::TempMachine machine;
  std::string db = installWithAliases(
      machine, insertAlias("one", "AliasVisaId", "1") + insertAlias("two", "AliasVisaId", "2"));
  KestAliases aliases(SQLiteDataSource);
  char alias[16];
  char address[16];
  ASSERT_EQ(1, aliases.getVisaAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("one", alias);
  // Another program adds an alias that would sort first: this record's
  // enumeration, already read, keeps its positions.
  pdatest::sqlite(db, insertAlias("aaa", "AliasVisaId", "0"));
  ASSERT_EQ(1, aliases.getVisaAliasByIndex(1, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("two", alias);
  EXPECT_EQ(0, aliases.getVisaAliasByIndex(2, alias, sizeof alias, address, sizeof address));

  // A new record sees the new table.
  KestAliases fresh(SQLiteDataSource);
  ASSERT_EQ(1, fresh.getVisaAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("aaa", alias);
}

TEST(AliasesSQLite, CopiesShareTheTreeAndOutliveTheOriginal) {
  pdatest::TempMachine machine;
  installWithAliases(machine, insertAlias("dmm", "AliasVisaId", "GPIB0::5::INSTR"));
  auto* original = new KestAliases(SQLiteDataSource);
  KestAliases copy(*original);
  EXPECT_EQ(original->getIKestBase(), copy.getIKestBase());
  KestAliases assigned(DeviceIoDataSource);
  assigned = *original;
  EXPECT_EQ(SQLiteDataSource, assigned.getDataSource());
  delete original;

  char address[32];
  EXPECT_EQ(1, copy.unaliasVisaAddress("DMM", address, sizeof address));
  EXPECT_STREQ("GPIB0::5::INSTR", address);
  EXPECT_EQ(1, assigned.unaliasVisaAddress("dmm", address, sizeof address));
}

// ---------------------------------------------------------------------------
// Registry: "VisaDevices" and "Devices" below the settings key.

TEST(AliasesRegistry, ResolvesAndListsBothKinds) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string visa = std::string(kSettingsKey) + "\\VisaDevices";
  const std::string brix = std::string(kSettingsKey) + "\\Devices";
  pdatest::regSetString(visa, "c", "addr-c");
  pdatest::regSetString(visa, "A", "addr-A");
  pdatest::regSetString(visa, "b", "addr-b");
  pdatest::regSetString(brix, "Meter", "gpib0,22");

  KestAliases aliases(RegistryDataSource);
  char alias[16];
  char address[16];
  EXPECT_EQ(1, aliases.unaliasVisaAddress("B", address, sizeof address));
  EXPECT_STREQ("addr-b", address);
  EXPECT_EQ(1, aliases.unaliasBrixAddress("meter", address, sizeof address));
  EXPECT_STREQ("gpib0,22", address);

  const char* order[] = {"A", "b", "c"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(1, aliases.getVisaAliasByIndex(i, alias, sizeof alias, address, sizeof address));
    EXPECT_STREQ(order[i], alias);
  }
  EXPECT_EQ(0, aliases.getVisaAliasByIndex(3, alias, sizeof alias, address, sizeof address));
  EXPECT_EQ(1, aliases.getVisaAliasByIndex(-1, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("A", alias);
  EXPECT_EQ(1, aliases.getBrixAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  EXPECT_STREQ("Meter", alias);
  EXPECT_EQ(0, aliases.getBrixAliasByIndex(1, alias, sizeof alias, address, sizeof address));
}

TEST(AliasesRegistry, AddressOneCharacterTooLongAndEmptyAddress) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string visa = std::string(kSettingsKey) + "\\VisaDevices";
  pdatest::regSetString(visa, "dmm", "GPIB0::22::INSTR");
  pdatest::regSetString(visa, "empty", "");
  KestAliases aliases(RegistryDataSource);

  GuardedBuffer tooSmall(16);
  EXPECT_EQ(0, aliases.unaliasVisaAddress("DMM", tooSmall.data(), tooSmall.size));
  EXPECT_EQ("DMM", tooSmall.text());
  EXPECT_TRUE(tooSmall.guardIntact());

  char address[32];
  EXPECT_EQ(0, aliases.unaliasVisaAddress("empty", address, sizeof address));
  EXPECT_STREQ("empty", address);
}

TEST(AliasesRegistry, RegistrySwitchMakesTheRegistryTheDefault) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kSwitchKey, "_UseRegistryForPersistedData", "TRUE");
  pdatest::regSetString(std::string(kSettingsKey) + "\\VisaDevices", "dmm", "GPIB0::9::INSTR");
  KestAliases aliases;
  EXPECT_EQ(RegistryDataSource, aliases.getDataSource());
  char address[32];
  EXPECT_EQ(1, aliases.unaliasVisaAddress("dmm", address, sizeof address));
  EXPECT_STREQ("GPIB0::9::INSTR", address);
}

#if !defined(_WIN32)
// The stand-in's switch for a process without write rights.
TEST(AliasesRegistry, MissingAliasKeysPassNamesThrough) {
  pdatest::TempMachine machine;
  machine.installSuite();
  // Read-only: the alias keys cannot be created, so neither table exists.
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  KestAliases aliases(RegistryDataSource);
  char alias[16];
  char address[16];
  EXPECT_EQ(0, aliases.unaliasVisaAddress("dmm", address, sizeof address));
  EXPECT_STREQ("dmm", address);
  EXPECT_EQ(0, aliases.getBrixAliasByIndex(0, alias, sizeof alias, address, sizeof address));
}
#endif
