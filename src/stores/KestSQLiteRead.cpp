// Reading the SQLite store: the lazy fill of a node from its table, the
// configuration tree of interfaces and instruments, the PXI tables and the
// aliases. Reads use the read-only connection of the node's file and never
// write; every statement is finalized on every path out of a read, since a
// statement left open keeps a read lock that makes every writer fail.

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/Text.h"
#include "pda/DirUtilities.h"
#include "stores/KestSQLiteShared.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";
const char kPlaceholderName[] = "FAKENAME***";
const char kPlaceholderValue[] = "FAKEVALUE***";

// One query of a read: finalized when the object goes, whatever happens.
class Query {
 public:
  // recover is run when the first step meets a hot journal (see
  // KestSQLite::rollBackHotJournal); true when the query may be run again.
  Query(SQLiteDynamic* lib, std::function<bool()> recover)
      : _lib(lib), _recover(std::move(recover)) {}
  ~Query() {
    if (_statement && _lib) _lib->sqlite3_finalize(_statement);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  sqlite3_stmt** slot() { return &_statement; }
  // The next row; no busy retry: any result but SQLITE_ROW ends the rows.
  // A connection that had read the schema before a writer died meets the
  // hot journal only here, at the first step; that step is run once more
  // after the journal has been rolled back.
  bool next() {
    if (!_statement || !_lib) return false;
    int result = _lib->sqlite3_step(_statement);
    if (result == kReadOnly && !_stepped && _recover && _recover()) {
      _lib->sqlite3_reset(_statement);
      result = _lib->sqlite3_step(_statement);
    }
    _stepped = true;
    return result == kRow;
  }
  // A column of the current row as text; null for a NULL column. Valid until
  // the next step.
  const char* text(int column) const {
    return reinterpret_cast<const char*>(_lib->sqlite3_column_text(_statement, column));
  }

 private:
  SQLiteDynamic* _lib;
  std::function<bool()> _recover;
  sqlite3_stmt* _statement = nullptr;
  bool _stepped = false;
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
  switch (_baseType) {
    case KestInfoBaseType:
    case VisaInfoBaseType:
    case SorrelParamsBaseType:
    case InstrumentFavoritesBaseType:
    case PciBusesBaseType:
      readTableDataIntoNameValueMap();
      break;
    case KestConfigBaseType:
      if (!_parent && _recordType == "KestConfig") readTopLevelConfigInfo();
      if (_recordType != "KestConfig")
        readSelectedConfigInfo(reinterpret_cast<const unsigned char*>(_persistentId.c_str()), this);
      break;
    case AliasBaseType:
      readVisaBrixAliases();
      break;
    case ChassisBaseType:
    case PModulesBaseType:
    case SModulesBaseType:
      readPxiRecordInfo();
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
  SQLiteDynamic* const lib = currentBinding();
  pda::SQLiteConnectionPair* const pair = connections();
  if (!lib || !pair) return false;
  std::lock_guard<std::recursive_mutex> transaction(pair->transaction);
  sqlite3* const db = writeConnection();
  if (!db) return false;
  static const char kProbe[] = "SELECT count(*) FROM sqlite_master;";
  sqlite3_stmt* statement = nullptr;
  int result =
      tryPrepareV2(db, kProbe, static_cast<int>(sizeof kProbe), &statement, nullptr, nullptr);
  if (result == kOk) result = tryStep(statement, "rollBackHotJournal", nullptr);
  if (statement) lib->sqlite3_finalize(statement);
  return result == kRow;
}

// Prepares a read on the read-only connection, with the busy retries of
// tryPrepareV2; a hot journal met while the schema is read is rolled back
// (above) and the prepare made once more.
int KestSQLite::prepareRead(const std::string& sql, sqlite3_stmt** statement) {
  const int nByte = static_cast<int>(sql.size() + 1);
  int result = tryPrepareV2(readConnection(), sql.c_str(), nByte, statement, nullptr, nullptr);
  if (result == kReadOnly && rollBackHotJournal())
    result = tryPrepareV2(readConnection(), sql.c_str(), nByte, statement, nullptr, nullptr);
  return result;
}

// ---------------------------------------------------------------------------
// Name/value tables

void KestSQLite::readTableDataIntoNameValueMap() {
  const std::string sql = pda::format("SELECT %s, %s FROM '%s';", "NAME", "VALUE", getTableName());
  Query query(currentBinding(), [this] { return rollBackHotJournal(); });
  const int result = prepareRead(sql, query.slot());
  if (result != kOk) {
    logEvent(kSource, kEventError,
             "readTableDataIntoNameValueMap: Query '%s' failed.\nerror=%d\n(%s)\n", sql.c_str(),
             result, sqLiteResultMessage(result));
  } else {
    while (query.next()) {
      const char* name = query.text(0);
      if (!name || !*name) continue;
      const char* value = query.text(1);
      _nameValueMap[name] = value ? value : "";
    }
  }
  if (_nameValueMap.empty()) _nameValueMap.emplace(kPlaceholderName, kPlaceholderValue);
}

// ---------------------------------------------------------------------------
// The configuration

// The key is matched as passed: its single quotes are doubled in the literal.
void KestSQLite::readSelectedConfigInfo(const unsigned char* key, IKestBase* node) {
  const char* keyText = key ? reinterpret_cast<const char*>(key) : "";
  const std::string sql = pda::format("Select %s, %s FROM %s WHERE %s = '%s'", "NAME", "VALUE",
                                      getTableName(), "IDKEY", pda::sqlLiteral(keyText).c_str());
  Query query(currentBinding(), [this] { return rollBackHotJournal(); });
  const int result = prepareRead(sql, query.slot());
  if (result != kOk) {
    logEvent(kSource, kEventError, "readSelectedConfigInfo: Query '%s' failed.\nerror=%d\n(%s)",
             sql.c_str(), result, sqLiteResultMessage(result));
    return;
  }
  while (query.next()) {
    const char* name = query.text(0);
    if (!node || !name || !*name) continue;
    const char* value = query.text(1);
    node->rawNameValueMap()[name] = value ? value : "";
  }
}

// Reads this node's keyed table ordered by record key into one new node per
// record (rows with an empty key are skipped). Returns the prepare's result;
// sql gets the statement text for the caller's report. The statement is
// finalized before this returns.
int KestSQLite::readKeyedRecords(KestBaseType childType, std::string& sql,
                                 std::vector<IKestBase*>& nodes) {
  sql = pda::format("SELECT %s, %s, %s FROM %s ORDER BY %s;", "IDKEY", "NAME", "VALUE",
                    getTableName(), "IDKEY");
  Query query(currentBinding(), [this] { return rollBackHotJournal(); });
  const int result = prepareRead(sql, query.slot());
  if (result != kOk) return result;
  std::string previousKey;
  IKestBase* current = nullptr;
  while (query.next()) {
    const char* key = query.text(0);
    if (!key || !*key) continue;
    if (previousKey != key) {
      std::unique_ptr<KestSQLite> node(new KestSQLite(nullptr, childType, _dbPath));
      nodes.push_back(node.get());
      current = node.release();
      previousKey = key;
    }
    const char* name = query.text(1);
    if (!name || !*name) continue;
    const char* value = query.text(2);
    // The text is built in place; a name met again keeps its first spelling
    // and takes the later row's text.
    const auto placed = current->rawNameValueMap().try_emplace(name, value ? value : "");
    if (!placed.second) placed.first->second = value ? value : "";
  }
  return kOk;
}

void KestSQLite::readTopLevelConfigInfo() {
  NodeList list;
  std::string sql;
  const int result = readKeyedRecords(KestConfigBaseType, sql, list.nodes);
  if (result != kOk) {
    logEvent(kSource, kEventError,
             "readTopLevelConfigInfo: config Query '%s' failed.\nerror=%d\n(%s)\n", sql.c_str(),
             result, sqLiteResultMessage(result));
    return;
  }
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
  NodeList list;
  std::string sql;
  const int result = readKeyedRecords(_baseType, sql, list.nodes);
  if (result != kOk) {
    logEvent(kSource, kEventError, "readPxiRecordInfo: Query '%s' failed.\nerror=%d\n(%s)\n",
             sql.c_str(), result, sqLiteResultMessage(result));
    return;
  }
  for (std::size_t i = list.nodes.size(); i-- > 0;)
    if (!getBasicInfo(list.nodes[i])) list.drop(i);
}

// ---------------------------------------------------------------------------
// Aliases

void KestSQLite::readVisaBrixAliases() {
  setRecordId("Alias");
  const char sql[] = "SELECT IDKEY, NAME, VALUE FROM InstrAliasInfo";
  Query query(currentBinding(), [this] { return rollBackHotJournal(); });
  const int result = prepareRead(sql, query.slot());
  bool anyRow = false;
  if (result != kOk) {
    logEvent(kSource, kEventError,
             "readVisaBrixAliases: Alias Query '%s' failed.\nerror=%d\n(%s)\n", sql, result,
             sqLiteResultMessage(result));
  } else {
    IKestBase* brix = nullptr;
    IKestBase* visa = nullptr;
    while (query.next()) {
      if (!anyRow) {
        anyRow = true;
        for (const char* name : {"BrixAlias", "VisaAlias"}) {
          std::unique_ptr<KestSQLite> child(new KestSQLite(nullptr, AliasBaseType, _dbPath));
          child->setRecordId(name);
          insertChild(name, child.get());
          (name[0] == 'B' ? brix : visa) = child.release();
        }
      }
      const char* kind = query.text(1);
      IKestBase* target = pda::ciEquals(kind, "AliasVisaId")   ? visa
                          : pda::ciEquals(kind, "AliasBrixId") ? brix
                                                               : nullptr;
      if (!target) continue;
      const char* alias = query.text(0);
      if (!alias || !*alias) continue;
      const char* address = query.text(2);
      target->rawNameValueMap()[alias] = address ? address : "";
    }
  }
  if (!anyRow) _nameValueMap.emplace(kPlaceholderName, kPlaceholderValue);
}
