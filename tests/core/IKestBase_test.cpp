// The record tree node: conversions, buffers, case-insensitive names, child
// lookup, and the ownership of children through copies and destruction.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pda/IKestBase.h"

namespace {

// Every node that finished destruction, in order (post-order: recorded after
// IKestBase's destructor has destroyed the node's children); nodes are
// destroyed on several threads below.
std::mutex g_destroyedLock;
std::vector<std::string> g_destroyed;
std::atomic<int> g_alive{0};

// Destroyed after IKestBase (bases are destroyed in reverse order).
struct DestructionRecorder {
  std::string name;
  explicit DestructionRecorder(std::string n) : name(std::move(n)) { ++g_alive; }
  DestructionRecorder(const DestructionRecorder& other) : name(other.name + "'") { ++g_alive; }
  DestructionRecorder& operator=(const DestructionRecorder&) { return *this; }
  ~DestructionRecorder() {
    std::lock_guard<std::mutex> lock(g_destroyedLock);
    g_destroyed.push_back(name);
    --g_alive;
  }
};

// A store in miniature: its "persisted" values and children are filled into
// the maps lazily, only while the maps are empty, as every real store does.
class TestNode : public DestructionRecorder, public IKestBase {
 public:
  explicit TestNode(std::string name) : DestructionRecorder(std::move(name)) {}
  TestNode(const TestNode&) = default;
  TestNode& operator=(const TestNode&) = default;

  void reInitialize() override {
    releaseChildren();
    _nameValueMap.clear();
  }
  void initializeSubKeyMap() override {
    ++subKeyFills;
    if (!_subKeyMap.empty()) return;
    for (const auto& name : storedChildren) {
      auto* child = new TestNode(name);
      child->setParentPointer(this);
      insertChild(name, child);
    }
  }
  void initializeNameValueMap() override {
    if (!_nameValueMap.empty()) return;
    for (const auto& entry : storedValues) _nameValueMap.insert(entry);
  }

  std::map<std::string, std::string> storedValues;
  std::vector<std::string> storedChildren;
  int subKeyFills = 0;
};

class IKestBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_destroyed.clear();
    g_alive = 0;
  }
  void TearDown() override { EXPECT_EQ(g_alive.load(), 0) << "a node was leaked"; }

  int count(const std::string& name) const {
    int n = 0;
    for (const auto& d : g_destroyed) n += d == name ? 1 : 0;
    return n;
  }
};

// ci_less ignores letter case only, orders a prefix first and bytes unsigned.
TEST(CiLess, OrdersIgnoringCaseShorterPrefixFirstAndBytesUnsigned) {
  ci_less less;
  EXPECT_FALSE(less("VisaAddress", "VISAADDRESS"));
  EXPECT_FALSE(less("VISAADDRESS", "VisaAddress"));
  const char* const ordered[][2] = {{"a", "B"},    {"A", "b"},  {"abc", "ABCD"}, {"", "a"},
                                    {"z", "\xE9"}, {" a", "a"}, {"a", "a "}};
  for (const auto& p : ordered) {
    EXPECT_TRUE(less(p[0], p[1])) << p[0] << " < " << p[1];
    EXPECT_FALSE(less(p[1], p[0])) << p[1] << " < " << p[0];
  }
}

struct Conversion {
  const char* text;
  int asBool;
  int asInt;
};

// Text to numbers and booleans: the digit range's ends, words without case,
// partial numbers and saturation.
TEST_F(IKestBaseTest, ConvertsTextToNumbersAndBooleans) {
  const Conversion table[] = {{"9", 1, 9},
                              {"0", 0, 0},
                              {"tRuE", 1, 1},
                              {"yEs", 1, 1},
                              {"-5", 0, 0},
                              {"0x10", 0, 0},
                              {"12abc", 1, 12},
                              {"truee", 0, 0},
                              {"2147483647", 1, INT_MAX},
                              {"2147483648", 1, INT_MAX}};
  TestNode node("n");
  for (const auto& c : table) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    ASSERT_EQ(node.setValueString("Value", c.text), 1);
    EXPECT_EQ(node.getValueBool("Value", 77), c.asBool);
    EXPECT_EQ(node.getValueInt32("Value", 77), c.asInt);
  }
}

