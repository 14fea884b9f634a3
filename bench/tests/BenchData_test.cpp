// The benchmarks compare like with like only if the data sets are what they
// claim and each baseline does the same work on the same data as the library:
// these tests check both against the real library, the real SQLite library
// and the emulated registry. Each test makes its own machine (one per
// process, as the library keeps its install paths for the process).

#include "BenchData.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Text.h"
#include "pda/KestConfig.h"
#include "pda/KestInfo.h"
#include "pda/KestSQLite.h"

namespace pdabench {
namespace {

struct Database {
  Database() : machine(PDA_SQLITE_LIBRARY), sqlite(machine.sqliteLibrary()) {}
  ~Database() { KestSQLite::closeAllDatabaseConnections(); }
  Machine machine;
  RawSQLite sqlite;
};

// The config data set holds eight values per record in an order the reader
// must sort itself; the build test below checks that the tree holds them all.
TEST(DataSets, ConfigRowsGiveEightValuesPerRecordInAnOrderTheReaderMustSort) {
  const std::vector<ConfigRow> rows = configRows(43);  // two groups of 21 and one interface alone
  ASSERT_EQ(rows.size(), 43u * 8);
  EXPECT_EQ(interfacesIn(43), 3u);
  EXPECT_EQ(interfacesIn(42), 2u);
  std::vector<std::string> order;
  for (const ConfigRow& row : rows)
    if (order.empty() || order.back() != row.key) order.push_back(row.key);
  ASSERT_EQ(order.size(), 43u) << "each record's rows together, keys unique";
  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(sorted, order) << "the reader must sort the records itself";
}

// The settings baselines read and convert exactly what the record does.
TEST(Baselines, RawTableReadAndMapGettersAnswerWhatTheSettingsRecordAnswers) {
  Database db;
  std::vector<Setting> settings = settingsRows(1000);
  const std::vector<Setting> odd = {
      {"Digits", "42"}, {"Trailing", "12abc"},   {"Negative", "-5"},
      {"Yes", "YES"},   {"TrueWord", "True"},    {"Word", "maybe"},
      {"Blank", " 7"},  {"Huge", "99999999999"}, {"Long", std::string(40, 'x')}};
  settings.insert(settings.end(), odd.begin(), odd.end());
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
  for (const Setting& s : odd) {
    EXPECT_EQ(mapGetInt32(raw, s.name.c_str(), -3), info.getValueInt32(s.name.c_str(), -3))
        << s.name;
    EXPECT_EQ(mapGetBool(raw, s.name.c_str(), -3), info.getValueBool(s.name.c_str(), -3)) << s.name;
    for (unsigned size : {1u, 8u, 41u}) {
      char expected[64], actual[64];
      std::memset(expected, 'z', sizeof expected);
      std::memset(actual, 'z', sizeof actual);
      mapGetString(raw, s.name.c_str(), expected, size, "dflt");
      info.getValueString(s.name.c_str(), actual, size, "dflt");
      EXPECT_STREQ(expected, actual) << s.name << " into " << size << " bytes";
    }
  }
  EXPECT_EQ(mapGetInt32(raw, "missing", 256), info.getValueInt32("missing", 256));
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

// The registry data set is the tree the registry store builds, and the
// baseline reads every byte of its files.
TEST(DataSets, RegistryConfigIsTheTreeTheRegistryStoreBuildsAndTheBaselineReadsItAll) {
  Machine machine(PDA_SQLITE_LIBRARY);
  const std::vector<std::string> files = createRegistryConfig(machine, 3, 4);
  ASSERT_EQ(files.size(), 3u + 12u);
  std::size_t total = 0;
  for (const std::string& file : files) {
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
    total += static_cast<std::size_t>(st.st_size);
  }
  EXPECT_EQ(readFiles(files), total);
  EXPECT_THROW(readFiles({machine.root() + "/no-such-file"}), std::runtime_error);

  KestConfig config(RegistryDataSource);
  IKestBase* root = config.kestBase();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->SubKeyMap()->size(), 3u);
  for (auto& intf : *root->SubKeyMap()) {
    EXPECT_STREQ(intf.second->RecordType(), "Interface");
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
