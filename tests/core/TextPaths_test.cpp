// The small text and path helpers every store relies on.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/Paths.h"
#include "core/Text.h"

namespace {

TEST(SqlLiteral, DoublesEveryQuote) {
  EXPECT_EQ(pda::sqlLiteral("plain"), "plain");
  EXPECT_EQ(pda::sqlLiteral("it's"), "it''s");
  EXPECT_EQ(pda::sqlLiteral("''"), "''''");
  EXPECT_EQ(pda::sqlLiteral("x' OR '1'='1"), "x'' OR ''1''=''1");
  EXPECT_EQ(pda::sqlLiteral(nullptr), "");
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
