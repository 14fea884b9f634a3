// Statement texts built from arbitrary names, values and record keys: quotes,
// comment markers, semicolons, SQL of their own. Every write and delete goes
// through the SQLite store; the table is compared before and after through a
// connection of the target's own:
//
// - a write removes exactly the rows with that name (and, in the keyed table,
//   that record key) and adds exactly one row holding the name, the value
//   and the key as given; no other row changes and nothing else happens;
// - a delete removes exactly those rows;
// - the node then answers the value written, and a new node reads the table
//   as the rows give it.
//
// So a quote can never end a literal early and change what a statement does.

#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/NodeHolder.h"
#include "pda/KestSQLite.h"

using pdafuzz::ciEqual;
using pdafuzz::fail;
using Rows = std::vector<std::vector<std::string>>;

namespace {

using NodePtr = pda::NodeHolder<KestSQLite>;

const char kSettingsRows[] = "SELECT ID, NAME, VALUE FROM KestInfo ORDER BY ID;";
const char kConfigRows[] = "SELECT ID, IDKEY, NAME, VALUE FROM ConfigData ORDER BY ID;";

std::string show(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 120)) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// The rows that must stay: those whose name (in any letter case, as every
// reader compares names) and key differ from the ones given. nameColumn is
// the NAME column; keyColumn the IDKEY column or -1.
Rows kept(const Rows& rows, int nameColumn, int keyColumn, const std::string& name,
          const std::string& key) {
  Rows out;
  for (const auto& row : rows) {
    const bool sameName = ciEqual(row[nameColumn], name);
    const bool sameKey = keyColumn < 0 || row[keyColumn] == key;
    if (!(sameName && sameKey)) out.push_back(row);
  }
  return out;
}

void checkWrite(const Rows& before, const Rows& after, int nameColumn, int keyColumn,
                const std::string& name, const std::string& value, const std::string& key) {
  const Rows expected = kept(before, nameColumn, keyColumn, name, key);
  if (after.size() != expected.size() + 1)
    fail("a write of '" + show(name) + "' = '" + show(value) + "' left " +
         std::to_string(after.size()) + " rows, not " + std::to_string(expected.size() + 1));
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (after[i] != expected[i]) fail("a write of '" + show(name) + "' changed another row");
  const auto& added = after.back();
  if (added[nameColumn] != name || added[nameColumn + 1] != value ||
      (keyColumn >= 0 && added[keyColumn] != key))
    fail("a write of '" + show(name) + "' = '" + show(value) + "' stored '" +
         show(added[nameColumn]) + "' = '" + show(added[nameColumn + 1]) + "'");
}

void checkDelete(const Rows& before, const Rows& after, int nameColumn, int keyColumn,
                 const std::string& name, const std::string& key) {
  if (after != kept(before, nameColumn, keyColumn, name, key))
    fail("a delete of '" + show(name) + "' removed other rows than those of the name");
}

// Large enough for any value an input can hold.
std::size_t _inputSize = 0;

std::string valueOf(IKestBase& node, const std::string& name) {
  std::vector<char> buffer(_inputSize + 64);
  node.getValueString(name.c_str(), buffer.data(), static_cast<unsigned>(buffer.size()),
                      "\x01none");
  return buffer.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pdafuzz::machine();
  pdafuzz::Input in(data, size);
  _inputSize = size;
  pdafuzz::Database db(pdafuzz::configDatabase());

  // Rows already there, some with names that the input is likely to write.
  db.exec("DELETE FROM KestInfo; DELETE FROM ConfigData;");
  const int seeds = in.number(6);
  for (int i = 0; i < seeds; ++i) {
    const std::string name = in.cText();
    db.exec("INSERT INTO KestInfo VALUES(NULL, " + pdafuzz::textLiteral(name) + ", 'old');");
    db.exec("INSERT INTO ConfigData VALUES(NULL, 'k', " + pdafuzz::textLiteral(name) + ", 'old');");
  }
  db.exec(
      "INSERT INTO KestInfo VALUES(NULL, 'Witness', 'stays'), (NULL, NULL, 'no name');"
      "INSERT INTO ConfigData VALUES(NULL, 'other', 'Witness', 'stays');");

  NodePtr settings(KestSQLite::CreateInstance(KestInfoBaseType));
  NodePtr config(KestSQLite::CreateInstance(KestConfigBaseType));
  for (int step = 0; step < 12 && !in.done(); ++step) {
    const uint8_t op = in.byte() % 5;
    const std::string name = in.cText();
    if (op == 0) {  // a setting
      const std::string value = in.cText();
      const Rows before = db.rows(kSettingsRows);
      const int rc = settings->setValueString(name.c_str(), value.c_str());
      const Rows after = db.rows(kSettingsRows);
      if (name.empty()) {
        if (rc != 0 || after != before) fail("a write without a name was made");
        continue;
      }
      if (rc != 1) fail("a write of '" + show(name) + "' failed");
      checkWrite(before, after, 1, -1, name, value, "");
      const std::string answer = valueOf(*settings, name);
      if (answer != (value.empty() ? "\x01none" : value))
        fail("the node answers another value after a write");
    } else if (op == 1) {  // a value of a configuration record, under its key
      const std::string value = in.cText();
      const std::string key = in.cText();
      const bool byPersistentId = in.byte() & 1;
      config->setRecordId(byPersistentId ? "not the key" : key.c_str());
      config->setPersistentId(byPersistentId ? key.c_str() : "");
      const Rows before = db.rows(kConfigRows);
      const int rc = config->setValueString(name.c_str(), value.c_str());
      const Rows after = db.rows(kConfigRows);
      if (name.empty()) {
        if (rc != 0 || after != before) fail("a write without a name was made");
        continue;
      }
      if (rc != 1) fail("a keyed write of '" + show(name) + "' failed");
      // A node that was not read from the table writes under its record key
      // (RecordId), whatever its persistent id.
      const std::string written = byPersistentId ? "not the key" : key;
      checkWrite(before, after, 2, 1, name, value, written);
    } else if (op == 2) {  // a delete of a setting
      const Rows before = db.rows(kSettingsRows);
      if (settings->deleteName(name.c_str()) != 1) fail("a delete failed");
      checkDelete(before, db.rows(kSettingsRows), 1, -1, name, "");
    } else if (op == 3) {  // a delete in one configuration record
      const std::string key = in.cText();
      config->setRecordId(key.c_str());
      config->setPersistentId("");
      const Rows before = db.rows(kConfigRows);
      if (config->deleteName(name.c_str()) != 1) fail("a keyed delete failed");
      checkDelete(before, db.rows(kConfigRows), 2, 1, name, key);
    } else {  // a new node reads the settings as the rows give them
      NodePtr fresh(KestSQLite::CreateInstance(KestInfoBaseType));
      std::string expected = "\x01none";
      for (const auto& row : db.rows(kSettingsRows))
        if (row[1] != pdafuzz::kNullText && !row[1].empty() && ciEqual(row[1], name))
          expected = row[2] == pdafuzz::kNullText || row[2].empty() ? "\x01none" : row[2];
      if (!name.empty() && valueOf(*fresh, name) != expected)
        fail("a new node reads another value");
    }
  }
  return 0;
}
