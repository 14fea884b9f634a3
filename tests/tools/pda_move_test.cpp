// pda export, import, copy and diff end to end: round trips on both stores,
// bad documents refused with the place of the fault, and imports that fail
// halfway leaving the store exactly as it was.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include "ToolRun.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

// A machine whose SQLite store holds awkward texts and PXI rows.
void fillSQLite(const pdatest::TempMachine& machine) {
  ok(machine, "init");
  ok(machine, "set IOControlHidden true");
  stored(machine,
         "INSERT INTO KestInfo (NAME, VALUE) VALUES ('Quote''s', 'it''s "
         "\xc3\xa9'),"
         " ('Empty', ''), ('Slash/Tilde~', 'x');"
         "INSERT INTO SorrelParamInfo (NAME, VALUE) VALUES ('vxi11Server', 'a,b');"
         "INSERT INTO ConfigData (IDKEY, NAME, VALUE) VALUES"
         " ('CH-1', 'RecordType', 'Chassis'), ('CH-1', 'Slots', '18');");
  ok(machine,
     "chassis add MY5400123 --vendor Tessaro --model M9019A --usb "
     "USB0::0x2A8D::0x0001::MY5400123::0::INSTR --manf-id 10893 --model-id 1");
}

// Export, import into a fresh machine, export again: the same bytes, with the
// chassis where the library reads them; a second import changes nothing.
TEST(PdaMove, SQLiteExportImportExportIsByteIdentical) {
  std::string first;
  const std::string file = testing::TempDir() + "pda_move_sqlite.json";
  {
    pdatest::TempMachine machine;
    fillSQLite(machine);
    ok(machine, {"export", file});
    first = readText(file);
  }
  for (const char* part : {"\"Quote's\": \"it's \xc3\xa9\"", "\"CH-1\"", "MY5400123"})
    EXPECT_TRUE(contains(first, part)) << first;
  pdatest::TempMachine fresh;
  ok(fresh, "init");
  ok(fresh, {"import", file});
  EXPECT_EQ(ok(fresh, "export"), first);
  EXPECT_EQ(pdatest::sqlite(fresh.pxiDir() + "RemotePXI.db",
                            "SELECT VALUE FROM Chassis WHERE IDKEY = "
                            "'MY5400123' AND NAME = 'Vendor';"),
            "Tessaro\n");
  EXPECT_EQ(ok(fresh, {"import", file}), "0 changes written to the sqlite store\n");
}

// The registry's round trip keeps a DWORD's bits and leaves unmodelled values
// alone; a copy to SQLite puts instruments under their interface.
TEST(PdaMove, RegistryRoundTripsAndCopiesToSQLiteWithoutDifferences) {
  std::string first;
  const std::string file = testing::TempDir() + "pda_move_registry.json";
  {
    pdatest::TempMachine machine;
    ok(machine, "init");
    ok(machine, "set IOControlHidden true --source registry");
    for (const char* add :
         {" /v Big /t REG_DWORD /d 0xFFFFFFFE", " /v Blob /t REG_BINARY /d 0102",
          "\\INTF7 /v VISAName /d GPIB7", "\\INTF7\\dev1 /v Addr /d GPIB7::3::INSTR",
          "\\VisaDevices /v meter /d GPIB7::3::INSTR"})
      ok(machine, "reg add " + kSettingsKey + add);
    ok(machine, {"export", "--source", "registry", file});
    first = readText(file);
    EXPECT_TRUE(contains(first, "\"Big\": -2,") && !contains(first, "Blob")) << first;
    ok(machine, "copy --from registry --to sqlite");
    EXPECT_EQ(ok(machine, "diff --from registry --to sqlite"), "");
    EXPECT_EQ(ok(machine, "alias resolve meter --source sqlite"), "GPIB7::3::INSTR\n");
    EXPECT_EQ(stored(machine,
                     "SELECT VALUE FROM ConfigData WHERE IDKEY = 'dev1' AND "
                     "NAME = 'ParentHashKey';"),
              "INTF7\n");
  }
  pdatest::TempMachine fresh;
  ok(fresh, {"import", file, "--source", "registry"});
  EXPECT_EQ(ok(fresh, "export --source registry"), first);
  unsigned int type = 0;
  EXPECT_EQ(regBytes(kRawSettingsKey, "Big", &type), "\xfe\xff\xff\xff");
  EXPECT_EQ(type, 4u);
}

// Copy before the switch flip keeps the values; records outside the tree are
// refused by the registry; diff lists what differs.
TEST(PdaMove, CopyBeforeTheSwitchFlipKeepsTheValuesAndDiffListsWhatDiffers) {
  pdatest::TempMachine machine;
  fillSQLite(machine);
  const Result before = pda(machine, "diff --from sqlite --to registry");
  EXPECT_EQ(before.status, 1);
  EXPECT_TRUE(contains(before.out, "- /globalSettings/IOControlHidden: \"True\"\n")) << before.out;
  expectFailure(pda(machine, "copy --from sqlite --to registry"), 1,
                "/configuration/otherRecords/CH-1");
  stored(machine, "DELETE FROM ConfigData WHERE IDKEY='CH-1';");
  // (That the switch then reads the copy, the README's "Moving settings" shows.)
  ok(machine, "copy --from sqlite --to registry");
  ok(machine, "set IOControlHidden false --source registry");
  const Result differs = pda(machine, "diff --from sqlite --to registry --json");
  EXPECT_EQ(differs.status, 1);
  expectLike(nlohmann::json::parse(differs.out),
             R"([{"path": "/globalSettings/IOControlHidden", "from": "True", "to": "False"}])");
  // Interfaces land in keys the registry store reads, under the names the
  // SQLite tree gives them and their instruments. (Last: reading the tree
  // from the registry stores the interfaces' capability flags.)
  EXPECT_EQ(ok(machine, "config show --source registry"),
            ok(machine, "config show --source sqlite"));
}

