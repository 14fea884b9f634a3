#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"
#include "pda/SQLiteDynamic.h"

namespace pda {
namespace sqlite {
class File;  // the process-wide connections of one database file
struct TransactionStatements;
class Transaction;
}  // namespace sqlite
}  // namespace pda

// The SQLite store: a node of the record tree filled from, and written back
// to, the configuration database "Quillon.db" (types 1 to 6) or the remote
// PXI database "RemotePXI.db" (types 7 to 10).
//
// The SQLite library is loaded at run time from the suite's installation
// ("bin/SQLite.Interop.dll" below the base directory) at the first read or
// write of the process and stays loaded until closeAllDatabaseConnections.
// Every database file gets one read-only and one read-write connection,
// shared by every instance of the process that uses that file.
//
// Thread safety: like every node, one instance with its subtree is used by
// one thread at a time for reads. Writes through one instance are serialised
// by the instance lock, and write transactions of different instances on one
// file never interleave. Different instances may be used on different
// threads at once.
class PDA_API KestSQLite : public IKestBase {
 public:
  // A new root (no parent) for the given type. Opens nothing, except that a
  // type 7 to 10 creates the remote PXI database when it is missing. The
  // caller owns the node; never null (exhausted memory throws).
  static KestSQLite* CreateInstance(KestBaseType type);

  // Closes every connection of the process and releases the SQLite library.
  // Run when the process unloads the library; takes no instance lock.
  static void closeAllDatabaseConnections();

  // Copies the tree part, the database path, the last result and the type.
  // The copy has its own lock and prepares its own statements when needed.
  KestSQLite(const KestSQLite& other);
  KestSQLite& operator=(const KestSQLite& other);
  ~KestSQLite() override;

  void reInitialize() override;
  void initializeSubKeyMap() override;
  void initializeNameValueMap() override;
  // Writes return 1 for success and 0 for failure; a failure leaves the
  // database and the node as they were.
  int setValueBool(const char* name, int value) override;
  int setValueInt32(const char* name, int value) override;
  int setValueString(const char* name, const char* const value) override;
  int deleteName(const char* name) override;

  const char* getDbPath() const noexcept { return _dbPath; }
  int getLastSQLiteResult() const noexcept { return _lastSQLiteResult; }
  // The text of getLastSQLiteResult(); "sqlite3 DLL open failed." while the
  // library is not loaded. The text is the library's own copy and stays
  // valid for the life of the process.
  const char* getLastSQliteResultString();
  KestBaseType baseType() const noexcept { return _baseType; }

 private:
  // Holds the instance lock for its life.
  class InstanceLock;

  // Interfaces of a configuration read by persistent id; the first interface
  // of the record list with a given id is the one kept.
  typedef std::unordered_map<std::string, IKestBase*> InterfaceIndex;

  KestSQLite(IKestBase* parent, KestBaseType type);
  // A node for a record that a read has just found in the file at dbPath:
  // takes that path and never creates a database.
  KestSQLite(IKestBase* parent, KestBaseType type, const char* dbPath);

  void enterSQLiteCriticalSection();
  void leaveSQLiteCriticalSection();
  void deleteSQLiteCriticalSection();
  void loadSQLiteDLL();
  void getDatabaseConnection(bool readWrite);
  void closeDatabaseConnection(bool readWrite);
  sqlite3_stmt* getBeginStmt();
  sqlite3_stmt* getCommitStmt();
  sqlite3_stmt* getRollbackStmt();
  const char* getTableName();
  int getTableRowCount();
  int tryPrepareV2(sqlite3* db, const char* sql, int nByte, sqlite3_stmt** statement,
                   const char** tail, double* timeout);
  int tryStep(sqlite3_stmt* statement, const char* description, double* timeout);
  const char* sqLiteResultMessage(int result);
  long long getFileModificationTime(char* path);

  void initializeMaps();
  void readTableDataIntoNameValueMap();
  void readSelectedConfigInfo(const unsigned char* key, IKestBase* node);
  void readTopLevelConfigInfo();
  void readPxiRecordInfo();
  void readVisaBrixAliases();
  bool getBasicInfo(IKestBase* node);
  bool constructHierarchy(const InterfaceIndex& interfaces, IKestBase* node);
  void findParent(const InterfaceIndex& interfaces, IKestBase* node, IKestBase*& parent);
  int createPxiInfoTable(const char* tableName);

  // Plumbing shared by the reads and writes.
  pda::sqlite::File* file();
  sqlite3* readConnection();
  sqlite3* writeConnection();
  int prepareCached(sqlite3_stmt*& slot, const char* text);
  void dropStatementsOfClosedConnections();
  bool transactionStatements(pda::sqlite::TransactionStatements& statements);
  void createRemotePxiDatabase();
  static bool buildRemotePxiDatabase(sqlite3* db, void* context);
  bool readKeyedRecords(KestBaseType childType, std::string& sql, int& result, bool& prepared,
                        std::vector<IKestBase*>& nodes);
  int prepareRead(const std::string& sql, void* rows);
  bool rollBackHotJournal();
  void reportFailedRead(const char* format, const char* sql, int result, bool prepared);
  std::string recordKey() const;
  int deleteRows(const char* name, const std::string& key);
  bool commitHoldingReads(pda::sqlite::Transaction& transaction);

  const char* _dbFileName;
  sqlite3_stmt* _pBeginStmt;
  sqlite3_stmt* _pCommitStmt;
  sqlite3_stmt* _pRollbackStmt;
  char _dbPath[260];
  bool _csInitialized;
  void* _cs;  // the instance's recursive lock, created at its first use
  int _lastSQLiteResult;
  KestBaseType _baseType;
  pda::sqlite::File* _file;  // this file's connections; null until first needed
  sqlite3* _pCreationDb;     // the connection of a remote PXI database being created
  unsigned _stmtGeneration;  // which opening of the connections the statements belong to
  // The record key ("IDKEY") under which a configuration record was read;
  // empty for every other node.
  std::string _readKey;
};
