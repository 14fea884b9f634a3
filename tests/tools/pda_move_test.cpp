// pda export, import, copy and diff end to end: byte-identical round trips
// on both stores, the switch flip that keeps its values after a copy, bad
// documents refused with the place of the fault, and imports that fail
// halfway leaving the store exactly as it was (checked with the sqlite3
// client and the registry's files).

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::ok;
using tooltest::pda;

const char* const kSettingsKey = "HKLM\\SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything both stores hold on disk: the database's dump and every
// registry file with its digest.
std::string snapshot(const pdatest::TempMachine& machine) {
  std::string out;
  pdatest::run("cd " + tooltest::quote(machine.root()) +
                   " && find registry | sort && find registry -type f -exec md5sum {} + | sort",
               &out);
  const std::string db = machine.dataDir() + "Quillon.db";
  return std::ifstream(db) ? out + pdatest::sqlite(db, ".dump") : out;
}

// A machine whose SQLite store holds awkward texts and PXI rows.
void fillSQLite(const pdatest::TempMachine& machine) {
  ok(machine, {"init"});
  ok(machine, {"set", "IOControlHidden", "true"});
  pdatest::sqlite(machine.dataDir() + "Quillon.db",
                  "INSERT INTO KestInfo (NAME, VALUE) VALUES ('Quote''s', 'it''s \xc3\xa9'),"
                  " ('Empty', ''), ('Slash/Tilde~', 'x');"
                  "INSERT INTO SorrelParamInfo (NAME, VALUE) VALUES ('vxi11Server', 'a,b');"
                  "INSERT INTO ConfigData (IDKEY, NAME, VALUE) VALUES"
                  " ('CH-1', 'RecordType', 'Chassis'), ('CH-1', 'Slots', '18');");
  ok(machine,
     {"chassis", "add", "MY5400123", "--vendor", "Tessaro", "--model", "M9019A", "--usb",
      "USB0::0x2A8D::0x0001::MY5400123::0::INSTR", "--manf-id", "10893", "--model-id", "1"});
}

TEST(PdaMove, SQLiteExportImportExportIsByteIdentical) {
  std::string first;
  const std::string file = testing::TempDir() + "pda_move_sqlite.json";
  {
    pdatest::TempMachine machine;
    fillSQLite(machine);
    ok(machine, {"export", file});
    first = readText(file);
  }
  EXPECT_NE(first.find("\"Quote's\": \"it's \xc3\xa9\""), std::string::npos) << first;
  EXPECT_NE(first.find("\"CH-1\""), std::string::npos);
  EXPECT_NE(first.find("MY5400123"), std::string::npos);

  pdatest::TempMachine fresh;
  ok(fresh, {"init"});
  ok(fresh, {"import", file});
  EXPECT_EQ(ok(fresh, {"export"}), first);
  // The rows are where the library and other programs read them.
  EXPECT_EQ(pdatest::sqlite(fresh.dataDir() + "Quillon.db",
                            "SELECT VALUE FROM KestInfo WHERE NAME = 'Quote''s';"),
            "it's \xc3\xa9\n");
  EXPECT_EQ(pdatest::sqlite(fresh.pxiDir() + "RemotePXI.db",
                            "SELECT VALUE FROM Chassis WHERE IDKEY = 'MY5400123' AND "
                            "NAME = 'Vendor';"),
            "Tessaro\n");
  EXPECT_EQ(ok(fresh, {"alias", "resolve", "scope"}), "TCPIP0::192.168.1.20::inst0::INSTR\n");
  // Importing the same document again changes nothing.
  EXPECT_EQ(ok(fresh, {"import", file}), "0 changes written to the sqlite store\n");
}

