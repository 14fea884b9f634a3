#pragma once

#include "pda/VISAUsageStorage.h"

#include "support/PrivateAccess.h"

PDA_PRIVATE_MEMBER(UsagePath, SQLiteVISAUsageStorage, char[260], databasePath);
PDA_PRIVATE_MEMBER(UsageBinding, SQLiteVISAUsageStorage, SQLiteDynamic*, sqlite);
PDA_PRIVATE_MEMBER(UsageConnection, SQLiteVISAUsageStorage, sqlite3*, connection);

// Reaches the private state of the usage storage for the lifetime tests.
struct PdaTestAccess {
  static const char* SQLiteVISAUsageStorage_databasePath(const SQLiteVISAUsageStorage& s) {
    return s.*privateMember(UsagePath{});
  }
  static bool SQLiteVISAUsageStorage_hasBinding(const SQLiteVISAUsageStorage& s) {
    return s.*privateMember(UsageBinding{}) != nullptr;
  }
  static bool SQLiteVISAUsageStorage_hasConnection(const SQLiteVISAUsageStorage& s) {
    return s.*privateMember(UsageConnection{}) != nullptr;
  }
};
