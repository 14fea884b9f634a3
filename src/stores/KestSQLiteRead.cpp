// Reading the SQLite store: the lazy fill of a node from its table, the
// configuration tree of interfaces and instruments, the PXI tables and the
// aliases. Reads use the read-only connection of the node's file and never
// write; every statement is finalized on every path out of a read, since a
// statement left open keeps a read lock that makes every writer fail.
//
// A read waits for a busy database as a write does: its prepare and each of
// its steps are tried up to 100 times with a 10 ms sleep after each busy
// result. A read that still fails (the database stayed busy, or a step gave
// anything but a row or the end) takes nothing into the node: the node stays
// unread, so that its next access reads again, and the failure is reported
// as a warning. So a node never holds part of a table, or the placeholder
// for a table that was only busy. A read whose prepare fails for any other
// reason (no such table, no database) is reported as an error and, for a
// name/value table, gives the placeholder, as a table that is not there
// gives nothing to read again.

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/Text.h"
#include "pda/DirUtilities.h"
#include "pda/KestSQLite.h"
#include "platform/platform.h"
#include "stores/RecordKinds.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"
#include "stores/sqlite/Statement.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";
const char kPlaceholderName[] = "FAKENAME***";
const char kPlaceholderValue[] = "FAKEVALUE***";

// One query of a read: its statement, prepared and stepped with the busy
// retries, and whether the rows ended as they should (SQLITE_DONE).
//
// A reader's turn. While other processes write without a pause, the database
// can be locked for their commits nearly all the time, and a reader that
// only sleeps and tries again may meet a commit at every try. A reader that
// has met a busy database for a while therefore takes its turn (see
// ReaderTurn), so that writers of the library let it in after the
// transaction under way; it gives the turn back as soon as its first step
// has taken the database's read lock, which the statement then holds to its
// end.
class Rows {
 public:
  explicit Rows(SQLiteDynamic* lib) : _statement(lib) {}
  ~Rows() { _statement.finalize(); }  // before File::reading is let go
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;

  // Prepares sql on connection(); recover is run when the prepare or the
  // first step meets a hot journal (see KestSQLite::rollBackHotJournal), and
  // says whether the read may be made once more.
  int prepare(File* file, const std::function<sqlite3*()>& connection,
              std::function<bool()> recover, const std::string& sql) {
    _file = file;
    _recover = std::move(recover);
    int result = kBusy;
    for (int attempt = 0; attempt < kPatience && isBusy(result); ++attempt) {
      if (attempt) Sleep(kBusySleepMs);
      result = _statement.prepareOnce(connection(), sql.c_str(), static_cast<int>(sql.size() + 1));
    }
    if (isBusy(result)) {
      takeTurn();
      result = _statement.prepare(connection(), sql);
    }
    if (result == kReadOnly) {
      _turn.reset();
      if (_recover && _recover()) result = _statement.prepare(connection(), sql);
    }
    if (result != kOk) _turn.reset();
    return result;
  }

  // The next row.
  bool next() {
    if (_stepped) {
      int result = _statement.step();
      if (result == kRow) return true;
      if (isBusy(result)) result = _statement.stepRetrying();
      return ended(result);
    }
    int result = firstStep();
    // A connection that had read the schema before a writer died meets the
    // hot journal only here, at the first step; that step is run once more
    // after the journal has been rolled back.
    if (result == kReadOnly && _recover) {
      _reading.reset();
      if (_recover()) {
        _statement.reset();
        result = firstStep();
      }
    }
    _stepped = true;
    _turn.reset();
    return ended(result);
  }
  const char* text(int column) const { return _statement.text(column); }
  // The result that ended the rows: SQLITE_DONE for a complete read.
  int last() const noexcept { return _last; }

 private:
  static const int kPatience = 10;  // busy results before the reader takes its turn

  // Whether result is a row; when not, the rows have ended with it.
  bool ended(int result) {
    if (result == kRow) return true;
    _last = result;
    _statement.reset();  // the read lock goes with the statement's end
    _reading.reset();
    return false;
  }