TEST(PdaMove, RegistryRoundTripsAndCopiesToSQLiteWithoutDifferences) {
  std::string first;
  const std::string file = testing::TempDir() + "pda_move_registry.json";
  {
    pdatest::TempMachine machine;
    ok(machine, {"init"});
    ok(machine, {"set", "IOControlHidden", "true", "--source", "registry"});
    ok(machine, {"reg", "add", kSettingsKey, "/v", "Big", "/t", "REG_DWORD", "/d", "0xFFFFFFFE"});
    ok(machine,
       {"reg", "add", std::string(kSettingsKey) + "\\INTF7", "/v", "VISAName", "/d", "GPIB7"});
    ok(machine, {"reg", "add", std::string(kSettingsKey) + "\\INTF7\\dev1", "/v", "Addr", "/d",
                 "GPIB7::3::INSTR"});
    ok(machine, {"reg", "add", std::string(kSettingsKey) + "\\VisaDevices", "/v", "meter", "/d",
                 "GPIB7::3::INSTR"});
    // Not part of the model: left out, and left alone by an import.
    ok(machine, {"reg", "add", kSettingsKey, "/v", "Blob", "/t", "REG_BINARY", "/d", "0102"});
    ok(machine, {"export", "--source", "registry", file});
    first = readText(file);
    EXPECT_NE(first.find("\"Big\": -2,"), std::string::npos) << first;
    EXPECT_EQ(first.find("Blob"), std::string::npos);

    ok(machine, {"copy", "--from", "registry", "--to", "sqlite"});
    EXPECT_EQ(ok(machine, {"diff", "--from", "registry", "--to", "sqlite"}), "");
    // The instrument is one of its interface's in the SQLite tree too.
    EXPECT_EQ(ok(machine, {"alias", "resolve", "meter", "--source", "sqlite"}),
              "GPIB7::3::INSTR\n");
    EXPECT_EQ(pdatest::sqlite(machine.dataDir() + "Quillon.db",
                              "SELECT VALUE FROM ConfigData WHERE IDKEY = 'dev1' AND "
                              "NAME = 'ParentHashKey';"),
              "INTF7\n");
  }
  pdatest::TempMachine fresh;
  ok(fresh, {"import", file, "--source", "registry"});
  EXPECT_EQ(ok(fresh, {"export", "--source", "registry"}), first);
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet("SOFTWARE\\Vantrel\\Quillon\\CurrentVersion", "Big", &type, &bytes));
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(bytes, std::string("\xfe\xff\xff\xff", 4));
}

TEST(PdaMove, CopyBeforeTheSwitchFlipKeepsTheValuesAndDiffListsWhatDiffers) {
  pdatest::TempMachine machine;
  fillSQLite(machine);
  const tooltest::Result before = pda(machine, {"diff", "--from", "sqlite", "--to", "registry"});
  EXPECT_EQ(before.status, 1);
  EXPECT_NE(before.out.find("- /globalSettings/IOControlHidden: \"True\"\n"), std::string::npos)
      << before.out;
  // Records outside the tree have no place in the registry: refused, nothing
  // written.
  const tooltest::Result refused = pda(machine, {"copy", "--from", "sqlite", "--to", "registry"});
  expectFailure(refused, 1);
  EXPECT_NE(refused.err.find("/configuration/otherRecords/CH-1"), std::string::npos) << refused.err;
  EXPECT_EQ(ok(machine, {"export", "--source", "registry"}).find("True"), std::string::npos);

  pdatest::sqlite(machine.dataDir() + "Quillon.db", "DELETE FROM ConfigData WHERE IDKEY='CH-1';");
  const std::string dry =
      ok(machine, {"copy", "--from", "sqlite", "--to", "registry", "--dry-run"});
  EXPECT_NE(dry.find("(dry run: nothing written)"), std::string::npos);
  EXPECT_EQ(ok(machine, {"export", "--source", "registry"}).find("True"), std::string::npos);
  ok(machine, {"copy", "--from", "sqlite", "--to", "registry"});
  EXPECT_EQ(ok(machine, {"diff", "--from", "sqlite", "--to", "registry"}), "");
  EXPECT_EQ(ok(machine, {"favorite", "TCPIP0::192.168.1.20::inst0::INSTR", "--source", "registry"}),
            "on\n");

  ok(machine, {"reg", "add", tooltest::kSwitchKey, "/v", "_UseRegistryForPersistedData", "/t",
               "REG_DWORD", "/d", "1", "/f"});
  EXPECT_EQ(ok(machine, {"get", "IOControlHidden"}), "true\n");

  ok(machine, {"set", "IOControlHidden", "false"});  // now the registry
  const tooltest::Result differs =
      pda(machine, {"diff", "--from", "sqlite", "--to", "registry", "--json"});
  EXPECT_EQ(differs.status, 1);
  const nlohmann::json diff = nlohmann::json::parse(differs.out);
  ASSERT_EQ(diff.size(), 1u) << diff.dump();
  EXPECT_EQ(diff[0]["path"], "/globalSettings/IOControlHidden");
  EXPECT_EQ(diff[0]["from"], "True");
  EXPECT_EQ(diff[0]["to"], "False");

  // Interfaces land in keys the registry store reads, under the names the
  // SQLite tree gives them and their instruments. (Last: reading the tree
  // from the registry stores the interfaces' capability flags.)
  EXPECT_EQ(ok(machine, {"config", "show", "--source", "registry"}),
            ok(machine, {"config", "show", "--source", "sqlite"}));
}