// Missing, empty and null names give the default; reading drops empty values;
// string buffers.
TEST_F(IKestBaseTest, DefaultsAndStringBuffers) {
  TestNode node("n");
  node.storedValues = {{"A", ""}, {"B", ""}, {"C", ""}, {"Keep", "x"}, {"Set", "9"}};
  node.NameValueMap();
  ASSERT_EQ(node.rawNameValueMap().size(), 5u);
  EXPECT_EQ(node.getValueBool("Missing", 5), 5);
  EXPECT_EQ(node.getValueInt32("Missing", 256), 256);
  EXPECT_EQ(node.getValueBool(nullptr, 3), 3);
  EXPECT_EQ(node.getValueInt32(nullptr, 3), 3);
  EXPECT_EQ(node.getValueInt32("set", 0), 9);
  EXPECT_EQ(node.getValueBool("a", 1), 1);
  EXPECT_EQ(node.getValueInt32("B", -12), -12);
  char small[8] = "zzzzzzz";
  node.getValueString("c", small, sizeof small, "dflt");
  EXPECT_STREQ(small, "dflt");
  node.getValueString("Nowhere", small, sizeof small, "d");
  EXPECT_EQ(node.rawNameValueMap(), (::NameValueMap{{"Keep", "x"}, {"Set", "9"}}));
  // A value or default is copied whole or not at all, never past the size.
  TestNode strings("s");
  strings.storedValues = {{"Nine", "123456789"}, {"Ten", "1234567890"}, {"Name", "value"}};
  const struct {
    const char* name;
    unsigned int size;
    const char* dflt;
    const char* expected;
  } cases[] = {{"Nine", 10, "", "123456789"},
               {"Ten", 10, "fits", ""},
               {"Missing", 10, "abcdefghi", "abcdefghi"},
               {nullptr, 16, "default", ""},   // a null name never takes the default
               {"Name", 0, "default", ""},     // size 0: only the first byte is written
               {"Missing", 16, nullptr, ""}};  // a null default counts as ""
  char buffer[17];
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " in " + std::to_string(c.size));
    std::memset(buffer, 'x', sizeof buffer);
    strings.getValueString(c.name, buffer, c.size, c.dflt);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(buffer[c.size > 1 ? c.size : 1], 'x');
  }
  strings.getValueString("Name", nullptr, 16,
                         "default");  // a null buffer is not written
  // The buffer may hold its own default.
  std::strcpy(buffer, "fallback");
  strings.getValueString("Missing", buffer, sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "fallback");
  strings.getValueString("Name", buffer, sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "value");
}

// A write replaces a name in any case under the new spelling; typed setters'
// texts; setters and delete on a node not read yet, and null arguments.
TEST_F(IKestBaseTest, SettersAndDelete) {
  TestNode node("n");
  ASSERT_EQ(node.setValueString("VisaAddress", "GPIB0::1"), 1);
  ASSERT_EQ(node.setValueString("VISAADDRESS", "GPIB0::2"), 1);
  ASSERT_EQ(node.rawNameValueMap().size(), 1u);
  EXPECT_EQ(node.rawNameValueMap().begin()->first, "VISAADDRESS");
  EXPECT_EQ(node.rawNameValueMap().begin()->second, "GPIB0::2");
  for (const auto& b : {std::make_pair(1, "True"), {0, "False"}, {2, "False"}}) {
    ASSERT_EQ(node.setValueBool("Flag", b.first), 1);
    EXPECT_EQ(node.rawNameValueMap().at("flag"), b.second) << b.first;
  }
  ASSERT_EQ(node.setValueInt32("Number", INT_MIN), 1);
  EXPECT_EQ(node.rawNameValueMap().at("Number"), "-2147483648");
  // Setters and delete read the store first; null names are refused, null
  // values empty.
  TestNode fresh("f");
  fresh.storedValues = {{"Stored", "1"}};
  ASSERT_EQ(fresh.setValueString("New", "2"), 1);
  EXPECT_EQ(fresh.rawNameValueMap().size(), 2u) << "the store's values were read before the write";
  TestNode other("o");
  other.storedValues = {{"Stored", "1"}};
  EXPECT_EQ(other.deleteName("Absent"), 1);
  ASSERT_EQ(other.rawNameValueMap().size(), 1u);
  EXPECT_EQ(other.deleteName("STORED"), 1);
  EXPECT_TRUE(other.rawNameValueMap().empty());
  EXPECT_EQ(fresh.setValueString(nullptr, "x"), 0);
  EXPECT_EQ(fresh.deleteName(nullptr), 1);
  EXPECT_EQ(fresh.rawNameValueMap().size(), 2u);
  EXPECT_EQ(fresh.setValueString("Stored", nullptr), 1);
  EXPECT_EQ(fresh.getValueInt32("Stored", 44), 44) << "a null value is stored as empty";
}