  // File::reading, held for the life of the object.
  class Reading {
   public:
    explicit Reading(pda::Mutex& m) PDA_NO_THREAD_SAFETY_ANALYSIS : _m(m) { _m.lock(); }
    ~Reading() PDA_NO_THREAD_SAFETY_ANALYSIS { _m.unlock(); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

   private:
    pda::Mutex& _m;
  };

  void takeTurn() {
    if (!_turn && _file) _turn.reset(new ReaderTurn(*_file));
  }

  // The first step, made holding File::reading, which a busy result lets go
  // of while the reader sleeps.
  int firstStep() {
    int result = kBusy;
    for (int attempt = 1; attempt <= kBusyAttempts + kPatience; ++attempt) {
      if (_file && !_reading) _reading.reset(new Reading(_file->reading));
      result = _statement.step();
      if (!isBusy(result)) break;
      _reading.reset();
      if (attempt == kPatience) takeTurn();
      Sleep(kBusySleepMs);
    }
    return result;
  }

  Statement _statement;
  File* _file = nullptr;
  std::function<bool()> _recover;
  std::unique_ptr<ReaderTurn> _turn;
  std::unique_ptr<Reading> _reading;  // declared last: let go of first
  bool _stepped = false;
  int _last = kDone;
};

// The records of one read. The list holds one reference on each node, and a
// child map that a node enters holds one of its own, so releasing the list
// destroys exactly the nodes that the tree does not reach, with whatever they
// hold, each once.
struct NodeList {
  NodeList() = default;
  NodeList(const NodeList&) = delete;
  NodeList& operator=(const NodeList&) = delete;
  ~NodeList() {
    for (IKestBase* node : nodes) IKestBase::releaseNode(node);
  }
  void drop(std::size_t i) {
    IKestBase::releaseNode(nodes[i]);
    nodes[i] = nullptr;
  }
  std::vector<IKestBase*> nodes;
};

// How a record type word decides a keyed record's identity, in the order in
// which the words are tried.
struct RecordKind {
  const char* word;        // looked for as a case-sensitive substring
  const char* recordType;  // the node's record type
  const char* idValue;     // the value that names the node
  bool idDefaultsToPersistentId;
  bool entersRoot;  // instruments are attached to their interface instead
};

const RecordKind kRecordKinds[] = {
    {"Interface", "Interface", "VISAName", true, true},
    {"Device", "Instrument", "VisaAddress", true, false},
    {"Chassis", "Chassis", "ChassisSN", false, true},
    {"PModule", "PModules", "PCIBusNumber", false, true},
    {"SModule", "SModules", "ChassisSN", false, true},
};

// The interfaces of a record list by persistent id. Walking the list from
// first to last and keeping the first entry of each id gives the same parent
// that a scan of the list for each instrument would find, in one pass over
// the list instead of one per instrument. Built after the identities are
// known; the pass that uses it removes instruments only, so it stays right.
std::unordered_map<std::string, IKestBase*> indexInterfaces(const std::vector<IKestBase*>& nodes) {
  std::unordered_map<std::string, IKestBase*> index;
  index.reserve(nodes.size());
  for (IKestBase* node : nodes)
    if (node && std::strcmp(node->RecordType(), "Interface") == 0)
      index.emplace(node->PersistentId(), node);
  return index;
}

}  // namespace

// ---------------------------------------------------------------------------
// The lazy fill

void KestSQLite::initializeSubKeyMap() {
  initializeMaps();
}
void KestSQLite::initializeNameValueMap() {
  initializeMaps();
}

void KestSQLite::initializeMaps() {
  if (!_subKeyMap.empty() || !_nameValueMap.empty()) return;
  getDatabaseConnection(false);
  switch (pda::recordKind(_baseType).reader) {
    case pda::SQLiteReader::NameValueTable:
      readTableDataIntoNameValueMap();
      break;
    case pda::SQLiteReader::Configuration:
      if (!_parent && _recordType == "KestConfig") readTopLevelConfigInfo();
      // A record read from the table is read again under the key its rows
      // were found under (which need not be its persistent id); any other
      // node by its persistent id.
      if (_recordType != "KestConfig")
        readSelectedConfigInfo(reinterpret_cast<const unsigned char*>(
                                   (_readKey.empty() ? _persistentId : _readKey).c_str()),
                               this);
      break;
    case pda::SQLiteReader::Aliases:
      readVisaBrixAliases();
      break;
    case pda::SQLiteReader::PxiRecords:
      readPxiRecordInfo();
      break;
    case pda::SQLiteReader::None:
      break;
  }
}