struct BadDocument {
  const char* name;
  const char* text;
  const char* where;  // expected in the message
  bool sqliteOnly;    // a fault only for the SQLite store
};

TEST(PdaMove, BadDocumentsAreRefusedWithTheirPlaceAndNothingWritten) {
  const std::string head = R"({"format": "pda-settings", "version": 1, )";
  const std::string longText(1024, 'x');
  const BadDocument cases[] = {
      {"not JSON", "{\"format\": ", "not JSON", false},
      {"truncated", "{\"format\": \"pda-settings\", \"version\": 1, \"globalSettings\": {\"A\":",
       "not JSON", false},
      {"no object", "[1, 2]", "the document: must be a JSON object", false},
      {"other format", R"({"format": "x", "version": 1})", "/format: must be", false},
      {"future version", R"({"format": "pda-settings", "version": 2})",
       "/version: unknown format version 2", false},
      {"unknown section", R"({"format": "pda-settings", "version": 1, "extra": {}})", "/extra",
       false},
      {"boolean value", R"({"format": "pda-settings", "version": 1,
                           "globalSettings": {"A": "x", "B": true}})",
       "/globalSettings/B: must be text or a whole number", false},
      {"fraction", R"({"format": "pda-settings", "version": 1, "visaSettings": {"A": 1.5}})",
       "/visaSettings/A", false},
      {"names equal but for case",
       R"({"format": "pda-settings", "version": 1, "favorites": {"a/b": "On", "A/B": "Off"}})",
       "/favorites/A~1B: appears twice", false},
      {"NUL in a value",
       R"({"format": "pda-settings", "version": 1, "globalSettings": {"A": "x\u0000y"}})",
       "/globalSettings/A: the value holds a NUL", false},
      {"aliases without brix",
       R"({"format": "pda-settings", "version": 1, "aliases": {"visa": {}}})", "/aliases/brix",
       false},
      {"instrument of another interface",
       R"({"format": "pda-settings", "version": 1, "configuration": {"otherRecords": {},
           "interfaces": {"I1": {"values": {}, "instruments": {
             "D1": {"ParentHashKey": "elsewhere"}}}}}})",
       "/configuration/interfaces/I1/instruments/D1/ParentHashKey", true},
      {"key used twice",
       R"({"format": "pda-settings", "version": 1, "configuration": {"otherRecords": {"I1": {}},
           "interfaces": {"I1": {"values": {}, "instruments": {}}}}})",
       "/configuration/otherRecords/I1", false},
  };
  pdatest::TempMachine machine;
  fillSQLite(machine);
  const std::string before = snapshot(machine);
  const std::string file = machine.path("bad.json");
  for (const BadDocument& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(file, c.text);
    for (const char* store : {"sqlite", "registry"}) {
      if (c.sqliteOnly && std::string(store) == "registry") continue;
      const tooltest::Result r = pda(machine, {"import", file, "--source", store});
      expectFailure(r, 1);
      EXPECT_NE(r.err.find(c.where), std::string::npos) << store << ": " << r.err;
      EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    }
  }
  // Values only the registry cannot hold.
  writeText(file, head + R"("globalSettings": {"Long": ")" + longText + "\"}}");
  const tooltest::Result tooLong = pda(machine, {"import", file, "--source", "registry"});
  expectFailure(tooLong, 1);
  EXPECT_NE(tooLong.err.find("/globalSettings/Long: the registry store reads values of at most"),
            std::string::npos)
      << tooLong.err;
  writeText(file, head + R"("globalSettings": {"N": 4294967296}})");
  expectFailure(pda(machine, {"import", file, "--source", "registry"}), 1);
  EXPECT_EQ(snapshot(machine), before);
  // ... and which SQLite takes as text.
  ok(machine, {"import", file, "--source", "sqlite"});
  EXPECT_EQ(pdatest::sqlite(machine.dataDir() + "Quillon.db", "SELECT NAME, VALUE FROM KestInfo;"),
            "N|4294967296\n");
}

