#include "pda/KestConfig.h"
#include "pda/KestSQLite.h"

namespace {

// The SQLite store of a PXI table. Only the four PXI types name one; any
// other type gets no store (see the class comment), so that a PXI record can
// never read or write the configuration tables by mistake.
IKestBase* createPxiRoot(KestBaseType type) {
  switch (type) {
    case ChassisBaseType:
    case PModulesBaseType:
    case SModulesBaseType:
    case PciBusesBaseType:
      return KestSQLite::CreateInstance(type);
    default:
      return nullptr;
  }
}

}  // namespace

PxiTypeInfo::PxiTypeInfo(KestBaseType type) : KestRecord(), _type(type) {
  _dataSource = SQLiteDataSource;
  setRoot(createPxiRoot(type));
}

PxiTypeInfo::PxiTypeInfo(const PxiTypeInfo& other) : KestRecord(other), _type(other._type) {}

PxiTypeInfo& PxiTypeInfo::operator=(const PxiTypeInfo& other) {
  KestRecord::operator=(other);
  _type = other._type;
  return *this;
}

// The tree is released by KestRecord's destructor.
PxiTypeInfo::~PxiTypeInfo() = default;

void PxiTypeInfo::initializeDataSource(DataSource dataSource) {
  // Drop this record's reference on the old tree first; a copy that shares
  // it keeps it alive.
  KestRecord::initializeDataSource(dataSource);
  // The data source is recorded as given (or resolved), but the store is
  // SQLite whatever it says: the PXI tables exist nowhere else.
  setRoot(createPxiRoot(_type));
}
