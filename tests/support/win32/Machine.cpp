// The machine of Windows (under Wine, the prefix's): the real registry,
// event log and folders, shared by every test that runs in the prefix; the
// Linux host's sqlite3 client and shell reached through Wine.
#include <direct.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/Fixtures.h"

namespace pdatest {

namespace {

// When the machine was made, so that the real event log, which keeps the
// events of earlier runs, answers only this test's events.
DWORD eventsSince() {
  static const DWORD since = static_cast<DWORD>(std::time(nullptr));
  return since;
}

// Every key of the suite in both registry views, removed before each test.
const char* const kSuiteRegistryTrees[] = {
    "SOFTWARE\\Vantrel",
    "SOFTWARE\\Tessaro",
    "SOFTWARE\\Wow6432Node\\Vantrel",
    "SOFTWARE\\Wow6432Node\\Tessaro",
};

void deleteRegistryTree(const std::string& key) {
  const std::size_t cut = key.rfind('\\');
  const std::string parentPath = key.substr(0, cut);
  const std::string leaf = key.substr(cut + 1);
  HKEY parent = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent);
  if (rc == ERROR_FILE_NOT_FOUND) return;
  if (rc != ERROR_SUCCESS)
    throw std::runtime_error("cannot open HKLM\\" + parentPath + " to clean it (error " +
                             std::to_string(rc) + ")");
  rc = RegDeleteTreeA(parent, leaf.c_str());
  RegCloseKey(parent);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
    throw std::runtime_error("cannot delete HKLM\\" + key + " (error " + std::to_string(rc) + ")");
}

// Removes a file or a directory with everything in it; a missing one is fine.
void removeTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name != "." && name != "..") removeTree(path + "\\" + name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::string commonAppData() {
  char dir[MAX_PATH + 1] = {0};
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, dir) != S_OK)
    throw std::runtime_error("SHGetFolderPathA(CSIDL_COMMON_APPDATA) failed");
  return dir;
}

std::string tempFileName() {
  char dir[MAX_PATH + 1] = {0};
  char name[MAX_PATH + 1] = {0};
  DWORD n = GetTempPathA(MAX_PATH, dir);
  if (n == 0 || n > MAX_PATH || GetTempFileNameA(dir, "pda", 0, name) == 0)
    throw std::runtime_error("cannot make a temporary file name");
  return name;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream text;
  text << f.rdbuf();
  return text.str();
}

// Wine's own path translation, found at run time so that the test programs
// also start on a Windows without Wine. Both return an empty text where
// there is no Wine (or the path cannot be translated).
typedef char*(__cdecl* WineUnixFileName)(const WCHAR*);
typedef WCHAR*(__cdecl* WineDosFileName)(const char*);

std::string unixPathOf(const std::string& windowsPath) {
  auto translate = reinterpret_cast<WineUnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (translate == nullptr) return std::string();
  int n = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::string();
  std::vector<WCHAR> wide(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), n);
  char* unixPath = translate(wide.data());
  if (unixPath == nullptr) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

std::string dosPathOf(const std::string& unixPath) {
  auto translate = reinterpret_cast<WineDosFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
  if (translate == nullptr) return std::string();
  WCHAR* dosPath = translate(unixPath.c_str());
  if (dosPath == nullptr) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, dosPath, -1, nullptr, 0, nullptr, nullptr);
  std::string result;
  if (n > 0) {
    std::vector<char> narrow(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_ACP, 0, dosPath, -1, narrow.data(), n, nullptr, nullptr);
    result = narrow.data();
  }
  HeapFree(GetProcessHeap(), 0, dosPath);
  return result;
}

// One argument of a Windows command line, quoted so that the receiving
// program's argument splitting gives back exactly the text.
std::string windowsArgument(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\n\v\"") == std::string::npos) return text;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// Waits for the status file of a command started by startOnHost; returns the
// command's exit status, or -1 when it did not finish within the bound.
int waitForHostStatus(const std::string& statusFile, ULONGLONG milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (GetFileAttributesA(statusFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() > deadline) return -1;
    Sleep(5);
  }
  const int status = std::atoi(readWholeFile(statusFile).c_str());
  DeleteFileA(statusFile.c_str());
  return status;
}