void KestSQLite::reInitialize() {
  releaseChildren();
  _nameValueMap.clear();
}

// ---------------------------------------------------------------------------
// Reads after a writer died

// A writer that dies inside a transaction (a crash, a kill) leaves a hot
// journal beside the database. A read-only connection cannot roll it back:
// SQLite answers every read on it with SQLITE_READONLY ("attempt to write a
// readonly database") until a connection with write access comes by, so
// until the next write anywhere every read of every process would give the
// callers' defaults. A read that meets this answer therefore lets the file's
// read-write connection restore the last committed state (SQLite does that
// by itself on the first read it makes there, which is all this does) and
// then runs its query once more on the read-only connection. Nothing is
// written: the database ends as it was at its last commit. When the file
// cannot be written either, the read fails as before and is reported by its
// caller.
bool KestSQLite::rollBackHotJournal() {
  getDatabaseConnection(true);
  File* const f = file();
  if (!binding() || !f) return false;
  WriterLock writers(f);
  if (!writers.held()) return false;
  sqlite3* const db = writeConnection();
  if (!db) return false;
  Statement probe(binding());
  int result = probe.prepare(db, std::string("SELECT count(*) FROM sqlite_master;"));
  if (result == kOk)
    result = pda::sqlite::tryStep(binding(), probe.get(), "rollBackHotJournal", 10.0);
  return result == kRow;
}

// Prepares a read (rows is a Rows) on the read-only connection, with the
// busy retries; a hot journal met while the schema is read is rolled back
// (above) and the prepare made once more.
int KestSQLite::prepareRead(const std::string& sql, void* rows) {
  return static_cast<Rows*>(rows)->prepare(
      file(), [this] { return readConnection(); }, [this] { return rollBackHotJournal(); }, sql);
}

// A read that failed, reported: a busy database or a failed step as a
// warning (the node stays unread and is read again at its next access),
// any other failed prepare as an error.
void KestSQLite::reportFailedRead(const char* format, const char* sql, int result, bool prepared) {
  logEvent(kSource, prepared || isBusy(result) ? kEventWarning : kEventError, format, sql, result,
           sqLiteResultMessage(result));
}

// ---------------------------------------------------------------------------
// Name/value tables

// The pairs are read aside and taken into the node only when the whole
// table was read.
void KestSQLite::readTableDataIntoNameValueMap() {
  const char kFailed[] = "readTableDataIntoNameValueMap: Query '%s' failed.\nerror=%d\n(%s)\n";
  const std::string sql = pda::format("SELECT %s, %s FROM '%s';", "NAME", "VALUE", getTableName());
  Rows rows(binding());
  const int result = prepareRead(sql, &rows);
  if (result != kOk) {
    reportFailedRead(kFailed, sql.c_str(), result, false);
    if (isBusy(result)) return;
  } else {
    ::NameValueMap read;
    while (rows.next()) {
      const char* name = rows.text(0);
      if (!name || !*name) continue;
      const char* value = rows.text(1);
      read[name] = value ? value : "";
    }
    if (rows.last() != kDone) return reportFailedRead(kFailed, sql.c_str(), rows.last(), true);
    _nameValueMap.swap(read);
  }
  if (_nameValueMap.empty()) _nameValueMap.emplace(kPlaceholderName, kPlaceholderValue);
}

// ---------------------------------------------------------------------------
// The configuration

