#pragma once

#include <vector>

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"
#include "pda/SQLiteDynamic.h"

namespace pda {
struct SQLiteConnectionPair;  // the process-wide connections of one database file
}

// The SQLite store: a node of the record tree filled from, and written back
// to, the configuration database "Quillon.db" (types 1 to 6) or the remote
// PXI database "RemotePXI.db" (types 7 to 10).
class PDA_API KestSQLite : public IKestBase {
 public:
  // A new root (no parent) for the given type; opens nothing. The caller owns it.
  static KestSQLite* CreateInstance(KestBaseType type);

  // Closes every connection of the process and releases the SQLite library.
  // Run when the process unloads the library.
  static void closeAllDatabaseConnections();

  KestSQLite(const KestSQLite& other);
  KestSQLite& operator=(const KestSQLite& other);
  ~KestSQLite() override;

  void reInitialize() override;
  void initializeSubKeyMap() override;
  void initializeNameValueMap() override;
  int setValueBool(const char* name, int value) override;
  int setValueInt32(const char* name, int value) override;
  int setValueString(const char* name, const char* const value) override;
  int deleteName(const char* name) override;

  const char* getDbPath() const noexcept { return _dbPath; }
  int getLastSQLiteResult() const noexcept { return _lastSQLiteResult; }
  const char* getLastSQliteResultString();
  KestBaseType baseType() const noexcept { return _baseType; }

 private:
  friend struct ::PdaTestAccess;
  friend class KestRecord;
  friend class PxiTypeInfo;
  KestSQLite(IKestBase* parent, KestBaseType type);

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
  bool constructHierarchy(std::vector<IKestBase*>& nodes, IKestBase* node);
  void findParent(std::vector<IKestBase*>& nodes, IKestBase* node, IKestBase*& parent);
  int createPxiInfoTable(const char* tableName);

  const char* _dbFileName;
  sqlite3_stmt* _pBeginStmt;
  sqlite3_stmt* _pCommitStmt;
  sqlite3_stmt* _pRollbackStmt;
  char _dbPath[260];
  bool _csInitialized;
  void* _cs;  // the instance's recursive lock, created at its first use
  int _lastSQLiteResult;
  KestBaseType _baseType;
  pda::SQLiteConnectionPair* _connections;  // this file's connections; null until first needed

  // Process-wide: the binding, shared by every instance; the connections are
  // kept per database file (see the implementation).
  static SQLiteDynamic* _pSQLite;
};
