#pragma once

#include "pda/Export.h"
#include "pda/SQLiteDynamic.h"

// Adds usage rows to the suite's analytics store: which process used VISA's
// C, COM or .NET interface and when, and usage counts per remote-session type.
// This base stores nothing: every add returns false.
class PDA_API VISAUsageStorage {
 public:
  VISAUsageStorage() noexcept;
  VISAUsageStorage(const VISAUsageStorage& other) noexcept;
  VISAUsageStorage& operator=(const VISAUsageStorage& other) noexcept;
  virtual ~VISAUsageStorage();

  virtual bool AddVISACUsageRecord();
  virtual bool AddVISACOMUsageRecord();
  virtual bool AddVISANETUsageRecord();
  virtual bool AddSorrelSessionUsageRecord(const char* sessionType, int usageCount,
                                           const char* statisticsTime);
};

// The analytics store on the SQLite database "DataAnalytics.db". The database
// and its tables are made by the suite's installer; this class only adds rows
// and never creates the file. It loads its own binding to the SQLite library
// and opens its own connection at the first add, and keeps both until it is
// destroyed.
//
// Time texts and names are stored exactly as passed (a single quote
// included). Every failure is reported to the event log (source "SQLite",
// information) and answered with false; no add lets an exception escape, and
// a failed add leaves the object ready for the next attempt.
//
// Thread safety: none; one object serves one thread at a time. Separate
// objects may be used on separate threads and processes at once.
class PDA_API SQLiteVISAUsageStorage : public VISAUsageStorage {
 public:
  enum VISAUsageType { VISACUsage = 0, VISACOMUsage = 1, VISANETUsage = 2 };

  // path: the database file; null for "DataAnalytics.db" in the suite's data
  // directory. A path of 260 characters or more is never shortened: such an
  // object opens nothing and every add fails with the open-failure report.
  // Nothing is loaded or opened here.
  explicit SQLiteVISAUsageStorage(const char* path = nullptr);
  // A copy writes to the same file through a binding and connection of its
  // own, loaded and opened at its first add; the source's stay the source's.
  SQLiteVISAUsageStorage(const SQLiteVISAUsageStorage& other);
  // Closes this object's connection and binding, then takes the other's path
  // as a copy does.
  SQLiteVISAUsageStorage& operator=(const SQLiteVISAUsageStorage& other);
  ~SQLiteVISAUsageStorage() override;

  // The parameterless operations of the base still return false.
  using VISAUsageStorage::AddVISACOMUsageRecord;
  using VISAUsageStorage::AddVISACUsageRecord;
  using VISAUsageStorage::AddVISANETUsageRecord;

  // One row (SessionType, UsageCount, StatisticsTime) in "SorrelSessionAccess";
  // false when sessionType or statisticsTime is null.
  bool AddSorrelSessionUsageRecord(const char* sessionType, int usageCount,
                                   const char* statisticsTime) override;

  // One row in "VISACAccess", "VISACOMAccess" or "VISANETAccess". Note the
  // order: the time comes first, the process name second. True when the row's
  // statement was prepared and run (a row the database then rejects, for
  // example because another writer holds the lock, still gives true). False
  // when either argument is null.
  virtual bool AddVISACUsageRecord(const char* accessTime, const char* processName);
  virtual bool AddVISACOMUsageRecord(const char* accessTime, const char* processName);
  virtual bool AddVISANETUsageRecord(const char* accessTime, const char* processName);

 private:
  bool AddVisaUsageRecord(VISAUsageType type, const char* accessTime, const char* processName);
  bool CreateSQLite();
  void OpenDBConnection();
  void CloseDBConnection() noexcept;
  const char* tableName(VISAUsageType type) const noexcept;

  const char* databaseFileName;
  const char* visaCTable;
  const char* visaComTable;
  const char* visaNetTable;
  const char* sorrelTable;
  char databasePath[260];  // "" when the path is unusable (see the constructor)
  SQLiteDynamic* sqlite;   // owned; null until first needed and after closing
  sqlite3* connection;
  int lastResult;  // for diagnosis only
};
