// The event log: one line per event in the exact format, escaping that
// survives every special character, and failures that set the last error.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

namespace {

std::vector<std::string> logLines(const pdatest::TempMachine& m) {
  return pdatest::fileLines(m.path("EventLog/Application.log"));
}

// Forks processes of threads that each register the source and call
// body(writer, source); true when every writer's body returned true.
bool writeFromProcesses(int processes, int threads,
                        const std::function<bool(int writer, HANDLE source)>& body) {
  std::vector<int> statuses = pdatest::runTogether(processes, [&](int p) {
    std::atomic<bool> ok{true};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
      running.emplace_back([&, t] {
        HANDLE source = RegisterEventSourceA(nullptr, "SQLite");
        if (!source || !body(p * threads + t, source)) ok = false;
        DeregisterEventSource(source);
      });
    for (std::thread& t : running) t.join();
    _exit(ok ? 0 : 1);
  });
  return statuses == std::vector<int>(processes, 0);
}

BOOL report(HANDLE source, WORD type, DWORD id, std::vector<const char*> strings) {
  return ReportEventA(source, type, 0, id, nullptr, static_cast<WORD>(strings.size()), 0,
                      strings.empty() ? nullptr : strings.data(), nullptr);
}

}  // namespace

// One line per event: UTC time, pid, source, type, id and the strings joined by spaces.
TEST(EventLog, LineFormatIsExact) {
  pdatest::TempMachine machine;
  HANDLE source = RegisterEventSourceA(nullptr, "SQLite");
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(report(source, EVENTLOG_ERROR_TYPE, 3, {"insert failed"}));
  ASSERT_TRUE(report(source, EVENTLOG_WARNING_TYPE, 4, {"rolled", "back"}));
  ASSERT_TRUE(report(source, EVENTLOG_SUCCESS, 4294967295u, {}));
  EXPECT_TRUE(DeregisterEventSource(source));

  std::vector<std::string> lines = logLines(machine);
  ASSERT_EQ(lines.size(), 3u);
  std::string pid = std::to_string(getpid());
  const std::regex shape(
      R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{3})Z\t(\d+)\tSQLite\t([A-Z]+)\t(\d+)\t(.*)$)");
  const char* fields[][3] = {{"ERROR", "3", "insert failed"},
                             {"WARNING", "4", "rolled back"},
                             {"SUCCESS", "4294967295", ""}};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
    EXPECT_EQ(m[8], pid);
    EXPECT_EQ((std::vector<std::string>{m[9], m[10], m[11]}),
              (std::vector<std::string>{fields[i][0], fields[i][1], fields[i][2]}));
    // The time is UTC and now.
    struct tm tm = {};
    ASSERT_NE(strptime(lines[i].c_str(), "%Y-%m-%dT%H:%M:%S", &tm), nullptr);
    EXPECT_LE(std::llabs(static_cast<long long>(timegm(&tm)) - time(nullptr)), 60) << lines[i];
  }
}

// Line breaks, tabs and backslashes are escaped in the line and restored on reading.
TEST(EventLog, SpecialCharactersAreEscapedAndRestored) {
  pdatest::TempMachine machine;
  HANDLE source = RegisterEventSourceA(nullptr, "Odd\tSource");
  ASSERT_NE(source, nullptr);
  const std::string tricky = "line1\nline2\r\n\ttab \\n not a newline \\ end\\";
  ASSERT_TRUE(report(source, EVENTLOG_ERROR_TYPE, 7, {tricky.c_str(), "second"}));
  DeregisterEventSource(source);

  std::vector<std::string> lines = logLines(machine);
  ASSERT_EQ(lines.size(), 1u) << "an event spans lines";
  EXPECT_NE(lines[0].find("line1\\nline2\\r\\n\\ttab \\\\n not a newline \\\\ end\\\\ second"),
            std::string::npos)
      << lines[0];
  std::vector<pdatest::Event> events = pdatest::readEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].source, "Odd\\tSource") << "the source stays in its field";
  EXPECT_EQ(events[0].type, "ERROR");
  EXPECT_EQ(events[0].id, 7);
  EXPECT_EQ(events[0].message, tricky + " second");
}

// Bad sources, types, strings and handles fail with their codes and write nothing.
TEST(EventLog, BadArgumentsFailWithTheirCodes) {
  pdatest::TempMachine machine;
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceA(nullptr, name), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere", "SQLite"), nullptr);
  HANDLE local = RegisterEventSourceA("", "SQLite");
  EXPECT_NE(local, nullptr) << "an empty server name is this computer";
  DeregisterEventSource(local);

  HANDLE source = RegisterEventSourceA(nullptr, "SQLite");
  ASSERT_NE(source, nullptr);
  SetLastError(0);
  EXPECT_FALSE(report(source, 3, 1, {"type 3 is not an event type"}));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(report(source, EVENTLOG_ERROR_TYPE, 1, {nullptr}));
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 2, 0, nullptr, nullptr));
  std::string longest(31839, 'x'), tooLong(31840, 'x');
  EXPECT_TRUE(report(source, EVENTLOG_ERROR_TYPE, 1, {longest.c_str()}));
  EXPECT_FALSE(report(source, EVENTLOG_ERROR_TYPE, 1, {tooLong.c_str()}));

  EXPECT_TRUE(DeregisterEventSource(source));
  SetLastError(0);
  EXPECT_FALSE(DeregisterEventSource(source));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(report(source, EVENTLOG_ERROR_TYPE, 1, {"after deregistering"}));
  EXPECT_EQ(logLines(machine).size(), 1u) << "only the one valid report was written";
}

