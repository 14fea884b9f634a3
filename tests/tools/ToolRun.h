#pragma once

// Runs the built pda binary through a POSIX shell against the emulated
// machine of the current test (PDA_ROOT is inherited from the test process).

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>
#  include <nlohmann/json.hpp>
#  include <sstream>
#  include <string>
#  include <vector>

#  include "support/Fixtures.h"

namespace tooltest {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// args are passed one by one, each quoted for the shell; prefix (shell text:
// assignments, "cd DIR &&", a program that runs pda as another user) comes
// before the tool's path.
inline Result pdaWith(const pdatest::TempMachine& machine, const std::string& prefix,
                      const std::vector<std::string>& args) {
  std::string command = prefix + " " + quote(PDA_TOOL_PATH);
  for (const std::string& a : args) command += " " + quote(a);
  const std::string errFile = machine.path("tool.stderr");
  Result r;
  r.status = pdatest::run(command + " 2>" + quote(errFile) + " </dev/null", &r.out);
  std::ifstream f(errFile);
  std::stringstream text;
  text << f.rdbuf();
  r.err = text.str();
  return r;
}

inline Result pda(const pdatest::TempMachine& machine, const std::vector<std::string>& args) {
  return pdaWith(machine, "", args);
}

// Runs a command that must succeed and returns its standard output.
inline std::string ok(const pdatest::TempMachine& machine, const std::vector<std::string>& args) {
  const Result r = pda(machine, args);
  EXPECT_EQ(r.status, 0) << "pda " << (args.empty() ? "" : args[0]) << ": " << r.err << r.out;
  return r.out;
}

inline nlohmann::json json(const pdatest::TempMachine& machine, std::vector<std::string> args) {
  args.push_back("--json");
  const std::string out = ok(machine, args);
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << out;
  return doc;
}

// A failure: the given status, nothing on standard output, exactly one line
// on standard error starting with "pda: ".
inline void expectFailure(const Result& r, int status) {
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.rfind("pda: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

inline const char* const kSwitchKey = "HKLM\\SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

}  // namespace tooltest

#endif
