// The command line itself: usage errors, help, what ships beside the tool
// (README tours run as written, manual page, completion), and pda show on a
// machine without the suite.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <cstdlib>
#  include <string>

#  include "ToolRun.h"
#  include "pda/Version.h"

namespace {

using namespace tooltest;
using tooltest::pda;  // not the library's namespace

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

// Usage errors exit 2 with one line, naming the mistake and the help to read;
// numbers just past each range are refused; the reg refusals write nothing.
TEST(PdaCommandLine, UsageErrorsExitTwoWithOneLine) {
  pdatest::TempMachine machine;
  const std::pair<std::string, const char*> cases[] = {
      {"shwo", "unknown command 'shwo' for pda (did you mean 'show'? try pda --help)"},
      {"get", "NAME is required (try pda get --help)"},
      {"log --last -1", "takes a whole number from 0 to 2147483647, not '-1'"},
      {"reg query HKXX/SOFTWARE", "must start with HKLM"},
      {"", ""},
      {"set InstallLevel 3", ""},  // read-only
      {"set IOControlHidden maybe", ""},
      {"set VisaPxiImplementation 2147483648", ""},
      {"set VisaPxiImplementation -1", ""},  // would read back as 0
      {"chassis add SN --vendor V --model M --usb U --manf-id x --model-id 1", ""},
      {"reg add HKLM\\SOFTWARE\\Demo /v X /t REG_DWORD /d 4294967296", ""},
      {"reg add HKLM\\SOFTWARE\\Demo /v X /t REG_BINARY /d abc", ""},
      {"reg add HKLM\\SOFTWARE\\Demo /v X /t REG_FANCY /d 1", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    expectFailure(pda(machine, split(c.first)), 2, c.second);
  }
  EXPECT_EQ(regBytes("SOFTWARE\\Demo", "X"), "<none>");
  EXPECT_EQ(ok(machine, "--version"), std::string("pda ") + PDA_VERSION_STRING + "\n");
}

// The README's tour (every shell block, in order, stopping at the first
// failure) and its "Moving settings" section run as written.
TEST(PdaShippedFiles, TheReadmeRunsAsWritten) {
  pdatest::TempMachine machine;
  const std::string tour = readmeShell("## A five-minute tour");
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

// The manual page and the bash completion name every command.
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
  EXPECT_EQ(complete("pda reg ''"), "query add delete export import --help\n");
}

// pda show on a machine without the suite (or without its root directory):
// every built-in default with its origin, as text and as JSON.
TEST(PdaShow, FreshMachineShowsTheBuiltInDefaults) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "show");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, "DeviceIoDataSource") && contains(r.out, "not installed"));
  const nlohmann::json doc = json(machine, "show");
  EXPECT_EQ(doc["settings"]["values"].size(), 44u);
  expectLike(doc,
             R"({"dataSource": {"chosen": "DeviceIoDataSource", "installed": false,
      "requested": false, "registrySwitch": null},
    "settings": {"values": {"InstallLevel": {"value": 256, "origin": "default", "writable": false},
      "UseLegacyPxiInstrFormat": {"value": true, "kind": "bool"},
      "CurrentVersion": {"value": ")" PDA_VERSION_STRING
             R"(", "origin": "stored", "default": ""}}},
    "ioConfiguration": {"interfaces": [{"name": "INTF0", "values": {"VisaName": "GPIB0"}}, {}, {},
      {}]}})");
  setenv("PDA_ROOT", machine.path("does/not/exist").c_str(), 1);
  const Result missing = pda(machine, "show");
  ASSERT_EQ(missing.status, 0) << missing.err;
  EXPECT_TRUE(contains(missing.out, "16777216")) << missing.out;
}

}  // namespace

#endif  // !_WIN32
