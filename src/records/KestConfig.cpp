#include "pda/KestConfig.h"

// Reference bookkeeping: _root always carries one reference held by this
// record (taken by the store's CreateInstance, by KestRecord's copy, or by
// setKestBase), and so does _ownBase while it is set. Every path that lets a
// node go drops exactly that one reference, so a node is destroyed once, by
// whoever lets it go last, and never while anyone still holds it.

KestConfig::KestConfig(DataSource dataSource)
    : KestRecord(), _ownBase(nullptr), _kestBaseSet(false) {
  initializeDataSource(dataSource);
}

KestConfig::KestConfig(const KestConfig& other)
    : KestRecord(other), _ownBase(other._ownBase), _kestBaseSet(other._kestBaseSet) {
  IKestBase::retainNode(_ownBase);
}

KestConfig& KestConfig::operator=(const KestConfig& other) {
  if (this != &other) {
    KestRecord::operator=(other);
    // Retain before releasing: both records may keep the same own root aside.
    IKestBase* previous = _ownBase;
    _ownBase = other._ownBase;
    IKestBase::retainNode(_ownBase);
    IKestBase::releaseNode(previous);
    _kestBaseSet = other._kestBaseSet;
  }
  return *this;
}

KestConfig::~KestConfig() {
  // The node in use (_root) is released by KestRecord's destructor.
  IKestBase::releaseNode(_ownBase);
  _ownBase = nullptr;
}

void KestConfig::initializeDataSource(DataSource dataSource) {
  // Start from a clean record, even when called on one already in use.
  IKestBase::releaseNode(_ownBase);
  _ownBase = nullptr;
  _kestBaseSet = false;
  // Drops the old tree and resolves UnknownDataSource to the default.
  KestRecord::initializeDataSource(dataSource);
  // WrenDataSource: no configuration store, so no root node.
  setRoot(createStore(_dataSource, KestConfigBaseType));
}

void KestConfig::setKestBase(IKestBase* node) {
  if (!node) return;
  IKestBase::retainNode(node);
  if (!_kestBaseSet) {
    // First replacement: the own root (possibly null) waits aside, keeping
    // its reference.
    _ownBase = _root;
    _kestBaseSet = true;
  } else {
    IKestBase::releaseNode(_root);
  }
  _root = node;
}

void KestConfig::resetKestBase() {
  if (!_kestBaseSet) return;
  IKestBase* callers = _root;
  _root = _ownBase;
  _ownBase = nullptr;
  _kestBaseSet = false;
  IKestBase::releaseNode(callers);
}

void KestConfig::reInitialize() {
  if (_root) _root->reInitialize();
}
