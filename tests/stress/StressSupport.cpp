#include "StressSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/posix/ValuesFile.h"
#include "support/Fixtures.h"

namespace stress {

namespace {
bool _longForm = false;
}  // namespace

const char* const kSharedName = "SharedSetting";

bool longForm() {
  const char* env = std::getenv("PDA_STRESS_LONG");
  return _longForm || (env && std::string(env) == "1");
}

void setLongForm(bool value) {
  _longForm = value;
}

int scaled(int shortValue, int longValue) {
  if (!longForm()) return shortValue;
  const char* env = std::getenv("PDA_STRESS_SCALE");
  const int factor = env ? std::atoi(env) : 1;
  return longValue * (factor > 0 ? factor : 1);
}

Child spawn(const std::string& role, const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argvText = {"/proc/self/exe", "--child", role};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return Child{pid, pipeFds[0]};
}

std::string readSome(int fd) {
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string readAll(int fd) {
  std::string text;
  for (std::string part; !(part = readSome(fd)).empty();) text += part;
  ::close(fd);
  return text;
}

std::string killAtRandomMoment(Child& child, unsigned maxMs) {
  std::string output;
  if (randomBelow(10) != 0) output = readSome(child.out);
  ::usleep(1000u * randomBelow(maxMs));
  ::kill(child.pid, SIGKILL);
  return output + readAll(child.out);
}

int waitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status)     ? WEXITSTATUS(status)
         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                               : -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

void report(const std::string& scenario,
            const std::vector<std::pair<std::string, long long>>& counts) {
  std::ostringstream line;
  line << "[stress] " << scenario << (longForm() ? " (long)" : " (short)") << ":";
  for (const auto& count : counts) {
    line << ' ' << count.first << '=' << count.second;
    ::testing::Test::RecordProperty(count.first, std::to_string(count.second));
  }
  std::printf("%s\n", line.str().c_str());
  std::fflush(stdout);
}

double nowMs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

unsigned randomBelow(unsigned bound) {
  static std::mutex mutex;
  static std::mt19937 generator([] {
    const char* seed = std::getenv("PDA_STRESS_SEED");
    if (seed && *seed) return static_cast<unsigned>(std::strtoul(seed, nullptr, 10));
    return static_cast<unsigned>(nowMs() * 1000.0) ^ (static_cast<unsigned>(::getpid()) << 16);
  }());
  std::lock_guard<std::mutex> lock(mutex);
  return bound ? static_cast<unsigned>(generator() % bound) : 0;
}

std::string valueOf(int writer, int sequence) {
  std::string value = "p" + std::to_string(writer) + "-" + std::to_string(sequence);
  if (sequence % 7 == 3) value += "-'q''x";
  return value;
}

int parseSequence(const std::string& value) {
  const std::size_t dash = value.find('-');
  if (value.size() < 2 || value[0] != 'p' || dash == std::string::npos) return -1;
  const int writer = std::atoi(value.c_str() + 1), sequence = std::atoi(value.c_str() + dash + 1);
  return valueOf(writer, sequence) == value ? sequence : -1;
}

std::string ownName(int writer, int index) {
  return "Writer" + std::to_string(writer) + "Name" + std::to_string(index);
}

void SequenceCheck::look(const ::NameValueMap& map) {
  for (const auto& entry : map) {
    if (entry.first.compare(0, 6, "Writer") != 0 && entry.first != kSharedName) continue;
    ++values;
    const int sequence = parseSequence(entry.second);
    if (sequence < 0) {
      ++malformed;
    } else if (entry.first != kSharedName) {
      int& seen = newest[entry.first];
      regressions += sequence < seen;
      seen = std::max(seen, sequence);
    }
  }
}

Rows tableRows(const std::string& db, const std::string& table) {
  Rows rows;
  const std::string text = pdatest::sqlite(
      db, ".separator \"\\t\"\nSELECT NAME, VALUE FROM " + table + " ORDER BY ID;\n");
  for (const std::string& line : lines(text)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos)
      rows[line].push_back("<no value column>");
    else
      rows[line.substr(0, tab)].push_back(line.substr(tab + 1));
  }
  return rows;
}

Rows keyValues(const std::string& file, bool mayBeMissing) {
  std::vector<pda::platform::RegValue> values;
  const auto result = pda::platform::readValuesFile(file, &values);
  if (!(mayBeMissing && result == pda::platform::ValuesReadResult::missing)) {
    EXPECT_EQ(result, pda::platform::ValuesReadResult::ok) << "the values file is torn";
  }
  Rows out;
  for (const pda::platform::RegValue& v : values) {
    std::string text = v.data;  // REG_SZ data without its terminator
    if (!text.empty() && text.back() == '\0') text.pop_back();
    EXPECT_EQ(out.count(v.name), 0u) << v.name << " is stored twice";
    out[v.name].push_back(text);
  }
  return out;
}

