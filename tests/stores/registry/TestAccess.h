#pragma once

// Reaches the registry store's private members, and small helpers shared by
// the registry tests.

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "core/NodeHolder.h"
#include "pda/KestRegistry.h"
#include "pda/Win32.h"
#include "support/PrivateAccess.h"

PDA_PRIVATE_MEMBER(RegistryNewNode, KestRegistry, IKestBase*(IKestBase*, const char*),
                   getNewIKestBase);
PDA_PRIVATE_MEMBER(RegistryReadKey, KestRegistry, HKEY, _hReadKey);
PDA_PRIVATE_MEMBER(RegistryWriteKey, KestRegistry, HKEY, _hWriteKey);

// The registry store's private members that the tests reach.
struct PdaTestAccess {
  // A node of key name below parent (null: a root below the configuration
  // key), made as the store makes a child: it opens its keys.
  static KestRegistry* KestRegistry_newNode(KestRegistry& maker, IKestBase* parent,
                                            const char* name) {
    return static_cast<KestRegistry*>((maker.*privateMember(RegistryNewNode{}))(parent, name));
  }
  static HKEY KestRegistry_readKey(const KestRegistry& node) {
    return node.*privateMember(RegistryReadKey{});
  }
  static HKEY KestRegistry_writeKey(const KestRegistry& node) {
    return node.*privateMember(RegistryWriteKey{});
  }
};

namespace regtest {

constexpr char kBase[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

inline std::string key(const std::string& rel) {
  return rel.empty() ? std::string(kBase) : std::string(kBase) + "\\" + rel;
}

template <typename T = KestRegistry>
using Node = pda::NodeHolder<T>;

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
