#pragma once

// What main makes of a command line before and after CLI11 parses it: an
// unknown sub-command named with the closest known one, the --help to point
// a usage error at, and a validator for whole numbers that says its range in
// plain words.

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace pdatool {

// "" when every sub-command word of args (args[0] is the program) names a
// sub-command; otherwise the message for the first that does not, e.g.
// "unknown command 'shwo' (did you mean 'show'? try pda --help)".
std::string unknownSubcommand(const CLI::App& app, const std::vector<std::string>& args);

// "pda reg add --help": the help of the deepest sub-command that was parsed.
std::string helpFor(const CLI::App& app);

// Accepts a whole number from min to max, written in decimal.
CLI::Validator wholeNumber(long long min, long long max);

}  // namespace pdatool
