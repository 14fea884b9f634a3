#include "stores/RecordKinds.h"

namespace pda {

namespace {

const char kConfigDb[] = "Quillon.db";
const char kPxiDb[] = "RemotePXI.db";

// Indexed by KestBaseType. The record type of PciBusesBaseType is "PciBus"
// while its table is "PciBuses".
const RecordKind kKinds[] = {
    {static_cast<KestBaseType>(0), "", "", 0, kConfigDb, false, false, SQLiteReader::None},
    {KestInfoBaseType, "KestInfo", "KestInfo", 3, kConfigDb, false, true,
     SQLiteReader::NameValueTable},
    {VisaInfoBaseType, "VisaInfo", "VisaInfo", 3, kConfigDb, false, true,
     SQLiteReader::NameValueTable},
    {KestConfigBaseType, "KestConfig", "ConfigData", 4, kConfigDb, false, true,
     SQLiteReader::Configuration},
    {SorrelParamsBaseType, "SorrelParams", "SorrelParamInfo", 3, kConfigDb, false, true,
     SQLiteReader::NameValueTable},
    {AliasBaseType, "Alias", "ConfigData", 4, kConfigDb, false, true, SQLiteReader::Aliases},
    {InstrumentFavoritesBaseType, "InstrumentFavorites", "InstrumentFavorites", 3, kConfigDb, false,
     true, SQLiteReader::NameValueTable},
    {ChassisBaseType, "Chassis", "Chassis", 4, kPxiDb, true, false, SQLiteReader::PxiRecords},
    {PModulesBaseType, "PModules", "PModules", 4, kPxiDb, true, false, SQLiteReader::PxiRecords},
    {SModulesBaseType, "SModules", "SModules", 4, kPxiDb, true, false, SQLiteReader::PxiRecords},
    {PciBusesBaseType, "PciBus", "PciBuses", 3, kPxiDb, true, false, SQLiteReader::NameValueTable},
};

}  // namespace

const RecordKind& recordKind(KestBaseType type) noexcept {
  const int index = static_cast<int>(type);
  if (index < 1 || index >= static_cast<int>(sizeof kKinds / sizeof kKinds[0])) return kKinds[0];
  return kKinds[index];
}

}  // namespace pda
