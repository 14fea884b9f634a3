#pragma once

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"

// The base of every typed record: remembers which store the record uses and
// holds the root node of that store's tree, to which it forwards reads and
// writes. A record without a root node answers every read with the caller's
// default and every write with 0.
//
// Copies share the tree: a copy (or an assignment target) takes a reference
// on the source's root node (IKestBase::retainNode), and every record
// releases its reference when it is destroyed, so the tree is destroyed once,
// with the last record that shares it. Assignment releases the target's old
// tree the same way.
//
// Thread safety: none; one record is used by one thread at a time. Records
// may be constructed on any thread.
class PDA_API KestRecord {
 public:
  KestRecord();
  KestRecord(const KestRecord& other);
  KestRecord& operator=(const KestRecord& other);
  virtual ~KestRecord();

  virtual int getValueBool(const char* name, int defaultValue);
  virtual int getValueInt32(const char* name, int defaultValue);
  virtual void getValueString(const char* name, char* buffer, unsigned int bufferSize,
                              const char* const defaultValue);
  virtual int setValueBool(const char* name, int value);
  virtual int setValueInt32(const char* name, int value);
  virtual int setValueString(const char* name, const char* const value);

  DataSource getDataSource() const noexcept { return _dataSource; }
  IKestBase* getIKestBase() const noexcept { return _root; }

  // The name of a data source ("UnknownDataSource" ... "WrenDataSource"), as
  // static text; "InvalidDataSource" for a value outside 0 to 4.
  static const char* getDataSourceString(DataSource value);
  const char* getDataSourceString() const;

  // The process-wide default store, decided at the first call.
  static DataSource getGlobalDefaultDataSource();
  // Publishes the default in "_UnmanagedCodePersistedDataStore".
  static void writeDataSourceBool();

 protected:
  virtual void initializeDataSource(DataSource& dataSource);
  virtual void initializeSubKeyMap();
  virtual void initializeNameValueMap();

  // Makes node the record's root, releasing the old one. The record takes
  // over the caller's reference to node; passing the current root changes
  // nothing.
  void setRoot(IKestBase* node) noexcept;

  // A new root node of the given store for one part of the data: the
  // registry, SQLite or built-in defaults store for sources 1 to 3, as their
  // CreateInstance gives it (null when the store cannot serve the type); null
  // for every other source. Records whose table differs (aliases, PXI types)
  // choose their store themselves.
  static IKestBase* createStore(DataSource source, KestBaseType type);

  IKestBase* _root;
  DataSource _dataSource;

 private:
};
