#pragma once

#include <cstdint>

#include "pda/Export.h"

// One remote PXI chassis as the suite's programs describe it. Every text is
// NUL-terminated within its array; ChassisSN is also the chassis's key in the
// remote PXI database.
struct ChassisInfo {
  char ChassisSN[256];
  char Vendor[256];
  char Model[128];
  char USBAddress[256];
  int32_t ManfID;
  int32_t ModelID;
  int32_t State;
};

// One module in a remote PXI chassis. Kept for the module operations, which
// do nothing yet: no operation of this library reads these fields.
struct DeviceInfo {
  char ChassisSN[256];  // the chassis the module sits in
  int32_t Slot;
  char Vendor[256];
  char Model[128];
  char Address[256];
  int32_t ManfID;
  int32_t ModelID;
  int32_t State;
};

// Adds remote PXI chassis to, and removes them from, the remote PXI database
// (created with its tables when missing). Results: 0 for success, -1 for
// failure. Every call opens its own record on the database and releases it
// before it returns, so nothing stays open between calls and every call sees
// the database as it is at that moment.
//
// Thread safety: the engine has no state; calls on any threads may run at
// once, each through its own record.
class PDA_API BasaltDataEngine {
 public:
  BasaltDataEngine() noexcept;
  BasaltDataEngine(const BasaltDataEngine& other) noexcept;
  BasaltDataEngine& operator=(const BasaltDataEngine& other) noexcept;
  ~BasaltDataEngine();

  // A new serial number: writes ChassisSN, Vendor, Model, ManfID, ModelID,
  // USBAddress and State, then "RecordType" = "Chassis" (which lets later
  // calls find the chassis), attempting every write; 0 when all succeeded.
  // A known serial number (letter case ignored): only marks it present,
  // "State" = 1, keeping everything stored and the stored spelling.
  // -1 without writing anything for an empty serial number, or a text field
  // that is not terminated within its array.
  int addChassis(ChassisInfo info);
  // Deletes the values written by addChassis for a stored chassis (letter
  // case ignored), attempting every deletion; 0 when all succeeded;
  // -1 for a null or empty serial number or one that is not stored.
  int deleteChassis(const char* serialNumber);

  // Placeholders: they touch no database.
  void updateChassisState(const char* serialNumber, int state);
  int addModule(DeviceInfo info);
  int deviceExist(DeviceInfo info);
  int deleteModule(int moduleId);
  int deleteModules(const char* serialNumber);
  int updateModuleState(int moduleId, int state);
  int updateModulesState(const char* serialNumber, int state);
};
