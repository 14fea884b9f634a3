#pragma once

// Rows of text printed in aligned columns: each column as wide as its widest
// cell, two blanks between columns, no trailing blanks.

#include <ostream>
#include <string>
#include <vector>

namespace pdatool {

class Table {
 public:
  explicit Table(std::string indent = "") : _indent(std::move(indent)) {}
  void addRow(std::vector<std::string> cells) { _rows.push_back(std::move(cells)); }
  bool empty() const { return _rows.empty(); }
  void print(std::ostream& out) const;

 private:
  std::string _indent;
  std::vector<std::vector<std::string>> _rows;
};

}  // namespace pdatool
