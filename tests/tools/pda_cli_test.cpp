// The command line itself: the help examples run as pasted into a shell,
// mistyped commands are named with their closest match, usage errors point
// at the sub-command's own help, keys take forward slashes, and columns stay
// aligned for UTF-8 text.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sstream>
#  include <string>
#  include <vector>

#  include "ToolRun.h"
#  include "pda/Version.h"

namespace {

using tooltest::expectFailure;
using tooltest::ok;
using tooltest::pda;

TEST(PdaCommandLine, HelpExamplesRunAsPastedIntoAShell) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string tool = PDA_TOOL_PATH;
  const std::string dir = tool.substr(0, tool.rfind('/'));
  int examples = 0;
  for (const char* command : {"add", "query", "delete"}) {
    std::stringstream help(ok(machine, {"reg", command, "--help"}));
    for (std::string line; std::getline(help, line);) {
      if (line.rfind("  pda ", 0) != 0) continue;
      SCOPED_TRACE(line);
      std::string out;
      EXPECT_EQ(pdatest::run("PATH=" + tooltest::quote(dir) + ":$PATH " + line.substr(2) +
                                 " 2>&1 </dev/null",
                             &out),
                0)
          << out;
      ++examples;
    }
  }
  EXPECT_GE(examples, 6);
}

TEST(PdaCommandLine, UsageErrorsNameTheMistakeAndTheHelpToRead) {
  pdatest::TempMachine machine;
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"shwo"}, "unknown command 'shwo' for pda (did you mean 'show'? try pda --help)"},
      {{"alias", "lsit"}, "did you mean 'list'? try pda alias --help"},
      {{"frobnicate"}, "unknown command 'frobnicate' for pda (try pda --help)"},
      {{"get"}, "NAME is required (try pda get --help)"},
      {{"log", "--last", "-1"}, "takes a whole number from 0 to 2147483647, not '-1'"},
      {{"reg", "query", "HKLMSOFTWARETessaro"}, "quote it in the shell"},
      {{"reg", "query", "HKXX/SOFTWARE"}, "must start with HKLM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const tooltest::Result r = pda(machine, c.args);
    expectFailure(r, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ok(machine, {"--version"}), std::string("pda ") + PDA_VERSION_STRING + "\n");
}

TEST(PdaCommandLine, ForwardSlashesAndUtf8Columns) {
  pdatest::TempMachine machine;
  ok(machine, {"reg", "add", "HKLM/SOFTWARE/Demo", "/v", "Größe", "/d", "1"});
  ok(machine, {"reg", "add", "HKLM\\SOFTWARE\\Demo", "/v", "Zone", "/d", "2"});
  const std::string out = ok(machine, {"reg", "query", "hklm/software/demo"});
  std::stringstream lines(out);
  std::vector<std::size_t> typeColumns;
  for (std::string line; std::getline(lines, line);) {
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

}  // namespace

#endif  // !_WIN32
