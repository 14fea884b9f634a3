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
  pdatest::regSetRaw(k, "Binary", REG_BINARY, std::string("\x80\x05\x06", 3));
  pdatest::regSetRaw(k, "Embedded", REG_SZ, std::string("abc\0def\0", 8));
  pdatest::regSetRaw(k, "Unterminated", REG_SZ, "xyz");
  pdatest::regSetRaw(k, "ShortDword", REG_DWORD, std::string("\x01\x02", 2));
  pdatest::regSetRaw(k, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));  // other types: none
  pdatest::regSetRaw(k, "EmptyDword", REG_DWORD, "");                        // no data: none

  auto node = create(VisaInfoBaseType);
  EXPECT_EQ(values(*node), (Map{{"AllBits", "-1"},
                                {"Binary", "128"},
                                {"Embedded", "abc"},
                                {"Lowest", "-2147483648"},
                                {"ShortDword", "513"},
                                {"Text", "hello"},
                                {"Unterminated", "xyz"}}));
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
}

#if !defined(_WIN32)
TEST_F(RegistryValues, OnlyANodeThatReadNothingSeesAnotherProcessValue) {
  pdatest::regSetString(key("Params"), "Early", "1");
  auto read = create(SorrelParamsBaseType);          // key with one value
  auto empty = create(InstrumentFavoritesBaseType);  // key created empty
  ASSERT_EQ(values(*read), (Map{{"Early", "1"}}));
  ASSERT_TRUE(values(*empty).empty());

  // Another process adds "Late" to both keys.
  const pid_t pid = fork();
  if (pid == 0) {
    pdatest::regSetString(key("Params"), "Late", "seen");
    pdatest::regSetString(key("InstrumentFavorites"), "Late", "seen");
    _exit(0);  // never run the parent's test teardown here
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  read->reInitialize();  // does nothing: the node keeps what it read
  EXPECT_EQ(values(*read), (Map{{"Early", "1"}}));
  char buf[16];
  empty->getValueString("Late", buf, sizeof buf, "none");
  EXPECT_STREQ(buf, "seen");
  EXPECT_EQ(values(*create(SorrelParamsBaseType)), (Map{{"Early", "1"}, {"Late", "seen"}}));
}
#endif
