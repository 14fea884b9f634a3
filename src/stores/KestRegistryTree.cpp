// The registry store's subkey builders: the I/O configuration below the base
// key (interfaces and their devices), the alias root and every other key.
#include <string>

#include "base/Text.h"
#include "pda/KestRegistry.h"
#include "stores/KestRegistryKeys.h"

using namespace pda::registry;

void KestRegistry::initializeSubKeyMap() {
  if (!_subKeyMap.empty()) return;
  if (pda::ciEquals(_keyName.c_str(), "KestInfo")) {
    initializeRootSubKeyMap();
    return;
  }
  if (pda::ciEquals(_keyName.c_str(), "Alias")) {
    initializeAliasSubKeyMap();
    return;
  }
  // One child per subkey, under its own name. A subkey that vanished since it
  // was counted reads as the empty name and is kept under it; a second such
  // name replaces (and releases) the first.
  const int count = getSubKeyCount();
  for (int index = 0; index < count; ++index) {
    char name[kNameBufferSize];
    getSubKeyName(index, name, sizeof name);
    const char* type = getRecordType(name);
    NodeHolder<KestRegistry> child(new KestRegistry(this, name, true));
    child->setRecordId(name);
    child->setRecordType(type);
    insertChild(name, child.get());
    child.release();
  }
}

void KestRegistry::initializeRootSubKeyMap() {
  // The interface-type substitution table lives only while the tree is built.
  // It is opened below the base key's read handle, so a missing "Aliases" key
  // is not created.
  KestRegistry aliases(this, "Aliases", true);

  const int count = getSubKeyCount();
  for (int index = 0; index < count; ++index) {
    char name[kNameBufferSize];
    getSubKeyName(index, name, sizeof name);
    if (!name[0] || !pda::ciStartsWith(name, "INTF")) continue;
    const char* type = getRecordType(name);
    NodeHolder<KestRegistry> intf(new KestRegistry(this, name, true));

    // The id: "VISAName", else "Name", else the subkey name. A value too long
    // for the buffer reads as empty (never truncated) and so falls through.
    char id[kNameBufferSize];
    intf->getValueString("VISAName", id, sizeof id, "");
    if (!id[0]) intf->getValueString("Name", id, sizeof id, "");
    if (!id[0]) pda::copyWhole(id, sizeof id, name);

    // The capability flags go to the interface key itself; a key this process
    // may not write keeps whatever it held.
    char intfType[kNameBufferSize];
    intf->getValueString("VISAIntfType", intfType, sizeof intfType, "");
    const bool gpib = pda::ciEquals(intfType, "GPIB");
    const bool bus = pda::ciEquals(intfType, "PXI") || pda::ciEquals(intfType, "VXI") ||
                     pda::ciEquals(intfType, "GPIB-VXI");
    intf->setValueBool("SupportsIntfc", gpib ? 1 : 0);
    intf->setValueBool("SupportsMemacc", bus ? 1 : 0);
    intf->setValueBool("SupportsBackplane", bus ? 1 : 0);

    // Presents the substituted interface type in memory only. An empty or
    // unreadable "Interface" is never looked up (it would match the table's
    // default value); an empty substitute is applied like any other, so the
    // entry then reads as empty.
    char intfName[kNameBufferSize];
    intf->getValueString("Interface", intfName, sizeof intfName, "");
    if (intfName[0]) {
      const ::NameValueMap& table = *aliases.NameValueMap();
      auto substitute = table.find(intfName);
      if (substitute != table.end()) {
        ::NameValueMap& values = intf->rawNameValueMap();
        auto entry = values.find("Interface");
        if (entry != values.end()) entry->second = substitute->second;
      }
    }

    intf->setRecordId(id);
    intf->setRecordType(type);
    // Two interfaces with one id: the later one replaces the earlier, which is
    // released with its subtree.
    KestRegistry* node = intf.get();
    insertChild(id, node);
    intf.release();
    initializeVisaDevSubKeyMap(node);
  }
}

void KestRegistry::initializeVisaDevSubKeyMap(IKestBase* intf) {
  if (!intf) return;
  char visaName[kNameBufferSize] = {};
  intf->getValueString("VISAName", visaName, sizeof visaName, "");
  // The prefix is composed as a string, so that a VISAName of the full 255
  // characters keeps both its text and the "::" after it.
  const std::string prefix = std::string(visaName) + "::";

  intf->initializeSubKeyMap();
  for (auto& entry : intf->rawSubKeyMap()) {
    IKestBase* device = entry.second;
    if (!device) continue;
    device->setRecordId((prefix + entry.first).c_str());
    device->setRecordType("Instrument");
    device->setParentId(intf->RecordId());
    device->setParentPointer(intf);
  }
}

void KestRegistry::initializeAliasSubKeyMap() {
  // Both children are built as roots of their own keys (no parent pointer)
  // and are owned by the alias root like any child.
  NodeHolder<KestRegistry> brix(new KestRegistry(nullptr, "Devices", true));
  insertChild("BrixAlias", brix.get());
  brix.release();
  NodeHolder<KestRegistry> visa(new KestRegistry(nullptr, "VisaDevices", true));
  insertChild("VisaAlias", visa.get());
  visa.release();
}
