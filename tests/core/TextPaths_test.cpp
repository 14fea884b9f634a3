// The small text and path helpers every store relies on.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/Paths.h"
#include "core/Text.h"

namespace {

TEST(CopyWhole, CopiesOnlyWhatFitsWhole) {
  char buffer[4];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_TRUE(pda::copyWhole(buffer, sizeof buffer, "abc"));
  EXPECT_STREQ(buffer, "abc");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(pda::copyWhole(buffer, sizeof buffer, "abcd"));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[1], 'x');
  EXPECT_TRUE(pda::copyWhole(buffer, sizeof buffer, nullptr));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(pda::copyWhole(buffer, 0, "a"));
  EXPECT_FALSE(pda::copyWhole(nullptr, 4, "a"));
  // Overlapping source and destination.
  char overlap[8] = "abcdef";
  EXPECT_TRUE(pda::copyWhole(overlap, sizeof overlap, overlap + 2));
  EXPECT_STREQ(overlap, "cdef");
}

TEST(CaseInsensitive, EqualsAndPrefixes) {
  EXPECT_TRUE(pda::ciEquals("InstallLevel", "INSTALLLEVEL"));
  EXPECT_FALSE(pda::ciEquals("Install", "InstallLevel"));
  EXPECT_TRUE(pda::ciEquals(nullptr, ""));
  EXPECT_LT(pda::ciCompare("a", "B"), 0);
  EXPECT_GT(pda::ciCompare("\xE9", "z"), 0);
  EXPECT_TRUE(pda::ciStartsWith("GPIB0::INSTR", "gpib"));
  EXPECT_TRUE(pda::ciStartsWith("abc", ""));
  EXPECT_FALSE(pda::ciStartsWith("gp", "gpib"));
  EXPECT_FALSE(pda::ciStartsWith(nullptr, "a"));
}

TEST(SqlLiteral, DoublesEveryQuote) {
  EXPECT_EQ(pda::sqlLiteral("plain"), "plain");
  EXPECT_EQ(pda::sqlLiteral("it's"), "it''s");
  EXPECT_EQ(pda::sqlLiteral("''"), "''''");
  EXPECT_EQ(pda::sqlLiteral("x' OR '1'='1"), "x'' OR ''1''=''1");
  EXPECT_EQ(pda::sqlLiteral(nullptr), "");
}

TEST(Format, HasNoLengthLimit) {
  const std::string big(10000, 'z');
  EXPECT_EQ(pda::format("%s-%d", big.c_str(), 7), big + "-7");
  EXPECT_EQ(pda::format("%s", ""), "");
}

TEST(BuildPath, InsertsOneSeparatorAndNeverTruncates) {
  char out[16];
  ASSERT_TRUE(pda::buildPath(out, sizeof out, ".", "bin/x"));
  EXPECT_STREQ(out, "./bin/x");
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "/opt/", "x"));
  EXPECT_STREQ(out, "/opt/x");
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "", "x"));
  EXPECT_STREQ(out, "x");
  // 15 characters fit a 16-byte buffer; 16 do not.
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "/abcdef", "hijklmn"));
  EXPECT_STREQ(out, "/abcdef/hijklmn");
  EXPECT_FALSE(pda::buildPath(out, sizeof out, "/abcdef", "hijklmno"));
  EXPECT_STREQ(out, "");
}

}  // namespace
