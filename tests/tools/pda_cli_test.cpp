// The command line itself: usage errors, help, what ships beside the tool
// (README tours run as written, manual page, completion), and pda show on a
// machine without the suite.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <cstdlib>
#  include <sstream>
#  include <string>
#  include <vector>

#  include "ToolRun.h"
#  include "pda/Version.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The row of the settings table for name, split into words.
std::vector<std::string> settingRow(const std::string& out, const std::string& name) {
  for (const std::string& line : lines(out))
    if (!words(line).empty() && words(line)[0] == name) return words(line);
  return {};
}

// Every ```sh block of the README section that starts with heading.
std::string readmeShell(const std::string& heading) {
  const std::string readme = readText(std::string(PDA_SOURCE_DIR) + "/README.md");
  const std::size_t start = readme.find("\n" + heading);
  const std::string part = readme.substr(start, readme.find("\n## ", start + 1) - start);
  std::string script;
  for (std::size_t at = part.find("```sh\n"); at != std::string::npos;
       at = part.find("```sh\n", at)) {
    at += 6;
    script += part.substr(at, part.find("```", at) - at);
  }
  return script;
}

// Usage errors exit 2 with one line, naming the mistake and the help to read.
// The reg refusals write nothing.
TEST(PdaCommandLine, UsageErrorsExitTwoWithOneLine) {
  pdatest::TempMachine machine;
  struct Case {
    Args args;
    const char* message;
  };
  const Case cases[] = {
      {{"shwo"}, "unknown command 'shwo' for pda (did you mean 'show'? try pda --help)"},
      {{"alias", "lsit"}, "did you mean 'list'? try pda alias --help"},
      {{"frobnicate"}, "unknown command 'frobnicate' for pda (try pda --help)"},
      {{"get"}, "NAME is required (try pda get --help)"},
      {split("log --last -1"), "takes a whole number from 0 to 2147483647, not '-1'"},
      {split("reg query HKLMSOFTWARETessaro"), "quote it in the shell"},
      {split("reg query HKXX/SOFTWARE"), "must start with HKLM"},
  };
  const std::string demo = "reg add HKLM\\SOFTWARE\\Demo /v X ";
  std::vector<Case> all(std::begin(cases), std::end(cases));
  all.push_back({{}, ""});
  for (const std::string& bad : std::vector<std::string>{
           "get NoSuchSetting", "set InstallLevel 3" /* read-only */, "set IOControlHidden maybe",
           "set IOControlHidden", "set VisaPxiImplementation 2147483648",
           "set VisaPxiImplementation 12x",
           // A negative number would read back as 0.
           "set VisaPxiImplementation -1", "set QuillonVisaPresent -1",
           "set QuillonVisaPresent 2147483648", "show --bogus", "show --source floppy", "alias",
           "chassis add SN", "chassis add SN --vendor V --model M --usb U --manf-id x --model-id 1",
           "usage add tape p t", "usage add c only-one", "usage add session t many time",
           "log --type fatal", demo + "/t REG_DWORD /d 12x", demo + "/t REG_DWORD /d 4294967296",
           demo + "/t REG_DWORD /d -1", demo + "/t REG_QWORD /d 18446744073709551616",
           demo + "/t REG_BINARY /d abc", demo + "/t REG_BINARY /d zz",
           demo + "/t REG_MULTI_SZ /d a\\0\\0b", demo + "/t REG_FANCY /d 1",
           "reg add HKXX\\SOFTWARE\\Demo /v X /d 1", "reg add HKLM\\SOFTWARE\\Demo /v", "reg query",
           "reg"})
    all.push_back({split(bad), ""});
  for (const Case& c : all) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    expectFailure(pda(machine, c.args), 2, c.message);
  }
  EXPECT_EQ(regBytes("SOFTWARE\\Demo", "X"), "<none>");
  EXPECT_EQ(ok(machine, "--version"), std::string("pda ") + PDA_VERSION_STRING + "\n");
  EXPECT_TRUE(contains(ok(machine, "--help"), "Usage"));
  const std::string show = ok(machine, "show --help");
  EXPECT_TRUE(contains(show, "--source") && contains(show, "--json")) << show;
}

