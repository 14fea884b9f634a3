#pragma once

#include "pda/VISAUsageStorage.h"

// Reaches the private state of the usage storage for the lifetime tests.
struct PdaTestAccess {
  static const char* SQLiteVISAUsageStorage_databasePath(const SQLiteVISAUsageStorage& s) {
    return s.databasePath;
  }
  static bool SQLiteVISAUsageStorage_hasBinding(const SQLiteVISAUsageStorage& s) {
    return s.sqlite != nullptr;
  }
  static bool SQLiteVISAUsageStorage_hasConnection(const SQLiteVISAUsageStorage& s) {
    return s.connection != nullptr;
  }
};
