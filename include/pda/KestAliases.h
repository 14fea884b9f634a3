#pragma once

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestRecord.h"
#include "pda/KestTypes.h"

// Resolves VISA and Brix aliases to the addresses they stand for, and lists
// either alias table by position. Reads only: aliases are written by the
// suite's configuration tools, never through this record.
//
// The root node holds two children, "VisaAlias" and "BrixAlias", each with
// one name/value pair per alias (name = alias, value = address). Names are
// matched without regard to letter case; listing follows ci_less order.
//
// Buffers are never written partially: a text that does not fit (with its
// terminator) leaves the buffer "". A null buffer or a size of 0 is never
// written at all.
//
// Copies share the tree: each copy holds a reference on the root node, and
// the tree goes with the last record that refers to it (see KestRecord).
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API KestAliases : public KestRecord {
 public:
  explicit KestAliases(DataSource dataSource = UnknownDataSource);
  KestAliases(const KestAliases& other);
  KestAliases& operator=(const KestAliases& other);
  ~KestAliases() override;

  // 1 and the address in `address` when `alias` is a stored alias with a
  // non-empty address that fits; otherwise 0 and `alias` itself in `address`
  // (when it fits), so the buffer can always be opened as an address.
  int unaliasVisaAddress(const char* alias, char* address, unsigned int size);
  int unaliasBrixAddress(const char* alias, char* address, unsigned int size);

  // 1 and the alias at `index` (a negative index counts as 0) with its
  // address; 0 with both buffers "" when there is no such position.
  int getVisaAliasByIndex(int index, char* alias, unsigned int aliasSize, char* address,
                          unsigned int addressSize);
  int getBrixAliasByIndex(int index, char* alias, unsigned int aliasSize, char* address,
                          unsigned int addressSize);

 protected:
  IKestBase* kestBase() const noexcept { return _root; }

 private:
  virtual void initializeDataSource(DataSource dataSource);

  int unaliasAddress(const char* kind, const char* alias, char* address, unsigned int size);
  int getAliasByIndex(const char* kind, int index, char* alias, unsigned int aliasSize,
                      char* address, unsigned int addressSize);
};
