#include "pda/KestDeviceIoConfig.h"

#include <cstdio>
#include <memory>

#include "core/Paths.h"
#include "pda/Version.h"
#include "platform/platform.h"
#include "stores/RecordKinds.h"

namespace {

// Plug-and-play identity of the built-in GPIB card. Fixed values: callers
// compare them with what a real card reports, so they never change between
// builds. The secondary id repeats the vendor id.
const char* const kPnpVendorId = "5743";
const char* const kPnpModel = "1287";
const char* const kPnpPrefix = "10893";
const char* const kPnpSerialNumber = "4100003912";

struct Pair {
  const char* name;
  const char* value;
};

}  // namespace

KestDeviceIoConfig* KestDeviceIoConfig::CreateInstance(KestBaseType type) {
  return new KestDeviceIoConfig(nullptr, type);
}

KestDeviceIoConfig::KestDeviceIoConfig(IKestBase* parent, KestBaseType type)
    : IKestBase(), _baseType(type) {
  _parent = parent;
  if (parent) _parentId = parent->RecordId();
  const pda::RecordKind& kind = pda::recordKind(type);
  _recordType = kind.builtInStore ? kind.recordType : "";
}

KestDeviceIoConfig::KestDeviceIoConfig(const KestDeviceIoConfig& other)
    : IKestBase(other), _baseType(other._baseType) {}

KestDeviceIoConfig& KestDeviceIoConfig::operator=(const KestDeviceIoConfig& other) {
  IKestBase::operator=(other);
  _baseType = other._baseType;
  return *this;
}

KestDeviceIoConfig::~KestDeviceIoConfig() = default;

// Drops everything, written values included; the next access builds the
// defaults again. Children are released, not deleted outright, so a child
// that a copy of this node still shares stays alive for that copy.
void KestDeviceIoConfig::reInitialize() {
  releaseChildren();
  _nameValueMap.clear();
}

void KestDeviceIoConfig::initializeSubKeyMap() {
  initializeMaps();
}

void KestDeviceIoConfig::initializeNameValueMap() {
  initializeMaps();
}

// Builds the defaults of a root while both its maps are empty. Only roots
// build: an interface node gets its pairs from its builder, and a caller may
// delete every one of them; it must then stay empty rather than grow a whole
// I/O configuration below itself (it is of the configuration kind). If memory
// runs out halfway, the partial tree is dropped before the exception leaves,
// so that the next access builds the whole tree, not a half-built one.
void KestDeviceIoConfig::initializeMaps() {
  if (!_subKeyMap.empty() || !_nameValueMap.empty()) return;
  if (_parent) return;
  // The builder of each kind the built-in defaults have, by KestBaseType.
  using Builder = void (*)(KestDeviceIoConfig&);
  static const Builder kBuilders[] = {
      nullptr,
      [](KestDeviceIoConfig& n) { n.createKestInfo(); },
      [](KestDeviceIoConfig& n) { n.createVisaInfo(); },
      [](KestDeviceIoConfig& n) { n.createKestConfig(); },
      [](KestDeviceIoConfig& n) { n.createSorrelParams(); },
      [](KestDeviceIoConfig& n) { n.createVisaBrixAlias(); },
      [](KestDeviceIoConfig& n) { n.createInstrumentFavoritesInfo(); },
  };
  if (!pda::recordKind(_baseType).builtInStore) return;
  try {
    kBuilders[_baseType](*this);
  } catch (...) {
    reInitialize();
    throw;
  }
}

void KestDeviceIoConfig::createKestInfo() {
  _nameValueMap["CurrentVersion"] = PDA_VERSION_STRING;
}

void KestDeviceIoConfig::createVisaInfo() {}

void KestDeviceIoConfig::createKestConfig() {
  addDefaultIntf299();
  addDefaultIntf298();
  addDefaultIntf297();
  addGpibPciInterfaceGpib100();
}

void KestDeviceIoConfig::createSorrelParams() {
  addDefaultSorrelParams();
}

void KestDeviceIoConfig::createVisaBrixAlias() {}

void KestDeviceIoConfig::createInstrumentFavoritesInfo() {}

void KestDeviceIoConfig::addDefaultSorrelParams() {
  _nameValueMap["vxi11Server"] = "LU,Name,Interface,NotUsed,BusAddr,VISAName,log_errors";
  _nameValueMap["pcigpib"] =
      "LU,Name,Interface,Slot,BusAddr,PNPvid,PNPModel,PNPsecId,PNPsn,SysCtl,PNPprefix,"
      "Discoverable,Hidden,ATNDelay";
}

