#pragma once

// The setup most SQLite store tests share: a machine of their own with the
// suite installed and an empty configuration database.

#include <string>
#include <vector>

#include "TestAccess.h"

struct WithDatabase : ::testing::Test {
  pdatest::TempMachine machine;
  const std::string db = (machine.installSuite(), machine.createConfigDatabase());
};

// Rows of ConfigData from "key|name|value;key|name|value;...".
inline std::string configRows(const std::string& rows) {
  std::string sql;
  for (std::size_t at = 0; at < rows.size();) {
    std::size_t end = rows.find(';', at), a = rows.find('|', at), b = rows.find('|', a + 1);
    if (end == std::string::npos) end = rows.size();
    sql += "INSERT INTO ConfigData VALUES(NULL," + pdatest::sqlQuote(rows.substr(at, a - at)) +
           "," + pdatest::sqlQuote(rows.substr(a + 1, b - a - 1)) + "," +
           pdatest::sqlQuote(rows.substr(b + 1, end - b - 1)) + ");";
    at = end + 1;
  }
  return sql;
}

// A value read into a buffer of size bytes, fallback when it is missing.
template <typename Node>
std::string text(Node& node, const char* name, const char* fallback = "<none>",
                 unsigned size = 4096) {
  std::vector<char> buffer(size ? size : 1);
  node.getValueString(name, buffer.data(), size, fallback);
  return buffer.data();
}
