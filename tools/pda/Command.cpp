#include "Command.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace pdatool {

namespace {

struct Group {
  const char* name;
  int order;
  RegisterCommands add;
};

// A function-local static: groups register from static initialisers of
// other files, whose order against this file's statics is unspecified.
std::vector<Group>& groups() {
  static std::vector<Group> all;
  return all;
}

}  // namespace

bool addCommandGroup(const char* name, int order, RegisterCommands add) {
  groups().push_back(Group{name, order, add});
  return true;
}

void registerAllCommands(CLI::App& app) {
  std::vector<Group> sorted = groups();
  std::stable_sort(sorted.begin(), sorted.end(), [](const Group& a, const Group& b) {
    return a.order != b.order ? a.order < b.order : std::strcmp(a.name, b.name) < 0;
  });
  for (const Group& group : sorted) group.add(app);
}

std::string lowerCase(const std::string& text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

DataSource SourceOption::dataSource() const {
  const std::string lowered = lowerCase(name);
  if (lowered == "registry") return RegistryDataSource;
  if (lowered == "sqlite") return SQLiteDataSource;
  if (lowered == "defaults") return DeviceIoDataSource;
  return UnknownDataSource;
}

void addSourceOption(CLI::App& command, SourceOption& option) {
  command
      .add_option("--source", option.name,
                  "Store to use instead of the process-wide default: registry, sqlite or defaults")
      ->check(CLI::IsMember({"registry", "sqlite", "defaults"}, CLI::ignore_case))
      ->type_name("STORE");
}

std::string machineRoot() {
  const char* env = std::getenv("PDA_ROOT");
  std::string root = env && *env ? env : "/var/lib/persisted-data-access";
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  return root;
}

const char* describeDataSource(DataSource source) {
  switch (source) {
    case RegistryDataSource:
      return "the registry";
    case SQLiteDataSource:
      return "the SQLite configuration database";
    case DeviceIoDataSource:
      return "the built-in defaults";
    case WrenDataSource:
      return "no store";
    default:
      return "no store chosen";
  }
}

}  // namespace pdatool
