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

// Columns are as wide as their text looks: UTF-8 continuation bytes take no
// column. (Wide East Asian characters and combining marks are not measured.)
std::size_t displayWidth(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80 ? 1 : 0;
  return width;
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
      widths[i] = std::max(widths[i], displayWidth(cells.back()));
    }
    rows.push_back(std::move(cells));
  }
  for (const auto& row : rows) {
    std::string line = _indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

}  // namespace pdatool
