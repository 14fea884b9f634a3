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
