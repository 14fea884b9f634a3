// Alias resolution and listing: the built-in defaults, which have no alias
// tables, and the SQLite configuration database. The code is the same for
// every store; how the registry keeps its alias keys is the registry's own.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pda/KestAliases.h"
#include "pda/KestRecord.h"
#include "support/Fixtures.h"

namespace {

// Resolves name into a buffer of size bytes with 16 guard bytes after it;
// gives "answer:text", or "overrun" when a guard byte changed.
std::string unalias(KestAliases& aliases, const char* name, unsigned int size = 64,
                    bool brix = false) {
  std::vector<char> bytes(size + 16, '#');
  const int answer = brix ? aliases.unaliasBrixAddress(name, bytes.data(), size)
                          : aliases.unaliasVisaAddress(name, bytes.data(), size);
  for (std::size_t i = size; i < bytes.size(); ++i)
    if (bytes[i] != '#') return "overrun";
  return std::to_string(answer) + ":" + std::string(bytes.data(), strnlen(bytes.data(), size));
}

// The alias at index as "answer:alias=address", from buffers of the given
// sizes (16 guard bytes after each) that start stale.
std::string aliasAt(KestAliases& aliases, int index, bool brix = false, unsigned int aliasSize = 16,
                    unsigned int addressSize = 16) {
  std::vector<char> alias(aliasSize + 16, '#'), address(addressSize + 16, '#');
  const int answer = brix ? aliases.getBrixAliasByIndex(index, alias.data(), aliasSize,
                                                        address.data(), addressSize)
                          : aliases.getVisaAliasByIndex(index, alias.data(), aliasSize,
                                                        address.data(), addressSize);
  for (std::size_t i = aliasSize; i < alias.size(); ++i)
    if (alias[i] != '#') return "overrun";
  for (std::size_t i = addressSize; i < address.size(); ++i)
    if (address[i] != '#') return "overrun";
  return std::to_string(answer) + ":" +
         std::string(alias.data(), strnlen(alias.data(), aliasSize)) + "=" +
         std::string(address.data(), strnlen(address.data(), addressSize));
}

std::string insertAlias(const std::string& alias, const std::string& kind,
                        const std::string& address) {
  return "INSERT INTO InstrAliasInfo(IDKEY, NAME, VALUE) VALUES(" + pdatest::sqlQuote(alias) + "," +
         pdatest::sqlQuote(kind) + "," + pdatest::sqlQuote(address) + ");";
}

}  // namespace

// WrenDataSource is served by the built-in defaults, which have no alias
// tables: names pass through, whole or (when they do not fit) as "", and
// listings are empty.
TEST(AliasesDefaults, BuiltInStoresPassEveryNameThrough) {
  pdatest::TempMachine machine;
  KestAliases aliases(WrenDataSource);
  EXPECT_EQ(WrenDataSource, aliases.getDataSource());
  ASSERT_NE(nullptr, aliases.getIKestBase());
  EXPECT_EQ("0:hp3458", unalias(aliases, "hp3458", 64, true));
  EXPECT_EQ("0:", unalias(aliases, nullptr, 64, true));
  EXPECT_EQ("0:", unalias(aliases, "abcdef", 6));  // needs 7 bytes
  EXPECT_EQ("0:abcdef", unalias(aliases, "abcdef", 7));
  EXPECT_EQ("0:=", aliasAt(aliases, 0));
}

// Resolution on the database: without regard to case, VISA and Brix tables
// apart, empty addresses and unknown names passing through, an address that
// does not fit counting as unresolved, and in place.
TEST(AliasesSQLite, Resolves) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::sqlite(machine.createConfigDatabase(),
                  insertAlias("MYDMM", "AliasVisaId", "GPIB0::22::INSTR") +
                      insertAlias("Counter", "aliasbrixid", "gpib0,7") +
                      insertAlias("Blank", "AliasVisaId", "") +
                      insertAlias("scope", "AliasVisaId", "USB0::0x0957::0x1796::MY1::INSTR"));
  KestAliases aliases(SQLiteDataSource);
  EXPECT_EQ("1:GPIB0::22::INSTR", unalias(aliases, "MyDmm"));
  EXPECT_EQ("1:gpib0,7", unalias(aliases, "COUNTER", 64, true));
  EXPECT_EQ("0:MyDmm", unalias(aliases, "MyDmm", 64, true));
  EXPECT_EQ("0:Blank", unalias(aliases, "Blank"));
  // "GPIB0::22::INSTR" takes 17 bytes.
  EXPECT_EQ("0:mydmm", unalias(aliases, "mydmm", 16));
  EXPECT_EQ("1:GPIB0::22::INSTR", unalias(aliases, "mydmm", 17));
  char buffer[64] = "SCOPE";
  EXPECT_EQ(1, aliases.unaliasVisaAddress(buffer, buffer, sizeof buffer));
  EXPECT_STREQ("USB0::0x0957::0x1796::MY1::INSTR", buffer);
}

// Listing on the database: case-insensitive order, negative indexes as 0,
// past the end 0 with both buffers emptied, texts whole or not at all; an
// enumeration already read keeps its positions while another program
// changes the table, a new record sees it.
TEST(AliasesSQLite, Lists) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db, insertAlias("b", "AliasVisaId", "addr-b") +
                          insertAlias("A", "AliasVisaId", "addr-A") +
                          insertAlias("c", "AliasVisaId", "addr-c"));
  KestAliases aliases(SQLiteDataSource);
  EXPECT_EQ("1:A=addr-A", aliasAt(aliases, -1));
  EXPECT_EQ("1:b=addr-b", aliasAt(aliases, 1));
  EXPECT_EQ("0:=", aliasAt(aliases, 3));
  pdatest::sqlite(db, insertAlias("aaa", "AliasVisaId", "0") +
                          insertAlias("LongAliasName", "AliasBrixId", "gpib7,22"));
  EXPECT_EQ("1:b=addr-b", aliasAt(aliases, 1));
  KestAliases fresh(SQLiteDataSource);
  EXPECT_EQ("1:aaa=0", aliasAt(fresh, 1));
  // The name needs 14 bytes, the address exactly 9.
  EXPECT_EQ("1:=gpib7,22", aliasAt(fresh, 0, true, 13, 9));
}
