#pragma once

// Runs the built pda binary through a POSIX shell against the emulated
// machine of the current test (PDA_ROOT is inherited from the test process).

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <sys/stat.h>

#  include <fstream>
#  include <nlohmann/json.hpp>
#  include <sstream>
#  include <string>
#  include <utility>
#  include <vector>

#  include "support/Fixtures.h"

namespace tooltest {

using Args = std::vector<std::string>;

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

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline std::string toolDir() {
  const std::string tool = PDA_TOOL_PATH;
  return tool.substr(0, tool.rfind('/'));
}

// A command line as one text: split on sep, by default on '|' when the text
// holds one, else on blanks.
inline Args split(const std::string& line, char sep = 0) {
  if (!sep) sep = line.find('|') != std::string::npos ? '|' : ' ';
  Args out;
  std::stringstream in(line);
  for (std::string a; std::getline(in, a, sep);)
    if (!a.empty() || sep != ' ') out.push_back(a);
  return out;
}

// A command line: the arguments as given, or one text (see split).
struct Line : Args {
  using Args::Args;
  Line(Args args) : Args(std::move(args)) {}
  Line(const std::string& text) : Args(split(text)) {}
  Line(const char* text) : Args(split(text)) {}
};

// args are passed one by one, each quoted for the shell; prefix (shell text:
// assignments, "cd DIR &&", a program that runs pda as another user) comes
// before the tool's path.
inline Result pdaWith(const pdatest::TempMachine& machine, const std::string& prefix,
                      const Line& args) {
  std::string command = prefix + " " + quote(PDA_TOOL_PATH);
  for (const std::string& a : args) command += " " + quote(a);
  const std::string errFile = machine.path("tool.stderr");
  Result r;
  r.status = pdatest::run(command + " 2>" + quote(errFile) + " </dev/null", &r.out);
  r.err = readText(errFile);
  return r;
}

inline Result pda(const pdatest::TempMachine& machine, const Line& args) {
  return pdaWith(machine, "", args);
}

// Runs a command that must succeed and returns its standard output.
inline std::string ok(const pdatest::TempMachine& machine, const Line& args) {
  const Result r = pda(machine, args);
  EXPECT_EQ(r.status, 0) << "pda " << (args.empty() ? "" : args[0]) << ": " << r.err << r.out;
  return r.out;
}

inline nlohmann::json json(const pdatest::TempMachine& machine, Line args) {
  args.push_back("--json");
  const std::string out = ok(machine, args);
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << out;
  return doc;
}

// A failure: the given status, nothing on standard output, exactly one line
// on standard error starting with "pda: " and holding part; returns the line.
inline std::string expectFailure(const Result& r, int status, const std::string& part = "") {
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("pda: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_TRUE(contains(r.err, part)) << part;
  return r.err;
}

// got holds every member that want (JSON text) names, with the same value;
// arrays must have want's length; a null member may also be missing.
inline void expectLike(const nlohmann::json& got, const nlohmann::json& want,
                       const std::string& at = "") {
  if (want.is_object() && got.is_object()) {
    for (const auto& [key, value] : want.items()) {
      EXPECT_TRUE(got.contains(key) || value.is_null()) << at << "/" << key << " missing";
      if (got.contains(key)) expectLike(got[key], value, at + "/" + key);
    }
  } else if (want.is_array() && got.is_array() && got.size() == want.size()) {
    for (std::size_t i = 0; i < want.size(); ++i)
      expectLike(got[i], want[i], at + "/" + std::to_string(i));
  } else {
    EXPECT_EQ(got, want) << "at " << at;
  }
}
inline void expectLike(const nlohmann::json& got, const char* want) {
  expectLike(got, nlohmann::json::parse(want));
}

// The configuration database that pda init lays out, queried by the client.
inline std::string stored(const pdatest::TempMachine& machine, const std::string& sql) {
  return pdatest::sqlite(machine.dataDir() + "Quillon.db", sql);
}

// A registry value's bytes, or "<none>".
inline std::string regBytes(const std::string& key, const std::string& name,
                            unsigned int* type = nullptr) {
  unsigned int t = 0;
  std::string bytes;
  if (!pdatest::regGet(key, name, &t, &bytes)) return "<none>";
  if (type) *type = t;
  return bytes;
}

// Everything both stores hold on disk: every registry file with its digest
// and the database's dump.
inline std::string snapshot(const pdatest::TempMachine& machine) {
  std::string out;
  pdatest::run("cd " + quote(machine.root()) +
                   " && find registry | sort && find registry -type f -exec md5sum {} + | sort",
               &out);
  const std::string db = machine.dataDir() + "Quillon.db";
  return exists(db) ? out + pdatest::sqlite(db, ".dump") : out;
}

// Runs a shell script with pda on the path; its status, its output in out.
inline int runScript(const pdatest::TempMachine& machine, const std::string& script,
                     std::string* out) {
  std::ofstream(machine.path("script.sh")) << script;
  return pdatest::run("cd " + quote(machine.root()) + " && PATH=" + quote(toolDir()) +
                          ":\"$PATH\" bash -x script.sh 2>&1 </dev/null",
                      out);
}

inline const char* const kSwitchKey = "HKLM\\SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
inline const std::string kSettingsKey = "HKLM\\SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
inline const char* const kRawSettingsKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
inline const char* const kRawSwitchKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

}  // namespace tooltest

#endif
