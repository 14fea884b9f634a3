// The emulated machine of POSIX: a temporary folder named by PDA_ROOT, the
// shell, the system's sqlite3 client and the stand-in's event log file.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/Fixtures.h"

namespace pdatest {

namespace {

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

TempMachine::TempMachine() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pda-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  _root = buf.data();
  setenv("PDA_ROOT", _root.c_str(), 1);
  unsetenv("PDA_REGISTRY_READONLY");
}

TempMachine::~TempMachine() {
  if (std::getenv("PDA_KEEP_TEST_ROOT") == nullptr) run("rm -rf " + shellQuote(_root));
}

std::string TempMachine::path(const std::string& rel) const {
  return _root + "/" + rel;
}

std::string sqliteLibrary() {
  return PDA_SQLITE_LIBRARY;
}

const char* libraryWithoutSQLite() {
  // The C library this program runs with, by its absolute path.
  static const std::string path = [] {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&std::printf), &info) != 0 && info.dli_fname
               ? std::string(info.dli_fname)
               : std::string();
  }();
  return path.c_str();
}

int run(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string sqlite(const std::string& db, const std::string& sql) {
  std::string script = db + ".sql-XXXXXX";
  std::vector<char> buf(script.begin(), script.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  FILE* f = fdopen(fd, "w");
  std::fputs(sql.c_str(), f);
  std::fclose(f);
  std::string out;
  int rc = run("sqlite3 -batch " + shellQuote(db) + " < " + shellQuote(buf.data()) + " 2>&1", &out);
  std::remove(buf.data());
  if (rc != 0) ADD_FAILURE() << "sqlite3 failed (" << rc << ") on: " << sql << "\n" << out;
  return out;
}

std::vector<Event> readEvents() {
  std::vector<Event> events;
  const char* root = std::getenv("PDA_ROOT");
  if (!root) return events;
  std::ifstream f(std::string(root) + "/EventLog/Application.log");
  std::string line;
  while (std::getline(f, line)) {
    // time \t pid \t source \t TYPE \t id \t message (\\, \n, \r, \t escaped)
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
      std::size_t tab = line.find('\t', start);
      if (tab == std::string::npos) break;
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    if (fields.size() != 5) continue;
    Event e;
    e.source = fields[2];
    e.type = fields[3];
    e.id = std::atoi(fields[4].c_str());
    std::string raw = line.substr(start);
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) {
        char c = raw[++i];
        e.message += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
      } else {
        e.message += raw[i];
      }
    }
    events.push_back(e);
  }
  return events;
}

}  // namespace pdatest
