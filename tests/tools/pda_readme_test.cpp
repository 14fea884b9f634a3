// The README's "Moving settings" section, run as written: its shell block in
// a shell with pda on the path, on a machine of its own.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>

#  include "ToolRun.h"

namespace {

// The first ```sh block after the heading.
std::string shellBlock(const std::string& heading) {
  std::ifstream in(std::string(PDA_SOURCE_DIR) + "/README.md");
  std::string line;
  std::string block;
  bool inSection = false;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (!inSection) {
      inSection = line == heading;
    } else if (!inBlock) {
      inBlock = line == "```sh";
    } else if (line == "```") {
      return block;
    } else {
      block += line + "\n";
    }
  }
  return block;
}

TEST(PdaReadme, MovingSettingsRunsAsWritten) {
  pdatest::TempMachine machine;
  const std::string script = shellBlock("## Moving settings");
  ASSERT_NE(script.find("pda export"), std::string::npos) << script;
  std::ofstream(machine.path("moving.sh")) << "set -e\n" << script;
  std::string tool = PDA_TOOL_PATH;
  const std::string dir = tool.substr(0, tool.rfind('/'));
  std::string out;
  const int status =
      pdatest::run("cd " + tooltest::quote(machine.root()) + " && PATH=" + tooltest::quote(dir) +
                       ":\"$PATH\" bash moving.sh 2>&1",
                   &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("(dry run: nothing written)"), std::string::npos) << out;
  EXPECT_NE(out.find("\ntrue\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nGPIB0::22::INSTR\n"), std::string::npos) << out;
}

}  // namespace

#endif