// Every command has help with examples; those of reg run as pasted into a
// shell.
TEST(PdaCommandLine, HelpHasExamplesThatRunAsPasted) {
  pdatest::TempMachine machine;
  ok(machine, "init");
  int examples = 0;
  for (const std::string& command :
       split("init,doctor,unset,visa|unset,show,get,set,reg|query,reg|add,reg|delete,alias|resolve,"
             "alias|list,visa|get,visa|set,visa|log-mode,favorite,chassis|add,chassis|list,"
             "chassis|remove,usage|add,usage|show,log",
             ',')) {
    SCOPED_TRACE(command);
    const std::string help = ok(machine, command + "|--help");
    EXPECT_TRUE(contains(help, "Example")) << help;
    if (command.rfind("reg|", 0) != 0) continue;
    for (const std::string& line : lines(help)) {
      if (line.rfind("  pda ", 0) != 0) continue;
      SCOPED_TRACE(line);
      std::string out;
      EXPECT_EQ(
          pdatest::run("PATH=" + quote(toolDir()) + ":$PATH " + line.substr(2) + " 2>&1 </dev/null",
                       &out),
          0)
          << out;
      ++examples;
    }
  }
  EXPECT_GE(examples, 6);
}

// Keys take forward slashes, and columns stay aligned for UTF-8 text.
TEST(PdaCommandLine, ForwardSlashesAndUtf8Columns) {
  pdatest::TempMachine machine;
  ok(machine, "reg add HKLM/SOFTWARE/Demo /v Größe /d 1");
  ok(machine, "reg add HKLM\\SOFTWARE\\Demo /v Zone /d 2");
  const std::string out = ok(machine, "reg query hklm/software/demo");
  std::vector<std::size_t> typeColumns;
  for (const std::string& line : lines(out)) {
    const std::size_t at = line.find("REG_SZ");
    if (at == std::string::npos) continue;
    std::size_t column = 0;  // in characters, not bytes
    for (std::size_t i = 0; i < at; ++i)
      column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 ? 1 : 0;
    typeColumns.push_back(column);
  }
  ASSERT_EQ(typeColumns.size(), 2u) << out;
  EXPECT_EQ(typeColumns[0], typeColumns[1]) << out;
}

// The README's tour (every shell block, in order, stopping at the first
// failure) and its "Moving settings" section run as written.
TEST(PdaShippedFiles, TheReadmeRunsAsWritten) {
  pdatest::TempMachine machine;
  const std::string tour = readmeShell("## A five-minute tour");
  ASSERT_GT(std::count(tour.begin(), tour.end(), '\n'), 20);
  for (const char* part : {"pda doctor", "pda unset", "ConfigDataByIdKey"})
    EXPECT_TRUE(contains(tour, part)) << "the tour does not show " << part;
  std::string out;
  EXPECT_EQ(runScript(machine, "set -e\ntrap 'rm -rf \"$PDA_ROOT\"' EXIT\n" + tour, &out), 0)
      << out;
  EXPECT_FALSE(contains(out, "FAIL")) << out;

  pdatest::TempMachine moving;
  const std::string script = readmeShell("## Moving settings");
  ASSERT_TRUE(contains(script, "pda export")) << script;
  EXPECT_EQ(runScript(moving, "set -e\n" + script, &out), 0) << out;
  for (const char* part : {"(dry run: nothing written)", "\ntrue\n", "\nGPIB0::22::INSTR\n"})
    EXPECT_TRUE(contains(out, part)) << part << " not in:\n" << out;
}

TEST(PdaShippedFiles, ManualPageAndCompletionCoverEveryCommand) {
  pdatest::TempMachine machine;
  const std::string page = readText(toolDir() + "/pda.1");
  ASSERT_FALSE(page.empty()) << "no manual page beside the tool (help2man missing?)";
  const std::string completion =
      std::string(PDA_SOURCE_DIR) + "/tools/pda/share/pda.bash-completion";
  // Completes as bash would: COMP_WORDS is the line up to the cursor.
  auto complete = [&](const std::string& words) {
    std::string out;
    pdatest::run(
        "PATH=" + quote(toolDir()) + ":$PATH bash -c " +
            quote("source " + quote(completion) + "; COMP_WORDS=(" + words +
                  "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pda; " + "echo \"${COMPREPLY[*]}\""),
        &out);
    return out;
  };
  const std::string all = " " + complete("pda ''") + " ";
  for (const std::string& command : split("init doctor show get set unset alias visa favorite "
                                          "chassis usage reg log export import copy diff config "
                                          "sorrel watch")) {
    SCOPED_TRACE(command);
    EXPECT_TRUE(contains(page, ".SS \"pda " + command));
    EXPECT_TRUE(contains(all, " " + command + " ")) << all;
  }
  EXPECT_EQ(complete("pda re"), "reg\n");
  EXPECT_EQ(complete("pda reg ''"), "query add delete export import --help\n");
  EXPECT_EQ(complete("pda doctor --f"), "--fix\n");
  EXPECT_EQ(complete("pda get X --source s"), "sqlite\n");
}

