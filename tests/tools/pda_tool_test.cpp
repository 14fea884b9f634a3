// pda show, get and set end to end: the built binary run in a shell against
// the emulated machine of each test, its output, its JSON and its exit
// statuses. POSIX only: the runs go through a POSIX shell.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include <cstdlib>
#  include <sstream>
#  include <string>
#  include <vector>

#  include "ToolRun.h"
#  include "pda/Version.h"

namespace {

using tooltest::expectFailure;
using tooltest::json;
using tooltest::ok;
using tooltest::pda;

const char* const kSwitchKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

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

}  // namespace

// ---------------------------------------------------------------------------
// pda show

TEST(PdaShow, FreshMachineShowsTheBuiltInDefaults) {
  pdatest::TempMachine machine;
  const tooltest::Result r = pda(machine, {"show"});
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
  const tooltest::Result r = pda(machine, {"show"});
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
  setenv("PDA_ROOT", machine.path("does/not/exist").c_str(), 1);
  const tooltest::Result r = pda(machine, {"show"});
  setenv("PDA_ROOT", machine.root().c_str(), 1);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("DeviceIoDataSource"), std::string::npos);
  EXPECT_EQ(settingRow(r.out, "PxiMapSizeDefault").at(1), "16777216");
}

TEST(PdaShow, JsonDocumentCarriesTheSameFacts) {
  pdatest::TempMachine machine;
  const tooltest::Result r = pda(machine, {"show", "--json"});
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
  EXPECT_EQ(interfaces[0]["values"]["VisaName"], "GPIB0");
  EXPECT_FALSE(interfaces[0]["values"].contains("FriendlyName"));
  EXPECT_EQ(interfaces[3]["values"]["Name"], "LAN_Server");
}

TEST(PdaShow, InstalledSuiteWithTheRegistrySwitchExplainsTheChoice) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kSwitchKey, "_UseRegistryForPersistedData", "TRUE");
  const tooltest::Result r = pda(machine, {"show", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["dataSource"]["chosen"], "RegistryDataSource");
  EXPECT_EQ(doc["dataSource"]["installed"], true);
  EXPECT_EQ(doc["dataSource"]["registrySwitch"]["type"], "REG_SZ");
  EXPECT_EQ(doc["dataSource"]["registrySwitch"]["value"], "TRUE");
  EXPECT_EQ(doc["dataSource"]["published"]["value"], "Registry");
  EXPECT_NE(doc["dataSource"]["reason"].get<std::string>().find("registry"), std::string::npos);
}

TEST(PdaShow, SourceOptionOverridesTheDefault) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const tooltest::Result r = pda(machine, {"show", "--json", "--source", "defaults"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["dataSource"]["chosen"], "DeviceIoDataSource");
  EXPECT_EQ(doc["dataSource"]["requested"], true);
  // The default was not decided, so nothing was published.
  EXPECT_TRUE(doc["dataSource"]["published"].is_null());
}

// ---------------------------------------------------------------------------
// pda get and pda set

TEST(PdaGetSet, RegistryRoundTripAtTheEdgesOfEachRange) {
  pdatest::TempMachine machine;
  const tooltest::Result r =
      pda(machine, {"set", "VisaPxiImplementation", "7", "--source", "registry"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Set VisaPxiImplementation to 7 in the registry\n");
  EXPECT_EQ(ok(machine, {"get", "visapxiimplementation", "--source", "REGISTRY"}), "7\n");
  ok(machine, {"set", "IOControlHidden", "yes", "--source", "registry"});
  EXPECT_EQ(ok(machine, {"get", "IOControlHidden", "--source", "registry"}), "true\n");

  // Accepted at both edges, and read back as written.
  const struct {
    const char* name;
    const char* value;
    const char* readBack;
  } edges[] = {{"VisaPxiImplementation", "2147483647", "2147483647"},
               {"VisaPxiImplementation", "0", "0"},
               {"QuillonVisaPresent", "0", "0"},
               {"QuillonVisaPresent", "2147483647", "2147483647"}};
  for (const auto& e : edges) {
    SCOPED_TRACE(std::string(e.name) + " " + e.value);
    ok(machine, {"set", e.name, e.value, "--source", "registry"});
    EXPECT_EQ(ok(machine, {"get", e.name, "--source", "registry"}), std::string(e.readBack) + "\n");
  }
  // One past each edge, or not a number: refused as usage errors (a negative
  // number would read back as 0, so it is refused too).
  const std::vector<std::vector<std::string>> bad = {
      {"set", "IOControlHidden"},
      {"set", "VisaPxiImplementation", "2147483648"},
      {"set", "VisaPxiImplementation", "12x"},
      {"set", "VisaPxiImplementation", "-1"},
      {"set", "QuillonVisaPresent", "-1"},
      {"set", "QuillonVisaPresent", "2147483648"},
      {"show", "--bogus"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args.back());
    expectFailure(pda(machine, args), 2);
  }
  EXPECT_EQ(ok(machine, {"get", "QuillonVisaPresent", "--source", "registry"}), "2147483647\n");
}

TEST(PdaGetSet, SQLiteDatabaseIsTheDefaultOfAnInstalledSuite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  ok(machine, {"set", "DmcLoggingLevel", "ALL LEVELS"});
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='DmcLoggingLevel';"),
            "ALL LEVELS\n");
  const nlohmann::json doc = json(machine, {"show"});
  EXPECT_EQ(doc["dataSource"]["chosen"], "SQLiteDataSource");
  EXPECT_EQ(doc["settings"]["values"]["DmcLoggingLevel"]["value"], "ALL LEVELS");
  EXPECT_EQ(doc["settings"]["values"]["DmcLoggingLevel"]["origin"], "stored");
  EXPECT_EQ(doc["settings"]["values"]["InstallLevel"]["origin"], "default");
}

TEST(PdaGetSet, FailedWritesExitWithOne) {
  pdatest::TempMachine machine;
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  expectFailure(pda(machine, {"set", "AutoStartIOServer", "1", "--source", "registry"}), 1);
  unsetenv("PDA_REGISTRY_READONLY");
  machine.installSuite();  // no database
  expectFailure(pda(machine, {"set", "AutoStartIOServer", "1", "--source", "sqlite"}), 1);
}

TEST(PdaGetSet, TopLevelHelpAndVersion) {
  pdatest::TempMachine machine;
  EXPECT_NE(ok(machine, {"--help"}).find("Usage"), std::string::npos);
  const std::string show = ok(machine, {"show", "--help"});
  EXPECT_NE(show.find("--source"), std::string::npos);
  EXPECT_NE(show.find("--json"), std::string::npos);
  EXPECT_NE(ok(machine, {"--version"}).find(PDA_VERSION_STRING), std::string::npos);
}

#endif  // !_WIN32
