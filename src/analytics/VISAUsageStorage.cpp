#include "pda/VISAUsageStorage.h"

// The base stores nothing; a caller that holds one by mistake gets false from
// every add and no file is touched.

VISAUsageStorage::VISAUsageStorage() noexcept = default;
VISAUsageStorage::VISAUsageStorage(const VISAUsageStorage&) noexcept = default;
VISAUsageStorage& VISAUsageStorage::operator=(const VISAUsageStorage&) noexcept = default;
VISAUsageStorage::~VISAUsageStorage() = default;

bool VISAUsageStorage::AddVISACUsageRecord() {
  return false;
}
bool VISAUsageStorage::AddVISACOMUsageRecord() {
  return false;
}
bool VISAUsageStorage::AddVISANETUsageRecord() {
  return false;
}

bool VISAUsageStorage::AddSorrelSessionUsageRecord(const char*, int, const char*) {
  return false;
}