// pda show on a machine without the suite: the built-in defaults in aligned
// columns, and the same facts in JSON; a missing root directory too.
TEST(PdaShow, FreshMachineShowsTheBuiltInDefaults) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "show");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, "DeviceIoDataSource") && contains(r.out, "not installed"));
  EXPECT_EQ(settingRow(r.out, "InstallLevel"), split("InstallLevel 256 default 256 read-only"));
  EXPECT_EQ(settingRow(r.out, "Vantrel488Warning"),
            split("Vantrel488Warning 99 default 99 read-write"));
  EXPECT_EQ(settingRow(r.out, "CurrentVersion").at(1), PDA_VERSION_STRING);
  EXPECT_EQ(settingRow(r.out, "CurrentVersion").at(2), "stored");
  EXPECT_EQ(settingRow(r.out, "DmcLoggingLevel").at(1), "OFF");
  // The interfaces in name order, each followed by its values.
  std::vector<std::string> interfaces;
  for (const std::string& line : lines(r.out))
    if (contains(line, "(Interface)")) interfaces.push_back(words(line)[0]);
  EXPECT_EQ(interfaces, split("INTF0 INTF297 INTF298 LAN_SERVER"));
  EXPECT_TRUE(contains(r.out, "VisaName             GPIB0"));
  // The settings table's value column is aligned.
  std::size_t valueColumn = std::string::npos;
  int rows = 0;
  for (const std::string& line : lines(r.out)) {
    if (contains(line, "NAME") && contains(line, "VALUE")) {
      valueColumn = line.find("VALUE");
      continue;
    }
    if (valueColumn == std::string::npos || line.empty()) continue;
    if (line[0] != ' ') break;  // the next section
    std::vector<std::string> w = words(line);
    if (w.size() < 5) continue;  // an empty value leaves a gap
    EXPECT_EQ(line.find(w[1], w[0].size() + 2), valueColumn) << line;
    EXPECT_NE(line.back(), ' ');
    ++rows;
  }
  EXPECT_GT(rows, 30);

  const nlohmann::json doc = json(machine, "show");
  EXPECT_EQ(doc["version"], PDA_VERSION_STRING);
  EXPECT_EQ(doc["settings"]["values"].size(), 44u);
  EXPECT_EQ(doc["settings"]["values"]["CurrentVersion"]["value"], PDA_VERSION_STRING);
  EXPECT_FALSE(doc["ioConfiguration"]["interfaces"][0]["values"].contains("FriendlyName"));
  expectLike(doc, R"({"dataSource": {"chosen": "DeviceIoDataSource", "installed": false,
      "requested": false, "registrySwitch": null},
    "settings": {"values": {
      "InstallLevel": {"value": 256, "origin": "default", "writable": false},
      "UseLegacyPxiInstrFormat": {"value": true, "kind": "bool"},
      "QuillonVisaPresent": {"kind": "dword"}, "DmcLoggingLevel": {"value": "OFF"},
      "CurrentVersion": {"origin": "stored", "default": ""}}},
    "ioConfiguration": {"interfaces": [
      {"name": "INTF0", "recordType": "Interface", "values": {"VisaName": "GPIB0"}}, {}, {},
      {"name": "LAN_SERVER", "values": {"Name": "LAN_Server"}}]}})");

  setenv("PDA_ROOT", machine.path("does/not/exist").c_str(), 1);
  const Result missing = pda(machine, "show");
  setenv("PDA_ROOT", machine.root().c_str(), 1);
  ASSERT_EQ(missing.status, 0) << missing.err;
  EXPECT_TRUE(contains(missing.out, "DeviceIoDataSource"));
  EXPECT_EQ(settingRow(missing.out, "PxiMapSizeDefault").at(1), "16777216");
}

// --source overrides the default store without deciding (or publishing) it;
// the registry switch then makes the choice, and show explains it.
TEST(PdaShow, SourceOptionAndTheRegistrySwitch) {
  pdatest::TempMachine machine;
  machine.installSuite();
  expectLike(json(machine, "show --source defaults")["dataSource"],
             R"({"chosen": "DeviceIoDataSource", "requested": true, "published": null})");
  pdatest::regSetString(kRawSwitchKey, "_UseRegistryForPersistedData", "TRUE");
  const nlohmann::json doc = json(machine, "show")["dataSource"];
  expectLike(doc, R"({"chosen": "RegistryDataSource", "installed": true,
      "registrySwitch": {"type": "REG_SZ", "value": "TRUE"}, "published": {"value": "Registry"}})");
  EXPECT_TRUE(contains(doc["reason"].get<std::string>(), "registry"));
}

}  // namespace

#endif  // !_WIN32
