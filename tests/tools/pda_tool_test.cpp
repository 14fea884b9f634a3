// The pda tool end to end: the built binary run in a shell against the
// emulated machine of each test, its output, its JSON and its exit statuses.
// POSIX only: the runs go through a POSIX shell with an environment prefix.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <fstream>
#  include <nlohmann/json.hpp>
#  include <sstream>
#  include <string>
#  include <vector>

#  include "pda/Version.h"
#  include "support/Fixtures.h"

namespace {

const char* const kSwitchKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs pda with args (already quoted where needed) and an optional
// environment prefix such as "PDA_REGISTRY_READONLY=1".
Result pda(const pdatest::TempMachine& machine, const std::string& args,
           const std::string& env = "") {
  const std::string errFile = machine.path("pda.stderr");
  Result r;
  r.status = pdatest::run(env + (env.empty() ? "" : " ") + shellQuote(PDA_TOOL_PATH) + " " + args +
                              " 2>" + shellQuote(errFile),
                          &r.out);
  std::ifstream f(errFile);
  std::stringstream text;
  text << f.rdbuf();
  r.err = text.str();
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// The row of the settings table for name, split into words.
std::vector<std::string> settingRow(const std::string& out, const std::string& name) {
  for (const std::string& line : lines(out)) {
    std::vector<std::string> w = words(line);
    if (!w.empty() && w[0] == name) return w;
  }
  return {};
}

// A failure is one line on standard error and nothing on standard output.
void expectUsageError(const Result& r, int status = 2) {
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.compare(0, 5, "pda: "), 0) << r.err;
  EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
}

}  // namespace

// ---------------------------------------------------------------------------
// pda show

TEST(PdaShow, FreshMachineShowsTheBuiltInDefaults) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "show");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  EXPECT_NE(r.out.find("DeviceIoDataSource"), std::string::npos);
  EXPECT_NE(r.out.find("not installed"), std::string::npos);
  EXPECT_EQ(settingRow(r.out, "InstallLevel"),
            (std::vector<std::string>{"InstallLevel", "256", "default", "256", "read-only"}));
  EXPECT_EQ(settingRow(r.out, "Vantrel488Warning"),
            (std::vector<std::string>{"Vantrel488Warning", "99", "default", "99", "read-write"}));
  EXPECT_EQ(settingRow(r.out, "CurrentVersion").at(1), PDA_VERSION_STRING);
  EXPECT_EQ(settingRow(r.out, "CurrentVersion").at(2), "stored");
  EXPECT_EQ(settingRow(r.out, "DmcLoggingLevel").at(1), "OFF");

  // The interfaces in name order, each followed by its values.
  std::vector<std::string> interfaces;
  for (const std::string& line : lines(r.out))
    if (line.find("(Interface)") != std::string::npos) interfaces.push_back(words(line)[0]);
  EXPECT_EQ(interfaces, (std::vector<std::string>{"INTF0", "INTF297", "INTF298", "LAN_SERVER"}));
  EXPECT_NE(r.out.find("VisaName             GPIB0"), std::string::npos);
}

TEST(PdaShow, SettingsTableColumnsAreAligned) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "show");
  ASSERT_EQ(r.status, 0) << r.err;
  std::size_t valueColumn = std::string::npos;
  int rows = 0;
  for (const std::string& line : lines(r.out)) {
    if (line.find("NAME") != std::string::npos && line.find("VALUE") != std::string::npos) {
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
}

TEST(PdaShow, MissingRootDirectoryStillShowsTheDefaults) {
  pdatest::TempMachine machine;
  const std::string missing = machine.path("does/not/exist");
  const Result r = pda(machine, "show", "PDA_ROOT=" + shellQuote(missing));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("DeviceIoDataSource"), std::string::npos);
  EXPECT_EQ(settingRow(r.out, "PxiMapSizeDefault").at(1), "16777216");
}

