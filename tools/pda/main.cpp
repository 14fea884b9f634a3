// pda: reads and changes the persisted settings of the suite through the
// library's own records. Sub-commands register themselves (see Command.h).
//
// Exit status: 0 on success, 1 when a write failed, 2 on bad usage; every
// failure prints one line on standard error.

#include <exception>
#include <iostream>
#include <new>

#include "Command.h"

int main(int argc, char** argv) {
  CLI::App app{"Reads and changes the persisted settings of the Quillon suite", "pda"};
  app.require_subcommand(1);
  app.set_version_flag("--version", PDA_VERSION_STRING);
  pdatool::registerAllCommands(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    // --help and --version: CLI11 prints them.
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pda: " << e.what() << " (try pda --help)\n";
    return pdatool::kExitUsage;
  } catch (const pdatool::UsageError& e) {
    std::cerr << "pda: " << e.what() << '\n';
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
