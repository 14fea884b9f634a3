#pragma once

// How the pda tool is put together: each group of sub-commands lives in a
// source file of its own and registers itself with PDA_TOOL_COMMANDS, so a
// new group is one new file here and no change to main.cpp. Commands report
// failures by throwing UsageError (exit status 2) or WriteError (status 1);
// main turns them into one line on standard error.

#include <stdexcept>
#include <string>
#include <vector>

#include <PersistedDataAccess.h>
#include <CLI/CLI.hpp>

namespace pdatool {

// Exit statuses of the tool.
enum ExitStatus { kExitOk = 0, kExitWriteFailed = 1, kExitUsage = 2 };

// Bad input from the user: unknown name, malformed value, read-only setting.
struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

// A write that the store refused.
struct WriteError : std::runtime_error {
  explicit WriteError(const std::string& what) : std::runtime_error(what) {}
};

// Adds one group's sub-commands to the application.
typedef void (*RegisterCommands)(CLI::App& app);

// Records a group; returns true so that it can initialise a static. Groups
// are added to the application in ascending order, then by name.
bool addCommandGroup(const char* name, int order, RegisterCommands add);

// Adds every recorded group to app.
void registerAllCommands(CLI::App& app);

// The --source option every command takes. Empty means the process-wide
// default store; otherwise "registry", "sqlite" or "defaults".
struct SourceOption {
  std::string name;
  // The record's data source for the option (UnknownDataSource when empty).
  DataSource dataSource() const;
};
void addSourceOption(CLI::App& command, SourceOption& option);

// The root directory of the emulated machine: $PDA_ROOT, or the default
// root when it is unset or empty; no trailing separator.
std::string machineRoot();

// text with its ASCII letters in lower case (names are compared so).
std::string lowerCase(const std::string& text);

// A human name of a data source: "registry", "SQLite database", ...
const char* describeDataSource(DataSource source);

}  // namespace pdatool

#define PDA_TOOL_CONCAT2(a, b) a##b
#define PDA_TOOL_CONCAT(a, b) PDA_TOOL_CONCAT2(a, b)
// Registers a group of commands from its own source file.
#define PDA_TOOL_COMMANDS(name, order, add)                                        \
  static const bool PDA_TOOL_CONCAT(pdaToolCommands_, __LINE__) [[maybe_unused]] = \
      ::pdatool::addCommandGroup(name, order, add)
