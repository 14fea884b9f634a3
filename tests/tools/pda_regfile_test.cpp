// pda reg export and import: every value type (and data only hex can carry)
// survives export, delete, import byte for byte; REGEDIT4 files with
// deletions and continued lines; bad files refused with their line and
// nothing written; a write that fails halfway puts the registry back. Wine's
// own reg.exe reads and writes these files in scripts/test-windows.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::ok;
using tooltest::pda;

const char* const kKey = "HKLM\\SOFTWARE\\Demo";
const char* const kRawKey = "SOFTWARE\\Demo";

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string(1, c) + std::string(1, '\0');
  return out;
}

// The registry's files with their digests: any change shows.
std::string snapshot(const pdatest::TempMachine& machine) {
  std::string out;
  pdatest::run("cd " + tooltest::quote(machine.root()) +
                   " && find registry | sort && find registry -type f -exec md5sum {} + | sort",
               &out);
  return out;
}

struct Raw {
  const char* key;
  const char* name;
  unsigned int type;
  std::string bytes;
};

TEST(PdaRegFile, EveryValueSurvivesExportDeleteImport) {
  pdatest::TempMachine machine;
  const std::string sub = std::string(kRawKey) + "\\Sub key\\x";
  const Raw values[] = {
      {kRawKey, "Text", 1, std::string("a \"quoted\" C:\\path\nline \xc3\xa9\0", 27)},
      {kRawKey, "", 1, std::string("default\0", 8)},
      {kRawKey, "No terminator", 1, "abc"},
      {kRawKey, "NUL inside", 1, std::string("a\0b\0", 4)},
      {kRawKey, "Count", 4, std::string("\x2a\0\0\x80", 4)},
      {kRawKey, "Short dword", 4, "\x01"},
      {sub.c_str(), "Big", 11, std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8)},
      {sub.c_str(), "Blob", 3, std::string(100, '\xab')},
      {sub.c_str(), "Empty blob", 3, ""},
      {sub.c_str(), "Path", 2, std::string("%SystemRoot%\\y\0", 15)},
      {sub.c_str(), "List", 7, std::string("one\0two \xe2\x82\xac\0\0", 14)},
      {sub.c_str(), "None", 0, "\x01\x02"},
      {sub.c_str(), "Odd type", 0x20, "xyz"},
  };
  for (const Raw& v : values) pdatest::regSetRaw(v.key, v.name, v.type, v.bytes);
  const std::string file = machine.path("demo.reg");
  ok(machine, {"reg", "export", kKey, file});
  const std::string bytes = readBytes(file);
  EXPECT_EQ(bytes.rfind(utf16("Windows Registry Editor Version 5.00\r\n"), 0), 0u);

  const std::string before = ok(machine, {"reg", "query", kKey, "/s"});
  ok(machine, {"reg", "delete", kKey, "/f"});
  ok(machine, {"reg", "import", file});
  EXPECT_EQ(ok(machine, {"reg", "query", kKey, "/s"}), before);
  for (const Raw& v : values) {
    SCOPED_TRACE(v.name);
    unsigned int type = 0;
    std::string got;
    ASSERT_TRUE(pdatest::regGet(v.key, v.name, &type, &got));
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(got, v.bytes);
  }
  // Exported again: the same bytes.
  ok(machine, {"reg", "export", kKey, file});
  EXPECT_EQ(readBytes(file), bytes);
}

