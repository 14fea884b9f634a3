// The installation test: brix32.dll in the system directory, decided once per
// process (every test here runs in a fresh process).

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "pda/KestDeviceIoConfig.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

namespace {

std::string marker(const pdatest::TempMachine& machine) {
  return machine.systemDir() + "/brix32.dll";
}

}  // namespace

struct WithMachine : ::testing::Test {
  pdatest::TempMachine machine;
};
struct DefaultsInstalled : WithMachine {};

#if !defined(_WIN32)
// Only on the emulated machine: on Windows the system directory is the real
// one, and a directory left there would outlive the test.
TEST_F(DefaultsInstalled, DirectoryOfThatNameIsNotTheLibrary) {
  std::filesystem::create_directories(marker(machine));
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
}

// A system directory whose path does not fit in 260 bytes is no installation,
// whatever it holds.
TEST_F(DefaultsInstalled, SystemDirectoryThatDoesNotFitIsNotLookedIn) {
  const std::string root = machine.path(std::string(200, 'r') + "/" + std::string(60, 'r'));
  std::filesystem::create_directories(root + "/System32");
  std::ofstream(root + "/System32/brix32.dll") << "x";
  setenv("PDA_ROOT", root.c_str(), 1);
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
}
#endif

// A fresh machine is not installed, and stays so for this process.
TEST_F(DefaultsInstalled, NegativeAnswerIsKeptAfterInstalling) {
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
  machine.installSuite();
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
}

// An empty marker in the system directory means installed, for the whole process.
TEST_F(DefaultsInstalled, PositiveAnswerIsKeptAfterTheMarkerGoes) {
  std::filesystem::create_directories(machine.systemDir());
  std::ofstream(marker(machine)).close();
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 1);
  ASSERT_EQ(std::remove(marker(machine).c_str()), 0);
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 1);
}

// The marker goes while threads decide at once: whoever decides first decides for all.
TEST_F(DefaultsInstalled, ConcurrentFirstCallsAgree) {
  machine.installSuite();
  std::vector<int> answers(8, -1);
  pdatest::together(9, [&](int t) {
    if (t == 8)
      std::remove(marker(machine).c_str());
    else
      answers[t] = KestDeviceIoConfig::kestIsInstalled();
  });
  for (int answer : answers) EXPECT_EQ(answer, answers[0]);
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), answers[0]);
}
