// The registry stand-in under the same load: processes writing values of one
// key through their own KestInfo records while others read it, and a writer
// killed mid-write. No value may be lost and the key's values file must be
// whole at every moment.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>

#include "StressChecks.h"
#include "StressSupport.h"
#include "platform/posix/ValuesFile.h"
#include "support/Fixtures.h"

using namespace stress;
using pda::platform::RegValue;
using pda::platform::ValuesReadResult;

namespace {

std::string valuesFileOf(const pdatest::TempMachine& machine) {
  return machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values");
}

// The key's values as texts (REG_SZ data without its terminator); fails the
// test when the file is not a whole values file (or is missing, unless
// mayBeMissing: a key nobody has written yet has none).
std::map<std::string, std::string> keyValues(const std::string& file, bool mayBeMissing = false) {
  std::vector<RegValue> values;
  const ValuesReadResult result = pda::platform::readValuesFile(file, &values);
  if (!(mayBeMissing && result == ValuesReadResult::missing)) {
    EXPECT_EQ(result, ValuesReadResult::ok) << "the values file is torn or unreadable";
  }
  std::map<std::string, std::string> out;
  for (const RegValue& v : values) {
    std::string text = v.data;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    EXPECT_EQ(out.count(v.name), 0u) << v.name << " is stored twice";
    out[v.name] = text;
  }
  return out;
}

}  // namespace

TEST(RegistryStress, ProcessesWriteOneKeyWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const int writers = 8;
  const int writes = scaled(24, 500);
  const int ownNames = 10;
  const std::string stop = machine.path("stop-readers");
  const std::string file = valuesFileOf(machine);

  const double start = nowMs();
  std::vector<Child> readers;
  for (int i = 0; i < 2; ++i) readers.push_back(spawn("reader", {"registry", stop, file}));
  std::vector<Child> children;
  for (int i = 0; i < writers; ++i)
    children.push_back(spawn("writer", {std::to_string(i + 1), std::to_string(writes),
                                        std::to_string(ownNames), "registry"}));

  std::map<std::string, std::string> last;
  std::set<std::string> shared;
  long long total = 0, failures = 0;
  for (Child& child : children) {
    const std::vector<Write> done = parseWrites(readAll(child.out));
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_EQ(done.size(), static_cast<std::size_t>(writes)) << "a writer stopped early";
    for (const Write& w : done) {
      ++total;
      if (w.result != 1) {
        ++failures;
        continue;
      }
      if (w.name == kSharedName)
        shared.insert(w.value);
      else
        last[w.name] = w.value;
    }
  }
  const double ms = nowMs() - start;
  std::ofstream(stop) << "stop";
  long long reads = 0, fileLooks = 0;
  for (Child& reader : readers) {
    const auto counts = parseCounts(readAll(reader.out));
    EXPECT_EQ(waitExit(reader.pid), 0);
    ASSERT_FALSE(counts.empty()) << "a reader gave no counts";
    EXPECT_EQ(counts.at("regressions"), 0) << "a reader saw a value go back to an older one";
    EXPECT_EQ(counts.at("malformed"), 0);
    EXPECT_EQ(counts.at("tornFiles"), 0) << "a reader found a torn values file";
    reads += counts.at("reads");
    fileLooks += counts.at("fileLooks");
  }

  EXPECT_EQ(failures, 0) << "a write returned 0";
  const auto values = keyValues(file);
  for (const auto& entry : last) {
    auto it = values.find(entry.first);
    ASSERT_NE(it, values.end()) << entry.first << " was stored and is lost";
    EXPECT_EQ(it->second, entry.second) << entry.first << " lost its last write";
  }
  ASSERT_EQ(values.count(kSharedName), 1u);
  EXPECT_EQ(shared.count(values.at(kSharedName)), 1u);
  EXPECT_EQ(values.size(), last.size() + 1);
  report("registry-processes", {{"writers", writers},
                                {"writes", total},
                                {"failures", failures},
                                {"reads", reads},
                                {"valuesFileLooks", fileLooks},
                                {"ms", static_cast<long long>(ms)}});
}

TEST(RegistryStress, WriterKilledMidWriteLosesNothing) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const int names = 8;
  const int kills = scaled(10, 50);
  const std::string file = valuesFileOf(machine);
  std::map<std::string, std::string> confirmed;

  int sequence = 1;
  long long midWrite = 0, landed = 0, writes = 0, failures = 0;
  for (int kill = 0; kill < kills; ++kill) {
    Child child =
        spawn("kill-writer", {"registry", std::to_string(names), std::to_string(sequence)});
    const std::string output = killAtRandomMoment(child, 40);
    ASSERT_EQ(waitExit(child.pid), 128 + SIGKILL) << "the writer ended on its own:\n" << output;

    std::string pendingName, pendingValue;
    for (const std::string& line : lines(output)) {
      const std::vector<std::string> w = words(line);
      if (w.size() == 3 && w[0] == "B") {
        pendingName = w[1];
        pendingValue = w[2];
        ++sequence;
      } else if (w.size() == 2 && w[0] == "E" && !pendingName.empty()) {
        ++writes;
        if (w[1] == "1")
          confirmed[pendingName] = pendingValue;
        else
          ++failures;
        pendingName.clear();
      }
    }
    ++sequence;
    if (!pendingName.empty()) ++midWrite;

    // The file itself, then a new program reading through the library.
    const auto values = keyValues(file, confirmed.empty());
    for (const auto& entry : confirmed) {
      auto it = values.find(entry.first);
      ASSERT_NE(it, values.end()) << entry.first << " lost after kill " << kill;
      if (entry.first == pendingName && it->second == pendingValue) continue;
      ASSERT_EQ(it->second, entry.second) << entry.first << " after kill " << kill;
    }
    if (!pendingName.empty()) {
      auto it = values.find(pendingName);
      if (it != values.end() && it->second == pendingValue) {
        ++landed;
        confirmed[pendingName] = pendingValue;
      }
    }
    Child probe = spawn("probe", {"registry"});
    const auto seen = parseProbe(readAll(probe.out));
    ASSERT_EQ(waitExit(probe.pid), 0);
    for (const auto& entry : confirmed) {
      auto it = seen.find(entry.first);
      ASSERT_NE(it, seen.end()) << "a new reader does not see " << entry.first;
      EXPECT_EQ(it->second, entry.second);
    }
  }
  EXPECT_EQ(failures, 0) << "a write returned 0 with no other writer about";
  report("registry-kill", {{"kills", kills},
                           {"killedMidWrite", midWrite},
                           {"pendingWritesThatLanded", landed},
                           {"writes", writes},
                           {"failures", failures}});
}