int runOnWineHost(const std::string& script, const std::vector<std::string>& arguments) {
  const std::string statusFile = startOnHost(script, arguments);
  if (statusFile.empty()) return -1;
  // A generous bound: the host's sqlite3 on a test database takes milliseconds.
  return waitForHostStatus(statusFile, 60000);
}

}  // namespace

std::string hostPath(const std::string& windowsPath) {
  return unixPathOf(windowsPath);
}

std::string windowsPathOfHost(const std::string& hostPath) {
  return dosPathOf(hostPath);
}

// Runs a program of the Linux host from inside Wine: Wine starts a Unix
// binary named by its drive path, but does not connect its standard streams
// to ours and gives no process handle to wait on. So the host's /bin/sh runs
// the command with its streams on files and writes the exit status to a file
// last (through a rename, so it is never seen half written); the caller
// waits for that file.
std::string startOnHost(const std::string& script, const std::vector<std::string>& arguments) {
  const std::string shell = dosPathOf("/bin/sh");
  if (shell.empty()) return std::string();
  const std::string statusFile = tempFileName();
  DeleteFileA(statusFile.c_str());
  const std::string statusUnix = unixPathOf(statusFile);
  std::string commandLine =
      windowsArgument(shell) + " -c " +
      windowsArgument("( " + script + " ); echo $? > \"$0.part\" && mv \"$0.part\" \"$0\"") + " " +
      windowsArgument(statusUnix);
  for (const std::string& argument : arguments) commandLine += " " + windowsArgument(argument);
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return std::string();
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return statusFile;
}

int waitOnHost(const std::string& started, unsigned int seconds) {
  if (started.empty()) return -1;
  return waitForHostStatus(started, static_cast<ULONGLONG>(seconds) * 1000);
}

// On Windows the machine is the real one (under Wine, the prefix's): the
// registry, the common application data folder and the system folder are
// shared by every test that runs in it, so each TempMachine first removes
// everything of the suite that an earlier test may have left there. Only the
// root folder (the base directory of an installed suite) is private.
TempMachine::TempMachine() {
  char tmp[MAX_PATH + 1] = {0};
  DWORD n = GetTempPathA(MAX_PATH, tmp);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
  const std::string base = std::string(tmp) + "pda-test-" + std::to_string(GetCurrentProcessId());
  for (int attempt = 0;; ++attempt) {
    _root = base + "-" + std::to_string(attempt);
    if (CreateDirectoryA(_root.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000)
      throw std::runtime_error("cannot create the test root " + _root);
  }
  _putenv("PDA_REGISTRY_READONLY=");
  eventsSince();
  for (const char* key : kSuiteRegistryTrees) deleteRegistryTree(key);
  // Data and PXI directories: the suite's folder in the common application
  // data folder, and the installation marker in the system folder.
  removeTree(commonAppData() + "\\Tessaro");
  DeleteFileA((systemDir() + "\\brix32.dll").c_str());
}

TempMachine::~TempMachine() {
  if (std::getenv("PDA_KEEP_TEST_ROOT") == nullptr) removeTree(_root);
}

std::string TempMachine::path(const std::string& rel) const {
  std::string native = rel;
  for (char& c : native)
    if (c == '/') c = '\\';
  return _root + "\\" + native;
}

std::string sqliteLibrary() {
  const char* dll = std::getenv("PDA_WIN_SQLITE_DLL");
  if (dll == nullptr || *dll == '\0')
    throw std::runtime_error("PDA_WIN_SQLITE_DLL does not name the Windows SQLite library");
  return dll;
}

const char* libraryWithoutSQLite() {
  static const std::string path = [] {
    char dir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir, n < sizeof dir ? n : 0) + "\\kernel32.dll";
  }();
  return path.c_str();
}