namespace {

// Makes one interface node below root and fills its pairs. The pairs go
// straight into the node's map: going through setValueString would first run
// the node's lazy fill, and a node of the I/O configuration kind with empty
// maps would build a whole configuration below itself.
template <std::size_t N>
void addInterface(KestDeviceIoConfig* root, KestDeviceIoConfig* node, const char* key,
                  const char* guid, const Pair (&pairs)[N]) {
  std::unique_ptr<KestDeviceIoConfig> owned(node);
  owned->setRecordId(key);
  root->insertChild(key, owned.get());
  KestDeviceIoConfig* child = owned.release();  // the root's map holds it now
  child->setPersistentId(guid);
  child->setParentId(root->RecordId());
  child->setParentPointer(root);
  child->setRecordType("Interface");
  ::NameValueMap& values = child->rawNameValueMap();
  for (const Pair& pair : pairs) values[pair.name] = pair.value ? pair.value : guid;
}

// A null value in the tables below stands for the node's own GUID.
const Pair kLanServer[] = {
    {"IntfSection", "INTF299"},
    {"PersistentId", nullptr},
    {"Interface", "RemoteIOServer"},
    {"log_errors", "True"},
    {"LU", "200"},
    {"Name", "LAN_Server"},
    {"keepalives", "True"},
    {"log_locks_conns", "False"},
    {"brix_infinity", "120"},
    {"MaxReadBufferSizeKb", "64"},
};

const Pair kIntf298[] = {
    {"PersistentId", nullptr},
    {"IntfSection", "INTF298"},
    {"BusAddr", "21"},
    {"Discoverable", "FALSE"},
    {"FriendlyName", "VXI-11.2 Server"},
    {"Hidden", "FALSE"},
    {"Interface", "Lan488Server"},
    {"log_errors", "0"},
    {"LU", "9"},
    {"Name", "gpib0"},
    {"MultiInst", "0"},
    {"VisaName", "GPIB28"},
    {"VisaIntfType", "GPIB"},
    {"Disabled", "FALSE"},
    {"StaticallyDefined", "FALSE"},
};

const Pair kIntf297[] = {
    {"PersistentId", nullptr},
    {"IntfSection", "INTF297"},
    {"BusAddr", "21"},
    {"Discoverable", "FALSE"},
    {"FriendlyName", "VXI-11.3 Server"},
    {"Hidden", "FALSE"},
    {"Interface", "Lan488Server"},
    {"log_errors", "0"},
    {"LU", "8"},
    {"Name", "inst0"},
    {"MultiInst", "1"},
    {"VisaName", "GPIB27"},
    {"VisaIntfType", "GPIB"},
    {"Disabled", "FALSE"},
    {"StaticallyDefined", "FALSE"},
};

const Pair kIntf0[] = {
    {"PersistentId", nullptr},
    {"IntfSection", "INTF0"},
    {"BusAddr", "21"},
    {"Discoverable", "TRUE"},
    {"Hidden", "FALSE"},
    {"Interface", "pcigpib"},
    {"log_errors", "0"},
    {"LU", "7"},
    {"Name", "gpib100"},
    {"VisaName", "GPIB0"},
    {"VisaIntfType", "GPIB"},
    {"Disabled", "FALSE"},
    {"StaticallyDefined", "TRUE"},
    {"SysCtl", "FALSE"},
    {"AutoDiscoverDevices", "FALSE"},
    {"PNPvid", kPnpVendorId},
    {"PNPmodel", kPnpModel},
    {"PNPsecId", kPnpVendorId},
    {"PNPprefix", kPnpPrefix},
    {"PNPsn", kPnpSerialNumber},
};

}  // namespace

void KestDeviceIoConfig::addDefaultIntf299() {
  addInterface(this, new KestDeviceIoConfig(this, KestConfigBaseType), "LAN_SERVER",
               "02A62B68-95C5-4051-9F26-26EF59619B94", kLanServer);
}

void KestDeviceIoConfig::addDefaultIntf298() {
  addInterface(this, new KestDeviceIoConfig(this, KestConfigBaseType), "INTF298",
               "F89532B2-4829-4050-A48E-61E1B1408D0E", kIntf298);
}

void KestDeviceIoConfig::addDefaultIntf297() {
  addInterface(this, new KestDeviceIoConfig(this, KestConfigBaseType), "INTF297",
               "CF00AFEC-E021-4C5F-95D3-830C6536AFA5", kIntf297);
}

void KestDeviceIoConfig::addGpibPciInterfaceGpib100() {
  addInterface(this, new KestDeviceIoConfig(this, KestConfigBaseType), "INTF0",
               "19B237D1-697D-46DA-A456-FA590E8E39C6", kIntf0);
}

namespace {

// Looks for the instrument control library in the system directory. Any
// failure (no system directory, a path that does not fit, no file, no read
// access) means "not installed". A path that would not fit is not cut short:
// a shortened path could name some other file.
int testInstallation() {
  char systemDir[MAX_PATH] = {0};
  UINT n = GetSystemDirectoryA(systemDir, sizeof systemDir);
  if (n == 0 || n >= sizeof systemDir) return 0;
  char marker[MAX_PATH];
  if (!pda::buildPath(marker, sizeof marker, systemDir, "brix32.dll")) return 0;
  std::FILE* f = std::fopen(marker, "r");
  if (!f) return 0;
  // Some C libraries open a directory for reading; reading it then fails.
  // A directory of that name is not the library.
  std::fgetc(f);
  const bool readable = !std::ferror(f);
  std::fclose(f);
  return readable ? 1 : 0;
}

}  // namespace

// Decided once per process, a negative answer included. The function-local
// static makes the first decision exactly once even when threads call this at
// the same time (the library itself calls it under the default store's lock,
// but the exported function may be called from anywhere).
int KestDeviceIoConfig::kestIsInstalled() {
  static const int installed = testInstallation();
  return installed;
}
