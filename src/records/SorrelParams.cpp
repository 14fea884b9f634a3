#include "pda/KestConfig.h"

SorrelParams::SorrelParams(DataSource dataSource) : KestRecord() {
  initializeDataSource(dataSource);
}

void SorrelParams::initializeDataSource(DataSource dataSource) {
  // Drops the old tree and resolves UnknownDataSource to the default.
  KestRecord::initializeDataSource(dataSource);
  // WrenDataSource: no remote-session store, so no root node.
  setRoot(createStore(_dataSource, SorrelParamsBaseType));
}

// Defined here rather than in the header, so that the library exports them
// and every program uses the library's own copies.
SorrelParams::SorrelParams(const SorrelParams& other) = default;
SorrelParams& SorrelParams::operator=(const SorrelParams& other) = default;
SorrelParams::~SorrelParams() = default;
