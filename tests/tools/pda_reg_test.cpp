// pda reg end to end: every value type written and read back through the
// registry calls, overwrite protection, deletion; .reg files exported and
// imported byte for byte, bad files refused with their line, and a write that
// fails halfway putting the registry back.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include "ToolRun.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

const std::string kKey = "HKLM\\SOFTWARE\\Demo";
const char* const kRawKey = "SOFTWARE\\Demo";

std::string utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string(1, c) + std::string(1, '\0');
  return out;
}

// Each type's bytes as the registry calls read them, and reg query's forms.
TEST(PdaReg, AddsEveryTypeAndQueriesItBack) {
  pdatest::TempMachine machine;
  const struct {
    const char* add;  // after "reg add KEY"
    const char* name;
    unsigned int type;
    std::string bytes;
  } values[] = {
      {"/v|Text|/t|REG_SZ|/d|hello there", "Text", 1, std::string("hello there\0", 12)},
      {"/V Dword /T reg_dword /D 0xFFFFFFFF", "Dword", 4, "\xff\xff\xff\xff"},
      {"/v Qword /t REG_QWORD /d 4294967296", "Qword", 11, std::string("\0\0\0\0\x01\0\0\0", 8)},
      {"/v Blob /t REG_BINARY /d 00ff10", "Blob", 3, std::string("\x00\xff\x10", 3)},
      {"/v List /t REG_MULTI_SZ /d one\\0two", "List", 7, std::string("one\0two\0\0", 9)},
      // Data that looks like a switch is still data.
      {"/v Odd /d /f", "Odd", 1, std::string("/f\0", 3)},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.name);
    const std::string add = v.add;
    ok(machine, add.find('|') != std::string::npos ? "reg|add|" + kKey + "|" + add
                                                   : "reg add " + kKey + " " + add);
    unsigned int type = 0;
    EXPECT_EQ(regBytes(kRawKey, v.name, &type), v.bytes);
    EXPECT_EQ(type, v.type);
  }
  expectLike(json(machine, "reg query " + kKey),
             R"([{"values": [{}, {"data": "0xffffffff"},
      {"data": "0x100000000"}, {"data": "00FF10"}, {"data": "one\\0two"}, {}]}])");
}

// Overwrites need /f; a key is deleted with everything below it.
TEST(PdaReg, OverwritesOnlyWithForceAndDeletes) {
  pdatest::TempMachine machine;
  ok(machine, "reg add " + kKey + " /v N /t REG_DWORD /d 1");
  expectFailure(pda(machine, "reg add " + kKey + " /v N /t REG_DWORD /d 2"), 1);
  EXPECT_EQ(regBytes(kRawKey, "N"), std::string("\x01\0\0\0", 4));
  ok(machine, "reg add " + kKey + " /v N /t REG_DWORD /d 2 /f");
  ok(machine, "reg add HKLM/SOFTWARE/Demo/Child/Grandchild /v G /d x");  // forward slashes
  EXPECT_EQ(regBytes("SOFTWARE\\Demo\\Child\\Grandchild", "G"), std::string("x\0", 2));
  ok(machine, "reg delete " + kKey + " /v N /f");
  expectFailure(pda(machine, "reg delete " + kKey + " /v N /f"), 1);
  // Without /f it asks, and with no terminal to ask on it refuses.
  expectFailure(pda(machine, "reg delete " + kKey), 2);
  // A key goes with everything below it.
  ok(machine, "reg delete " + kKey + " /f");
  expectFailure(pda(machine, "reg query " + kKey), 1);
  EXPECT_EQ(regBytes("SOFTWARE\\Demo\\Child\\Grandchild", "G"), "<none>");
}

