// Event reporting: the text and type that reach the event log, the length
// returned, messages too long for the buffer, and the caller's last-error
// code, which must survive every report.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pda/DirUtilities.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

// The formatted text reaches the log under its source with id 3, event types
// map to the log's types, the length is returned, and the caller's last error
// survives.
TEST(LogEvent, WritesTheFormattedTextTypedAndKeepsTheLastError) {
  pdatest::TempMachine machine;
  const std::map<unsigned short, std::string> expected = {
      {0, "INFORMATION"}, {1, "ERROR"}, {2, "WARNING"}, {3, "INFORMATION"}, {65535, "INFORMATION"}};
  auto text = [](int type) { return "failed (" + std::to_string(type) + "): database is locked"; };
  for (const auto& e : expected) {
    SetLastError(e.first * 1000u);
    EXPECT_EQ(logEvent("SQLite", e.first, "failed (%d): %s", e.first, "database is locked"),
              static_cast<int>(text(e.first).size()));
    EXPECT_EQ(GetLastError(), e.first * 1000u);
  }
  auto events = pdatest::readEvents();
  ASSERT_EQ(events.size(), expected.size());
  std::size_t i = 0;
  for (const auto& e : expected) {
    EXPECT_EQ(events[i].source, "SQLite");
    EXPECT_EQ(events[i].message, text(e.first));
    EXPECT_EQ(events[i].type, e.second) << "event type " << e.first;
    EXPECT_EQ(events[i++].id, 3);
  }
}

TEST(LogEvent, UnregistrableSourceIsDroppedSilentlyAndANullFormatFails) {
  pdatest::TempMachine machine;
  SetLastError(87);
  EXPECT_EQ(logEvent(nullptr, 1, "lost"), 4);
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_TRUE(pdatest::readEvents().empty());
  // An empty source name: the stand-in refuses to register it, Windows
  // registers it (the log then names no source). Either way the caller gets
  // the length and keeps its last-error code.
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(logEvent("", 1, "lost %d", 42), 7);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
#if !defined(_WIN32)
  EXPECT_TRUE(pdatest::readEvents().empty());
#endif
  // A null format reports an empty event and fails. (Through a variable: the
  // compiler rightly rejects a literal null format.)
  const char* volatile noFormat = nullptr;
  EXPECT_EQ(logEvent("SQLite", 1, noFormat, 0), -1);
  auto events = pdatest::readEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().message, "");
  EXPECT_EQ(events.back().source, "SQLite");
}

TEST(LogEvent, LongMessagesAreCutAndMarked) {
  pdatest::TempMachine machine;
  const std::string fits(5119, 'a');
  const std::string exact(5120, 'b');
  const std::string longer = std::string(5116, 'c') + std::string(20000, 'd');

  EXPECT_EQ(logEvent("SQLite", 1, "%s", fits.c_str()), 5119);
  EXPECT_EQ(logEvent("SQLite", 1, "%s", exact.c_str()), 5119);
  SetLastError(31);
  EXPECT_EQ(logEvent("SQLite", 1, "%s", longer.c_str()), 5119);
  EXPECT_EQ(GetLastError(), 31u);

  auto events = pdatest::readEvents();
  ASSERT_EQ(events.size(), 3u);
  const std::string expected[] = {fits, std::string(5116, 'b') + "...",
                                  std::string(5116, 'c') + "..."};
  bool cutByTheLog = false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (events[i].truncated) {
      // The log gave back only the start of the message: that much is checked.
      cutByTheLog = true;
      EXPECT_EQ(events[i].message, expected[i].substr(0, events[i].message.size()));
    } else {
      EXPECT_EQ(events[i].message, expected[i]) << "event " << i;
    }
  }
  if (cutByTheLog)
    GTEST_SKIP() << "this event log gives back only the start of a long message (Wine's trace "
                    "of ReportEvent cuts it), so the end of each message is not checked";
}

}  // namespace
