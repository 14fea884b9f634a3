#pragma once

// Reaches the typed records' private members for the records tests. One
// definition per test program: every records test that needs private access
// includes this header, and each helper's name starts with its class.

#include "pda/KestConfig.h"
#include "pda/KestTypes.h"

struct PdaTestAccess {
  static void PxiTypeInfo_initializeDataSource(PxiTypeInfo& record, DataSource dataSource) {
    record.initializeDataSource(dataSource);
  }
  static void KestConfig_initializeDataSource(KestConfig& record, DataSource dataSource) {
    record.initializeDataSource(dataSource);
  }
};
