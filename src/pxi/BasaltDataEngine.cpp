#include "pda/BasaltDataEngine.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "pda/IKestBase.h"
#include "pda/KestConfig.h"
#include "pda/KestTypes.h"

namespace {

// Whether text holds a terminator within its size bytes. The structures come
// by value from other programs; a text that fills its whole array is refused
// rather than read past its end or stored cut short.
template <std::size_t N>
bool terminated(const char (&text)[N]) noexcept {
  return std::memchr(text, '\0', N) != nullptr;
}

// The record type that the store's reader looks for in a keyed PXI table: a
// record whose "RecordType" contains "Chassis" enters the root's child map
// under its "ChassisSN"; a record without one is read but never reaches the
// tree. The seven values of a chassis alone would therefore leave it
// invisible to every later lookup (a second add would overwrite it as new, a
// delete could never find it, a listing would not show it), so each chassis
// this engine adds carries the record type as an eighth value, written after
// the seven and deleted with them.
const char kRecordTypeName[] = "RecordType";
const char kChassisRecordType[] = "Chassis";

// The values of one chassis, in the order they are deleted.
const char* const kChassisValues[] = {"ChassisSN", "Vendor",     "Model", "ManfID",
                                      "ModelID",   "USBAddress", "State", kRecordTypeName};

// The stored spelling of serialNumber among the chassis of root, when the
// chassis is known (names compare without regard to letter case).
bool findChassis(IKestBase& root, const char* serialNumber, std::string* storedKey) {
  int found = 0;
  SubKeyMap::const_iterator it = root.findMap(serialNumber, &found);
  if (!found) return false;
  *storedKey = it->first;
  return true;
}

}  // namespace

BasaltDataEngine::BasaltDataEngine() noexcept = default;
BasaltDataEngine::BasaltDataEngine(const BasaltDataEngine&) noexcept = default;
BasaltDataEngine& BasaltDataEngine::operator=(const BasaltDataEngine&) noexcept = default;
BasaltDataEngine::~BasaltDataEngine() = default;

int BasaltDataEngine::addChassis(ChassisInfo info) {
  if (!terminated(info.ChassisSN) || !terminated(info.Vendor) || !terminated(info.Model) ||
      !terminated(info.USBAddress))
    return -1;
  if (info.ChassisSN[0] == '\0') return -1;

  // The record, its store and its tree live for this call only: the record
  // releases them on every way out, including an exception.
  PxiTypeInfo chassis(ChassisBaseType);
  IKestBase* root = chassis.getIKestBase();
  if (!root) return -1;

  std::string storedKey;
  if (findChassis(*root, info.ChassisSN, &storedKey)) {
    // A known chassis is only marked present; what was stored about it stays,
    // under the spelling it was first stored with.
    root->setRecordId(storedKey.c_str());
    return root->setValueInt32("State", 1) ? 0 : -1;
  }

  // The record key of every row written below.
  root->setRecordId(info.ChassisSN);
  // All writes are attempted; a failed one does not stop the rest, and
  // those that succeeded stay.
  bool ok = true;
  ok &= root->setValueString("ChassisSN", info.ChassisSN) != 0;
  ok &= root->setValueString("Vendor", info.Vendor) != 0;
  ok &= root->setValueString("Model", info.Model) != 0;
  ok &= root->setValueInt32("ManfID", info.ManfID) != 0;
  ok &= root->setValueInt32("ModelID", info.ModelID) != 0;
  ok &= root->setValueString("USBAddress", info.USBAddress) != 0;
  ok &= root->setValueInt32("State", info.State) != 0;
  ok &= root->setValueString(kRecordTypeName, kChassisRecordType) != 0;
  return ok ? 0 : -1;
}

int BasaltDataEngine::deleteChassis(const char* serialNumber) {
  if (!serialNumber || serialNumber[0] == '\0') return -1;

  PxiTypeInfo chassis(ChassisBaseType);
  IKestBase* root = chassis.getIKestBase();
  if (!root) return -1;

  std::string storedKey;
  if (!findChassis(*root, serialNumber, &storedKey)) return -1;

  // Only the rows of this chassis: the store limits each deletion to the
  // record key set here. All eight deletions are attempted.
  root->setRecordId(storedKey.c_str());
  bool ok = true;
  for (const char* name : kChassisValues) ok &= root->deleteName(name) != 0;
  return ok ? 0 : -1;
}

// Module records and state changes have no behaviour in this library yet;
// the operations exist so that the suite's programs can call them.
void BasaltDataEngine::updateChassisState(const char*, int) {}
int BasaltDataEngine::addModule(DeviceInfo) {
  return 0;
}
int BasaltDataEngine::deviceExist(DeviceInfo) {
  return 0;
}
int BasaltDataEngine::deleteModule(int) {
  return 0;
}
int BasaltDataEngine::deleteModules(const char*) {
  return 0;
}
int BasaltDataEngine::updateModuleState(int, int) {
  return 0;
}
int BasaltDataEngine::updateModulesState(const char*, int) {
  return 0;
}
