// The event log of the emulated machine: every event is one line appended to
// <root>/EventLog/Application.log,
//
//   <UTC time, ISO 8601 with milliseconds>\t<pid>\t<source>\t<TYPE>\t<event id>\t<message>
//
// where TYPE is SUCCESS, ERROR, WARNING or INFORMATION and the message is the
// insertion strings joined by one blank. In the source and the message '\\',
// newline, carriage return and tab are written as "\\\\", "\\n", "\\r" and
// "\\t", so an event is always exactly one line with six fields. The line is
// written with one write() to a file opened O_APPEND, so that events of
// concurrent processes never interleave. The same event goes to syslog, with
// the source as ident and the matching priority.
//
// Decisions:
// - The event id is written as the full unsigned 32-bit number passed.
// - Raw data and categories are accepted and not written.
// - A server name other than none or "" names another computer, which the
//   emulated machine cannot reach: RPC_S_SERVER_UNAVAILABLE, as Windows gives
//   for an unreachable one.
// - An insertion string longer than Windows accepts (31839 characters) or a
//   null one is ERROR_INVALID_PARAMETER, so that code that would fail on
//   Windows fails here too.
// - syslog keeps one ident per process; a report opens the log under its
//   source and closes it again, under a lock, so a host program that set its
//   own ident with openlog gets the default ident back afterwards.

#include <errno.h>
#include <fcntl.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"

namespace {

namespace posix = pda::platform::posix;

constexpr DWORD kRpcServerUnavailable = 1722;
constexpr std::size_t kMaxInsertionString = 31839;

struct EventSource {
  std::string name;
};

// Never destroyed (PosixSupport.h says why).
std::mutex& sourcesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::unordered_map<const void*, std::unique_ptr<EventSource>>& sources() {
  static auto* table = new std::unordered_map<const void*, std::unique_ptr<EventSource>>;
  return *table;
}

std::mutex& syslogMutex() {
  static auto* m = new std::mutex;
  return *m;
}

void appendEscaped(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += *p;
    }
  }
}

std::string utcNow() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  ::gmtime_r(&ts.tv_sec, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ts.tv_nsec / 1000000L);
  return buf;
}

const char* typeName(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      return "SUCCESS";
    case EVENTLOG_ERROR_TYPE:
      return "ERROR";
    case EVENTLOG_WARNING_TYPE:
      return "WARNING";
    case EVENTLOG_INFORMATION_TYPE:
      return "INFORMATION";
    default:
      return nullptr;
  }
}

int syslogPriority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// Appends line to the log file; 0 or an errno value.
int appendLine(const std::string& line) {
  std::string dir = posix::underRoot("EventLog");
  int e = posix::makeDirectories(dir);
  if (e != 0) return e;
  int fd =
      ::open((dir + "/Application.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  // One write, so that the line lands whole at the end of the file; a retry
  // after a short write could put another process's line in between.
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  int error = n < 0 ? errno : (static_cast<std::size_t>(n) != line.size() ? ENOSPC : 0);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

extern "C" {

HANDLE pdaRegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  if (!lpSourceName || !*lpSourceName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (lpUNCServerName && *lpUNCServerName) {
    SetLastError(kRpcServerUnavailable);
    return nullptr;
  }
  auto source = std::make_unique<EventSource>();
  source->name = lpSourceName;
  HANDLE h = source.get();
  std::lock_guard<std::mutex> guard(sourcesMutex());
  sources()[h] = std::move(source);
  return h;
}

BOOL pdaDeregisterEventSource(HANDLE hEventLog) {
  std::unique_ptr<EventSource> source;  // destroyed after the table's lock
  std::lock_guard<std::mutex> guard(sourcesMutex());
  auto it = sources().find(hEventLog);
  if (it == sources().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  source = std::move(it->second);
  sources().erase(it);
  return TRUE;
}

BOOL pdaReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, void* lpRawData) {
  (void)wCategory;
  (void)lpUserSid;
  std::string sourceName;
  {
    std::lock_guard<std::mutex> guard(sourcesMutex());
    auto it = sources().find(hEventLog);
    if (it == sources().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    sourceName = it->second->name;
  }
  const char* type = typeName(wType);
  if (!type || (wNumStrings > 0 && !lpStrings) || (dwDataSize > 0 && !lpRawData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string message;
  for (WORD i = 0; i < wNumStrings; ++i) {
    if (!lpStrings[i] || std::strlen(lpStrings[i]) > kMaxInsertionString) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (i > 0) message += ' ';
    message += lpStrings[i];
  }

  std::string line = utcNow();
  line += '\t';
  line += std::to_string(::getpid());
  line += '\t';
  appendEscaped(line, sourceName.c_str());
  line += '\t';
  line += type;
  line += '\t';
  line += std::to_string(dwEventID);
  line += '\t';
  appendEscaped(line, message.c_str());
  line += '\n';

  {
    std::lock_guard<std::mutex> guard(syslogMutex());
    ::openlog(sourceName.c_str(), LOG_PID, LOG_USER);
    ::syslog(syslogPriority(wType), "%s", message.c_str());
    ::closelog();
  }

  int error = appendLine(line);
  if (error != 0) {
    SetLastError(posix::win32FromErrno(error, ERROR_CANTWRITE));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
