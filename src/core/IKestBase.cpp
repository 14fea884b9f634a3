#include "pda/IKestBase.h"

#include <cstdio>
#include <cstring>

#include "base/Text.h"

IKestBase::IKestBase() : _parent(nullptr), _references(1) {}

// The copy shares the source's children: each shared child gains a reference,
// so it outlives whichever of the two nodes is destroyed first.
IKestBase::IKestBase(const IKestBase& other)
    : _subKeyMap(other._subKeyMap),
      _nameValueMap(other._nameValueMap),
      _persistentId(other._persistentId),
      _recordId(other._recordId),
      _recordType(other._recordType),
      _parentId(other._parentId),
      _parent(other._parent),
      _references(1) {
  for (auto& entry : _subKeyMap) retainNode(entry.second);
}

IKestBase& IKestBase::operator=(const IKestBase& other) {
  if (this != &other) {
    // Take the new references before dropping the old ones: a child held by
    // both maps must not reach zero in between.
    ::SubKeyMap children(other._subKeyMap);
    for (auto& entry : children) retainNode(entry.second);
    _subKeyMap.swap(children);
    for (auto& entry : children) releaseNode(entry.second);
    _nameValueMap = other._nameValueMap;
    _persistentId = other._persistentId;
    _recordId = other._recordId;
    _recordType = other._recordType;
    _parentId = other._parentId;
  }
  _parent = other._parent;
  return *this;
}

IKestBase::~IKestBase() {
  // Only children already read are destroyed: no lazy fill here.
  releaseChildren();
  _nameValueMap.clear();
}

void IKestBase::retainNode(IKestBase* node) noexcept {
  if (node) node->_references.fetch_add(1, std::memory_order_relaxed);
}

void IKestBase::releaseNode(IKestBase* node) noexcept {
  if (node && node->_references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete node;
}

void IKestBase::releaseChildren() noexcept {
  ::SubKeyMap children;
  children.swap(_subKeyMap);
  for (auto& entry : children) releaseNode(entry.second);
}

// One search: the position found for name is also where a new entry goes.
void IKestBase::insertChild(const std::string& name, IKestBase* child) {
  auto it = _subKeyMap.lower_bound(name);
  if (it == _subKeyMap.end() || _subKeyMap.key_comp()(name, it->first)) {
    _subKeyMap.emplace_hint(it, name, child);
    return;
  }
  IKestBase* old = it->second;
  it->second = child;
  if (old != child) releaseNode(old);
}

::SubKeyMap* IKestBase::SubKeyMap() {
  initializeSubKeyMap();
  return &_subKeyMap;
}

::NameValueMap* IKestBase::NameValueMap() {
  initializeNameValueMap();
  return &_nameValueMap;
}

void IKestBase::setRecordId(const char* value) {
  _recordId = value ? value : "";
}
void IKestBase::setRecordType(const char* value) {
  _recordType = value ? value : "";
}
void IKestBase::setParentId(const char* value) {
  _parentId = value ? value : "";
}
void IKestBase::setPersistentId(const char* value) {
  _persistentId = value ? value : "";
}

namespace {

// The value of name for a getter, or null when there is none. A getter reads
// as if it looked name up with insert-if-absent and then removed the entry
// again when its text is empty: so after any read an empty value is no longer
// present, and an absent name stays absent. That is done here with one search
// and without inserting anything (nor allocating, which an insertion would),
// and the text is not copied: the caller uses it before the map changes.
const std::string* lookUp(::NameValueMap& map, const char* name) {
  const auto it = map.find(name);
  if (it == map.end()) return nullptr;
  if (it->second.empty()) {
    map.erase(it);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

int IKestBase::getValueBool(const char* name, int defaultValue) {
  initializeNameValueMap();
  if (!name) return defaultValue;
  const std::string* text = lookUp(_nameValueMap, name);
  if (!text) return defaultValue;
  return pda::textToInt(text->c_str()) != 0 ? 1 : 0;
}

int IKestBase::getValueInt32(const char* name, int defaultValue) {
  initializeNameValueMap();
  if (!name) return defaultValue;
  const std::string* text = lookUp(_nameValueMap, name);
  if (!text) return defaultValue;
  return pda::textToInt(text->c_str());
}

// The first byte of buffer is written at every call (even with a bufferSize
// of 0, the caller's buffer holds at least one byte), so the caller always
// finds a terminated text. A null buffer is left alone: there is nothing to
// write to. A null defaultValue counts as "". buffer may be the caller's own
// default (a buffer pre-filled with it): the chosen text is taken before the
// buffer is written, and the copy tolerates the overlap. The value is looked
// up whatever the buffer, so that an empty value is dropped by this getter as
// by every other, also when nothing can be copied.
void IKestBase::getValueString(const char* name, char* buffer, unsigned int bufferSize,
                               const char* const defaultValue) {
  initializeNameValueMap();
  const std::string* text = name ? lookUp(_nameValueMap, name) : nullptr;
  if (!buffer) return;
  if (!name || bufferSize == 0) {
    buffer[0] = '\0';
    return;
  }
  pda::copyWhole(buffer, bufferSize, text ? text->c_str() : defaultValue);
}

// A null name finds nothing (the end position); a null found is not written.
::SubKeyMap::const_iterator IKestBase::findMap(const char* name, int* found) {
  initializeSubKeyMap();
  ::SubKeyMap::const_iterator it = name ? _subKeyMap.find(name) : _subKeyMap.end();
  if (found) *found = it != _subKeyMap.end() ? 1 : 0;
  return it;
}

int IKestBase::setValueBool(const char* name, int value) {
  return IKestBase::setValueString(name, value == 1 ? "True" : "False");
}

int IKestBase::setValueInt32(const char* name, int value) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%d", value);
  return IKestBase::setValueString(name, buffer);
}

// A null name stores nothing and returns 0 (there is no name to store under);
// a null value stores "", which every getter then treats as missing. Apart
// from that the base class never fails.
int IKestBase::setValueString(const char* name, const char* const value) {
  initializeNameValueMap();
  if (!name) return 0;
  auto it = _nameValueMap.find(name);
  if (it != _nameValueMap.end()) {
    int result = IKestBase::deleteName(name);
    if (result != 1) return result;
  }
  _nameValueMap.emplace(name, value ? value : "");
  return 1;
}

// Deleting a null name, like an absent one, changes nothing and succeeds.
int IKestBase::deleteName(const char* name) {
  initializeNameValueMap();
  if (name) _nameValueMap.erase(name);
  return 1;
}

// The copy is made before previous is released: if the allocation fails the
// caller still owns an intact previous, and value may even point into it.
char* IKestBase::allocateCString(const char* value, const char* previous) {
  if (!value) value = "";
  const std::size_t n = std::strlen(value) + 1;
  char* copy = new char[n];
  std::memcpy(copy, value, n);
  delete[] previous;
  return copy;
}
