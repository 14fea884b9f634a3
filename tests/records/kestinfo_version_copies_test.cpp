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

TEST(KestInfoVersion, VersionAndCustomBuildJoinedByOneBlank) {
  const struct {
    const char* label;
    std::string version;  // "-" for none stored
    std::string build;    // "-" for none stored
    std::string expected;
  } cases[] = {
      {"version alone", "2.0.1.3", "-", "2.0.1.3"},
      {"with custom build", "2.0.1.3", "Hotfix 7", "2.0.1.3 Hotfix 7"},
      {"custom build alone", "-", "Lab", " Lab"},
      {"longest parts fill the cache", std::string(255, 'v'), std::string(255, 'b'),
       std::string(255, 'v') + " " + std::string(255, 'b')},
      {"part too long reads as empty", std::string(256, 'v'), "B", " B"},
  };
  pdatest::TempMachine machine;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    KestInfo record(DeviceIoDataSource);
    IKestBase* root = record.getIKestBase();
    // The built-in store builds its defaults again whenever its maps are
    // both empty, so one unrelated value stays in place.
    root->setValueString("Unrelated", "1");
    if (c.version == "-")
      root->deleteName("CurrentVersion");
    else
      root->setValueString("CurrentVersion", c.version.c_str());
    if (c.build != "-") root->setValueString("CustomBuild", c.build.c_str());
    EXPECT_EQ(record.getProductVersionString(), c.expected);
  }
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

// ---------------------------------------------------------------------------
// Copies share the tree; the version cache is copied as it stands

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

  KestInfo& alias = target;
  target = alias;  // self-assignment keeps tree and cache
  EXPECT_EQ(target.getIKestBase()->referenceCount(), 2);
  EXPECT_STREQ(target.getProductVersionString(), PDA_VERSION_STRING);

  KestInfo none(WrenDataSource);
  target = none;
  EXPECT_EQ(target.getIKestBase(), nullptr);
  EXPECT_EQ(target.getDataSource(), WrenDataSource);
  EXPECT_EQ(target.setHiddenMode(1), 0);
  EXPECT_STREQ(target.getProductVersionString(), "");
}
