#pragma once

#include "pda/VISAUsageStorage.h"

#include "support/PrivateAccess.h"

PDA_PRIVATE_MEMBER(UsageConnection, SQLiteVISAUsageStorage, sqlite3*, connection);

// Reaches the private state of the usage storage for the lifetime tests.
struct PdaTestAccess {
  static bool SQLiteVISAUsageStorage_hasConnection(const SQLiteVISAUsageStorage& s) {
    return s.*privateMember(UsageConnection{}) != nullptr;
  }
};
