// pda reg end to end: every value type written with the slash switches and
// read back through the registry calls, overwrite protection, deletion, bad
// data refused before anything changes, and the store switch that makes
// `pda show` follow the registry.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::json;
using tooltest::ok;
using tooltest::pda;

const char* const kKey = "HKLM\\SOFTWARE\\Demo";
const char* const kRawKey = "SOFTWARE\\Demo";
// Where the registry store keeps the global settings.
const char* const kSettingsKey = "HKLM\\SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

std::string raw(const std::string& name, unsigned int* type) {
  std::string bytes;
  EXPECT_TRUE(pdatest::regGet(kRawKey, name, type, &bytes)) << name;
  return bytes;
}

TEST(PdaReg, AddsEveryTypeAndQueriesItBack) {
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", kKey, "/v", "Text", "/t", "REG_SZ", "/d", "hello there"});
  ok(machine, {"reg", "add", kKey, "/V", "Dword", "/T", "reg_dword", "/D", "0xFFFFFFFF"});
  ok(machine, {"reg", "add", kKey, "/v", "Qword", "/t", "REG_QWORD", "/d", "4294967296"});
  ok(machine, {"reg", "add", kKey, "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10"});
  ok(machine, {"reg", "add", kKey, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one\\0two"});
  // Data that looks like a switch or a negative number is still data.
  ok(machine, {"reg", "add", kKey, "/v", "Odd", "/d", "/f"});

  unsigned int type = 0;
  EXPECT_EQ(raw("Text", &type), std::string("hello there\0", 12));
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(raw("Dword", &type), std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(raw("Qword", &type), std::string("\0\0\0\0\x01\0\0\0", 8));
  EXPECT_EQ(type, 11u);
  EXPECT_EQ(raw("Blob", &type), std::string("\x00\xff\x10", 3));
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(raw("List", &type), std::string("one\0two\0\0", 9));
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(raw("Odd", &type), std::string("/f\0", 3));

  const nlohmann::json keys = json(machine, {"reg", "query", kKey});
  ASSERT_EQ(keys.size(), 1u);
  const nlohmann::json& values = keys[0]["values"];
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[1]["data"], "0xffffffff");
  EXPECT_EQ(values[2]["data"], "0x100000000");
  EXPECT_EQ(values[3]["data"], "00FF10");
  EXPECT_EQ(values[4]["data"], "one\\0two");
  EXPECT_EQ(json(machine, {"reg", "query", kKey, "/v", "text"})["data"], "hello there");

  const std::string text = ok(machine, {"reg", "query", kKey, "/v", "Blob"});
  EXPECT_NE(text.find("Blob  REG_BINARY  00FF10"), std::string::npos) << text;
}

TEST(PdaReg, OverwritesOnlyWithForceAndDeletes) {
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "1"});
  expectFailure(pda(machine, {"reg", "add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "2"}), 1);
  unsigned int type = 0;
  EXPECT_EQ(raw("N", &type), std::string("\x01\0\0\0", 4));
  ok(machine, {"reg", "add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "2", "/f"});
  EXPECT_EQ(raw("N", &type), std::string("\x02\0\0\0", 4));

  ok(machine, {"reg", "add", std::string(kKey) + "\\Child\\Grandchild", "/v", "G", "/d", "x"});
  ok(machine, {"reg", "delete", kKey, "/v", "N", "/f"});
  expectFailure(pda(machine, {"reg", "query", kKey, "/v", "N"}), 1);
  expectFailure(pda(machine, {"reg", "delete", kKey, "/v", "N", "/f"}), 1);
  // Without /f it asks, and with no terminal to ask on it refuses.
  expectFailure(pda(machine, {"reg", "delete", kKey}), 2);
  ok(machine, {"reg", "query", kKey});
  // A key goes with everything below it.
  ok(machine, {"reg", "delete", kKey, "/f"});
  expectFailure(pda(machine, {"reg", "query", kKey}), 1);
  EXPECT_FALSE(pdatest::regGet("SOFTWARE\\Demo\\Child\\Grandchild", "G", &type, nullptr));
}

TEST(PdaReg, RefusesBadInputWithoutWriting) {
  pdatest::TempMachine machine;
  const std::vector<std::vector<std::string>> bad = {
      {"reg", "add", kKey, "/v", "X", "/t", "REG_DWORD", "/d", "12x"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_DWORD", "/d", "4294967296"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_DWORD", "/d", "-1"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_QWORD", "/d", "18446744073709551616"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_BINARY", "/d", "abc"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_BINARY", "/d", "zz"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
      {"reg", "add", kKey, "/v", "X", "/t", "REG_FANCY", "/d", "1"},
      {"reg", "add", "HKXX\\SOFTWARE\\Demo", "/v", "X", "/d", "1"},
      {"reg", "add", kKey, "/v"},
      {"reg", "query"},
      {"reg"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args.size() > 8 ? args[8] : args.back());
    expectFailure(pda(machine, args), 2);
  }
  unsigned int type = 0;
  EXPECT_FALSE(pdatest::regGet(kRawKey, "X", &type, nullptr));
}

TEST(PdaReg, TheSwitchMakesShowFollowTheRegistry) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  EXPECT_EQ(json(machine, {"show"})["dataSource"]["chosen"], "SQLiteDataSource");

  ok(machine, {"reg", "add", tooltest::kSwitchKey, "/v", "_UseRegistryForPersistedData", "/t",
               "REG_DWORD", "/d", "1"});
  ok(machine, {"reg", "add", kSettingsKey, "/v", "WaitForIOReadyMilliseconds", "/t", "REG_DWORD",
               "/d", "1234"});
  nlohmann::json doc = json(machine, {"show"});
  EXPECT_EQ(doc["dataSource"]["chosen"], "RegistryDataSource");
  EXPECT_EQ(doc["settings"]["values"]["WaitForIOReadyMilliseconds"]["value"], 1234);
  EXPECT_EQ(doc["settings"]["values"]["WaitForIOReadyMilliseconds"]["origin"], "stored");

  // A written setting lands in the registry, not in the database.
  ok(machine, {"set", "AutoStartIOServer", "7"});
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(
      pdatest::regGet(std::string(kSettingsKey).substr(5), "AutoStartIOServer", &type, &bytes));
  EXPECT_EQ(bytes, std::string("\x07\0\0\0", 4));
  EXPECT_EQ(pdatest::sqlite(machine.dataDir() + "Quillon.db",
                            "SELECT COUNT(*) FROM KestInfo WHERE NAME='AutoStartIOServer';"),
            "0\n");

  // "False" as text switches back to the database.
  ok(machine, {"reg", "add", tooltest::kSwitchKey, "/v", "_UseRegistryForPersistedData", "/t",
               "REG_SZ", "/d", "False", "/f"});
  EXPECT_EQ(json(machine, {"show"})["dataSource"]["chosen"], "SQLiteDataSource");
}

}  // namespace

#endif