std::string integrityCheck(const std::string& db) {
  std::string text = pdatest::sqlite(db, "PRAGMA integrity_check;\n");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

const std::vector<std::string> kWriteReports = {
    "setValueString",          "deleteName",         "getBeginStmt",
    "getCommitStmt",           "getRollbackStmt",    "tryStep: SetValueString",
    "tryStep: setValueString", "tryStep: deleteName"};
const std::vector<std::string> kReadReports = {"readTableDataIntoNameValueMap",
                                               "rollBackHotJournal", "tryStep: rollBackHotJournal"};

int countEvents(const std::string& type, std::string* detail,
                const std::vector<std::string>& prefixes) {
  int count = 0;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    bool selected = prefixes.empty();
    for (const std::string& p : prefixes) selected = selected || e.message.rfind(p, 0) == 0;
    if (e.type != type || !selected) continue;
    if (detail && count < 5) *detail += e.source + ": " + e.message + "\n";
    ++count;
  }
  return count;
}

void Expected::add(const std::string& name, const std::string& value, int result) {
  ++writes;
  if (result != 1)
    ++failures;
  else if (name == kSharedName)
    sharedValues.insert(value);
  else
    last[name] = value;
}

void Expected::addOutput(const std::string& output) {
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 4 && w[0] == "W") add(w[1], w[2], std::atoi(w[3].c_str()));
  }
}

void checkFinal(const Rows& rows, const Expected& expected) {
  for (const auto& entry : expected.last) {
    auto it = rows.find(entry.first);
    ASSERT_NE(it, rows.end()) << entry.first << " was stored and is gone";
    ASSERT_EQ(it->second.size(), 1u) << entry.first << " has several rows";
    EXPECT_EQ(it->second[0], entry.second) << entry.first << " lost its last write";
  }
  if (!expected.sharedValues.empty()) {
    auto it = rows.find(kSharedName);
    ASSERT_NE(it, rows.end());
    ASSERT_EQ(it->second.size(), 1u) << "the shared name has several rows";
    EXPECT_EQ(expected.sharedValues.count(it->second[0]), 1u)
        << "the shared name holds a value nobody stored: " << it->second[0];
  }
  EXPECT_EQ(rows.size(), expected.last.size() + (expected.sharedValues.empty() ? 0 : 1));
}

std::map<std::string, long long> parseCounts(const std::string& output) {
  std::map<std::string, long long> counts;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.empty() || w[0] != "R") continue;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const std::size_t eq = w[i].find('=');
      if (eq != std::string::npos) counts[w[i].substr(0, eq)] = std::atoll(w[i].c_str() + eq + 1);
    }
  }
  return counts;
}

std::map<std::string, std::string> parseProbe(const std::string& output) {
  std::map<std::string, std::string> values;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 3 && w[0] == "V") values[w[1]] = w[2];
  }
  return values;
}

KillRound takeKilled(const std::string& output, int* sequence,
                     std::map<std::string, std::string>* confirmed, long long* writes,
                     long long* failures) {
  KillRound round;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 3 && w[0] == "B") {
      round.pendingName = w[1];
      round.pendingValue = w[2];
      ++*sequence;
    } else if (w.size() == 2 && w[0] == "E" && !round.pendingName.empty()) {
      ++*writes;
      if (w[1] == "1")
        (*confirmed)[round.pendingName] = round.pendingValue;
      else
        ++*failures;
      round.pendingName.clear();
    }
  }
  ++*sequence;
  return round;
}

void checkAfterKill(const Rows& rows, const KillRound& round,
                    std::map<std::string, std::string>* confirmed, long long* landed, int kill) {
  for (auto& entry : *confirmed) {
    auto it = rows.find(entry.first);
    ASSERT_NE(it, rows.end()) << entry.first << " lost after kill " << kill;
    ASSERT_EQ(it->second.size(), 1u) << entry.first << " has several rows after kill " << kill;
    if (entry.first == round.pendingName && it->second[0] == round.pendingValue) {
      ++*landed;
      entry.second = round.pendingValue;
    } else {
      ASSERT_EQ(it->second[0], entry.second) << entry.first << " after kill " << kill;
    }
  }
  // A first write of a name that landed.
  if (!round.pendingName.empty() && !confirmed->count(round.pendingName)) {
    auto it = rows.find(round.pendingName);
    if (it != rows.end() && it->second.size() == 1 && it->second[0] == round.pendingValue) {
      ++*landed;
      (*confirmed)[round.pendingName] = round.pendingValue;
    }
  }
}

}  // namespace stress

// Run as a test program it runs the scenarios (the short form; --long for the
// long one); started with --child it plays one role in a process of its own.
int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return stress::runChild(argc, argv);
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--long") == 0) stress::setLongForm(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
