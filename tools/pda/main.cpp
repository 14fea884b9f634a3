// pda: reads and changes the persisted settings of the suite through the
// library's own records. Sub-commands register themselves (see Command.h).
//
// Exit status: 0 on success, 1 when a write failed, 2 on bad usage; every
// failure prints one line on standard error.

#include <cctype>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandLine.h"

namespace {

// The reg sub-commands take reg.exe's slash switches. CLI11 stays the parser:
// the switches become the long options that those commands declare. A
// switch's argument is joined to it ("--data=X"), so that data such as "-5"
// or "/f" is never read as an option.
std::vector<std::string> translateRegSwitches(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.size() < 2 || args[1] != "reg") return args;
  static const struct {
    const char* slash;
    const char* option;
    bool takesValue;
  } kSwitches[] = {{"/v", "--value", true},  {"/ve", "--default-value", false},
                   {"/t", "--type", true},   {"/d", "--data", true},
                   {"/f", "--force", false}, {"/s", "--recurse", false}};
  std::vector<std::string> out(args.begin(), args.begin() + 2);
  for (std::size_t i = 2; i < args.size(); ++i) {
    std::string lowered;
    for (char c : args[i])
      lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool mapped = false;
    for (const auto& s : kSwitches) {
      if (lowered != s.slash) continue;
      mapped = true;
      // A switch that takes a value but ends the line is passed on bare, so that
      // CLI11 reports the missing argument.
      if (s.takesValue && i + 1 < args.size())
        out.push_back(std::string(s.option) + "=" + args[++i]);
      else
        out.push_back(s.option);
      break;
    }
    if (!mapped) out.push_back(args[i]);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Reads and changes the persisted settings of the Quillon suite", "pda"};
  app.require_subcommand(1);
  app.footer(
      "The store: --source registry|sqlite|defaults on the commands that read or write records;\n"
      "without it, the process-wide default (pda show says which and why).\n"
      "Exit status: 0 done, 1 the operation failed, 2 bad usage.\n"
      "Output: what a command reads goes to standard output; a command that changes\n"
      "something prints one line saying what it changed (pda reg prints reg.exe's line);\n"
      "a failure prints one line on standard error and nothing on standard output.\n"
      "Examples:\n"
      "  pda show                      settings from the built-in defaults on a fresh machine\n"
      "  pda init                      lay out an installed suite under $PDA_ROOT\n"
      "  pda set IOControlHidden true  write a setting to the store in use\n"
      "  pda alias list --json\n"
      "  pda log --type error --last 10");
  app.set_version_flag("--version", std::string("pda ") + PDA_VERSION_STRING);
  pdatool::registerAllCommands(app);

  try {
    std::vector<std::string> args = translateRegSwitches(argc, argv);
    const std::string unknown = pdatool::unknownSubcommand(app, args);
    if (!unknown.empty()) throw pdatool::UsageError(unknown);
    // CLI11 takes the arguments in reverse order, without the program name.
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::Success& e) {
    // --help and --version: CLI11 prints them.
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pda: " << e.what() << " (try " << pdatool::helpFor(app) << ")\n";
    return pdatool::kExitUsage;
  } catch (const pdatool::UsageError& e) {
    // A message that points somewhere already ("(pda show lists ...)") keeps it.
    const std::string what = e.what();
    std::cerr << "pda: " << what
              << (what.empty() || what.back() != ')' ? " (try " + pdatool::helpFor(app) + ")" : "")
              << '\n';
    return pdatool::kExitUsage;
  } catch (const pdatool::WriteError& e) {
    std::cerr << "pda: " << e.what() << '\n';
    return pdatool::kExitWriteFailed;
  } catch (const std::bad_alloc&) {
    std::cerr << "pda: out of memory\n";
    return pdatool::kExitWriteFailed;
  } catch (const std::exception& e) {
    std::cerr << "pda: " << e.what() << '\n';
    return pdatool::kExitWriteFailed;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "pda: cannot write the output\n";
    return pdatool::kExitWriteFailed;
  }
  return pdatool::kExitOk;
}
