// The configuration reader over a database filled with arbitrary rows: NULLs,
// empty keys and names, odd record types, long texts, numbers and blobs, and
// tables that lack a column, have one more, or are missing. The tables are
// made through a SQLite binding of the target's own; the store reads them
// through the library's.
//
// - The configuration root builds a tree with the documented shape: the
//   root holds no values; its children are interfaces, chassis or modules
//   without a parent; an interface's children are instruments whose parent
//   is that interface; every node is named by its RecordId, holds exactly
//   the values of one record of the table, and is owned once.
// - The settings root holds exactly what the rows give (the last row of a
//   name wins, names without regard to case), or only the placeholder.
// - The alias root holds the two alias children with the aliases of their
//   kind, or only the placeholder.
// - Forgetting and reading again gives the same tree.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/NodeHolder.h"
#include "pda/KestSQLite.h"

using pdafuzz::ciEqual;
using pdafuzz::fail;

namespace {

using NodePtr = pda::NodeHolder<KestSQLite>;

const char* const kWords[] = {"Interface", "Device",        "Chassis",   "PModule",    "SModule",
                              "interface", "GPIBInterface", "USBDevice", "PXIChassis", "Nothing",
                              ""};
const char* const kNames[] = {"RecordType",  "PersistentId", "ParentHashKey", "VISAName",
                              "VisaAddress", "ChassisSN",    "PCIBusNumber",  "AliasVisaId",
                              "AliasBrixId", "recordtype",   "InstallLevel"};
const char* const kKeys[] = {"k1", "k2", "K1", "p1", "", "k3"};

std::string pick(pdafuzz::Input& in, const char* const* list, std::size_t n) {
  return list[in.number(n)];
}

// One cell of a row as an SQL expression.
std::string cell(pdafuzz::Input& in, int column) {
  switch (in.byte() % 10) {
    case 0:
      return "NULL";
    case 1:
      return pdafuzz::textLiteral(in.text());
    case 2:
      return pdafuzz::textLiteral(pick(in, kWords, sizeof kWords / sizeof *kWords));
    case 3:
      return pdafuzz::textLiteral(pick(in, kNames, sizeof kNames / sizeof *kNames));
    case 4:
      return std::to_string(static_cast<int>(in.number(2000)) - 1000);
    case 5:
      return "X'" + std::string(2 * (in.byte() % 8), 'A') + "'";
    case 6: {
      const std::size_t length = 200 + in.number(400);
      return pdafuzz::textLiteral(std::string(length, static_cast<char>('A' + in.byte() % 26)));
    }
    default:
      // Keys, and the values that tie records together, from a small pool.
      if (column == 0 || in.byte() & 1)
        return pdafuzz::textLiteral(pick(in, kKeys, sizeof kKeys / sizeof *kKeys));
      return pdafuzz::textLiteral(pick(in, kWords, sizeof kWords / sizeof *kWords));
  }
}

// Makes table anew: the usual columns, or one missing, one more, or no table.
// Returns whether the table has the columns the reader needs.
bool makeTable(pdafuzz::Database& db, pdafuzz::Input& in, const std::string& table, bool keyed) {
  db.exec("DROP TABLE IF EXISTS " + table + ";");
  const int shape = in.byte() % 12;
  std::vector<std::string> columns = keyed ? std::vector<std::string>{"IDKEY", "NAME", "VALUE"}
                                           : std::vector<std::string>{"NAME", "VALUE"};
  bool usable = true;
  if (shape == 9) return false;  // no table
  if (shape == 10) {             // a needed column missing
    columns.pop_back();
    usable = false;
  }
  if (shape == 11) columns.push_back("EXTRA");
  std::string create = "CREATE TABLE " + table + "(ID INTEGER PRIMARY KEY";
  for (const std::string& c : columns) create += ", " + c + (shape == 8 ? " INTEGER" : " TEXT");
  db.exec(create + ");");
  const int rows = in.number(24);
  for (int r = 0; r < rows && !in.done(); ++r) {
    std::string insert = "INSERT INTO " + table + " VALUES(NULL";
    for (std::size_t c = 0; c < columns.size(); ++c) insert += ", " + cell(in, static_cast<int>(c));
    db.exec(insert + ");");
  }
  return usable;
}

// Name/value pairs as a node keeps them: later rows win, names without
// regard to case keep their first spelling; rows without a name are skipped.
NameValueMap pairsOf(const std::vector<std::vector<std::string>>& rows, std::size_t nameColumn) {
  NameValueMap map;
  for (const auto& row : rows) {
    const std::string& name = row[nameColumn];
    if (name == pdafuzz::kNullText || name.empty()) continue;
    const std::string& value = row[nameColumn + 1];
    map[name] = value == pdafuzz::kNullText ? "" : value;
  }
  return map;
}

std::string describe(const IKestBase& node) {
  return std::string("node '") + node.RecordId() + "' of type '" + node.RecordType() + "'";
}

// Checks the tree below the configuration root; returns its shape as text
// for comparison with a second read.
std::string checkConfigTree(KestSQLite& root, const std::vector<NameValueMap>& records) {
  if (!root.rawNameValueMap().empty()) fail("the configuration root holds values");
  std::string shape;
  std::set<const IKestBase*> seen;
  // Empty values are left out of the comparison: the reader's getters drop
  // the empty values of the names they read.
  auto withoutEmpty = [](const NameValueMap& map) {
    NameValueMap out;
    for (const auto& entry : map)
      if (!entry.second.empty()) out.insert(entry);
    return out;
  };
  auto holdsOneRecord = [&](const IKestBase& node) {
    const NameValueMap held = withoutEmpty(node.rawNameValueMap());
    for (const NameValueMap& record : records)
      if (withoutEmpty(record) == held) return;
    fail(describe(node) + " holds values of no single record");
  };
  for (const auto& entry : root.rawSubKeyMap()) {
    const IKestBase* child = entry.second;
    if (!child) fail("a null child");
    if (!seen.insert(child).second) fail("a node is in the tree twice");
    const std::string type = child->RecordType();
    if (type != "Interface" && type != "Chassis" && type != "PModules" && type != "SModules")
      fail("the root holds " + describe(*child));
    if (!ciEqual(entry.first, child->RecordId()))
      fail(describe(*child) + " is filed under another name");
    if (child->ParentPointer() != nullptr || *child->ParentId() != '\0')
      fail(describe(*child) + " has a parent");
    if (child->referenceCount() != 1) fail(describe(*child) + " is owned more than once");
    holdsOneRecord(*child);
    shape += type + ":" + entry.first + "{";
    for (const auto& grand : child->rawSubKeyMap()) {
      const IKestBase* instrument = grand.second;
      if (!instrument || !seen.insert(instrument).second)
        fail("an instrument is null or in the tree twice");
      if (type != "Interface") fail("a " + type + " holds children");
      if (std::string(instrument->RecordType()) != "Instrument")
        fail("an interface holds " + describe(*instrument));
      if (instrument->ParentPointer() != child)
        fail(describe(*instrument) + " points at another parent");
      if (std::string(instrument->ParentId()) != child->RecordId())
        fail(describe(*instrument) + " names another parent");
      if (!ciEqual(grand.first, instrument->RecordId()))
        fail(describe(*instrument) + " is filed under another name");
      if (!instrument->rawSubKeyMap().empty()) fail("an instrument holds children");
      if (instrument->referenceCount() != 1)
        fail(describe(*instrument) + " is owned more than once");
      holdsOneRecord(*instrument);
      shape += grand.first + ",";
    }
    shape += "}";
  }
  return shape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pdafuzz::machine();
  pdafuzz::Input in(data, size);
  pdafuzz::Database db(pdafuzz::configDatabase());
  db.exec("BEGIN;");
  const bool configUsable = makeTable(db, in, "ConfigData", true);
  const bool aliasUsable = makeTable(db, in, "InstrAliasInfo", true);
  const bool settingsUsable = makeTable(db, in, "KestInfo", false);
  db.exec("COMMIT;");

  // The configuration.
  std::vector<NameValueMap> records;
  if (configUsable) {
    // A record is a run of rows with one key in the reader's order.
    std::vector<std::vector<std::string>> run;
    std::string previous;
    for (auto& row : db.rows("SELECT IDKEY, NAME, VALUE FROM ConfigData ORDER BY IDKEY;")) {
      if (row[0] == pdafuzz::kNullText || row[0].empty()) continue;
      if (row[0] != previous && !run.empty()) {
        records.push_back(pairsOf(run, 1));
        run.clear();
      }
      previous = row[0];
      run.push_back(row);
    }
    if (!run.empty()) records.push_back(pairsOf(run, 1));
  }
  NodePtr config(KestSQLite::CreateInstance(KestConfigBaseType));
  config->SubKeyMap();
  if (!configUsable && !config->rawSubKeyMap().empty())
    fail("a configuration was read from an unusable table");
  const std::string shape = checkConfigTree(*config, records);
  for (const auto& entry : config->rawSubKeyMap()) {
    // Getters on what was read, with names from the input.
    char buffer[8];
    const std::string name = in.cText();
    entry.second->getValueString(name.c_str(), buffer, in.number(sizeof buffer + 1), "");
    entry.second->getValueInt32(in.cText().c_str(), 0);
  }
  config->reInitialize();
  if (!config->rawSubKeyMap().empty() || !config->rawNameValueMap().empty())
    fail("reInitialize kept something");
  config->SubKeyMap();
  if (checkConfigTree(*config, records) != shape) fail("a second read gave another tree");

  // The settings.
  NodePtr settings(KestSQLite::CreateInstance(KestInfoBaseType));
  const NameValueMap& read = *settings->NameValueMap();
  NameValueMap expected;
  if (settingsUsable) expected = pairsOf(db.rows("SELECT NAME, VALUE FROM 'KestInfo';"), 0);
  if (expected.empty()) expected["FAKENAME***"] = "FAKEVALUE***";
  if (read != expected) fail("the settings hold other values than the table");

  // The aliases.
  NodePtr aliases(KestSQLite::CreateInstance(AliasBaseType));
  aliases->SubKeyMap();
  if (std::string(aliases->RecordId()) != "Alias") fail("the alias root is not named Alias");
  std::vector<std::vector<std::string>> aliasRows;
  if (aliasUsable) aliasRows = db.rows("SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo");
  if (aliasRows.empty()) {
    if (!aliases->rawSubKeyMap().empty() || aliases->rawNameValueMap().size() != 1 ||
        aliases->rawNameValueMap().count("FAKENAME***") != 1)
      fail("an alias table without rows did not give the placeholder alone");
  } else {
    if (aliases->rawSubKeyMap().size() != 2 || !aliases->rawNameValueMap().empty())
      fail("an alias table with rows did not give the two children alone");
    for (const char* kind : {"VisaAlias", "BrixAlias"}) {
      auto it = aliases->rawSubKeyMap().find(kind);
      if (it == aliases->rawSubKeyMap().end()) fail(std::string("no ") + kind + " child");
      const std::string idKind = std::string(kind) == "VisaAlias" ? "AliasVisaId" : "AliasBrixId";
      NameValueMap want;
      for (const auto& row : aliasRows) {
        if (!ciEqual(row[1], idKind) || row[0] == pdafuzz::kNullText || row[0].empty()) continue;
        want[row[0]] = row[2] == pdafuzz::kNullText ? "" : row[2];
      }
      if (it->second->rawNameValueMap() != want)
        fail(std::string(kind) + " holds other aliases than the table");
    }
  }
  return 0;
}