// The key is matched as passed: its single quotes are doubled in the literal.
void KestSQLite::readSelectedConfigInfo(const unsigned char* key, IKestBase* node) {
  const char kFailed[] = "readSelectedConfigInfo: Query '%s' failed.\nerror=%d\n(%s)";
  const char* keyText = key ? reinterpret_cast<const char*>(key) : "";
  const std::string sql = pda::format("Select %s, %s FROM %s WHERE %s = '%s'", "NAME", "VALUE",
                                      getTableName(), "IDKEY", pda::sqlLiteral(keyText).c_str());
  Rows rows(binding());
  const int result = prepareRead(sql, &rows);
  if (result != kOk) return reportFailedRead(kFailed, sql.c_str(), result, false);
  std::vector<std::pair<std::string, std::string>> read;
  while (rows.next()) {
    const char* name = rows.text(0);
    if (!node || !name || !*name) continue;
    const char* value = rows.text(1);
    read.emplace_back(name, value ? value : "");
  }
  if (rows.last() != kDone) return reportFailedRead(kFailed, sql.c_str(), rows.last(), true);
  for (auto& pair : read) node->rawNameValueMap()[pair.first] = std::move(pair.second);
}

// Reads this node's keyed table ordered by record key into one new node per
// record (rows with an empty key are skipped); a configuration record keeps
// the key it was read under. False when the read failed: result then holds
// the failing result, prepared whether the statement was prepared, and sql
// the statement text for the caller's report; nodes may hold the records
// read before the failure (the caller drops them). The statement is
// finalized before this returns.
bool KestSQLite::readKeyedRecords(KestBaseType childType, std::string& sql, int& result,
                                  bool& prepared, std::vector<IKestBase*>& nodes) {
  sql = pda::format("SELECT %s, %s, %s FROM %s ORDER BY %s;", "IDKEY", "NAME", "VALUE",
                    getTableName(), "IDKEY");
  Rows rows(binding());
  result = prepareRead(sql, &rows);
  prepared = result == kOk;
  if (!prepared) return false;
  std::string previousKey;
  KestSQLite* current = nullptr;
  while (rows.next()) {
    const char* key = rows.text(0);
    if (!key || !*key) continue;
    if (previousKey != key) {
      std::unique_ptr<KestSQLite> node(new KestSQLite(nullptr, childType, _dbPath));
      if (childType == KestConfigBaseType) node->_readKey = key;
      nodes.push_back(node.get());
      current = node.release();
      previousKey = key;
    }
    const char* name = rows.text(1);
    if (!name || !*name) continue;
    const char* value = rows.text(2);
    // The text is built in place; a name met again keeps its first spelling
    // and takes the later row's text.
    const auto placed = current->rawNameValueMap().try_emplace(name, value ? value : "");
    if (!placed.second) placed.first->second = value ? value : "";
  }
  result = rows.last();
  return result == kDone;
}

void KestSQLite::readTopLevelConfigInfo() {
  const char kFailed[] = "readTopLevelConfigInfo: config Query '%s' failed.\nerror=%d\n(%s)\n";
  NodeList list;
  std::string sql;
  int result = kOk;
  bool prepared = false;
  if (!readKeyedRecords(KestConfigBaseType, sql, result, prepared, list.nodes))
    return reportFailedRead(kFailed, sql.c_str(), result, prepared);
  for (std::size_t i = list.nodes.size(); i-- > 0;)
    if (!getBasicInfo(list.nodes[i])) list.drop(i);
  const InterfaceIndex interfaces = indexInterfaces(list.nodes);
  for (std::size_t i = list.nodes.size(); i-- > 0;)
    if (list.nodes[i] && !constructHierarchy(interfaces, list.nodes[i])) list.drop(i);
}
// Values are read through the node's getter into 256-byte buffers, so a
// value of 256 characters or more reads as empty.
bool KestSQLite::getBasicInfo(IKestBase* node) {
  if (!node || node->rawNameValueMap().empty()) return true;
  char recordType[256];
  node->getValueString("RecordType", recordType, sizeof recordType, "");
  if (recordType[0] == '\0') return true;

  const RecordKind* kind = nullptr;
  for (const RecordKind& candidate : kRecordKinds) {
    if (std::strstr(recordType, candidate.word)) {
      kind = &candidate;
      break;
    }
  }
  if (!kind) return false;

  char persistentId[256];
  node->getValueString("PersistentId", persistentId, sizeof persistentId, "");
  node->setPersistentId(persistentId);
  node->setRecordType(kind->recordType);
  char recordId[256];
  node->getValueString(kind->idValue, recordId, sizeof recordId,
                       kind->idDefaultsToPersistentId ? persistentId : "");
  node->setRecordId(recordId);
  if (kind->entersRoot) {
    IKestBase::retainNode(node);
    insertChild(recordId, node);
  }
  return true;
}

