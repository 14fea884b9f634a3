// The record base: forwarding to the root node, the answers of a record
// without one, the names of the data sources and the shared ownership of the
// tree between copies; and the process-wide default store: installation
// test, the registry switch in each of its types, and the published choice.
// Every test runs in a process of its own, so each one decides afresh.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "pda/KestDeviceIoConfig.h"
#include "pda/KestInfo.h"
#include "pda/KestRecord.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

namespace {

const char* const kKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSwitch = "_UseRegistryForPersistedData";
const char* const kPublished = "_UnmanagedCodePersistedDataStore";

// The published choice, or "<none>" when nothing was written.
std::string published() {
  unsigned int type = 0;
  std::string bytes;
  if (!pdatest::regGet(kKey, kPublished, &type, &bytes)) return "<none>";
  EXPECT_EQ(type, static_cast<unsigned int>(REG_SZ));
  EXPECT_EQ(bytes.empty() ? 'x' : bytes.back(), '\0');  // written with its terminating NUL
  return std::string(bytes.c_str());
}

std::string sz(const std::string& text) {
  return std::string(text.c_str(), text.size() + 1);
}
std::string dword(unsigned int value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

struct SwitchCase {
  const char* label;
  unsigned int type;
  std::string bytes;
  DataSource expected;
  const char* publishedText;
};

// The switch in each of its types. The decision is made once per process, so
// every case is a test of its own.
const SwitchCase kSwitchCases[] = {
    {"TextTrueMixedCase", REG_SZ, sz("tRuE"), RegistryDataSource, "Registry"},
    {"TextTrueWithoutTerminator", REG_SZ, "True", RegistryDataSource, "Registry"},
    {"TextWithTrailingBlank", REG_SZ, sz("True "), SQLiteDataSource, "Database"},
    {"SixteenCharactersDoNotFit", REG_SZ, sz("TrueTrueTrueTrue"), SQLiteDataSource, "<none>"},
    // Fills the buffer exactly, with no NUL in it: must not be read past.
    {"SixteenBytesWithoutTerminator", REG_SZ, "TrueXXXXXXXXXXXX", SQLiteDataSource, "Database"},
    {"DwordHighByteOnly", REG_DWORD, dword(0x01000000u), RegistryDataSource, "Registry"},
    {"ShortDwordReadsMissingBytesAsZero", REG_DWORD, std::string("\0", 1), SQLiteDataSource,
     "Database"},
    {"BinaryNonZeroFirstByte", REG_BINARY, std::string("\x01\x00", 2), RegistryDataSource,
     "Registry"},
    {"BinaryDecidesByFirstByteOnly", REG_BINARY, std::string("\x00\x01", 2), SQLiteDataSource,
     "Database"},
    {"ExpandableTextTrue", REG_EXPAND_SZ, sz("True"), SQLiteDataSource, "Database"},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.label;
}

class KestRecordSwitch : public ::testing::TestWithParam<SwitchCase> {};

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

// Not installed: the built-in defaults whatever the switch says, for the
// default and for a record without a source; nothing is published.
TEST(KestRecordDefaultSource, NotInstalledIgnoresTheSwitchAndPublishesNothing) {
  pdatest::TempMachine machine;
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo record(UnknownDataSource);
  EXPECT_EQ(record.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
}

// The switch only in the 32-bit view is not read: SQLite.
TEST(KestRecordDefaultSource, SwitchInThe32BitViewIsNotRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString("SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion", kSwitch,
                        "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), SQLiteDataSource);
}

TEST_P(KestRecordSwitch, DecidesByTheSwitchAndPublishes) {
  const SwitchCase& c = GetParam();
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetRaw(kKey, kSwitch, c.type, c.bytes);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), c.expected);
  EXPECT_EQ(published(), c.publishedText);
}

INSTANTIATE_TEST_SUITE_P(Types, KestRecordSwitch, ::testing::ValuesIn(kSwitchCases),
                         [](const ::testing::TestParamInfo<SwitchCase>& param) {
                           return std::string(param.param.label);
                         });

// A record of a named source decides nothing; the first record without one
// decides and publishes, once for the process.
TEST(KestRecordDefaultSource, DecidedOnceForTheProcess) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo named(DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
  KestInfo record;
  EXPECT_EQ(record.getDataSource(), RegistryDataSource);
  EXPECT_EQ(published(), "Registry");
  pdatest::regSetDword(kKey, kSwitch, 0);
  pdatest::regSetString(kKey, kPublished, "changed");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  EXPECT_EQ(published(), "changed");  // no second decision, so no second publication
  KestRecord::writeDataSourceBool();  // by hand: the decision again
  EXPECT_EQ(published(), "Registry");
}

#if !defined(_WIN32)
// The stand-in's switch for a process without write rights.
TEST(KestRecordDefaultSource, ReadOnlyRegistryStillDecides) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "true");
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  unsetenv("PDA_REGISTRY_READONLY");
  EXPECT_EQ(published(), "<none>");
}
#endif

