// What the tool ships beside itself, checked against the tool: the README
// tour runs as written (every command of its shell blocks, in order, on a
// machine of its own, stopping at the first failure), the manual page has
// every sub-command, and the bash completion completes them.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>
#  include <sstream>
#  include <string>

#  include "ToolRun.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string toolDir() {
  const std::string tool = PDA_TOOL_PATH;
  return tool.substr(0, tool.rfind('/'));
}

TEST(PdaReadme, TheTourRunsAsWritten) {
  pdatest::TempMachine machine;
  const std::string readme = readFile(std::string(PDA_SOURCE_DIR) + "/README.md");
  const std::size_t start = readme.find("## A five-minute tour");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = readme.find("\n## ", start + 1);
  const std::string tour = readme.substr(start, end - start);

  std::string script = "set -e\ntrap 'rm -rf \"$PDA_ROOT\"' EXIT\n";
  int commands = 0;
  for (std::size_t at = tour.find("```sh\n"); at != std::string::npos;
       at = tour.find("```sh\n", at)) {
    at += 6;
    const std::size_t close = tour.find("```", at);
    const std::string block = tour.substr(at, close - at);
    script += block;
    commands += static_cast<int>(std::count(block.begin(), block.end(), '\n'));
    at = close + 3;
  }
  ASSERT_GT(commands, 20);
  for (const char* part : {"pda doctor", "pda unset", "ConfigDataByIdKey"})
    EXPECT_NE(script.find(part), std::string::npos) << "the tour does not show " << part;
  std::ofstream(machine.path("tour.sh")) << script;
  std::string out;
  const int status = pdatest::run("PATH=" + tooltest::quote(toolDir()) + ":$PATH bash -x " +
                                      tooltest::quote(machine.path("tour.sh")) + " 2>&1 </dev/null",
                                  &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("FAIL"), std::string::npos) << out;
}

TEST(PdaShippedFiles, ManualPageAndCompletionCoverEveryCommand) {
  pdatest::TempMachine machine;
  const std::string page = readFile(toolDir() + "/pda.1");
  ASSERT_FALSE(page.empty()) << "no manual page beside the tool (help2man missing?)";
  const std::string completion =
      std::string(PDA_SOURCE_DIR) + "/tools/pda/share/pda.bash-completion";
  // Completes as bash would: COMP_WORDS is the line up to the cursor.
  auto complete = [&](const std::string& words) {
    std::string out;
    pdatest::run("PATH=" + tooltest::quote(toolDir()) + ":$PATH bash -c " +
                     tooltest::quote("source " + tooltest::quote(completion) + "; COMP_WORDS=(" +
                                     words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pda; " +
                                     "echo \"${COMPREPLY[*]}\""),
                 &out);
    return out;
  };
  for (const char* command :
       {"init",   "doctor",   "show",    "get",    "set",    "unset", "alias",
        "visa",   "favorite", "chassis", "usage",  "reg",    "log",   "export",
        "import", "copy",     "diff",    "config", "sorrel", "watch"}) {
    SCOPED_TRACE(command);
    EXPECT_NE(page.find(std::string(".SS \"pda ") + command), std::string::npos);
    EXPECT_NE((" " + complete(std::string("pda ''")) + " ").find(std::string(" ") + command + " "),
              std::string::npos);
  }
  EXPECT_EQ(complete("pda re"), "reg\n");
  EXPECT_EQ(complete("pda reg ''"), "query add delete export import --help\n");
  EXPECT_EQ(complete("pda doctor --f"), "--fix\n");
  EXPECT_EQ(complete("pda get X --source s"), "sqlite\n");
}

}  // namespace

#endif  // !_WIN32
