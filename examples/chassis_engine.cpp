// Remote PXI chassis: the chassis engine adds and removes them in the remote
// PXI database (created with its tables when missing), and a PxiTypeInfo
// record reads the chassis table back.
#include <PersistedDataAccess.h>

#include <cstdio>
#include <cstring>

namespace {
ChassisInfo chassis(const char* serial, const char* model, int state) {
  ChassisInfo info{};  // every text empty and NUL-terminated
  std::snprintf(info.ChassisSN, sizeof info.ChassisSN, "%s", serial);
  std::snprintf(info.Vendor, sizeof info.Vendor, "%s", "Basalt");
  std::snprintf(info.Model, sizeof info.Model, "%s", model);
  std::snprintf(info.USBAddress, sizeof info.USBAddress, "USB0::0x2A8D::0x0001::%s::INSTR", serial);
  info.ManfID = 0x2A8D;
  info.ModelID = 1;
  info.State = state;
  return info;
}

void listChassis() {
  // Always on the SQLite store, whatever the process's default store is.
  PxiTypeInfo table(ChassisBaseType);
  for (const auto& entry : *table.getIKestBase()->SubKeyMap()) {
    IKestBase* node = entry.second;
    char model[128];
    node->getValueString("Model", model, sizeof model, "");
    std::printf("  %s: %s, state %d\n", entry.first.c_str(), model,
                node->getValueInt32("State", -1));
  }
}
}  // namespace

int main() {
  BasaltDataEngine engine;  // 0 is success, -1 failure
  std::printf("add MY1234: %d\n", engine.addChassis(chassis("MY1234", "M9010A", 0)));
  std::printf("add MY5678: %d\n", engine.addChassis(chassis("MY5678", "M9019A", 0)));
  // A known serial number (letter case ignored) is only marked present:
  // State becomes 1 and everything else stays as stored.
  std::printf("add my1234 again: %d\n", engine.addChassis(chassis("my1234", "other", 0)));
  std::printf("add without serial number: %d\n", engine.addChassis(chassis("", "M9010A", 0)));
  listChassis();

  std::printf("delete MY5678: %d\n", engine.deleteChassis("MY5678"));
  std::printf("delete unknown: %d\n", engine.deleteChassis("XX0000"));
  listChassis();
  return 0;
}
