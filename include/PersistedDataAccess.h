#pragma once

// PersistedDataAccess: one way for every program of the suite to read and
// write its persisted settings and instrument configuration, whichever store
// holds them (the registry, an SQLite database, or the built-in defaults).

#include "pda/BasaltDataEngine.h"
#include "pda/ChangeWatch.h"
#include "pda/DirUtilities.h"
#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestAliases.h"
#include "pda/KestConfig.h"
#include "pda/KestDeviceIoConfig.h"
#include "pda/KestInfo.h"
#include "pda/KestRecord.h"
#include "pda/KestRegistry.h"
#include "pda/KestSQLite.h"
#include "pda/KestTypes.h"
#include "pda/SQLiteDynamic.h"
#include "pda/VISAUsageStorage.h"
#include "pda/Version.h"
#include "pda/VisaInfo.h"