TEST(PdaShow, JsonDocumentCarriesTheSameFacts) {
  pdatest::TempMachine machine;
  const Result r = pda(machine, "show --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);

  EXPECT_EQ(doc["version"], PDA_VERSION_STRING);
  EXPECT_EQ(doc["dataSource"]["chosen"], "DeviceIoDataSource");
  EXPECT_EQ(doc["dataSource"]["installed"], false);
  EXPECT_EQ(doc["dataSource"]["requested"], false);
  EXPECT_TRUE(doc["dataSource"]["registrySwitch"].is_null());

  const nlohmann::json& values = doc["settings"]["values"];
  EXPECT_EQ(values.size(), 44u);
  EXPECT_EQ(values["InstallLevel"]["value"], 256);
  EXPECT_EQ(values["InstallLevel"]["origin"], "default");
  EXPECT_EQ(values["InstallLevel"]["writable"], false);
  EXPECT_EQ(values["UseLegacyPxiInstrFormat"]["value"], true);
  EXPECT_EQ(values["UseLegacyPxiInstrFormat"]["kind"], "bool");
  EXPECT_EQ(values["QuillonVisaPresent"]["kind"], "dword");
  EXPECT_EQ(values["DmcLoggingLevel"]["value"], "OFF");
  EXPECT_EQ(values["CurrentVersion"]["value"], PDA_VERSION_STRING);
  EXPECT_EQ(values["CurrentVersion"]["origin"], "stored");
  EXPECT_EQ(values["CurrentVersion"]["default"], "");

  const nlohmann::json& interfaces = doc["ioConfiguration"]["interfaces"];
  ASSERT_EQ(interfaces.size(), 4u);
  EXPECT_EQ(interfaces[0]["name"], "INTF0");
  EXPECT_EQ(interfaces[3]["name"], "LAN_SERVER");
  EXPECT_EQ(interfaces[0]["recordType"], "Interface");
  EXPECT_EQ(interfaces[0]["persistentId"], "19B237D1-697D-46DA-A456-FA590E8E39C6");
  EXPECT_EQ(interfaces[0]["values"]["VisaName"], "GPIB0");
  EXPECT_FALSE(interfaces[0]["values"].contains("FriendlyName"));
  EXPECT_EQ(interfaces[3]["values"]["Name"], "LAN_Server");
}

TEST(PdaShow, InstalledSuiteWithTheRegistrySwitchExplainsTheChoice) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kSwitchKey, "_UseRegistryForPersistedData", "TRUE");
  const Result r = pda(machine, "show --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["dataSource"]["chosen"], "RegistryDataSource");
  EXPECT_EQ(doc["dataSource"]["installed"], true);
  EXPECT_EQ(doc["dataSource"]["registrySwitch"]["type"], "REG_SZ");
  EXPECT_EQ(doc["dataSource"]["registrySwitch"]["value"], "\"TRUE\"");
  EXPECT_EQ(doc["dataSource"]["published"]["value"], "\"Registry\"");
  EXPECT_NE(doc["dataSource"]["reason"].get<std::string>().find("registry"), std::string::npos);
}

TEST(PdaShow, SourceOptionOverridesTheDefault) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const Result r = pda(machine, "show --json --source defaults");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["dataSource"]["chosen"], "DeviceIoDataSource");
  EXPECT_EQ(doc["dataSource"]["requested"], true);
  // The default was not decided, so nothing was published.
  EXPECT_TRUE(doc["dataSource"]["published"].is_null());
}

// ---------------------------------------------------------------------------
// pda get and pda set

TEST(PdaGetSet, RegistryRoundTrip) {
  pdatest::TempMachine machine;
  Result r = pda(machine, "set VisaPxiImplementation 7 --source registry");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = pda(machine, "get visapxiimplementation --source REGISTRY");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "7\n");
  r = pda(machine, "set IOControlHidden yes --source registry");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(pda(machine, "get IOControlHidden --source registry").out, "true\n");
}