// Publishing by hand: nothing without the key, "Database" before a decision.
TEST(KestRecordDefaultSource, WriteDataSourceBoolBeforeADecision) {
  pdatest::TempMachine machine;
  KestRecord::writeDataSourceBool();
  unsigned int type = 0;
  EXPECT_FALSE(pdatest::regGet(kKey, kPublished, &type, nullptr));
  pdatest::regSetString(kKey, "Other", "x");
  KestRecord::writeDataSourceBool();
  EXPECT_EQ(published(), "Database");
}

// Threads deciding at once (each through a record's construction) agree.
TEST(KestRecordDefaultSource, ThreadsDecidingAtOnceAgree) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "TRUE");
  std::vector<int> seen(8, -1);
  pdatest::together(8, [&](int t) { seen[t] = KestInfo().getDataSource(); });
  for (int s : seen) EXPECT_EQ(s, RegistryDataSource);
  EXPECT_EQ(published(), "Registry");
}

#if !defined(_WIN32)
// Nothing decided in this process before the fork: each child decides on
// its own and publishes, at the same time as the others.
TEST(KestRecordDefaultSource, ProcessesDecideAndPublishIndependently) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetDword(kKey, kSwitch, 1);
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(KestRecord::getGlobalDefaultDataSource() == RegistryDataSource ? 0 : 3);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(published(), "Registry");
}
#endif

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

TEST(KestRecordNames, EveryDataSourceHasItsNameAndOthersAreInvalid) {
  pdatest::TempMachine machine;
  const char* const names[] = {"InvalidDataSource", "UnknownDataSource",  "RegistryDataSource",
                               "SQLiteDataSource",  "DeviceIoDataSource", "WrenDataSource",
                               "InvalidDataSource"};
  for (int source = -1; source <= 5; ++source)
    EXPECT_STREQ(KestRecord::getDataSourceString(static_cast<DataSource>(source)),
                 names[source + 1]);
}

// Reads and writes reach the root. Copies share the tree; assignment
// releases the target's old tree unless another record shares it; the last
// record destroys the tree, once. initializeDataSource resolves the caller's
// variable and drops the old root.
TEST(KestRecordRoot, ForwardingAndSharedOwnership) {
  pdatest::TempMachine machine;
  PlainRecord record(KestDeviceIoConfig::CreateInstance(KestInfoBaseType));
  EXPECT_EQ(record.setValueBool("Flag", 1), 1);
  EXPECT_EQ(record.getValueBool("flag", 0), 1);
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
  PlainRecord counted(new CountingNode);
  DataSource source = UnknownDataSource;
  counted.resolve(source);
  EXPECT_EQ(source, DeviceIoDataSource);  // not installed
  EXPECT_EQ(counted.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(CountingNode::destroyed, 3);
}
