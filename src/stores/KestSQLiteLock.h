#pragma once

#include "pda/KestSQLite.h"

// Holds the instance lock of a node for its life. The lock is recursive: the
// operations of a node nest (a write fetches its statements, each of which
// takes the lock again).
class KestSQLite::InstanceLock {
 public:
  explicit InstanceLock(KestSQLite& node) : _node(node) { _node.enterSQLiteCriticalSection(); }
  ~InstanceLock() { _node.leaveSQLiteCriticalSection(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  KestSQLite& _node;
};