// Through the command interpreter, as on POSIX through the shell. cmd strips
// the outermost quotes of the whole line when it starts with one, so the line
// is wrapped in one more pair.
// A command that starts with a host path (PDA_TOOL_PATH is one in a cross
// build) gets that program under its Windows name.
int run(const std::string& command, std::string* out) {
  std::string line = command;
  if (!line.empty() && line[0] == '/') {
    const std::size_t end = line.find(' ');
    const std::string program = dosPathOf(line.substr(0, end));
    if (!program.empty())
      line = windowsArgument(program) + (end == std::string::npos ? "" : line.substr(end));
  }
  FILE* p = _popen(("\"" + line + "\"").c_str(), "rb");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = _pclose(p);
  if (out) *out = text;
  return status;
}

// Under Wine the Linux host's sqlite3 client works on the database file (the
// same file, through Wine's mapping of the drives); on a Windows without Wine
// the sqlite3 client found on PATH does.
std::string sqlite(const std::string& db, const std::string& sql) {
  const std::string script = tempFileName();
  const std::string output = tempFileName();
  {
    std::ofstream f(script, std::ios::binary);
    f << sql;
  }
  int rc;
  const std::string dbUnix = unixPathOf(db);
  if (!dbUnix.empty()) {
    rc = runOnWineHost("sqlite3 -batch \"$1\" < \"$2\" > \"$3\" 2>&1",
                       {dbUnix, unixPathOf(script), unixPathOf(output)});
  } else {
    rc = run("sqlite3 -batch " + windowsArgument(db) + " < " + windowsArgument(script) + " > " +
             windowsArgument(output) + " 2>&1");
  }
  std::string out = readWholeFile(output);
  DeleteFileA(script.c_str());
  DeleteFileA(output.c_str());
  if (rc != 0) ADD_FAILURE() << "sqlite3 failed (" << rc << ") on: " << sql << "\n" << out;
  return out;
}

namespace {

std::string eventTypeName(unsigned type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      return "SUCCESS";
    case EVENTLOG_ERROR_TYPE:
      return "ERROR";
    case EVENTLOG_WARNING_TYPE:
      return "WARNING";
    case EVENTLOG_INFORMATION_TYPE:
      return "INFORMATION";
    case EVENTLOG_AUDIT_SUCCESS:
      return "AUDIT_SUCCESS";
    case EVENTLOG_AUDIT_FAILURE:
      return "AUDIT_FAILURE";
    default:
      return "UNKNOWN";
  }
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr,
                        nullptr);
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of the last L"..." on a line of Wine's debug output, with Wine's
// escapes (\n \r \t \" \\ and four hexadecimal digits, with or without an x)
// undone. Wine cuts long texts (about 290 characters) and marks that with
// "..." after the closing quote; the cut text is what there is.
std::string wineDebugString(const std::string& line, bool* cut = nullptr) {
  const std::size_t open = line.rfind("L\"");
  if (open == std::string::npos) return std::string();
  if (cut) *cut = line.size() >= 4 && line.compare(line.size() - 4, 4, "\"...") == 0;
  std::wstring text;
  for (std::size_t i = open + 2; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') break;
    if (c != '\\' || i + 1 >= line.size()) {
      text += static_cast<unsigned char>(c);
      continue;
    }
    char e = line[++i];
    if (e == 'n')
      text += L'\n';
    else if (e == 'r')
      text += L'\r';
    else if (e == 't')
      text += L'\t';
    else if (e == '"' || e == '\\')
      text += static_cast<wchar_t>(e);
    else {
      std::size_t start = (e == 'x') ? i + 1 : i;
      unsigned value = 0;
      std::size_t k = start;
      for (; k < start + 4 && k < line.size() && hexDigit(line[k]) >= 0; ++k)
        value = value * 16 + static_cast<unsigned>(hexDigit(line[k]));
      if (k == start) {
        text += static_cast<wchar_t>(e);
      } else {
        text += static_cast<wchar_t>(value);
        i = k - 1;
      }
    }
  }
  return narrow(text);
}