// findMap fills once, looks one level only (a backslash is no separator),
// ignores case.
TEST_F(IKestBaseTest, FindMapLooksOneLevelOnlyIgnoringCase) {
  {
    TestNode root("root");
    root.storedChildren = {"GPIB0", "a\\b"};
    int found = -1;
    auto it = root.findMap("gpib0", &found);
    EXPECT_EQ(found, 1);
    ASSERT_NE(it, root.rawSubKeyMap().end());
    EXPECT_EQ(it->first, "GPIB0");
    EXPECT_EQ(it->second->ParentPointer(), &root);
    EXPECT_EQ(root.subKeyFills, 1);
    static_cast<TestNode*>(it->second)->storedChildren = {"INST0"};
    const char* const cases[][2] = {
        {"GPIB0\\INST0", nullptr}, {"A\\B", "a\\b"}, {"GPIB", nullptr}, {nullptr, nullptr}};
    for (const auto& c : cases) {
      found = -1;
      it = root.findMap(c[0], &found);
      EXPECT_EQ(found, c[1] ? 1 : 0) << (c[0] ? c[0] : "(null)");
      EXPECT_EQ(it == root.rawSubKeyMap().end() ? "" : it->first, c[1] ? c[1] : "");
    }
    EXPECT_NE(root.findMap("gpib0", nullptr), root.rawSubKeyMap().end());
  }
  EXPECT_EQ(count("GPIB0"), 1);
  EXPECT_EQ(count("a\\b"), 1);
}

// Destruction is depth first, skips null children and reads nothing more;
// insertChild releases only what it replaces.
TEST_F(IKestBaseTest, DestructionAndReplacedChildren) {
  auto* root = new TestNode("root");
  auto* a = new TestNode("a");
  auto* b = new TestNode("b");
  a->insertChild("a2", new TestNode("a2"));
  a->insertChild("a1", new TestNode("a1"));
  root->insertChild("b", b);
  root->insertChild("a", a);
  root->rawSubKeyMap()["c"] = nullptr;
  b->storedChildren = {"never"};
  delete static_cast<IKestBase*>(root);
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"a1", "a2", "a", "b", "root"}));
  // insertChild releases a replaced node, but not the same node inserted again.
  TestNode parent("parent");
  auto* first = new TestNode("first");
  parent.insertChild("Name", first);
  parent.insertChild("Name", first);
  EXPECT_EQ(first->referenceCount(), 1);
  parent.insertChild("NAME", new TestNode("second"));
  EXPECT_EQ(count("first"), 1);
  ASSERT_EQ(parent.rawSubKeyMap().size(), 1u);
  EXPECT_EQ(parent.rawSubKeyMap().begin()->first, "Name") << "the key keeps its first spelling";
}

