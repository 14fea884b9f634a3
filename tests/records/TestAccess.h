#pragma once

// Reaches the typed records' private members for the records tests. One
// definition per test program: every records test that needs private access
// includes this header, and each helper's name starts with its class.

#include "pda/KestConfig.h"
#include "pda/KestTypes.h"
#include "support/PrivateAccess.h"

PDA_PRIVATE_MEMBER(PxiTypeInfoInitialize, PxiTypeInfo, void(DataSource), initializeDataSource);
PDA_PRIVATE_MEMBER(KestConfigInitialize, KestConfig, void(DataSource), initializeDataSource);

struct PdaTestAccess {
  static void PxiTypeInfo_initializeDataSource(PxiTypeInfo& record, DataSource dataSource) {
    (record.*privateMember(PxiTypeInfoInitialize{}))(dataSource);
  }
  static void KestConfig_initializeDataSource(KestConfig& record, DataSource dataSource) {
    (record.*privateMember(KestConfigInitialize{}))(dataSource);
  }
};
