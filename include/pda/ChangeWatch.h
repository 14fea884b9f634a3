#pragma once

#include "pda/Export.h"
#include "pda/KestTypes.h"

// Tells a program when the data of a store changed, made by this process or
// another, so that it can reInitialize() its records or make new ones. It
// watches the registry key of the registry store with every key below it, or
// the SQLite store's database files; it wakes only when they change and uses
// no processor time while nothing does.
//
// A change is reported once, however many values it touched; a report may
// now and then come without a change of any value (a key rewritten with the
// same values), so the caller compares what it reads. The built-in defaults
// never change: a watch on them only ever times out.
//
//   ChangeWatch watch(SQLiteDataSource);
//   while (watch.waitForChange(ChangeWatch::kForever) == 1) {
//     KestInfo settings(SQLiteDataSource);  // reads the new values
//   }
//
// Thread safety: one thread at a time calls waitForChange; stop() may be
// called from any thread, also while another waits.
class PDA_API ChangeWatch {
 public:
  static const unsigned int kForever = 0xFFFFFFFFu;

  // UnknownDataSource watches the process-wide default store.
  explicit ChangeWatch(DataSource dataSource = UnknownDataSource);
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // The store watched (never UnknownDataSource).
  DataSource getDataSource() const noexcept { return _dataSource; }
  // False when the store's data cannot be watched (no place to watch, or the
  // system refused): waitForChange then answers -1 at once.
  bool isWatching() const noexcept;

  // Waits until the store's data changed since the watch began or since the
  // previous call returned, at most timeoutMs milliseconds (kForever: no
  // limit). 1 changed, 0 the time passed, -1 stopped or not watching.
  int waitForChange(unsigned int timeoutMs);

  // Makes the current and every later waitForChange return -1.
  void stop() noexcept;

 private:
  struct State;
  DataSource _dataSource;
  State* _state;
};
