// Reading the SQLite store: the lazy fill of a node from its table, the
// configuration tree of interfaces and instruments, the PXI tables and the
// aliases. Reads use the read-only connection of the node's file and never
// write; every statement is finalized on every path out of a read, since a
// statement left open keeps a read lock that makes every writer fail.

#include <cstring>
#include <memory>

#include "core/Text.h"
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
  explicit Query(SQLiteDynamic* lib) : _lib(lib) {}
  ~Query() {
    if (_statement && _lib) _lib->sqlite3_finalize(_statement);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  sqlite3_stmt** slot() { return &_statement; }
  // The next row; no busy retry: any result but SQLITE_ROW ends the rows.
  bool next() { return _statement && _lib && _lib->sqlite3_step(_statement) == kRow; }
  // A column of the current row as text; null for a NULL column. Valid until
  // the next step.
  const char* text(int column) const {
    return reinterpret_cast<const char*>(_lib->sqlite3_column_text(_statement, column));
  }

 private:
  SQLiteDynamic* _lib;
  sqlite3_stmt* _statement = nullptr;
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

void KestSQLite::initializeSubKeyMap() { initializeMaps(); }
void KestSQLite::initializeNameValueMap() { initializeMaps(); }

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
// Name/value tables

void KestSQLite::readTableDataIntoNameValueMap() {
  const std::string sql = pda::format("SELECT %s, %s FROM '%s';", "NAME", "VALUE", getTableName());
  Query query(currentBinding());
  const int result = tryPrepareV2(readConnection(), sql.c_str(), static_cast<int>(sql.size() + 1),
                                  query.slot(), nullptr, nullptr);
  if (result != kOk) {
    logEvent(kSource, kEventError, "readTableDataIntoNameValueMap: Query '%s' failed.\nerror=%d\n(%s)\n",
             sql.c_str(), result, sqLiteResultMessage(result));
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
  Query query(currentBinding());
  const int result = tryPrepareV2(readConnection(), sql.c_str(), static_cast<int>(sql.size() + 1),
                                  query.slot(), nullptr, nullptr);
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
  Query query(currentBinding());
  const int result = tryPrepareV2(readConnection(), sql.c_str(), static_cast<int>(sql.size() + 1),
                                  query.slot(), nullptr, nullptr);
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
    current->rawNameValueMap()[name] = value ? value : "";
  }
  return kOk;
}

void KestSQLite::readTopLevelConfigInfo() {
  NodeList list;
  std::string sql;
  const int result = readKeyedRecords(KestConfigBaseType, sql, list.nodes);
  if (result != kOk) {
    logEvent(kSource, kEventError, "readTopLevelConfigInfo: config Query '%s' failed.\nerror=%d\n(%s)\n",
             sql.c_str(), result, sqLiteResultMessage(result));
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
  if (parent->rawSubKeyMap().count(node->RecordId()) != 0) return false;
  IKestBase::retainNode(node);
  parent->insertChild(node->RecordId(), node);
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
  Query query(currentBinding());
  const int result = tryPrepareV2(readConnection(), sql, static_cast<int>(sizeof sql), query.slot(),
                                  nullptr, nullptr);
  bool anyRow = false;
  if (result != kOk) {
    logEvent(kSource, kEventError, "readVisaBrixAliases: Alias Query '%s' failed.\nerror=%d\n(%s)\n",
             sql, result, sqLiteResultMessage(result));
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
