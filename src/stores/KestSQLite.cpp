// Placeholder until the SQLite store lands: no SQLite node can be made yet.
#include "pda/KestSQLite.h"

KestSQLite* KestSQLite::CreateInstance(KestBaseType) { return nullptr; }
void KestSQLite::closeAllDatabaseConnections() {}
