// The product version text with its cache, and copies of the settings record.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pda/KestInfo.h"
#include "pda/Version.h"
#include "support/Fixtures.h"

namespace {

// A record on the built-in store whose values the test sets directly.
struct Fixture {
  pdatest::TempMachine machine;
  KestInfo record{DeviceIoDataSource};
  IKestBase* root() { return record.getIKestBase(); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Product version

TEST(KestInfoVersion, VersionAloneWithoutCustomBuild) {
  Fixture f;
  f.root()->setValueString("CurrentVersion", "2.0.1.3");
  EXPECT_STREQ(f.record.getProductVersionString(), "2.0.1.3");
}

TEST(KestInfoVersion, CustomBuildFollowsAfterOneBlank) {
  Fixture f;
  f.root()->setValueString("CurrentVersion", "2.0.1.3");
  f.root()->setValueString("CustomBuild", "Hotfix 7");
  EXPECT_STREQ(f.record.getProductVersionString(), "2.0.1.3 Hotfix 7");
}

TEST(KestInfoVersion, CachedTextIgnoresLaterChanges) {
  Fixture f;
  const char* first = f.record.getProductVersionString();
  EXPECT_STREQ(first, PDA_VERSION_STRING);
  f.root()->setValueString("CurrentVersion", "9.9.9.9");
  f.root()->setValueString("CustomBuild", "X");
  const char* second = f.record.getProductVersionString();
  EXPECT_EQ(second, first);  // the same buffer, in the record
  EXPECT_STREQ(second, PDA_VERSION_STRING);
}

// The built-in store builds its defaults again whenever its maps are both
// empty, so these tests keep one unrelated value in place.
TEST(KestInfoVersion, NothingStoredIsReadAgainNextTime) {
  Fixture f;
  f.root()->setValueString("Unrelated", "1");
  f.root()->deleteName("CurrentVersion");
  EXPECT_STREQ(f.record.getProductVersionString(), "");
  f.root()->setValueString("CurrentVersion", "3.1.0.0");
  EXPECT_STREQ(f.record.getProductVersionString(), "3.1.0.0");
  f.root()->setValueString("CurrentVersion", "4.0.0.0");
  EXPECT_STREQ(f.record.getProductVersionString(), "3.1.0.0");
}

TEST(KestInfoVersion, CustomBuildAloneIsKept) {
  Fixture f;
  f.root()->setValueString("CustomBuild", "Lab");
  f.root()->deleteName("CurrentVersion");
  EXPECT_STREQ(f.record.getProductVersionString(), " Lab");
  f.root()->setValueString("CurrentVersion", "1.0.0.0");
  EXPECT_STREQ(f.record.getProductVersionString(), " Lab");
}

TEST(KestInfoVersion, LongestPartsFillTheCacheExactly) {
  Fixture f;
  const std::string version(255, 'v');
  const std::string build(255, 'b');
  f.root()->setValueString("CurrentVersion", version.c_str());
  f.root()->setValueString("CustomBuild", build.c_str());
  const std::string text = f.record.getProductVersionString();
  EXPECT_EQ(text.size(), 511u);
  EXPECT_EQ(text, version + " " + build);
}

TEST(KestInfoVersion, PartTooLongForItsBufferReadsAsEmpty) {
  Fixture f;
  f.root()->setValueString("CurrentVersion", std::string(256, 'v').c_str());
  f.root()->setValueString("CustomBuild", "B");
  EXPECT_STREQ(f.record.getProductVersionString(), " B");
}

TEST(KestInfoVersion, RecordWithoutAStoreNeverCaches) {
  pdatest::TempMachine machine;
  KestInfo record(WrenDataSource);
  EXPECT_STREQ(record.getProductVersionString(), "");
  EXPECT_STREQ(record.getProductVersionString(), "");
}

// ---------------------------------------------------------------------------
// Copies share the tree; the version cache is copied as it stands

TEST(KestInfoCopies, SetterOnACopyIsSeenByTheSource) {
  pdatest::TempMachine machine;
  KestInfo source(DeviceIoDataSource);
  KestInfo copy(source);
  EXPECT_EQ(copy.getIKestBase(), source.getIKestBase());
  EXPECT_EQ(copy.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(copy.setHiddenMode(1), 1);
  EXPECT_EQ(source.getHiddenMode(), 1);
  EXPECT_EQ(source.setDmcLoggingLevel("ALL"), 1);
  char level[8];
  copy.getDmcLoggingLevel(level, sizeof level);
  EXPECT_STREQ(level, "ALL");
}

TEST(KestInfoCopies, CopyOutlivesItsSource) {
  pdatest::TempMachine machine;
  auto* source = new KestInfo(DeviceIoDataSource);
  source->setVisaPxiImplementation(5);
  KestInfo copy(*source);
  IKestBase* root = copy.getIKestBase();
  EXPECT_EQ(root->referenceCount(), 2);
  delete source;
  EXPECT_EQ(root->referenceCount(), 1);
  EXPECT_EQ(copy.getVisaPxiImplementation(), 5);  // ASan: no use after free
}

TEST(KestInfoCopies, CopyTakesTheCacheAsItStands) {
  pdatest::TempMachine machine;
  KestInfo source(DeviceIoDataSource);
  EXPECT_STREQ(source.getProductVersionString(), PDA_VERSION_STRING);
  source.getIKestBase()->setValueString("CurrentVersion", "7.7.7.7");
  KestInfo cached(source);
  EXPECT_STREQ(cached.getProductVersionString(), PDA_VERSION_STRING);
  // The pointer is the copy's own.
  EXPECT_NE(cached.getProductVersionString(), source.getProductVersionString());

  KestInfo fresh(DeviceIoDataSource);
  KestInfo uncached(fresh);
  fresh.getIKestBase()->setValueString("CurrentVersion", "8.8.8.8");
  EXPECT_STREQ(uncached.getProductVersionString(), "8.8.8.8");
}

TEST(KestInfoCopies, AssignmentReleasesTheOldTreeAndTakesTheNew) {
  pdatest::TempMachine machine;
  KestInfo target(DeviceIoDataSource);
  KestInfo source(DeviceIoDataSource);
  IKestBase* oldRoot = target.getIKestBase();
  IKestBase::retainNode(oldRoot);  // observe it past the assignment
  EXPECT_EQ(oldRoot->referenceCount(), 2);
  source.setRebootOccurred(1);
  source.getProductVersionString();

  target = source;
  EXPECT_EQ(oldRoot->referenceCount(), 1);
  EXPECT_EQ(target.getIKestBase(), source.getIKestBase());
  EXPECT_EQ(target.getRebootOccurred(), 1);
  EXPECT_STREQ(target.getProductVersionString(), PDA_VERSION_STRING);
  IKestBase::releaseNode(oldRoot);
}

TEST(KestInfoCopies, AssignmentFromARecordWithoutAStore) {
  pdatest::TempMachine machine;
  KestInfo target(DeviceIoDataSource);
  KestInfo none(WrenDataSource);
  target = none;
  EXPECT_EQ(target.getIKestBase(), nullptr);
  EXPECT_EQ(target.getDataSource(), WrenDataSource);
  EXPECT_EQ(target.setHiddenMode(1), 0);
  EXPECT_STREQ(target.getProductVersionString(), "");
}

TEST(KestInfoCopies, SelfAssignmentKeepsTreeAndCache) {
  pdatest::TempMachine machine;
  KestInfo record(DeviceIoDataSource);
  record.setAutoStartIOServer(3);
  const std::string version = record.getProductVersionString();
  KestInfo& alias = record;
  record = alias;
  ASSERT_NE(record.getIKestBase(), nullptr);
  EXPECT_EQ(record.getIKestBase()->referenceCount(), 1);
  EXPECT_EQ(record.getAutoStartIOServer(), 3);
  EXPECT_EQ(version, record.getProductVersionString());
}
