// Reading a key's values into a registry node: the type table, the buffer
// limits of the enumeration, and when a node reads its key again.
#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "Machine.h"

using namespace regtest;
using Map = std::map<std::string, std::string>;

struct RegistryValues : WithMachine {};

TEST_F(RegistryValues, EachTypeBecomesTextOrNoEntry) {
  const std::string k = key("VISAInfo");
  pdatest::regSetString(k, "Text", "hello");
  pdatest::regSetDword(k, "AllBits", 0xFFFFFFFFu);
  pdatest::regSetDword(k, "Lowest", 0x80000000u);
  pdatest::regSetDword(k, "Seven", 7);
  pdatest::regSetRaw(k, "Binary", REG_BINARY, std::string("\x80\x05\x06", 3));
  pdatest::regSetRaw(k, "Embedded", REG_SZ, std::string("abc\0def\0", 8));
  pdatest::regSetRaw(k, "Unterminated", REG_SZ, "xyz");
  pdatest::regSetRaw(k, "ShortDword", REG_DWORD, std::string("\x01\x02", 2));
  pdatest::regSetRaw(k, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  pdatest::regSetRaw(k, "Expand", REG_EXPAND_SZ, std::string("%X%\0", 4));
  pdatest::regSetRaw(k, "Qword", REG_QWORD, std::string(8, '\x01'));
  pdatest::regSetRaw(k, "None", REG_NONE, "zz");
  pdatest::regSetRaw(k, "EmptySz", REG_SZ, "");
  pdatest::regSetRaw(k, "EmptyDword", REG_DWORD, "");
  pdatest::regSetRaw(k, "EmptyBinary", REG_BINARY, "");

  auto node = create(VisaInfoBaseType);
  EXPECT_EQ(values(*node), (Map{{"AllBits", "-1"},
                                {"Binary", "128"},
                                {"Embedded", "abc"},
                                {"Lowest", "-2147483648"},
                                {"ShortDword", "513"},
                                {"Seven", "7"},
                                {"Text", "hello"},
                                {"Unterminated", "xyz"}}));
  EXPECT_EQ(node->getValueInt32("allbits", 5), 0);  // "-1" has no leading digit
  char buf[16];
  node->getValueString("TEXT", buf, sizeof buf, "d");
  EXPECT_STREQ(buf, "hello");
  node->getValueString("Multi", buf, sizeof buf, "d");
  EXPECT_STREQ(buf, "d");
}

// The default value is entered under the empty name.
TEST_F(RegistryValues, NamesAndDataAtTheBufferLimitsAreRead) {
  const std::string k = key("Params");
  const std::string longestName(1023, 'n');
  const std::string fullText(1023, 't');      // 1024 bytes with its NUL
  const std::string noTerminator(1024, 'u');  // 1024 bytes, no NUL
  pdatest::regSetString(k, longestName, "x");
  pdatest::regSetString(k, "Full", fullText);
  pdatest::regSetRaw(k, "Bare", REG_SZ, noTerminator);
  pdatest::regSetString(k, "", "unnamed");  // the key's default value
  auto node = create(SorrelParamsBaseType);
  EXPECT_EQ(values(*node),
            (Map{{longestName, "x"}, {"Full", fullText}, {"Bare", noTerminator}, {"", "unnamed"}}));
}

// The names sort in the order they are created, so the value after the long
// one comes after it whether the registry enumerates values in creation order
// (Windows) or by name (Wine).
TEST_F(RegistryValues, EnumerationStopsAtATooLongNameOrData) {
  const std::string names = key("Params"), data = key("VISAInfo");
  pdatest::regSetString(names, "Before", "1");
  pdatest::regSetString(names, std::string(1024, 'n'), "2");
  pdatest::regSetString(names, "Then", "3");
  pdatest::regSetString(data, "Before", "1");
  pdatest::regSetRaw(data, "Big", REG_BINARY, std::string(1025, '\x07'));
  pdatest::regSetString(data, "Then", "3");

  auto byName = create(SorrelParamsBaseType);
  auto byData = create(VisaInfoBaseType);
  EXPECT_EQ(values(*byName), (Map{{"Before", "1"}}));
  EXPECT_EQ(values(*byData), (Map{{"Before", "1"}}));
  EXPECT_EQ(byData->getValueInt32("Then", -7), -7);
}

#if !defined(_WIN32)
TEST_F(RegistryValues, MissingKeyGivesDefaultsAndNoChildren) {
  readOnly(true);  // the root cannot create its key either
  auto node = create(InstrumentFavoritesBaseType);
  EXPECT_EQ(PdaTestAccess::KestRegistry_readKey(*node), nullptr);
  EXPECT_EQ(node->getValueInt32("Anything", 42), 42);
  EXPECT_TRUE(node->SubKeyMap()->empty());
  EXPECT_TRUE(node->NameValueMap()->empty());
  EXPECT_EQ(node->setValueString("Anything", "1"), 0);
}

// Forks a process that adds the value "Late" to each key through the
// registry calls; returns its exit status.
static int addValueInOtherProcess(const std::vector<std::string>& keys) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 0;
    try {
      for (const auto& k : keys) pdatest::regSetString(k, "Late", "seen");
    } catch (...) {
      rc = 1;
    }
    _exit(rc);  // never run the parent's test teardown here
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryValues, OnlyANodeThatReadNothingSeesAnotherProcessValue) {
  pdatest::regSetString(key("Params"), "Early", "1");
  auto read = create(SorrelParamsBaseType);          // key with one value
  auto empty = create(InstrumentFavoritesBaseType);  // key created empty
  ASSERT_EQ(values(*read), (Map{{"Early", "1"}}));
  ASSERT_TRUE(values(*empty).empty());

  ASSERT_EQ(addValueInOtherProcess({key("Params"), key("InstrumentFavorites")}), 0);

  char buf[16];
  read->getValueString("Late", buf, sizeof buf, "none");
  EXPECT_STREQ(buf, "none");
  read->reInitialize();  // does nothing: the node keeps what it read
  EXPECT_EQ(values(*read), (Map{{"Early", "1"}}));
  empty->getValueString("Late", buf, sizeof buf, "none");
  EXPECT_STREQ(buf, "seen");
  EXPECT_EQ(values(*create(SorrelParamsBaseType)), (Map{{"Early", "1"}, {"Late", "seen"}}));
}
#endif