TEST(PdaGetSet, DefaultsAcceptAWriteButKeepNothing) {
  pdatest::TempMachine machine;
  EXPECT_EQ(pda(machine, "set IOControlHidden true").status, 0);
  const Result r = pda(machine, "get IOControlHidden");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "false\n");
}

TEST(PdaGetSet, SQLiteDatabaseIsTheDefaultOfAnInstalledSuite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  Result r = pda(machine, "set DmcLoggingLevel 'ALL LEVELS'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='DmcLoggingLevel';"),
            "ALL LEVELS\n");
  r = pda(machine, "show --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["dataSource"]["chosen"], "SQLiteDataSource");
  EXPECT_EQ(doc["settings"]["values"]["DmcLoggingLevel"]["value"], "ALL LEVELS");
  EXPECT_EQ(doc["settings"]["values"]["DmcLoggingLevel"]["origin"], "stored");
  EXPECT_EQ(doc["settings"]["values"]["InstallLevel"]["origin"], "default");
}

TEST(PdaGetSet, FailedWritesExitWithOne) {
  pdatest::TempMachine machine;
  expectUsageError(
      pda(machine, "set AutoStartIOServer 1 --source registry", "PDA_REGISTRY_READONLY=1"), 1);
  machine.installSuite();  // no database
  expectUsageError(pda(machine, "set AutoStartIOServer 1 --source sqlite"), 1);
}

// ---------------------------------------------------------------------------
// Usage

TEST(PdaUsage, BadUsageExitsWithTwoAndOneLine) {
  pdatest::TempMachine machine;
  expectUsageError(pda(machine, ""));
  expectUsageError(pda(machine, "frobnicate"));
  expectUsageError(pda(machine, "show --bogus"));
  expectUsageError(pda(machine, "show --source nowhere"));
  expectUsageError(pda(machine, "get"));
  expectUsageError(pda(machine, "get NoSuchSetting"));
  expectUsageError(pda(machine, "set IOControlHidden"));
  expectUsageError(pda(machine, "set InstallLevel 5"));  // read-only
  expectUsageError(pda(machine, "set IOControlHidden maybe"));
  expectUsageError(pda(machine, "set VisaPxiImplementation 2147483648"));
  expectUsageError(pda(machine, "set VisaPxiImplementation 12x"));
  expectUsageError(pda(machine, "set QuillonVisaPresent -1"));
  expectUsageError(pda(machine, "set QuillonVisaPresent 4294967296"));
}

TEST(PdaUsage, HelpOnEveryCommand) {
  pdatest::TempMachine machine;
  for (const char* args : {"--help", "show --help", "get --help", "set --help"}) {
    const Result r = pda(machine, args);
    EXPECT_EQ(r.status, 0) << args << r.err;
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << args;
  }
  EXPECT_NE(pda(machine, "show --help").out.find("--source"), std::string::npos);
  EXPECT_NE(pda(machine, "show --help").out.find("--json"), std::string::npos);
  EXPECT_NE(pda(machine, "--version").out.find(PDA_VERSION_STRING), std::string::npos);
}

TEST(PdaUsage, NumbersAtTheEdgesOfTheirRangeAreAccepted) {
  pdatest::TempMachine machine;
  EXPECT_EQ(pda(machine, "set VisaPxiImplementation 2147483647 --source registry").status, 0);
  EXPECT_EQ(pda(machine, "get VisaPxiImplementation --source registry").out, "2147483647\n");
  EXPECT_EQ(pda(machine, "set VisaPxiImplementation -2147483648 --source registry").status, 0);
  EXPECT_EQ(pda(machine, "set QuillonVisaPresent 4294967295 --source registry").status, 0);
  EXPECT_EQ(pda(machine, "set QuillonVisaPresent 0 --source registry").status, 0);
  EXPECT_EQ(pda(machine, "get QuillonVisaPresent --source registry").out, "0\n");
}

#endif  // !_WIN32