TEST(PdaRegFile, ReadsRegedit4WithDeletionsContinuationsAndComments) {
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", std::string(kKey) + "\\Old\\Deeper", "/v", "x", "/d", "1"});
  ok(machine, {"reg", "add", kKey, "/v", "Gone", "/d", "1"});
  const std::string file = machine.path("old.reg");
  writeBytes(file,
             "REGEDIT4\r\n\r\n; a comment\r\n"
             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old]\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
             "\"Gone\"=-\r\n"
             "@=\"top\"\r\n"
             "\"Count\"=dword:0000FFFF\r\n"
             "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n"
             "\"Path\"=hex(2):25,41,25,00\r\n");
  ok(machine, {"reg", "import", file});
  const nlohmann::json keys = tooltest::json(machine, {"reg", "query", kKey, "/s"});
  ASSERT_EQ(keys.size(), 1u) << keys.dump();  // Old and all below it went
  const nlohmann::json& values = keys[0]["values"];
  ASSERT_EQ(values.size(), 4u) << values.dump();
  EXPECT_EQ(values[0]["name"], "");
  EXPECT_EQ(values[0]["data"], "top");
  EXPECT_EQ(values[1]["data"], "0xffff");
  EXPECT_EQ(values[2]["data"], "01020304");
  EXPECT_EQ(values[3]["type"], "REG_EXPAND_SZ");
  EXPECT_EQ(values[3]["data"], "%A%");  // ANSI bytes as they stand
}

struct BadFile {
  const char* name;
  std::string bytes;
  const char* why;
};

TEST(PdaRegFile, BadFilesAreRefusedAndNothingIsWritten) {
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\SOFTWARE\\Demo]\r\n"
      "\"First\"=\"written only if all is good\"\r\n";
  std::string utf16Odd = utf16(head + "\"A\"=\"b\"\r\n");
  utf16Odd.pop_back();
  std::string noBom = utf16(head).substr(2);
  const BadFile cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n", "line 1: not a .reg file"},
      {"truncated in a value", head + "\"B\"=hex:01,02,\\\r\n", "line 5: the file ends inside"},
      {"truncated string", head + "\"B\"=\"abc\r\n", "line 5: a string has no closing quote"},
      {"truncated UTF-16", utf16Odd, "no valid UTF-16 LE"},
      {"UTF-16 without its mark", noBom, "NUL bytes"},
      {"UTF-16 big-endian", "\xFE\xFF" + noBom, "big-endian"},
      {"REGEDIT4 in UTF-16", utf16("REGEDIT4\r\n"), "REGEDIT4 file is ANSI"},
      {"invalid hex", head + "\"B\"=hex:01,0g\r\n", "line 5: invalid hex byte '0g'"},
      {"unknown type", head + "\"B\"=word:1\r\n", "line 5: unknown type 'word'"},
      {"dword too long", head + "\"B\"=dword:123456789\r\n", "line 5: dword: takes 1 to 8"},
      {"hex text not UTF-16", head + "\"B\"=hex(1):41\r\n", "line 5: the text is no valid UTF-16"},
      {"another hive", head + "[HKEY_CURRENT_USER\\X]\r\n", "line 5: only keys of"},
      {"value outside a key", "REGEDIT4\r\n\"A\"=\"b\"\r\n", "line 2: a value outside a key"},
  };
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", kKey, "/v", "Kept", "/d", "1"});
  const std::string before = snapshot(machine);
  const std::string file = machine.path("bad.reg");
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.name);
    writeBytes(file, c.bytes);
    const tooltest::Result r = pda(machine, {"reg", "import", file});
    expectFailure(r, 1);
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  }
  EXPECT_EQ(snapshot(machine), before);
}

TEST(PdaRegFile, AWriteThatFailsHalfwayPutsTheRegistryBack) {
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", kKey, "/v", "Kept", "/d", "old"});
  ok(machine, {"reg", "add", std::string(kKey) + "\\Doomed", "/v", "x", "/d", "1"});
  // A file stands where the last key's folder would go.
  writeBytes(machine.path("registry/HKLM/SOFTWARE/Demo/Blocked"), "");
  const std::string before = snapshot(machine);
  const std::string file = machine.path("half.reg");
  writeBytes(
      file,
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Kept\"=\"new\"\r\n\"Added\"=\"1\"\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Doomed]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fresh\\Key]\r\n\"a\"=\"b\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Blocked]\r\n\"a\"=\"b\"\r\n");
  const tooltest::Result r = pda(machine, {"reg", "import", file});
  expectFailure(r, 1);
  EXPECT_NE(r.err.find("put back as it was"), std::string::npos) << r.err;
  EXPECT_EQ(snapshot(machine), before);
}

}  // namespace

#endif