bool KestSQLite::constructHierarchy(const InterfaceIndex& interfaces, IKestBase* node) {
  if (std::strcmp(node->RecordType(), "Instrument") != 0) return true;
  IKestBase* parent = nullptr;
  findParent(interfaces, node, parent);
  if (!parent) return false;
  // One copy of the name and one search: the place where the name would be
  // tells whether it is taken, and is where the instrument goes if not.
  std::string id(node->RecordId());
  ::SubKeyMap& children = parent->rawSubKeyMap();
  const auto at = children.lower_bound(id);
  if (at != children.end() && !children.key_comp()(id, at->first)) return false;
  IKestBase::retainNode(node);
  children.emplace_hint(at, std::move(id), node);
  node->setParentPointer(parent);
  node->setParentId(parent->RecordId());
  return true;
}

void KestSQLite::findParent(const InterfaceIndex& interfaces, IKestBase* node, IKestBase*& parent) {
  char parentKey[256];
  node->getValueString("ParentHashKey", parentKey, sizeof parentKey, "");
  auto it = interfaces.find(parentKey);
  if (it != interfaces.end()) parent = it->second;
}

// ---------------------------------------------------------------------------
// PXI tables

void KestSQLite::readPxiRecordInfo() {
  const char kFailed[] = "readPxiRecordInfo: Query '%s' failed.\nerror=%d\n(%s)\n";
  NodeList list;
  std::string sql;
  int result = kOk;
  bool prepared = false;
  if (!readKeyedRecords(_baseType, sql, result, prepared, list.nodes))
    return reportFailedRead(kFailed, sql.c_str(), result, prepared);
  for (std::size_t i = list.nodes.size(); i-- > 0;)
    if (!getBasicInfo(list.nodes[i])) list.drop(i);
}

// ---------------------------------------------------------------------------
// Aliases

// The aliases are read aside and taken into the node only when the whole
// table was read.
void KestSQLite::readVisaBrixAliases() {
  const char kFailed[] = "readVisaBrixAliases: Alias Query '%s' failed.\nerror=%d\n(%s)\n";
  setRecordId("Alias");
  const std::string sql = "SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo";
  Rows rows(binding());
  const int result = prepareRead(sql, &rows);
  bool anyRow = false;
  if (result != kOk) {
    reportFailedRead(kFailed, sql.c_str(), result, false);
    if (isBusy(result)) return;
  } else {
    ::NameValueMap byKind[2];  // Brix, VISA
    while (rows.next()) {
      anyRow = true;
      const char* kind = rows.text(1);
      const int target = pda::ciEquals(kind, "AliasVisaId")   ? 1
                         : pda::ciEquals(kind, "AliasBrixId") ? 0
                                                              : -1;
      if (target < 0) continue;
      const char* alias = rows.text(0);
      if (!alias || !*alias) continue;
      const char* address = rows.text(2);
      byKind[target][alias] = address ? address : "";
    }
    if (rows.last() != kDone) return reportFailedRead(kFailed, sql.c_str(), rows.last(), true);
    if (anyRow) {
      const char* const names[] = {"BrixAlias", "VisaAlias"};
      for (int i = 0; i < 2; ++i) {
        std::unique_ptr<KestSQLite> child(new KestSQLite(nullptr, AliasBaseType, _dbPath));
        child->setRecordId(names[i]);
        child->rawNameValueMap().swap(byKind[i]);
        insertChild(names[i], child.get());
        child.release();
      }
    }
  }
  if (!anyRow) _nameValueMap.emplace(kPlaceholderName, kPlaceholderValue);
}
