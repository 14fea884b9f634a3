#pragma once

// What the tool explains about the choice of store: the installation test,
// the registry switch that selects the registry over the database, and the
// value in which the library publishes its choice for other components.

#include <memory>
#include <string>

#include <PersistedDataAccess.h>
#include <pda/Win32.h>

namespace pdatool {

// One registry value of the suite's settings key, read by the tool itself.
struct RegistryValue {
  bool present = false;
  unsigned long type = 0;
  std::string bytes;
  // "REG_SZ", "REG_DWORD", ... or "type N".
  std::string typeName() const;
  // The data as a person reads it: text, a number, or hexadecimal bytes.
  std::string display() const;
};

RegistryValue readSuiteSetting(const char* name);

struct SourceReport {
  DataSource chosen = UnknownDataSource;
  bool requested = false;  // chosen with --source rather than the default
  bool installed = false;
  RegistryValue registrySwitch;   // "_UseRegistryForPersistedData"
  RegistryValue publishedChoice;  // "_UnmanagedCodePersistedDataStore"
  std::string reason;
};

// Resolves the store for requested (UnknownDataSource: the process-wide
// default, which is decided, and published, by the library on first use)
// and says why.
SourceReport explainSource(DataSource requested);

// Releases a store node the tool made (nodes are reference counted).
struct NodeRelease {
  void operator()(IKestBase* node) const noexcept { IKestBase::releaseNode(node); }
};
typedef std::unique_ptr<IKestBase, NodeRelease> NodePtr;

// A new root of the I/O configuration (interfaces and their instruments) in
// the given store; null when that store cannot serve it.
NodePtr createConfigurationRoot(DataSource source);

}  // namespace pdatool
