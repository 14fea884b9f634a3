// The small text and path helpers every store relies on.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/Text.h"
#include "core/Paths.h"
#include "platform/platform.h"

namespace {

TEST(SqlLiteral, DoublesEveryQuote) {
  EXPECT_EQ(pda::sqlLiteral("plain"), "plain");
  EXPECT_EQ(pda::sqlLiteral("x' OR '1'='1"), "x'' OR ''1''=''1");
  EXPECT_EQ(pda::sqlLiteral(nullptr), "");
}

TEST(BuildPath, InsertsOneSeparatorAndNeverTruncates) {
  // The platform's separator: "\\" on Windows, "/" elsewhere.
  const std::string sep = PDA_PATH_SEP;
  char out[16];
  ASSERT_TRUE(pda::buildPath(out, sizeof out, ".", "bin"));
  EXPECT_EQ(std::string(out), "." + sep + "bin");
  ASSERT_TRUE(pda::buildPath(out, sizeof out, ("x" + sep).c_str(), "y"));
  EXPECT_EQ(std::string(out), "x" + sep + "y") << "a directory that ends with one gets no second";
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "/opt/", "x"));
  EXPECT_STREQ(out, "/opt/x") << "nor does one that ends with a slash, on every platform";
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "", "x"));
  EXPECT_STREQ(out, "x");
  // 15 characters fit a 16-byte buffer; 16 do not.
  ASSERT_TRUE(pda::buildPath(out, sizeof out, "/abcdef", "hijklmn"));
  EXPECT_EQ(std::string(out), "/abcdef" + sep + "hijklmn");
  EXPECT_FALSE(pda::buildPath(out, sizeof out, "/abcdef", "hijklmno"));
  EXPECT_STREQ(out, "");
}

}  // namespace
