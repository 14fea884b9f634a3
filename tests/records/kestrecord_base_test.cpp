// The record base: forwarding to the root node, the answers of a record
// without one, the names of the data sources, and the shared ownership of
// the tree between copies.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pda/KestDeviceIoConfig.h"
#include "pda/KestRecord.h"
#include "support/Fixtures.h"

namespace {

// A node that counts its destructions.
struct CountingNode : IKestBase {
  static int destroyed;
  void reInitialize() override {}
  void initializeSubKeyMap() override {}
  void initializeNameValueMap() override {}
  ~CountingNode() override { ++destroyed; }
};
int CountingNode::destroyed = 0;

// A record over any node, for the base class's own behaviour.
struct PlainRecord : KestRecord {
  PlainRecord() = default;
  explicit PlainRecord(IKestBase* root, DataSource source = DeviceIoDataSource) {
    setRoot(root);
    _dataSource = source;
  }
  void resolve(DataSource& source) { initializeDataSource(source); }
  void fillSubKeys() { initializeSubKeyMap(); }
  void fillValues() { initializeNameValueMap(); }
  void replaceRoot(IKestBase* node) { setRoot(node); }
};

std::string read(KestRecord& record, const char* name, unsigned int size, const char* fallback) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  record.getValueString(name, buffer, size, fallback);
  return buffer;
}

}  // namespace

// A record without a root node reads the default (a string one only when it
// fits whole; with a size of 0 only the first byte is cleared; a null buffer
// is left alone) and fails every write.
TEST(KestRecordNoRoot, ReadsGiveTheDefaultAndWritesFail) {
  pdatest::TempMachine machine;
  PlainRecord record;
  EXPECT_EQ(record.getDataSource(), UnknownDataSource);
  EXPECT_EQ(record.getValueBool("Any", 7), 7);
  EXPECT_EQ(record.getValueInt32("Any", -42), -42);
  EXPECT_EQ(record.setValueBool("Any", 1) | record.setValueInt32("Any", 1) |
                record.setValueString("Any", "x"),
            0);
  record.fillSubKeys();  // nothing to fill, and no crash
  record.fillValues();
  EXPECT_EQ(read(record, "Any", 10, "123456789"), "123456789");
  EXPECT_EQ(read(record, "Any", 10, "1234567890"), "");  // never truncated
  EXPECT_EQ(read(record, "Any", 10, nullptr), "");
  EXPECT_EQ(read(record, nullptr, 10, "abc"), "abc");
  char d[2] = {'#', '#'};
  record.getValueString("Name", d, 0, "dflt");
  EXPECT_EQ(d[0], '\0');
  EXPECT_EQ(d[1], '#');
  record.getValueString("Name", nullptr, 5, "dflt");
}

// Reads and writes reach the root; initializeDataSource resolves the
// caller's variable and drops the old root.
TEST(KestRecordForwarding, ReadsAndWritesReachTheRoot) {
  pdatest::TempMachine machine;
  PlainRecord record(KestDeviceIoConfig::CreateInstance(KestInfoBaseType));
  EXPECT_EQ(record.setValueBool("Flag", 1), 1);
  EXPECT_EQ(record.getValueBool("flag", 0), 1);
  PlainRecord counted(new CountingNode);
  const int before = CountingNode::destroyed;
  DataSource source = UnknownDataSource;
  counted.resolve(source);
  EXPECT_EQ(source, DeviceIoDataSource);  // not installed
  EXPECT_EQ(counted.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(CountingNode::destroyed, before + 1);
}

TEST(KestRecordNames, EveryDataSourceHasItsNameAndOthersAreInvalid) {
  pdatest::TempMachine machine;
  const struct {
    int source;
    const char* name;
  } cases[] = {
      {UnknownDataSource, "UnknownDataSource"},
      {RegistryDataSource, "RegistryDataSource"},
      {SQLiteDataSource, "SQLiteDataSource"},
      {DeviceIoDataSource, "DeviceIoDataSource"},
      {WrenDataSource, "WrenDataSource"},
      {5, "InvalidDataSource"},
      {-1, "InvalidDataSource"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_STREQ(KestRecord::getDataSourceString(static_cast<DataSource>(c.source)), c.name);
  }
}

// Copies share the tree; assignment releases the target's old tree unless
// another record shares it; the last record destroys the tree, once.
TEST(KestRecordCopies, CopiesShareTheTreeAndTheLastOneDestroysIt) {
  pdatest::TempMachine machine;
  CountingNode::destroyed = 0;
  auto* first = new CountingNode;
  auto* second = new CountingNode;
  {
    PlainRecord a(first, RegistryDataSource);
    PlainRecord b(second, SQLiteDataSource);
    a = b;
    EXPECT_EQ(CountingNode::destroyed, 1);  // first: nobody else held it
    EXPECT_EQ(a.getDataSource(), SQLiteDataSource);
    EXPECT_EQ(second->referenceCount(), 2);
    b.replaceRoot(second);  // replacing the root with itself keeps it
    EXPECT_EQ(second->referenceCount(), 2);
    PlainRecord empty;
    a = empty;
    EXPECT_EQ(second->referenceCount(), 1);
    PlainRecord& alias = b;
    b = alias;  // self-assignment of the last holder keeps the tree
    EXPECT_EQ(second->referenceCount(), 1);
    EXPECT_EQ(CountingNode::destroyed, 1);
  }
  EXPECT_EQ(CountingNode::destroyed, 2);
}
