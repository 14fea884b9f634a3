#pragma once

// What each KestBaseType means to the stores: the record type its nodes
// carry, the SQLite table and file that hold it, and how the SQLite store
// reads it. One table for every store.

#include "pda/KestTypes.h"

namespace pda {

enum class SQLiteReader {
  None,            // nothing to read
  NameValueTable,  // (ID, NAME, VALUE) pairs into the root's values
  Configuration,   // the tree of interfaces and instruments from "ConfigData"
  Aliases,         // "InstrAliasInfo" into two children by alias kind
  PxiRecords,      // one child per record of a keyed PXI table
};

struct RecordKind {
  KestBaseType type;
  const char* recordType;  // the record type of a new node
  const char* table;       // the SQLite table read and written
  int columns;             // 3: (ID, NAME, VALUE); 4: (ID, IDKEY, NAME, VALUE)
  const char* databaseFile;
  bool remotePxi;     // kept in the remote PXI database, created when missing
  bool builtInStore;  // the built-in defaults have this kind
  SQLiteReader reader;
};

// The kind of a type; a kind with no record type, table or reader (and the
// configuration database as its file) for a value outside 1 to 10.
const RecordKind& recordKind(KestBaseType type) noexcept;

}  // namespace pda
