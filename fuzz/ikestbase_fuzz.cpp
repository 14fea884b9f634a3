// The tree node's getters and setters with arbitrary names, texts, numbers
// and buffer sizes (0 and 1 included), null arguments, children, copies and
// assignments, checked step by step against a plain model of what a node
// holds. Every string buffer is a heap block of exactly the size given to
// the getter (one byte for a size of 0, which the getter may write), so a
// write past it is caught. Then the same getters on a node of the built-in
// defaults store.

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "core/NodeHolder.h"
#include "pda/IKestBase.h"
#include "pda/KestDeviceIoConfig.h"

using pdafuzz::ciEqual;
using pdafuzz::fail;

namespace {

// A node that is nothing but the tree node: no store behind it.
class PlainNode : public IKestBase {
 public:
  void reInitialize() override {
    releaseChildren();
    _nameValueMap.clear();
  }
  void initializeSubKeyMap() override {}
  void initializeNameValueMap() override {}
};

using NodePtr = pda::NodeHolder<IKestBase>;

// What a node holds, by the rules of the tree node: names without regard to
// case, the spelling of the last write kept.
class Model {
 public:
  std::vector<std::pair<std::string, std::string>> values;

  std::size_t find(const std::string& name) const {
    for (std::size_t i = 0; i < values.size(); ++i)
      if (ciEqual(values[i].first, name)) return i;
    return values.size();
  }
  void set(const std::string& name, const std::string& value) {
    erase(name);
    values.emplace_back(name, value);
  }
  void erase(const std::string& name) {
    const std::size_t i = find(name);
    if (i < values.size()) values.erase(values.begin() + static_cast<long>(i));
  }
  // The value a getter uses, or null; an empty value is dropped, as the
  // getters do.
  const std::string* get(const std::string& name) {
    const std::size_t i = find(name);
    if (i == values.size()) return nullptr;
    if (values[i].second.empty()) {
      values.erase(values.begin() + static_cast<long>(i));
      return nullptr;
    }
    return &values[i].second;
  }
};

int expectedNumber(const std::string& text) {
  if (text[0] >= '0' && text[0] <= '9') {
    long long n = 0;
    for (char c : text) {
      if (c < '0' || c > '9') break;
      n = n * 10 + (c - '0');
      if (n > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(n);
  }
  return ciEqual(text, "true") || ciEqual(text, "yes") ? 1 : 0;
}

void compare(IKestBase& node, const Model& model, const char* step) {
  const NameValueMap& map = node.rawNameValueMap();
  if (map.size() != model.values.size())
    fail(std::string(step) + ": the node holds another number of values");
  for (const auto& entry : model.values) {
    auto it = map.find(entry.first);
    if (it == map.end()) fail(std::string(step) + ": a value is missing");
    if (it->first != entry.first) fail(std::string(step) + ": a name lost its spelling");
    if (it->second != entry.second) fail(std::string(step) + ": a value differs");
  }
}

// getValueString into a buffer of exactly size bytes (one for 0).
std::string getString(IKestBase& node, const char* name, unsigned size, const char* defaultValue) {
  std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
  std::memset(buffer.get(), 'x', size ? size : 1);
  node.getValueString(name, buffer.get(), size, defaultValue);
  if (std::memchr(buffer.get(), '\0', size ? size : 1) == nullptr)
    fail("getValueString left no terminator");
  return buffer.get();
}

void exerciseDefaults(pdafuzz::Input& in) {
  static const KestBaseType kTypes[] = {KestInfoBaseType,   VisaInfoBaseType,
                                        KestConfigBaseType, SorrelParamsBaseType,
                                        AliasBaseType,      InstrumentFavoritesBaseType};
  NodePtr node(KestDeviceIoConfig::CreateInstance(kTypes[in.number(6)]));
  if (!node) return;
  for (int i = 0; i < 8 && !in.done(); ++i) {
    const std::string name = in.cText();
    const unsigned size = in.number(300);
    const std::string text = getString(*node, name.c_str(), size, "");
    if (size == 0 && !text.empty()) fail("a 0-byte buffer got text");
    if (!text.empty() && text.size() >= size) fail("a value longer than its buffer was copied");
    node->getValueInt32(name.c_str(), 7);
    int found = -1;
    node->findMap(name.c_str(), &found);
    if (found != 0 && found != 1) fail("findMap left found unset");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pdafuzz::machine();
  pdafuzz::Input in(data, size);
  NodePtr node(new PlainNode());
  Model model;
  std::vector<std::string> children;
  char* cString = nullptr;

  while (!in.done()) {
    const uint8_t op = in.byte() % 14;
    switch (op) {
      case 0: {  // setValueString
        const std::string name = in.cText();
        const std::string value = in.cText();
        if (node->setValueString(name.c_str(), value.c_str()) != 1) fail("setValueString failed");
        model.set(name, value);
        break;
      }
      case 1: {  // setValueBool: "True" only for 1
        const std::string name = in.cText();
        const int value = static_cast<int>(in.number(5)) - 2;
        if (node->setValueBool(name.c_str(), value) != 1) fail("setValueBool failed");
        model.set(name, value == 1 ? "True" : "False");
        break;
      }
      case 2: {  // setValueInt32
        const std::string name = in.cText();
        const int value = static_cast<int>(in.number(UINT32_MAX));
        if (node->setValueInt32(name.c_str(), value) != 1) fail("setValueInt32 failed");
        model.set(name, std::to_string(value));
        break;
      }
      case 3: {  // getValueString with any buffer size
        const std::string name = in.cText();
        const std::string fallback = in.cText();
        const unsigned bufferSize = in.number(64);
        const std::string got = getString(*node, name.c_str(), bufferSize, fallback.c_str());
        const std::string* value = model.get(name);
        const std::string& chosen = value ? *value : fallback;
        const std::string expected = chosen.size() < bufferSize ? chosen : std::string();
        if (got != expected) fail("getValueString gave another text");
        break;
      }
      case 4: {  // getValueInt32
        const std::string name = in.cText();
        const std::string* value = model.get(name);
        const int got = node->getValueInt32(name.c_str(), -77);
        if (got != (value ? expectedNumber(*value) : -77))
          fail("getValueInt32 gave another number");
        break;
      }
      case 5: {  // getValueBool
        const std::string name = in.cText();
        const std::string* value = model.get(name);
        const int got = node->getValueBool(name.c_str(), 5);
        if (got != (value ? (expectedNumber(*value) != 0 ? 1 : 0) : 5))
          fail("getValueBool gave another result");
        break;
      }
      case 6: {  // deleteName
        const std::string name = in.cText();
        if (node->deleteName(name.c_str()) != 1) fail("deleteName failed");
        model.erase(name);
        break;
      }
      case 7: {  // null arguments: the node's guards
        char buffer[4] = {'x', 'x', 'x', 'x'};
        node->getValueString(nullptr, buffer, sizeof buffer, "default");
        if (buffer[0] != '\0') fail("a null name gave text");
        node->getValueString("name", nullptr, 10, "default");
        model.get("name");  // a getter without a buffer still drops an empty value
        if (node->getValueInt32(nullptr, 3) != 3 || node->getValueBool(nullptr, 4) != 4)
          fail("a null name gave a value");
        if (node->setValueString(nullptr, "v") != 0) fail("a null name was stored");
        if (node->deleteName(nullptr) != 1) fail("deleting a null name failed");
        int found = 9;
        node->findMap(nullptr, &found);
        if (found != 0) fail("a null name was found");
        node->findMap("x", nullptr);
        const std::string name = in.cText();
        if (node->setValueString(name.c_str(), nullptr) != 1) fail("a null value was refused");
        model.set(name, "");
        break;
      }
      case 8: {  // a child under an arbitrary name
        const std::string name = in.cText();
        node->insertChild(name, new PlainNode());
        bool known = false;
        for (const std::string& c : children) known = known || ciEqual(c, name);
        if (!known) children.push_back(name);
        break;
      }
      case 9: {  // findMap
        const std::string name = in.cText();
        int found = -1;
        auto it = node->findMap(name.c_str(), &found);
        bool known = false;
        for (const std::string& c : children) known = known || ciEqual(c, name);
        if (found != (known ? 1 : 0)) fail("findMap disagrees");
        if (known && (it == node->rawSubKeyMap().end() || !ciEqual(it->first, name)))
          fail("findMap found another");
        break;
      }
      case 10: {  // a copy shares the children and holds the same values
        NodePtr copy(new PlainNode(*static_cast<PlainNode*>(node.get())));
        compare(*copy, model, "copy");
        if (copy->rawSubKeyMap().size() != children.size()) fail("the copy has other children");
        if (in.byte() & 1) node.reset(copy.release());  // the source goes first
        break;
      }
      case 11: {  // assignment onto a node with children of its own
        NodePtr other(new PlainNode());
        other->insertChild("own", new PlainNode());
        other->setValueString("OtherValue", "x");
        *static_cast<PlainNode*>(other.get()) = *static_cast<PlainNode*>(node.get());
        compare(*other, model, "assignment");
        if (in.byte() & 1) node.reset(other.release());
        break;
      }
      case 12: {  // allocateCString, also from a text inside the previous copy
        const std::string text = in.cText();
        const std::size_t offset =
            cString ? in.number(static_cast<uint32_t>(std::strlen(cString) + 1)) : 0;
        const char* source = (in.byte() & 1) && cString ? cString + offset : text.c_str();
        const std::string expected = source;
        cString = IKestBase::allocateCString(source, cString);
        if (expected != cString) fail("allocateCString copied another text");
        break;
      }
      case 13:
        exerciseDefaults(in);
        break;
    }
    compare(*node, model, "step");
  }
  delete[] cString;
  node->reInitialize();
  if (!node->rawNameValueMap().empty() || !node->rawSubKeyMap().empty())
    fail("reInitialize kept something");
  return 0;
}
