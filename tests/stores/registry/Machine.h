#pragma once

// Every registry test runs on a machine of its own.

#include "TestAccess.h"
#include "support/Fixtures.h"

struct WithMachine : ::testing::Test {
  pdatest::TempMachine machine;
};
