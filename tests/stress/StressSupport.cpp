#include "StressSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

namespace stress {

namespace {

bool _longForm = false;

std::string selfPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) throw std::runtime_error("cannot find the stress program itself");
  buffer[n] = '\0';
  return buffer;
}

}  // namespace

const char* const kSharedName = "SharedSetting";

bool longForm() {
  if (_longForm) return true;
  const char* env = std::getenv("PDA_STRESS_LONG");
  return env && std::string(env) == "1";
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
  static const std::string self = selfPath();
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argvText = {self, "--child", role};
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
  Child child;
  child.pid = pid;
  child.out = pipeFds[0];
  return child;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

std::string readSome(int fd) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
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
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string word;
  while (in >> word) out.push_back(word);
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
  if (value.empty() || value[0] != 'p' || dash == std::string::npos) return -1;
  const std::string digits = value.substr(dash + 1, value.find('-', dash + 1) - dash - 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int sequence = std::atoi(digits.c_str());
  return valueOf(parseWriter(value), sequence) == value ? sequence : -1;
}

int parseWriter(const std::string& value) {
  const std::size_t dash = value.find('-');
  if (value.size() < 2 || value[0] != 'p' || dash == std::string::npos || dash < 2) return -1;
  const std::string digits = value.substr(1, dash - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(digits.c_str());
}

std::string ownName(int writer, int index) {
  return "Writer" + std::to_string(writer) + "Name" + std::to_string(index);
}

}  // namespace stress
