#pragma once

// Reaches the SQLite store's private members, and helpers shared by the
// SQLite store tests: node ownership, the store's events, and a sqlite3
// client in another process that holds a database lock for a known time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/NodeHolder.h"
#include "pda/KestSQLite.h"
#include "stores/sqlite/Connections.h"
#include "support/Fixtures.h"
#include "support/PrivateAccess.h"

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

PDA_PRIVATE_MEMBER(SQLiteLoad, KestSQLite, void(), loadSQLiteDLL);
PDA_PRIVATE_MEMBER(SQLiteConnect, KestSQLite, void(bool), getDatabaseConnection);
PDA_PRIVATE_MEMBER(SQLiteReadConnection, KestSQLite, sqlite3*(), readConnection);
PDA_PRIVATE_MEMBER(SQLiteBegin, KestSQLite, sqlite3_stmt*, _pBeginStmt);
PDA_PRIVATE_MEMBER(SQLiteTryStep, KestSQLite, int(sqlite3_stmt*, const char*, double*), tryStep);
PDA_PRIVATE_MEMBER(SQLiteResultText, KestSQLite, const char*(int), sqLiteResultMessage);
PDA_PRIVATE_MEMBER(SQLiteCreatePxiTable, KestSQLite, int(const char*), createPxiInfoTable);

// The SQLite store's private members that the tests reach.
struct PdaTestAccess {
  static SQLiteDynamic* KestSQLite_binding() { return pda::sqlite::binding(); }
  static void KestSQLite_load(KestSQLite& node) { (node.*privateMember(SQLiteLoad{}))(); }
  static sqlite3* KestSQLite_readConnection(KestSQLite& node) {
    return (node.*privateMember(SQLiteReadConnection{}))();
  }
  static sqlite3_stmt* KestSQLite_cachedBegin(const KestSQLite& node) {
    return node.*privateMember(SQLiteBegin{});
  }
  static int KestSQLite_tryStep(KestSQLite& node, sqlite3_stmt* statement, const char* description,
                                double* timeout) {
    return (node.*privateMember(SQLiteTryStep{}))(statement, description, timeout);
  }
  static const char* KestSQLite_resultText(KestSQLite& node, int result) {
    return (node.*privateMember(SQLiteResultText{}))(result);
  }
  static void KestSQLite_connect(KestSQLite& node, bool readWrite) {
    (node.*privateMember(SQLiteConnect{}))(readWrite);
  }
  static int KestSQLite_createPxiInfoTable(KestSQLite& node, const char* table) {
    (node.*privateMember(SQLiteConnect{}))(true);
    return (node.*privateMember(SQLiteCreatePxiTable{}))(table);
  }
};

namespace sqltest {

using Node = pda::NodeHolder<KestSQLite>;

inline Node create(KestBaseType type) {
  return Node(KestSQLite::CreateInstance(type));
}

// The store's events, oldest first.
inline std::vector<pdatest::Event> events() {
  std::vector<pdatest::Event> out;
  for (const pdatest::Event& e : pdatest::readEvents())
    if (e.source == "SQLite") out.push_back(e);
  return out;
}

inline int countEvents(const std::string& type, const std::string& message) {
  int n = 0;
  for (const pdatest::Event& e : events()) n += e.type == type && e.message == message;
  return n;
}

// Events whose message starts with prefix.
inline std::vector<pdatest::Event> eventsStarting(const std::string& prefix) {
  std::vector<pdatest::Event> out;
  for (const pdatest::Event& e : events())
    if (e.message.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  return out;
}

// The value map of a node after its lazy fill, as "name=value;..." in map order.
inline std::string dump(IKestBase& node) {
  std::string out;
  for (const auto& entry : *node.NameValueMap()) out += entry.first + "=" + entry.second + ";";
  return out;
}

// The child names of a node after its lazy fill, in map order.
inline std::string children(IKestBase& node) {
  std::string out;
  for (const auto& entry : *node.SubKeyMap()) out += entry.first + ";";
  return out;
}

// The sqlite3 client, in a process of its own, running `begin` on db and then
// holding that lock for `seconds`. The constructor returns once the lock is
// held; the destructor waits for the client to end.
class ClientLock {
 public:
  ClientLock(const std::string& db, const std::string& begin, double seconds) {
    const std::string marker = db + ".locked", script = db + ".lock.sql";
    std::remove(marker.c_str());
#if defined(_WIN32)
    // Under Wine the client is the Linux host's: Wine takes a Windows file
    // lock as a POSIX lock on the same bytes, so the two exclude each other.
    // The client ends with ROLLBACK: under Wine its COMMIT of the empty
    // transaction now and then answers "database is locked" while the Windows
    // SQLite is trying for the lock (a rollback only releases it).
    std::ofstream(script) << begin << ";\n.shell touch '" << pdatest::hostPath(marker)
                          << "'\n.shell sleep " << seconds << "\nROLLBACK;\n";
    _started = pdatest::startOnHost("sqlite3 -batch -bail \"$1\" < \"$2\"",
                                    {pdatest::hostPath(db), pdatest::hostPath(script)});
    EXPECT_FALSE(_started.empty()) << "the client did not start";
    _seconds = static_cast<unsigned int>(seconds) + 60;
#else
    std::ofstream(script) << begin << ";\n.shell touch '" << marker << "'\n.shell sleep " << seconds
                          << "\nCOMMIT;\n";
    _pid = fork();
    if (_pid == 0) {
      execlp("sh", "sh", "-c", ("sqlite3 -batch -bail '" + db + "' < '" + script + "'").c_str(),
             nullptr);
      _exit(127);
    }
#endif
    for (int i = 0; i < 2000 && !std::ifstream(marker).good(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(std::ifstream(marker).good()) << "the client never took the lock";
  }
  ~ClientLock() {
#if defined(_WIN32)
    EXPECT_EQ(pdatest::waitOnHost(_started, _seconds), 0) << "the lock holder failed";
#else
    int status = 0;
    if (_pid > 0) waitpid(_pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the lock holder failed";
#endif
  }
  ClientLock(const ClientLock&) = delete;
  ClientLock& operator=(const ClientLock&) = delete;

 private:
#if defined(_WIN32)
  std::string _started;
  unsigned int _seconds = 0;
#else
  pid_t _pid = -1;
#endif
};

#if !defined(_WIN32)

// Starts body in a child process, which ends with body's result and never
// returns into the test framework.
template <typename Body>
pid_t spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The exit status of a child (-1 when it did not exit normally).
inline int join(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace sqltest