// Wine keeps no event log that can be read back: its ReportEvent writes each
// event to its debug output instead (the advapi channel's note of the call
// with the type and id, then one line per string on the eventlog channel,
// as an error, a warning or a trace by the event's type). The Windows test
// script runs every test with those channels on and its standard error in a
// file, and names the file in PDA_WIN_EVENT_TRACE. The source comes from the
// preceding RegisterEventSource of the same thread; lines start with the id
// of the thread that wrote them, so threads that report at once stay apart.
std::vector<Event> readWineEventTrace(const std::string& file) {
  std::vector<Event> events;
  std::map<std::string, std::string> sourceOfThread;
  std::map<std::string, std::size_t> openEventOfThread;  // index + 1; 0 for none
  std::map<std::string, int> stringsOfThread;
  std::ifstream f(file, std::ios::binary);
  std::string line;
  while (std::getline(f, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    const std::string thread = line.substr(0, colon);
    const std::string rest = line.substr(colon + 1);
    static const std::string kRegister = "fixme:advapi:RegisterEventSourceW ";
    static const std::string kReport = "fixme:advapi:ReportEventW (";
    if (rest.compare(0, kRegister.size(), kRegister) == 0) {
      sourceOfThread[thread] = wineDebugString(rest);
    } else if (rest.compare(0, kReport.size(), kReport) == 0) {
      // (handle,type,category,id,sid,strings,size,strings pointer,data)
      std::vector<std::string> fields;
      std::size_t start = kReport.size();
      while (start < rest.size()) {
        std::size_t comma = rest.find_first_of(",)", start);
        if (comma == std::string::npos) break;
        fields.push_back(rest.substr(start, comma - start));
        start = comma + 1;
        if (rest[comma] == ')') break;
      }
      if (fields.size() < 6) continue;
      Event e;
      e.source = sourceOfThread[thread];
      e.type = eventTypeName(static_cast<unsigned>(std::strtoul(fields[1].c_str(), nullptr, 16)));
      e.id = static_cast<int>(std::strtoul(fields[3].c_str(), nullptr, 16) & 0xFFFF);
      events.push_back(e);
      openEventOfThread[thread] = events.size();
      stringsOfThread[thread] = 0;
    } else if (rest.find(":eventlog:ReportEventW ") != std::string::npos) {
      const std::size_t open = openEventOfThread[thread];
      if (open == 0) continue;
      Event& e = events[open - 1];
      // Several strings of one event are joined with line breaks.
      if (stringsOfThread[thread]++ > 0) e.message += '\n';
      bool cut = false;
      e.message += wineDebugString(rest, &cut);
      if (cut) e.truncated = true;
    }
  }
  return events;
}

// The Application log of a real Windows, from the machine's creation on.
std::vector<Event> readApplicationLog() {
  std::vector<Event> events;
  HANDLE log = OpenEventLogA(nullptr, "Application");
  if (log == nullptr) return events;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    DWORD read = 0, needed = 0;
    if (!ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &read, &needed)) {
      if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size()) {
        buffer.resize(needed);
        continue;
      }
      break;
    }
    for (DWORD offset = 0; offset + sizeof(EVENTLOGRECORD) <= read;) {
      const auto* record = reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + offset);
      if (record->Length == 0 || offset + record->Length > read) break;
      if (record->TimeGenerated >= eventsSince()) {
        Event e;
        e.source = reinterpret_cast<const char*>(record + 1);
        e.type = eventTypeName(record->EventType);
        e.id = static_cast<int>(record->EventID & 0xFFFF);
        const char* text = reinterpret_cast<const char*>(record) + record->StringOffset;
        for (WORD k = 0; k < record->NumStrings; ++k) {
          if (k > 0) e.message += '\n';
          e.message += text;
          text += std::strlen(text) + 1;
        }
        events.push_back(e);
      }
      offset += record->Length;
    }
  }
  CloseEventLog(log);
  return events;
}

}  // namespace

std::vector<Event> readEvents() {
  const char* trace = std::getenv("PDA_WIN_EVENT_TRACE");
  if (trace != nullptr && *trace != '\0') return readWineEventTrace(trace);
  return readApplicationLog();
}

}  // namespace pdatest
