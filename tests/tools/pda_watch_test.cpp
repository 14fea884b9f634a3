// pda watch as a process of its own: a change made by another process on each
// store prints its line, filtered by name, and the watcher uses no processor
// time while nothing changes.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <chrono>
#  include <csignal>
#  include <fstream>
#  include <thread>

#  include "ToolRun.h"

namespace {

using tooltest::ok;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Polls path until it holds expected, at most a few seconds (the change
// usually shows within milliseconds; a loaded machine may be slower).
bool waitFor(const std::string& path, const std::string& expected) {
  for (int i = 0; i < 100; ++i) {
    if (readText(path).find(expected) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// User plus system time of a process, in clock ticks.
long cpuTicks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  long total = 0;
  for (int i = 1; i <= 15 && in >> field; ++i)
    if (i == 14 || i == 15) total += std::stol(field);
  return total;
}

struct Watcher {
  int pid = 0;
  std::string out;
  Watcher(const pdatest::TempMachine& machine, const std::string& args, const std::string& name)
      : out(machine.path(name + ".out")) {
    std::string pidText;
    pdatest::run(tooltest::quote(PDA_TOOL_PATH) + " watch " + args + " >" + tooltest::quote(out) +
                     " 2>" + tooltest::quote(out + ".err") + " </dev/null & echo $!",
                 &pidText);
    pid = std::stoi(pidText);
    // Started once it says so on standard error.
    waitFor(out + ".err", "watching");
  }
  ~Watcher() {
    ::kill(pid, SIGINT);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
};

TEST(PdaWatch, PrintsChangesOtherProcessesMakeOnEachStore) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  ok(machine, {"set", "IOControlHidden", "false", "--source", "registry"});
  Watcher sqlite(machine, "", "sqlite");
  Watcher registry(machine, "--source registry iocontrolhidden", "registry");

  // Idle: blocked in the kernel, not polling.
  const long before = cpuTicks(sqlite.pid) + cpuTicks(registry.pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LE(cpuTicks(sqlite.pid) + cpuTicks(registry.pid) - before, 5);

  ok(machine, {"set", "IOControlHidden", "true"});
  EXPECT_TRUE(waitFor(sqlite.out, " sqlite globalSettings IOControlHidden (none) -> \"True\"\n"))
      << readText(sqlite.out);
  ok(machine, {"alias", "add", "meter", "GPIB0::5::INSTR", "--source", "registry"});
  ok(machine, {"set", "IOControlHidden", "true", "--source", "registry"});
  EXPECT_TRUE(
      waitFor(registry.out, " registry globalSettings IOControlHidden \"False\" -> \"True\"\n"))
      << readText(registry.out);
  // Filtered by name: the alias is not shown; each line starts with the time.
  const std::string lines = readText(registry.out);
  EXPECT_EQ(lines.find("meter"), std::string::npos) << lines;
  EXPECT_EQ(lines.find('\n'), lines.size() - 1) << lines;
  EXPECT_EQ(lines.rfind("20", 0), 0u) << lines;
  EXPECT_EQ(lines[23], 'Z') << lines;
}

}  // namespace

#endif
