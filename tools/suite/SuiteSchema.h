#pragma once

// The one copy of the schema of the databases an installed suite has: the
// configuration database "Quillon.db" (with a small sample configuration)
// and the usage database "DataAnalytics.db". `pda init`, the tests, the fuzz
// targets, the benchmarks and the examples create them from here, and the
// docs are checked against it. Each entry is one SQL statement. (The remote
// PXI database is created by the library itself, on first use.)

namespace pdasuite {

// Configuration database: four name/value tables, the keyed configuration
// table and the alias table.
inline const char* const kConfigTables[] = {
    "CREATE TABLE KestInfo (ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
    "CREATE TABLE VisaInfo (ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
    "CREATE TABLE SorrelParamInfo (ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
    "CREATE TABLE InstrumentFavorites (ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
    "CREATE TABLE ConfigData (ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, VALUE TEXT)",
    "CREATE TABLE InstrAliasInfo (ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, VALUE TEXT)",
};

// A covering index in the order of the fixed configuration query ("SELECT
// IDKEY, NAME, VALUE FROM ConfigData ORDER BY IDKEY"): SQLite then reads the
// table in key order instead of sorting it at every read. init creates it
// with the tables; doctor --fix adds it to a database made without it.
inline const char kConfigIndexName[] = "ConfigDataByIdKey";
inline const char kConfigIndex[] =
    "CREATE INDEX IF NOT EXISTS ConfigDataByIdKey ON ConfigData (IDKEY, NAME, VALUE)";

// A small sample configuration: a LAN and a USB interface with one and two
// instruments, VISA and Brix aliases, the VISA logging mode and a favourite.
inline const char* const kConfigSample[] = {
    "INSERT INTO ConfigData (IDKEY, NAME, VALUE) VALUES"
    " ('IF-LAN0', 'RecordType', 'Interface'),"
    " ('IF-LAN0', 'PersistentId', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F01}'),"
    " ('IF-LAN0', 'VISAName', 'TCPIP0'),"
    " ('IF-USB0', 'RecordType', 'Interface'),"
    " ('IF-USB0', 'PersistentId', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F02}'),"
    " ('IF-USB0', 'VISAName', 'USB0'),"
    " ('DEV-LAN0-1', 'RecordType', 'Device'),"
    " ('DEV-LAN0-1', 'PersistentId', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F11}'),"
    " ('DEV-LAN0-1', 'ParentHashKey', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F01}'),"
    " ('DEV-LAN0-1', 'VisaAddress', 'TCPIP0::192.168.1.20::inst0::INSTR'),"
    " ('DEV-USB0-1', 'RecordType', 'Device'),"
    " ('DEV-USB0-1', 'PersistentId', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F21}'),"
    " ('DEV-USB0-1', 'ParentHashKey', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F02}'),"
    " ('DEV-USB0-1', 'VisaAddress', 'USB0::0x2A8D::0x1301::MY53000001::0::INSTR'),"
    " ('DEV-USB0-2', 'RecordType', 'Device'),"
    " ('DEV-USB0-2', 'PersistentId', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F22}'),"
    " ('DEV-USB0-2', 'ParentHashKey', '{6D1A8E40-2B7C-4F0E-9A51-0C3D7E9B1F02}'),"
    " ('DEV-USB0-2', 'VisaAddress', 'USB0::0x2A8D::0x0101::MY53000002::0::INSTR')",
    "INSERT INTO InstrAliasInfo (IDKEY, NAME, VALUE) VALUES"
    " ('scope', 'AliasVisaId', 'TCPIP0::192.168.1.20::inst0::INSTR'),"
    " ('dmm', 'AliasVisaId', 'USB0::0x2A8D::0x1301::MY53000001::0::INSTR'),"
    " ('supply', 'AliasVisaId', 'USB0::0x2A8D::0x0101::MY53000002::0::INSTR'),"
    " ('bench-dmm', 'AliasBrixId', 'usb0,10893,4865,MY53000001,0')",
    "INSERT INTO VisaInfo (NAME, VALUE) VALUES ('Logging', 'OFF')",
    "INSERT INTO InstrumentFavorites (NAME, VALUE) VALUES"
    " ('TCPIP0::192.168.1.20::inst0::INSTR', 'On')",
};

// Usage database: one table per VISA flavour and the remote-session counts.
inline const char* const kAnalyticsTables[] = {
    "CREATE TABLE VISACAccess (ProcessName TEXT, AccessTime TEXT)",
    "CREATE TABLE VISACOMAccess (ProcessName TEXT, AccessTime TEXT)",
    "CREATE TABLE VISANETAccess (ProcessName TEXT, AccessTime TEXT)",
    "CREATE TABLE SorrelSessionAccess (SessionType TEXT, UsageCount INTEGER, StatisticsTime TEXT)",
};

}  // namespace pdasuite
