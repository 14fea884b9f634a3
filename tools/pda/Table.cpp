#include "Table.h"

#include <algorithm>

namespace pdatool {

namespace {

// Line breaks and tabs in a stored value would break the columns (and could
// forge rows): show them escaped.
std::string printable(const std::string& cell) {
  std::string out;
  for (char c : cell) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

void Table::print(std::ostream& out) const {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::size_t> widths;
  for (const auto& row : _rows) {
    std::vector<std::string> cells;
    for (std::size_t i = 0; i < row.size(); ++i) {
      cells.push_back(printable(row[i]));
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], cells.back().size());
    }
    rows.push_back(std::move(cells));
  }
  for (const auto& row : rows) {
    std::string line = _indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

}  // namespace pdatool
