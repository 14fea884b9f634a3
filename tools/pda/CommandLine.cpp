#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace pdatool {

namespace {

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string path(const CLI::App* app) {
  std::string out;
  for (; app; app = app->get_parent()) out = app->get_name() + (out.empty() ? "" : " " + out);
  return out;
}

}  // namespace

std::string unknownSubcommand(const CLI::App& app, const std::vector<std::string>& args) {
  const CLI::App* level = &app;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::vector<const CLI::App*> known = level->get_subcommands({});
    if (known.empty() || args[i].empty() || args[i][0] == '-') return "";
    const CLI::App* next = nullptr;
    const CLI::App* closest = nullptr;
    std::size_t best = 0;
    for (const CLI::App* sub : known) {
      if (sub->get_name() == args[i]) next = sub;
      const std::size_t d = editDistance(sub->get_name(), args[i]);
      if (!closest || d < best) {
        closest = sub;
        best = d;
      }
    }
    if (next) {
      level = next;
      continue;
    }
    // A level that takes positional words beside its sub-commands (pda
    // favorite NAME, pda favorite set ...) takes this word as one of them.
    if (!level->get_options([](const CLI::Option* o) { return o->get_positional(); }).empty())
      return "";
    std::string message = "unknown command '" + args[i] + "' for " + path(level) + " (";
    if (closest && best <= std::max<std::size_t>(2, args[i].size() / 3))
      message += "did you mean '" + closest->get_name() + "'? ";
    return message + "try " + path(level) + " --help)";
  }
  return "";
}

std::string helpFor(const CLI::App& app) {
  const CLI::App* level = &app;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (const CLI::App* sub : level->get_subcommands()) {
      level = sub;
      deeper = true;
      break;
    }
  }
  return path(level) + " --help";
}

CLI::Validator wholeNumber(long long min, long long max) {
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) -> std::string {
        bool digits = !text.empty();
        for (std::size_t i = 0; i < text.size(); ++i)
          if (!(std::isdigit(static_cast<unsigned char>(text[i])) ||
                (i == 0 && text[i] == '-' && text.size() > 1)))
            digits = false;
        errno = 0;
        const long long value = digits ? std::strtoll(text.c_str(), nullptr, 10) : 0;
        if (!digits || errno == ERANGE || value < min || value > max)
          return "takes a whole number from " + range + ", not '" + text + "'";
        return "";
      },
      "N", "whole number from " + range);
}

}  // namespace pdatool
