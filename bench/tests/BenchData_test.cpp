// The benchmarks compare like with like only if the data sets are what they
// claim and each baseline does the same work on the same data as the library:
// these tests check both against the real library, the real SQLite library
// and the emulated registry. Each test makes its own machine (one per
// process, as the library keeps its install paths for the process).

#include "BenchData.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Text.h"
#include "pda/KestConfig.h"
#include "pda/KestInfo.h"
#include "pda/KestSQLite.h"

namespace pdabench {
namespace {

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Database {
  Database() : machine(PDA_SQLITE_LIBRARY), sqlite(machine.sqliteLibrary()) {}
  ~Database() { KestSQLite::closeAllDatabaseConnections(); }
  Machine machine;
  RawSQLite sqlite;
};

TEST(DataSets, ConfigRowsGiveEightValuesPerRecordAndTieInstrumentsToTheirInterface) {
  const std::size_t records = 43;  // two full groups of 21 and one interface alone
  const std::vector<ConfigRow> rows = configRows(records);
  ASSERT_EQ(rows.size(), records * 8);
  EXPECT_EQ(interfacesIn(records), 3u);
  EXPECT_EQ(interfacesIn(42), 2u);
  EXPECT_EQ(interfacesIn(0), 0u);

  std::map<std::string, std::map<std::string, std::string>> byKey;
  std::vector<std::string> order;
  for (const ConfigRow& row : rows) {
    if (byKey.count(row.key) == 0) order.push_back(row.key);
    auto& values = byKey[row.key];
    EXPECT_TRUE(values.emplace(lowered(row.name), row.value).second)
        << "one name twice in " << row.key;
  }
  ASSERT_EQ(order.size(), records) << "keys are unique per record";
  std::string interfaceKey;
  std::set<std::string> addresses;
  for (std::size_t r = 0; r < records; ++r) {
    const auto& values = byKey[order[r]];
    EXPECT_EQ(values.at("persistentid"), order[r]);
    EXPECT_EQ(order[r].size(), 36u) << "a persistent id in the 8-4-4-4-12 form";
    if (r % 21 == 0) {
      EXPECT_EQ(values.at("recordtype"), "Interface");
      interfaceKey = order[r];
    } else {
      EXPECT_EQ(values.at("recordtype"), "Device");
      EXPECT_EQ(values.at("parenthashkey"), interfaceKey);
      EXPECT_TRUE(addresses.insert(lowered(values.at("visaaddress"))).second);
    }
  }
  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(sorted, order) << "the reader must sort the records itself";
}

TEST(Baselines, RawTableReadGivesExactlyWhatTheSettingsRecordReads) {
  Database db;
  const std::vector<Setting> settings = settingsRows(1000);
  createConfigDatabase(db.sqlite, db.machine.configDb(), settings, {});
  sqlite3* connection = db.sqlite.open(db.machine.configDb(), RawSQLite::kOpenReadOnly);
  NameValueMap raw;
  rawReadTable(db.sqlite, connection, "KestInfo", &raw);
  db.sqlite.close(connection);

  KestInfo info(SQLiteDataSource);
  ASSERT_NE(info.getIKestBase(), nullptr);
  const NameValueMap& library = *info.getIKestBase()->NameValueMap();
  EXPECT_EQ(raw.size(), settings.size()) << "the rows' names are unique";
  EXPECT_TRUE(library == raw) << "the library holds " << library.size() << " values";
}

TEST(Baselines, MapGettersAnswerWhatTheRecordAnswers) {
  Database db;
  const std::vector<Setting> settings = {{"Digits", "42"},     {"Trailing", "12abc"},
                                         {"Negative", "-5"},   {"Yes", "YES"},
                                         {"TrueWord", "True"}, {"Word", "maybe"},
                                         {"Blank", " 7"},      {"Huge", "99999999999"},
                                         {"Text", "a value"},  {"Long", std::string(40, 'x')}};
  createConfigDatabase(db.sqlite, db.machine.configDb(), settings, {});
  KestInfo info(SQLiteDataSource);
  NameValueMap map;
  for (const Setting& s : settings) map[s.name] = s.value;
  for (const Setting& s : settings) {
    EXPECT_EQ(mapGetInt32(map, s.name.c_str(), -3), info.getValueInt32(s.name.c_str(), -3))
        << s.name;
    EXPECT_EQ(mapGetBool(map, s.name.c_str(), -3), info.getValueBool(s.name.c_str(), -3)) << s.name;
    for (unsigned size : {1u, 8u, 41u, 64u}) {
      char expected[64], actual[64];
      std::memset(expected, 'z', sizeof expected);
      std::memset(actual, 'z', sizeof actual);
      mapGetString(map, s.name.c_str(), expected, size, "dflt");
      info.getValueString(s.name.c_str(), actual, size, "dflt");
      EXPECT_STREQ(expected, actual) << s.name << " into " << size << " bytes";
    }
  }
  EXPECT_EQ(mapGetInt32(map, "missing", 256), info.getValueInt32("missing", 256));
}

TEST(Baselines, RawConfigQuerySeesEveryRowAndTheLibraryBuildsEveryRecord) {
  Database db;
  const std::size_t records = 105;
  const std::vector<ConfigRow> rows = configRows(records);
  createConfigDatabase(db.sqlite, db.machine.configDb(), {}, rows);
  sqlite3* connection = db.sqlite.open(db.machine.configDb(), RawSQLite::kOpenReadOnly);
  EXPECT_EQ(rawQueryConfig(db.sqlite, connection), rows.size());
  db.sqlite.close(connection);

  KestConfig config(SQLiteDataSource);
  IKestBase* root = config.kestBase();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->SubKeyMap()->size(), interfacesIn(records));
  EXPECT_EQ(nodeCount(root), records + 1);
  std::size_t bytes = 0;
  for (const ConfigRow& row : rows) bytes += row.name.size() + row.value.size();
  EXPECT_EQ(nameValueBytes(root), bytes) << "every name and value of the rows is in the tree";
  for (const auto& intf : *root->SubKeyMap()) EXPECT_EQ(intf.second->rawSubKeyMap().size(), 20u);
}

TEST(Baselines, RawWriteAndStoreWriteReplaceTheSameRow) {
  Database db;
  createConfigDatabase(db.sqlite, db.machine.configDb(), settingsRows(50), {});
  sqlite3* writeDb = db.sqlite.open(db.machine.configDb(), RawSQLite::kOpenReadWrite);
  sqlite3* readDb = db.sqlite.open(db.machine.configDb(), RawSQLite::kOpenReadOnly);
  {
    RawWriter writer(db.sqlite, writeDb);
    ASSERT_TRUE(writer.write("KestInfo", "DmcLoggingLevel", "it's raw"));
    EXPECT_FALSE(writer.write("NoSuchTable", "A", "b")) << "a failed step is reported";
    ASSERT_TRUE(writer.write("KestInfo", "NewName", "new")) << "a failure leaves the writer usable";
  }
  {
    KestInfo info(SQLiteDataSource);
    char buffer[64];
    info.getDmcLoggingLevel(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "it's raw");
    ASSERT_NE(info.setValueString("DmcLoggingLevel", "it's the store"), 0);
  }
  NameValueMap raw;
  rawReadTable(db.sqlite, readDb, "KestInfo", &raw);
  EXPECT_EQ(raw.at("DmcLoggingLevel"), "it's the store");
  EXPECT_EQ(raw.at("NewName"), "new");
  EXPECT_EQ(raw.size(), 51u) << "each write replaced its row rather than adding one";
  db.sqlite.close(readDb);
  db.sqlite.close(writeDb);
}

TEST(Baselines, ReadFilesReadsEveryByteAndRefusesAMissingFile) {
  Machine machine(PDA_SQLITE_LIBRARY);
  const std::vector<std::string> files = createRegistryConfig(machine, 2, 3);
  std::size_t total = 0;
  for (const std::string& file : files) {
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
    total += static_cast<std::size_t>(st.st_size);
  }
  EXPECT_EQ(readFiles(files), total);
  EXPECT_THROW(readFiles({machine.root() + "/no-such-file"}), std::runtime_error);
}

TEST(DataSets, RegistryConfigIsTheTreeTheRegistryStoreBuilds) {
  Machine machine(PDA_SQLITE_LIBRARY);
  const std::vector<std::string> files = createRegistryConfig(machine, 3, 4);
  ASSERT_EQ(files.size(), 3u + 12u);

  KestConfig config(RegistryDataSource);
  IKestBase* root = config.kestBase();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->SubKeyMap()->size(), 3u);
  for (auto& intf : *root->SubKeyMap()) {
    EXPECT_STREQ(intf.second->RecordType(), "Interface");
    char label[64];
    intf.second->getValueString("Label", label, sizeof label, "");
    EXPECT_EQ(std::string(label).rfind("Bench interface ", 0), 0u) << label;
    ASSERT_EQ(intf.second->SubKeyMap()->size(), 4u);
    for (auto& device : *intf.second->SubKeyMap()) {
      char model[64];
      device.second->getValueString("Model", model, sizeof model, "");
      EXPECT_EQ(std::string(model).rfind("MX", 0), 0u) << model;
      EXPECT_EQ(device.second->getValueInt32("Timeout", 0), 2000) << "a DWORD value";
    }
  }
}

}  // namespace
}  // namespace pdabench
