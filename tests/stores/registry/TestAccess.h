#pragma once

// Reaches the registry store's private members, and small helpers shared by
// the registry tests.

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "pda/KestRegistry.h"
#include "pda/Win32.h"

struct PdaTestAccess {
  static KestRegistry* KestRegistry_make(IKestBase* parent, const char* name, bool openKeys) {
    return new KestRegistry(parent, name, openKeys);
  }
  static IKestBase* KestRegistry_newNode(KestRegistry& node, IKestBase* parent, const char* name) {
    return node.getNewIKestBase(parent, name);
  }
  static HKEY KestRegistry_readKey(const KestRegistry& node) { return node._hReadKey; }
  static HKEY KestRegistry_writeKey(const KestRegistry& node) { return node._hWriteKey; }
};

namespace regtest {

constexpr char kBase[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

inline std::string key(const std::string& rel) {
  return rel.empty() ? std::string(kBase) : std::string(kBase) + "\\" + rel;
}

struct Release {
  void operator()(IKestBase* node) const noexcept { IKestBase::releaseNode(node); }
};
template <typename T = KestRegistry>
using Node = std::unique_ptr<T, Release>;

inline Node<> create(KestBaseType type) {
  return Node<>(KestRegistry::CreateInstance(type));
}

// The node's value map after its lazy fill, as a plain copy.
inline std::map<std::string, std::string> values(IKestBase& node) {
  return std::map<std::string, std::string>(node.NameValueMap()->begin(),
                                            node.NameValueMap()->end());
}

#if !defined(_WIN32)
// The stand-in's switch for a process without the right to write HKLM.
inline void readOnly(bool on) {
  if (on)
    setenv("PDA_REGISTRY_READONLY", "1", 1);
  else
    unsetenv("PDA_REGISTRY_READONLY");
}
#endif

}  // namespace regtest
