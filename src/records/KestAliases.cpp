#include "pda/KestAliases.h"

#include <string>

#include "base/Text.h"

namespace {

const char kVisaAlias[] = "VisaAlias";
const char kBrixAlias[] = "BrixAlias";

// Empties a caller's buffer when it has room for at least the terminator.
void clearBuffer(char* buffer, unsigned int size) {
  if (buffer && size > 0) buffer[0] = '\0';
}

}  // namespace

KestAliases::KestAliases(DataSource dataSource) : KestRecord() {
  initializeDataSource(dataSource);
}

void KestAliases::initializeDataSource(DataSource dataSource) {
  // Drops the old tree and resolves UnknownDataSource to the default.
  KestRecord::initializeDataSource(dataSource);
  // WrenDataSource has no alias store of its own and is served by the
  // built-in defaults, which hold no alias tables: every name passes through.
  const DataSource store = _dataSource == WrenDataSource ? DeviceIoDataSource : _dataSource;
  setRoot(createStore(store, AliasBaseType));
}

int KestAliases::unaliasVisaAddress(const char* alias, char* address, unsigned int size) {
  return unaliasAddress(kVisaAlias, alias, address, size);
}

int KestAliases::unaliasBrixAddress(const char* alias, char* address, unsigned int size) {
  return unaliasAddress(kBrixAlias, alias, address, size);
}

int KestAliases::getVisaAliasByIndex(int index, char* alias, unsigned int aliasSize, char* address,
                                     unsigned int addressSize) {
  return getAliasByIndex(kVisaAlias, index, alias, aliasSize, address, addressSize);
}

int KestAliases::getBrixAliasByIndex(int index, char* alias, unsigned int aliasSize, char* address,
                                     unsigned int addressSize) {
  return getAliasByIndex(kBrixAlias, index, alias, aliasSize, address, addressSize);
}

int KestAliases::unaliasAddress(const char* kind, const char* alias, char* address,
                                unsigned int size) {
  // Callers commonly resolve in place (the alias and the address buffer are
  // one array), and the lookup empties the buffer first: keep the name.
  const std::string name = alias ? alias : "";
  if (!address || size == 0) return 0;  // no byte may be written

  if (_root && alias) {
    int found = 0;
    SubKeyMap::const_iterator child = _root->findMap(kind, &found);
    if (found && child->second) {
      // Leaves the buffer "" when the alias is missing, its address is empty
      // or the address does not fit with its terminator.
      child->second->getValueString(name.c_str(), address, size, "");
      if (address[0] != '\0') return 1;
    }
  }
  // Not resolved: the name passes through unchanged (or "" when it does not fit).
  pda::copyWhole(address, size, name.c_str());
  return 0;
}

int KestAliases::getAliasByIndex(const char* kind, int index, char* alias, unsigned int aliasSize,
                                 char* address, unsigned int addressSize) {
  clearBuffer(alias, aliasSize);
  clearBuffer(address, addressSize);
  if (!_root) return 0;

  int found = 0;
  SubKeyMap::const_iterator child = _root->findMap(kind, &found);
  if (!found || !child->second) return 0;

  // Fills the table from the store on first use; a table already read is kept,
  // so positions stay stable across one enumeration.
  const NameValueMap* table = child->second->NameValueMap();
  if (index < 0) index = 0;
  if (static_cast<std::size_t>(index) >= table->size()) return 0;

  // Ascending alias names without regard to case: the map's own ci_less order.
  NameValueMap::const_iterator pair = table->begin();
  for (int step = 0; step < index; ++step) ++pair;
  // Each text goes in whole or not at all; a buffer too small stays "".
  if (alias && aliasSize > 0) pda::copyWhole(alias, aliasSize, pair->first.c_str());
  if (address && addressSize > 0) pda::copyWhole(address, addressSize, pair->second.c_str());
  return 1;
}

// Defined here rather than in the header, so that the library exports them
// and every program uses the library's own copies.
KestAliases::KestAliases(const KestAliases& other) = default;
KestAliases& KestAliases::operator=(const KestAliases& other) = default;
KestAliases::~KestAliases() = default;
