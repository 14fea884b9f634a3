#pragma once

#include <atomic>
#include <cctype>
#include <cstddef>
#include <map>
#include <string>

#include "pda/Export.h"

class IKestBase;

// The ordering of every name in the library: byte by byte through the C
// library's tolower, shorter first when one is a prefix of the other. Names
// that differ only in letter case are one name; nothing else is folded.
struct ci_less {
  bool operator()(const std::string& a, const std::string& b) const noexcept {
    const std::size_t na = a.size();
    const std::size_t nb = b.size();
    const std::size_t n = na < nb ? na : nb;
    for (std::size_t i = 0; i < n; ++i) {
      // Equal bytes fold to equal letters: only a differing pair needs
      // tolower, which costs a call into the C library per byte.
      if (a[i] == b[i]) continue;
      const int ca = std::tolower(static_cast<unsigned char>(a[i]));
      const int cb = std::tolower(static_cast<unsigned char>(b[i]));
      if (ca != cb) return ca < cb;
    }
    return na < nb;
  }
};

// Children by name; each child is owned by the node whose map holds it.
typedef std::map<std::string, IKestBase*, ci_less> SubKeyMap;
// Every value of a record, as text, by name.
typedef std::map<std::string, std::string, ci_less> NameValueMap;

// A node of the in-memory record tree. Each store derives from it and fills
// the two maps lazily; typed records read and write through the virtual
// getters and setters.
//
// Thread safety: none. Even a getter changes the value map (an empty value is
// dropped), so one node and its subtree are used by one thread at a time.
//
// Ownership of children: a node owns the children in its child map. Copying
// a node shares its children (the copy's map holds the same pointers), so
// every node carries a reference count: a node starts with one reference,
// each map entry or record that shares it adds one (retainNode), and
// releaseNode destroys it when the last reference goes. A child is therefore
// destroyed exactly once, after the last node that holds it; children that
// an assignment drops from the target's map are released, not leaked.
class PDA_API IKestBase {
 public:
  IKestBase();
  IKestBase(const IKestBase& other);
  IKestBase& operator=(const IKestBase& other);

  // Slots 0 to 2: supplied by each store.
  virtual void reInitialize() = 0;
  virtual void initializeSubKeyMap() = 0;
  virtual void initializeNameValueMap() = 0;

  // Slots 3 to 10.
  virtual int getValueBool(const char* name, int defaultValue);
  virtual int getValueInt32(const char* name, int defaultValue);
  // Copies the value, or defaultValue, into buffer when it fits with its
  // terminator; otherwise buffer is left "". The first byte of buffer is
  // always written, even when bufferSize is 0; a null buffer is left alone.
  // buffer may hold the default itself.
  virtual void getValueString(const char* name, char* buffer, unsigned int bufferSize,
                              const char* const defaultValue);
  virtual ::SubKeyMap::const_iterator findMap(const char* name, int* found);
  virtual int setValueBool(const char* name, int value);
  virtual int setValueInt32(const char* name, int value);
  virtual int setValueString(const char* name, const char* const value);
  virtual int deleteName(const char* name);

  // Slot 11.
  virtual ~IKestBase();

  // The maps after the node's lazy fill.
  ::SubKeyMap* SubKeyMap();
  ::NameValueMap* NameValueMap();

  // The maps as they stand, without the lazy fill (for the stores' builders).
  ::SubKeyMap& rawSubKeyMap() noexcept { return _subKeyMap; }
  ::NameValueMap& rawNameValueMap() noexcept { return _nameValueMap; }
  const ::SubKeyMap& rawSubKeyMap() const noexcept { return _subKeyMap; }
  const ::NameValueMap& rawNameValueMap() const noexcept { return _nameValueMap; }

  const char* RecordId() const noexcept { return _recordId.c_str(); }
  const char* RecordType() const noexcept { return _recordType.c_str(); }
  const char* ParentId() const noexcept { return _parentId.c_str(); }
  const IKestBase* ParentPointer() const noexcept { return _parent; }
  const char* PersistentId() const noexcept { return _persistentId.c_str(); }

  // Identity, set by the stores (and by callers that address a record of a
  // keyed table, such as the PXI chassis engine). A null text sets "".
  void setRecordId(const char* value);
  void setRecordType(const char* value);
  void setParentId(const char* value);
  void setPersistentId(const char* value);
  void setParentPointer(IKestBase* parent) noexcept { _parent = parent; }
  IKestBase* parentPointer() const noexcept { return _parent; }

  // Puts child under name in the child map, without the lazy fill. A
  // different node stored under an equal name is released; the stored key
  // keeps its first spelling. The map takes over the caller's reference.
  // Inserting the node that is already stored under name changes nothing
  // (its count is left as it was, so a caller that passes back a pointer it
  // found in the map never frees a node the map still holds).
  void insertChild(const std::string& name, IKestBase* child);
  // Releases every child and empties the child map.
  void releaseChildren() noexcept;

  // Reference counting of shared nodes (see the class comment).
  static void retainNode(IKestBase* node) noexcept;
  static void releaseNode(IKestBase* node) noexcept;
  int referenceCount() const noexcept { return _references.load(std::memory_order_relaxed); }

  // A heap copy of value ("" for null) made with array new; previous (may be
  // null) is then released with array delete. The copy is made first, so
  // value may point into previous, and a failed allocation leaves previous
  // intact. The caller releases the result with array delete.
  static char* allocateCString(const char* value, const char* previous);

 protected:
  ::SubKeyMap _subKeyMap;
  ::NameValueMap _nameValueMap;
  std::string _persistentId;
  std::string _recordId;
  std::string _recordType;
  std::string _parentId;
  IKestBase* _parent;

 private:
  std::atomic<int> _references;
};
