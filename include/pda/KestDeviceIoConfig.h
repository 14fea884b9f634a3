#pragma once

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"

// The built-in defaults: a tree that lives only in memory, built from values
// compiled into the library. Reads nothing and persists nothing.
class PDA_API KestDeviceIoConfig : public IKestBase {
 public:
  // A new root (no parent) for the given part of the data; nothing is built
  // until the first access. The caller owns it.
  static KestDeviceIoConfig* CreateInstance(KestBaseType type);

  // 1 when the suite's instrument control library is installed on this
  // computer, else 0. Decided at the first call and kept for the process.
  static int kestIsInstalled();

  KestDeviceIoConfig(const KestDeviceIoConfig& other);
  KestDeviceIoConfig& operator=(const KestDeviceIoConfig& other);
  ~KestDeviceIoConfig() override;

  void reInitialize() override;
  void initializeSubKeyMap() override;
  void initializeNameValueMap() override;

  KestBaseType baseType() const noexcept { return _baseType; }

 private:
  KestDeviceIoConfig(IKestBase* parent, KestBaseType type);

  void initializeMaps();
  void createKestInfo();
  void createVisaInfo();
  void createKestConfig();
  void createSorrelParams();
  void createVisaBrixAlias();
  void createInstrumentFavoritesInfo();
  void addDefaultSorrelParams();
  void addDefaultIntf299();
  void addDefaultIntf298();
  void addDefaultIntf297();
  void addGpibPciInterfaceGpib100();

  KestBaseType _baseType;
};
