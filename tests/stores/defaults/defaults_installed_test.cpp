// The installation test: brix32.dll in the system directory, decided once per
// process (every test here runs in a fresh process).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "pda/KestDeviceIoConfig.h"
#include "support/Fixtures.h"

namespace {

std::string marker(const pdatest::TempMachine& machine) {
  return machine.systemDir() + "/brix32.dll";
}

}  // namespace

struct WithMachine : ::testing::Test {
  pdatest::TempMachine machine;
};
struct DefaultsInstalled : WithMachine {};

TEST_F(DefaultsInstalled, EmptyMarkerFileWithoutTheRestOfTheSuiteCounts) {
  std::filesystem::create_directories(machine.systemDir());
  std::ofstream(marker(machine)).close();
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 1);
}

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

TEST_F(DefaultsInstalled, MarkerInTheWow64DirectoryDoesNotCount) {
  std::filesystem::create_directories(machine.path("SysWOW64"));
  std::ofstream(machine.path("SysWOW64/brix32.dll")) << "x";
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
}

// A fresh machine is not installed, and stays so for this process.
TEST_F(DefaultsInstalled, NegativeAnswerIsKeptAfterInstalling) {
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
  machine.installSuite();
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 0);
}

// The marker in the system directory means installed, for the whole process.
TEST_F(DefaultsInstalled, PositiveAnswerIsKeptAfterTheMarkerGoes) {
  machine.installSuite();
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 1);
  ASSERT_EQ(std::remove(marker(machine).c_str()), 0);
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), 1);
}

TEST_F(DefaultsInstalled, ConcurrentFirstCallsAgree) {
  machine.installSuite();
  std::atomic<bool> go{false};
  std::vector<int> answers(8, -1);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < answers.size(); ++i)
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      answers[i] = KestDeviceIoConfig::kestIsInstalled();
    });
  go = true;
  // Remove the marker while the threads may still be deciding: whoever
  // decides first decides for all.
  std::remove(marker(machine).c_str());
  for (auto& t : threads) t.join();
  for (int answer : answers) EXPECT_EQ(answer, answers[0]);
  EXPECT_EQ(KestDeviceIoConfig::kestIsInstalled(), answers[0]);
}