// A copy takes every field and shares the children, destroyed once by the last
// holder; so does an assignment.
TEST_F(IKestBaseTest, CopiesAndAssignmentsShareChildren) {
  auto* source = new TestNode("source");
  source->setRecordId("Rid");
  source->setRecordType("Interface");
  source->setParentId("Pid");
  source->setPersistentId("02A62B68-95C5-4051-9F26-26EF59619B94");
  TestNode parent("parent");
  source->setParentPointer(&parent);
  source->insertChild("x", new TestNode("x"));
  source->insertChild("y", new TestNode("y"));
  source->rawNameValueMap()["V"] = "1";
  auto* copy = new TestNode(*source);
  EXPECT_STREQ(copy->RecordId(), "Rid");
  EXPECT_STREQ(copy->RecordType(), "Interface");
  EXPECT_STREQ(copy->ParentId(), "Pid");
  EXPECT_STREQ(copy->PersistentId(), "02A62B68-95C5-4051-9F26-26EF59619B94");
  EXPECT_EQ(copy->ParentPointer(), &parent);
  EXPECT_EQ(copy->rawNameValueMap(), source->rawNameValueMap());
  EXPECT_EQ(copy->rawSubKeyMap(), source->rawSubKeyMap());
  delete static_cast<IKestBase*>(source);
  EXPECT_EQ(count("x"), 0) << "shared children outlive the first holder";
  EXPECT_EQ(copy->findMap("x", nullptr)->second->referenceCount(), 1);
  delete static_cast<IKestBase*>(copy);
  EXPECT_EQ(count("x"), 1);
  EXPECT_EQ(count("y"), 1);
  // Assignment shares the source's children, releases the dropped ones;
  // self-assignment keeps all.
  {
    TestNode target("target");
    TestNode from("from");
    TestNode parentA("pa");
    target.insertChild("old", new TestNode("old"));
    target.insertChild("both", new TestNode("target-both"));
    target.rawNameValueMap()["OnlyInTarget"] = "t";
    target.setRecordId("T");
    target.setParentPointer(&parentA);
    from.insertChild("both", new TestNode("source-both"));
    from.insertChild("new", new TestNode("new"));
    from.rawNameValueMap()["OnlyInSource"] = "s";
    from.setRecordId("S");
    from.setParentPointer(nullptr);
    target = from;
    EXPECT_EQ(count("old"), 1) << "a child dropped by the assignment is released, not leaked";
    EXPECT_EQ(count("target-both"), 1);
    EXPECT_EQ(count("source-both"), 0);
    EXPECT_EQ(target.rawSubKeyMap(), from.rawSubKeyMap());
    EXPECT_EQ(target.rawNameValueMap(), from.rawNameValueMap());
    EXPECT_STREQ(target.RecordId(), "S");
    EXPECT_EQ(target.ParentPointer(), nullptr);
    target = from;
    EXPECT_EQ(target.rawSubKeyMap().at("new")->referenceCount(), 2);
    IKestBase& alias = target;
    alias = target;
    EXPECT_EQ(target.rawSubKeyMap().at("new")->referenceCount(), 2);
    EXPECT_EQ(target.rawNameValueMap(), from.rawNameValueMap());
  }
  EXPECT_EQ(count("source-both"), 1);
  EXPECT_EQ(count("new"), 1);
}

// Copies released at once on many threads destroy each shared child exactly
// once.
TEST_F(IKestBaseTest, CopiesReleasedOnManyThreadsDestroyEachChildOnce) {
  constexpr int kCopies = 8;
  constexpr int kChildren = 32;
  auto* source = new TestNode("source");
  for (int i = 0; i < kChildren; ++i)
    source->insertChild("c" + std::to_string(i), new TestNode("child"));
  std::vector<IKestBase*> copies;
  for (int i = 0; i < kCopies; ++i) copies.push_back(new TestNode(*source));
  IKestBase::releaseNode(source);
  EXPECT_EQ(count("child"), 0);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCopies; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      IKestBase::releaseNode(copies[i]);
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(count("child"), kChildren);
  EXPECT_EQ(count("source'"), kCopies);
}

// allocateCString copies (null as ""), and may copy from the string it
// releases.
TEST(AllocateCString, CopiesReleasesAndAcceptsNull) {
  char* s = IKestBase::allocateCString(nullptr, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "");
  s = IKestBase::allocateCString("GPIB0::INSTR", s);
  EXPECT_STREQ(s, "GPIB0::INSTR");
  s = IKestBase::allocateCString(s + 7, s);
  EXPECT_STREQ(s, "INSTR");
  delete[] s;
}

}  // namespace