// Every type, odd sizes included, survives export, delete and import.
TEST(PdaRegFile, EveryValueSurvivesExportDeleteImport) {
  pdatest::TempMachine machine;
  const std::string sub = std::string(kRawKey) + "\\Sub key\\x";
  const struct {
    const char* key;
    const char* name;
    unsigned int type;
    std::string bytes;
  } values[] = {
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
  for (const auto& v : values) pdatest::regSetRaw(v.key, v.name, v.type, v.bytes);
  const std::string file = machine.path("demo.reg");
  ok(machine, {"reg", "export", kKey, file});
  const std::string bytes = readText(file);
  EXPECT_EQ(bytes.rfind(utf16("Windows Registry Editor Version 5.00\r\n"), 0), 0u);
  ok(machine, "reg delete " + kKey + " /f");
  ok(machine, {"reg", "import", file});
  for (const auto& v : values) {
    SCOPED_TRACE(v.name);
    unsigned int type = 0;
    EXPECT_EQ(regBytes(v.key, v.name, &type), v.bytes);
    EXPECT_EQ(type, v.type);
  }
  // Exported again: the same bytes.
  ok(machine, {"reg", "export", kKey, file});
  EXPECT_EQ(readText(file), bytes);
}

// REGEDIT4 files with deleted keys and values, continued lines and comments.
TEST(PdaRegFile, ReadsRegedit4WithDeletionsContinuationsAndComments) {
  pdatest::TempMachine machine;
  ok(machine, "reg add " + kKey + "\\Old\\Deeper /v x /d 1");
  ok(machine, "reg add " + kKey + " /v Gone /d 1");
  const std::string file = machine.path("old.reg");
  writeText(file,
            "REGEDIT4\r\n\r\n; a comment\r\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
            "\"Gone\"=-\r\n"
            "@=\"top\"\r\n"
            "\"Count\"=dword:0000FFFF\r\n"
            "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n"
            "\"Path\"=hex(2):25,41,25,00\r\n");
  ok(machine, {"reg", "import", file});
  // Old and all below it went; hex(2) is ANSI bytes as they stand.
  expectLike(json(machine, "reg query " + kKey + " /s"), R"([{"values": [
      {"name": "", "data": "top"}, {"data": "0xffff"}, {"data": "01020304"},
      {"type": "REG_EXPAND_SZ", "data": "%A%"}]}])");
}

// Bad files are refused with their line; a write that fails halfway is undone.
TEST(PdaRegFile, BadFilesAndHalfDoneWritesLeaveTheRegistryAsItWas) {
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\SOFTWARE\\Demo]\r\n"
      "\"First\"=\"written only if all is good\"\r\n";
  std::string utf16Odd = utf16(head + "\"A\"=\"b\"\r\n");
  utf16Odd.pop_back();
  const std::string noBom = utf16(head).substr(2);
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n", "line 1: not a .reg file"},
      {"truncated in a value", head + "\"B\"=hex:01,02,\\\r\n", "line 5: the file ends inside"},
      {"truncated UTF-16", utf16Odd, "no valid UTF-16 LE"},
      {"UTF-16 without its mark", noBom, "NUL bytes"},
      {"REGEDIT4 in UTF-16", utf16("REGEDIT4\r\n"), "REGEDIT4 file is ANSI"},
      {"invalid hex", head + "\"B\"=hex:01,0g\r\n", "line 5: invalid hex byte '0g'"},
      {"dword too long", head + "\"B\"=dword:123456789\r\n", "line 5: dword: takes 1 to 8"},
      {"value outside a key", "REGEDIT4\r\n\"A\"=\"b\"\r\n", "line 2: a value outside a key"},
  };
  pdatest::TempMachine machine;
  ok(machine, "reg add " + kKey + " /v Kept /d old");
  ok(machine, "reg add " + kKey + "\\Doomed /v x /d 1");
  // A file stands where the last key's folder of the half-done write goes.
  writeText(machine.path("registry/HKLM/SOFTWARE/Demo/Blocked"), "");
  const std::string before = snapshot(machine);
  const std::string file = machine.path("bad.reg");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(file, c.bytes);
    const std::string err = expectFailure(pda(machine, {"reg", "import", file}), 1);
    EXPECT_TRUE(contains(err, c.why) && contains(err, "nothing was written")) << err;
  }
  writeText(file,
            "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Kept\"="
            "\"new\"\r\n\"Added\"=\"1\"\r\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Doomed]\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fresh\\Key]\r\n\"a\"=\"b\"\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Blocked]\r\n\"a\"=\"b\"\r\n");
  expectFailure(pda(machine, {"reg", "import", file}), 1, "put back as it was");
  EXPECT_EQ(snapshot(machine), before);
}

}  // namespace

#endif
