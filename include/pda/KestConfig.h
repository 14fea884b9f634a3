#pragma once

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestRecord.h"
#include "pda/KestTypes.h"

// The I/O configuration: interfaces below the root node, their instruments
// below them. Reads and writes go through KestRecord's generic accessors or
// by walking the tree from kestBase().
//
// A caller may point the record at another node for a while (setKestBase)
// and back at its own tree (resetKestBase); every generic accessor works on
// the node in use.
//
// Ownership: the record holds one reference (IKestBase::retainNode) on the
// node in use and, while a caller's node is in use, one on its own root,
// which it keeps aside. It drops each reference when it lets the node go, so
// its own root is destroyed with the record (or the last copy sharing it),
// and a caller's node is never destroyed while the caller still holds its
// own reference: after resetKestBase, another setKestBase or the record's
// destruction the caller's node is exactly as the caller left it.
// A copy or assignment takes its own references on both the node in use and
// the own root kept aside, so records that share them can be destroyed in
// any order.
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API KestConfig : public KestRecord {
 public:
  explicit KestConfig(DataSource dataSource = UnknownDataSource);
  KestConfig(const KestConfig& other);
  KestConfig& operator=(const KestConfig& other);
  ~KestConfig() override;

  // The node in use: the record's own root, a caller's node, or null.
  IKestBase* kestBase() const noexcept { return _root; }

  // Uses node in place of the record's own root until resetKestBase. The
  // first call keeps the own root aside; later calls only replace the
  // caller's node. A null node is ignored. The caller keeps its node alive
  // while it is in use.
  void setKestBase(IKestBase* node);
  // Back to the record's own root; nothing when no caller's node is in use.
  void resetKestBase();
  // Whether a caller's node is in use.
  bool isKestBaseSet() const noexcept { return _kestBaseSet; }

  // Has the node in use forget what it read, so that the next access reads
  // its store again. Nothing when there is no node.
  void reInitialize();

 private:
  virtual void initializeDataSource(DataSource dataSource);

  // The record's own root while a caller's node is in use; null otherwise.
  IKestBase* _ownBase;
  // Kept apart from _ownBase because a record without a store of its own
  // (WrenDataSource) can still have a caller's node in use.
  bool _kestBaseSet;
};

// The parameter lists of the remote-session servers: one value per
// interface type, naming its parameters.
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API SorrelParams : public KestRecord {
 public:
  explicit SorrelParams(DataSource dataSource = UnknownDataSource);
  SorrelParams(const SorrelParams& other);
  SorrelParams& operator=(const SorrelParams& other);
  ~SorrelParams() override;

  IKestBase* kestBase() const noexcept { return _root; }

 private:
  virtual void initializeDataSource(DataSource dataSource);
};

// The setting of one instrument favourite.
enum InstrumentFavoriteEnum {
  InstrumentFavoriteOn = 0,     // stored "On" (any letter case)
  InstrumentFavoriteOff = 1,    // stored "Off" (any letter case)
  InstrumentFavoriteNotSet = 2  // anything else, empty or missing
};

// Whether named instrument favourites are switched on or off. The names are
// the callers' own.
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API InstrumentFavoritesInfo : public KestRecord {
 public:
  explicit InstrumentFavoritesInfo(DataSource dataSource = UnknownDataSource);
  InstrumentFavoritesInfo(const InstrumentFavoritesInfo& other);
  InstrumentFavoritesInfo& operator=(const InstrumentFavoritesInfo& other);
  ~InstrumentFavoritesInfo() override;

  InstrumentFavoriteEnum getInstrumentFavoriteSetting(const char* name);

 private:
  virtual void initializeDataSource(DataSource dataSource);
};

// One table of the remote PXI database: chassis (ChassisBaseType), modules
// (PModulesBaseType, SModulesBaseType) or buses (PciBusesBaseType). Always on
// the SQLite store, whatever the process-wide default store is.
//
// A type outside ChassisBaseType to PciBusesBaseType names no PXI table: the
// record then has no root node, reads give the caller's default and writes
// give 0, rather than opening a configuration table under a PXI record.
//
// Thread safety: none; one record is used by one thread at a time.
class PDA_API PxiTypeInfo : public KestRecord {
 public:
  explicit PxiTypeInfo(KestBaseType type);
  PxiTypeInfo(const PxiTypeInfo& other);
  PxiTypeInfo& operator=(const PxiTypeInfo& other);
  ~PxiTypeInfo() override;

  KestBaseType baseType() const noexcept { return _type; }

 private:
  // Replaces the tree by a new SQLite store of the record's type (releasing
  // the old one) and records the resolved data source.
  virtual void initializeDataSource(DataSource dataSource);

  KestBaseType _type;
};
