// The I/O configuration tree, the remote-session parameters and instrument
// favourites. These records have no typed getters: read and write through
// the generic accessors, or walk the tree from kestBase().
#include <PersistedDataAccess.h>

#include <cstdio>

int main() {
  // Interfaces are children of the root; instruments are children of their
  // interface. The built-in defaults hold a few default interfaces.
  KestConfig config(DeviceIoDataSource);
  for (const auto& intf : *config.kestBase()->SubKeyMap()) {
    IKestBase* node = intf.second;
    char name[64];
    node->getValueString("Name", name, sizeof name, "?");
    std::printf("%-10s %-10s LU %3d, %zu instruments\n", intf.first.c_str(), name,
                node->getValueInt32("LU", -1), node->SubKeyMap()->size());
  }

  // setKestBase points the record's generic accessors at another node for a
  // while; resetKestBase goes back to the record's own root.
  int found = 0;
  auto intf0 = config.kestBase()->findMap("INTF0", &found);
  if (found) {
    config.setKestBase(intf0->second);
    char visaName[32];
    config.getValueString("VisaName", visaName, sizeof visaName, "");
    std::printf("in use: %s, VisaName %s\n", config.isKestBaseSet() ? "INTF0" : "root", visaName);
    config.resetKestBase();
  }

  // The remote-session servers' parameter lists: one value per interface type.
  SorrelParams params(DeviceIoDataSource);
  char list[256];
  params.getValueString("vxi11Server", list, sizeof list, "");
  std::printf("vxi11Server parameters: %s\n", list);

  // Favourites are named by the caller; "On" and "Off" in any letter case.
  InstrumentFavoritesInfo favourites(RegistryDataSource);
  favourites.setValueString("Bench scope", "ON");
  favourites.setValueString("Old DMM", "off");
  InstrumentFavoritesInfo reread(RegistryDataSource);
  const char* settings[] = {"On", "Off", "not set"};
  for (const char* name : {"bench SCOPE", "Old DMM", "Spectrum analyser"}) {
    std::printf("favourite %s: %s\n", name, settings[reread.getInstrumentFavoriteSetting(name)]);
  }
  return 0;
}