// A file where the log's folder should be: the report fails with a last error.
TEST(EventLog, UnwritableLogFailsAndSetsLastError) {
  pdatest::TempMachine machine;
  std::ofstream(machine.path("EventLog")) << "in the way";
  HANDLE source = RegisterEventSourceA(nullptr, "SQLite");
  ASSERT_NE(source, nullptr);
  SetLastError(0);
  EXPECT_FALSE(report(source, EVENTLOG_ERROR_TYPE, 3, {"lost"}));
  EXPECT_NE(GetLastError(), 0u);
  DeregisterEventSource(source);
}

// Sets the log's maximum size the way an administrator does on Windows; read
// once per process, so before the first event.
void setMaxLogSize(DWORD bytes) {
  pdatest::regSetDword("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application", "MaxSize",
                       bytes);
}

std::uintmax_t logSize(const pdatest::TempMachine& m) {
  return std::filesystem::file_size(m.path("EventLog/Application.log"));
}

// Rotation under 8 writing processes keeps the log under its cap and every
// writer's newest events as an unbroken run.
TEST(EventLogCap, EightProcessesStayUnderTheCapAndKeepTheirNewestEvents) {
  pdatest::TempMachine machine;
  const DWORD kCap = 64 * 1024;
  setMaxLogSize(kCap);
  // 8 processes of 2 threads each, 100,000 events in all.
  const int kProcesses = 8, kThreads = 2, kEvents = 6250, kWriters = kProcesses * kThreads;
  EXPECT_TRUE(writeFromProcesses(kProcesses, kThreads, [&](int w, HANDLE source) {
    for (int e = 0; e < kEvents; ++e) {
      const std::string msg = std::to_string(w) + " " + std::to_string(e);
      if (!report(source, EVENTLOG_INFORMATION_TYPE, static_cast<DWORD>(e), {msg.c_str()}))
        return false;
    }
    return true;
  }));
  EXPECT_LE(logSize(machine), kCap);
  EXPECT_GE(logSize(machine), kCap / 2 - 64);  // only the oldest half goes
  EXPECT_FALSE(std::filesystem::exists(machine.path("EventLog/Application.log.rotating")));
  // Whole lines only. Rotation drops the oldest lines, so what is left of each
  // writer is an unbroken run of its events ending with its last one (or
  // nothing, for a writer that finished long before the others), and the log
  // ends with the last event of some writer.
  std::vector<std::vector<int>> kept(kWriters);
  int lastLine = -1;
  for (const std::string& line : logLines(machine)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        line, m, std::regex(R"([^\t]+\t\d+\tSQLite\tINFORMATION\t(\d+)\t(\d+) (\d+))")))
        << line;
    const int w = std::stoi(m[2]), e = std::stoi(m[3]);
    ASSERT_LT(w, kWriters) << line;
    ASSERT_EQ(std::stoi(m[1]), e);
    if (!kept[w].empty()) {
      EXPECT_EQ(e, kept[w].back() + 1) << "writer " << w << " lost events";
    }
    kept[w].push_back(e);
    lastLine = e;
  }
  EXPECT_EQ(lastLine, kEvents - 1);
  for (int w = 0; w < kWriters; ++w)
    if (!kept[w].empty()) {
      EXPECT_EQ(kept[w].back(), kEvents - 1) << "writer " << w;
    }
}

// The cap is at least 64 KiB; an event longer than half of it is kept alone.
TEST(EventLogCap, TheNewestEventIsKeptWholeEvenWhenLongerThanTheCap) {
  pdatest::TempMachine machine;
  setMaxLogSize(1000);  // raised to the 64 KiB minimum
  HANDLE source = RegisterEventSourceA(nullptr, "SQLite");
  const std::string small(1000, 's');
  for (int e = 0; e < 60; ++e)
    ASSERT_TRUE(report(source, EVENTLOG_WARNING_TYPE, 1, {small.c_str()}));
  EXPECT_EQ(pdatest::readEvents().size(), 60u);  // 60 KiB: under the cap
  const std::string part(30000, 'b');
  ASSERT_TRUE(report(source, EVENTLOG_ERROR_TYPE, 2, {part.c_str(), part.c_str(), part.c_str()}));
  std::vector<pdatest::Event> events = pdatest::readEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].message, part + " " + part + " " + part);
  for (int e = 0; e < 70; ++e)
    ASSERT_TRUE(report(source, EVENTLOG_WARNING_TYPE, 4, {small.c_str()}));
  // 70 lines of about 1 KiB pass the cap once: at least the newest half of it
  // is kept, from the start of a line.
  events = pdatest::readEvents();
  const std::uintmax_t size = logSize(machine);
  EXPECT_LE(size, 64u * 1024u);
  ASSERT_LT(events.size(), 70u);
  EXPECT_GE(size + size / events.size(), 32u * 1024u);
  for (const pdatest::Event& e : events) EXPECT_EQ(e.message, small);
  DeregisterEventSource(source);
}

#endif  // !_WIN32
