// The record tree and its stores, used directly: how the process chooses its
// default store, where the suite lives, and a walk through a tree of nodes.
#include <PersistedDataAccess.h>

#include <cstdio>

namespace {
// Prints a node's values and, indented, its children. SubKeyMap() and
// NameValueMap() fill the node from its store at the first access.
void printNode(IKestBase* node, int depth, int maxValues) {
  int shown = 0;
  for (const auto& value : *node->NameValueMap()) {
    if (shown++ == maxValues) break;
    std::printf("%*s%s = %s\n", depth * 2, "", value.first.c_str(), value.second.c_str());
  }
  for (const auto& child : *node->SubKeyMap()) {
    std::printf("%*s[%s] %s\n", depth * 2, "", child.second->RecordType(), child.first.c_str());
    printNode(child.second, depth + 1, maxValues);
  }
}
}  // namespace

int main() {
  // Decided once per process: SQLite when the suite is installed (unless the
  // registry switch "_UseRegistryForPersistedData" selects the registry),
  // the built-in defaults when it is not.
  std::printf("suite installed: %d\n", KestDeviceIoConfig::kestIsInstalled());
  std::printf("default store: %s\n",
              KestRecord::getDataSourceString(KestRecord::getGlobalDefaultDataSource()));
  std::printf("base directory: %s\n", DirUtilities::getBaseDir());
  std::printf("data directory: %s\n", DirUtilities::getSharedDataDir());

  // A store's root node belongs to the caller; nodes are reference counted.
  IKestBase* config = KestDeviceIoConfig::CreateInstance(KestConfigBaseType);
  printNode(config, 0, 3);

  // Names ignore letter case. Typed reads convert the stored text: leading
  // digits for numbers, "true"/"yes" (any case) or a non-zero number for
  // booleans; a missing or empty value gives the caller's default.
  int found = 0;
  auto intf0 = config->findMap("intf0", &found);
  if (found) {
    IKestBase* intf = intf0->second;
    std::printf("INTF0 LU: %d\n", intf->getValueInt32("LU", -1));
    std::printf("INTF0 SysCtl: %d\n", intf->getValueBool("SysCtl", 1));
    std::printf("INTF0 Missing: %d\n", intf->getValueInt32("Missing", -1));
  }
  IKestBase::releaseNode(config);

  // Records hide all this: they choose the store and own the tree.
  KestConfig record(DeviceIoDataSource);
  std::printf("interfaces: %zu\n", record.kestBase()->SubKeyMap()->size());
  return 0;
}