TEST(PdaMove, AFailureHalfwayLeavesEitherStoreAsItWas) {
  pdatest::TempMachine machine;
  fillSQLite(machine);
  pdatest::sqlite(machine.dataDir() + "Quillon.db", "DELETE FROM ConfigData WHERE IDKEY='CH-1';");
  ok(machine, {"copy", "--from", "sqlite", "--to", "registry"});
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
  pdatest::sqlite(machine.dataDir() + "Quillon.db",
                  "CREATE TRIGGER refuse BEFORE INSERT ON ConfigData WHEN NEW.VALUE = 'boom' "
                  "BEGIN SELECT RAISE(ABORT, 'refused by a trigger'); END;");
  // The registry cannot create the interface's key: a file stands there.
  writeText(machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/INTF9"), "");
  const std::string before = snapshot(machine);
  const std::string sqliteBefore = ok(machine, {"export", "--source", "sqlite"});
  const std::string registryBefore = ok(machine, {"export", "--source", "registry"});

  const tooltest::Result sqliteRun = pda(machine, {"import", file, "--source", "sqlite"});
  expectFailure(sqliteRun, 1);
  EXPECT_NE(sqliteRun.err.find("refused by a trigger"), std::string::npos) << sqliteRun.err;
  const tooltest::Result registryRun = pda(machine, {"import", file, "--source", "registry"});
  expectFailure(registryRun, 1);
  EXPECT_NE(registryRun.err.find("the registry was restored"), std::string::npos)
      << registryRun.err;

  EXPECT_EQ(snapshot(machine), before);
  EXPECT_EQ(ok(machine, {"export", "--source", "sqlite"}), sqliteBefore);
  EXPECT_EQ(ok(machine, {"export", "--source", "registry"}), registryBefore);
}

TEST(PdaMove, StoresThatCannotBeReadOrWrittenAreNamed) {
  pdatest::TempMachine machine;
  // No suite: no database to export, and the defaults keep nothing.
  expectFailure(pda(machine, {"export", "--source", "sqlite"}), 1);
  const std::string defaults = ok(machine, {"export", "--source", "defaults"});
  EXPECT_NE(defaults.find("\"INTF0\""), std::string::npos);
  const std::string file = machine.path("d.json");
  writeText(file, defaults);
  expectFailure(pda(machine, {"import", file, "--source", "defaults"}), 2);
  expectFailure(pda(machine, {"copy", "--from", "sqlite", "--to", "sqlite"}), 2);
  // A user without rights: refused, nothing half written.
  ok(machine, {"import", file, "--source", "registry"});
  const std::string before = snapshot(machine);
  ok(machine, {"set", "IOControlHidden", "true", "--source", "registry"});
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  expectFailure(pda(machine, {"import", file, "--source", "registry"}), 1);
  unsetenv("PDA_REGISTRY_READONLY");
  EXPECT_EQ(ok(machine, {"get", "IOControlHidden", "--source", "registry"}), "true\n");
  ok(machine, {"import", file, "--source", "registry"});
  EXPECT_EQ(snapshot(machine), before);
}

}  // namespace

#endif