// Bad documents are refused on either store with the place of the fault.
TEST(PdaMove, BadDocumentsAreRefusedWithTheirPlaceAndNothingWritten) {
  const std::string head = R"({"format": "pda-settings", "version": 1, )";
  const struct {
    std::string text;
    const char* store;
    const char* where;  // expected in the message
  } cases[] = {
      {"{\"format\": ", "sqlite", "not JSON"},
      {R"({"format": "pda-settings", "version": 2})", "registry",
       "/version: unknown format version 2"},
      {head + R"("globalSettings": {"A": "x", "B": true}})", "sqlite",
       "/globalSettings/B: must be text or a whole number"},
      {head + R"("favorites": {"a/b": "On", "A/B": "Off"}})", "registry",
       "/favorites/A~1B: appears twice"},
      {head + R"("configuration": {"otherRecords": {}, "interfaces": {"I1": {"values": {},
         "instruments": {"D1": {"ParentHashKey": "elsewhere"}}}}}})",
       "sqlite", "/configuration/interfaces/I1/instruments/D1/ParentHashKey"},
      {head + R"("configuration": {"otherRecords": {"I1": {}},
         "interfaces": {"I1": {"values": {}, "instruments": {}}}}})",
       "registry", "/configuration/otherRecords/I1"},
      // Values only the registry cannot hold.
      {head + R"("globalSettings": {"Long": ")" + std::string(1024, 'x') + "\"}}", "registry",
       "/globalSettings/Long: the registry store reads values of at most"},
      {head + R"("globalSettings": {"N": 4294967296}})", "registry", "/globalSettings/N"},
  };
  pdatest::TempMachine machine;
  fillSQLite(machine);
  const std::string before = snapshot(machine);
  const std::string file = machine.path("bad.json");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 100));
    writeText(file, c.text);
    const std::string err = expectFailure(pda(machine, {"import", file, "--source", c.store}), 1);
    EXPECT_TRUE(contains(err, c.where) && contains(err, "nothing was written")) << err;
  }
  EXPECT_EQ(snapshot(machine), before);
  // ... and which SQLite takes as text.
  ok(machine, {"import", file, "--source", "sqlite"});
  EXPECT_EQ(stored(machine, "SELECT NAME, VALUE FROM KestInfo;"), "N|4294967296\n");
}

// An import that fails at its last write leaves either store as it was.
TEST(PdaMove, AFailureHalfwayLeavesEitherStoreAsItWas) {
  pdatest::TempMachine machine;
  fillSQLite(machine);
  stored(machine, "DELETE FROM ConfigData WHERE IDKEY='CH-1';");
  ok(machine, "copy --from sqlite --to registry");
  const std::string file = machine.path("doc.json");
  ok(machine, {"export", "--source", "sqlite", file});
  nlohmann::json doc = nlohmann::json::parse(readText(file));
  doc.erase("pxi");
  doc["globalSettings"]["IOControlHidden"] = "False";
  doc["globalSettings"]["Added"] = "1";
  doc["configuration"]["interfaces"]["INTF9"] = {{"values", {{"VISAName", "boom"}}},
                                                 {"instruments", nlohmann::json::object()}};
  writeText(file, doc.dump());

  // SQLite refuses the last row: the one transaction rolls back.
  stored(machine,
         "CREATE TRIGGER refuse BEFORE INSERT ON ConfigData WHEN "
         "NEW.VALUE = 'boom' "
         "BEGIN SELECT RAISE(ABORT, 'refused by a trigger'); END;");
  // The registry cannot create the interface's key: a file stands there.
  writeText(machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/INTF9"), "");
  const std::string before = snapshot(machine);

  expectFailure(pda(machine, {"import", file, "--source", "sqlite"}), 1, "refused by a trigger");
  expectFailure(pda(machine, {"import", file, "--source", "registry"}), 1,
                "the registry was restored");

  EXPECT_EQ(snapshot(machine), before);
}

// Stores that cannot be read or written are refused, nothing half written.
TEST(PdaMove, StoresThatCannotBeReadOrWrittenAreNamed) {
  pdatest::TempMachine machine;
  // No suite: no database to export, and the defaults keep nothing.
  expectFailure(pda(machine, "export --source sqlite"), 1);
  const std::string file = machine.path("d.json");
  writeText(file, ok(machine, "export --source defaults"));
  EXPECT_TRUE(contains(readText(file), "\"INTF0\""));
  expectFailure(pda(machine, {"import", file, "--source", "defaults"}), 2);
  expectFailure(pda(machine, "copy --from sqlite --to sqlite"), 2);
  // A user without rights: refused, nothing half written.
  ok(machine, "set IOControlHidden true --source registry");
  const std::string before = snapshot(machine);
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  expectFailure(pda(machine, {"import", file, "--source", "registry"}), 1);
  unsetenv("PDA_REGISTRY_READONLY");
  EXPECT_EQ(snapshot(machine), before);
}

}  // namespace

#endif
