#pragma once

// Which store a record uses. Both enumerations are 32 bits wide with int as
// their fixed underlying type, so that any value a caller casts in (the
// library answers values outside the named ones) is a valid value.
enum DataSource : int {
  UnknownDataSource = 0,   // take the process-wide default
  RegistryDataSource = 1,  // the Windows registry (KestRegistry)
  SQLiteDataSource = 2,    // the SQLite configuration database (KestSQLite)
  DeviceIoDataSource = 3,  // the built-in defaults (KestDeviceIoConfig)
  WrenDataSource = 4       // no store of its own (see the records)
};

// Which part of the persisted data one store node holds.
enum KestBaseType : int {
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
