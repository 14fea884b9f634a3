#pragma once

// Which store a record uses.
enum DataSource {
  UnknownDataSource = 0,   // take the process-wide default
  RegistryDataSource = 1,  // the Windows registry (KestRegistry)
  SQLiteDataSource = 2,    // the SQLite configuration database (KestSQLite)
  DeviceIoDataSource = 3,  // the built-in defaults (KestDeviceIoConfig)
  WrenDataSource = 4       // no store of its own (see the records)
};

// Which part of the persisted data one store node holds.
enum KestBaseType {
  KestInfoBaseType = 1,
  VisaInfoBaseType = 2,
  KestConfigBaseType = 3,
  SorrelParamsBaseType = 4,
  AliasBaseType = 5,
  InstrumentFavoritesBaseType = 6,
  ChassisBaseType = 7,
  PModulesBaseType = 8,
  SModulesBaseType = 9,
  PciBusesBaseType = 10
};
