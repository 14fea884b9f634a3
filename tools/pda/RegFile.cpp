#include "RegFile.h"

#include <pda/Win32.h>
#include <cctype>
#include <cstdio>

namespace pdatool {
namespace regfile {

namespace {

const char* const kHeader5 = "Windows Registry Editor Version 5.00";
const char* const kHeader4 = "REGEDIT4";
const char* const kHive = "HKEY_LOCAL_MACHINE";

// --- text encodings -----------------------------------------------------------

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 LE bytes to UTF-8; false for an odd length or a lone surrogate.
bool utf16ToUtf8(const std::string& in, std::string* out) {
  if (in.size() % 2) return false;
  out->clear();
  for (std::size_t i = 0; i < in.size(); i += 2) {
    unsigned long unit = static_cast<unsigned char>(in[i]) |
                         (static_cast<unsigned long>(static_cast<unsigned char>(in[i + 1])) << 8);
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (i + 3 >= in.size()) return false;
      const unsigned long low =
          static_cast<unsigned char>(in[i + 2]) |
          (static_cast<unsigned long>(static_cast<unsigned char>(in[i + 3])) << 8);
      if (low < 0xDC00 || low >= 0xE000) return false;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      return false;
    }
    appendUtf8(*out, unit);
  }
  return true;
}

void appendUtf16(std::string& out, unsigned long cp) {
  auto unit = [&out](unsigned long u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  if (cp >= 0x10000) {
    cp -= 0x10000;
    unit(0xD800 + (cp >> 10));
    unit(0xDC00 + (cp & 0x3FF));
  } else {
    unit(cp);
  }
}

// UTF-8 bytes to UTF-16 LE; a byte that starts no valid sequence stands for
// the character of its number.
std::string utf8ToUtf16(const std::string& in) {
  std::string out;
  std::size_t i = 0;
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    const std::size_t extra = c >= 0xF0 && c < 0xF5   ? 3
                              : c >= 0xE0 && c < 0xF0 ? 2
                              : c >= 0xC2 && c < 0xE0 ? 1
                                                      : 0;
    unsigned long cp = extra == 3 ? (c & 0x07u) : extra == 2 ? (c & 0x0Fu) : (c & 0x1Fu);
    bool valid = extra > 0 && i + extra < in.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(in[i + k]);
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    if (valid && ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) ||
                  (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      valid = false;
    if (!valid) {
      appendUtf16(out, c);
      ++i;
      continue;
    }
    appendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

// --- reading ------------------------------------------------------------------------

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string trimmed(const std::string& text) {
  std::size_t a = 0;
  std::size_t b = text.size();
  while (a < b && (text[a] == ' ' || text[a] == '\t')) ++a;
  while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t')) --b;
  return text.substr(a, b - a);
}

// The key below HKEY_LOCAL_MACHINE of a "[...]" line's inside.
std::string keyBelowHive(int line, const std::string& path) {
  const std::size_t slash = path.find('\\');
  std::string hive = path.substr(0, slash);
  for (char& c : hive) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (hive != kHive && hive != "HKLM")
    throw FormatError(line, "only keys of HKEY_LOCAL_MACHINE can be imported, not '" + path + "'");
  if (slash == std::string::npos || slash + 1 >= path.size())
    throw FormatError(line, "the hive itself cannot be changed");
  std::string key = path.substr(slash + 1);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  if (key.find("\\\\") != std::string::npos) throw FormatError(line, "the key has an empty part");
  return key;
}

// A quoted string starting at text[at] (the opening quote); at ends after the
// closing quote.
std::string quoted(int line, const std::string& text, std::size_t& at) {
  std::string out;
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at >= text.size()) break;
    switch (text[at]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      default:
        throw FormatError(line, std::string("unknown escape \\") + text[at]);
    }
  }
  throw FormatError(line, "a string has no closing quote");
}

std::string hexBytes(int line, const std::string& list) {
  std::string out;
  std::string digits;
  auto flush = [&](bool last) {
    const std::string d = trimmed(digits);
    digits.clear();
    if (d.empty() && last && out.empty()) return;
    if (d.empty() || d.size() > 2 || !std::isxdigit(static_cast<unsigned char>(d[0])) ||
        (d.size() == 2 && !std::isxdigit(static_cast<unsigned char>(d[1]))))
      throw FormatError(line, "invalid hex byte '" + d + "'");
    out += static_cast<char>(std::stoul(d, nullptr, 16));
  };
  for (char c : list) {
    if (c == ',')
      flush(false);
    else
      digits += c;
  }
  flush(true);
  return out;
}

registry::Value parseData(int line, const std::string& data, bool unicode) {
  registry::Value v;
  if (!data.empty() && data[0] == '"') {
    std::size_t at = 0;
    const std::string text = quoted(line, data, at);
    if (!trimmed(data.substr(at)).empty()) throw FormatError(line, "text after the closing quote");
    v.type = registry::kString;
    v.bytes = text + std::string(1, '\0');
    return v;
  }
  const std::size_t colon = data.find(':');
  std::string kind = data.substr(0, colon);
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (colon == std::string::npos) throw FormatError(line, "a value needs a type or a string");
  const std::string rest = trimmed(data.substr(colon + 1));
  if (kind == "dword") {
    if (rest.empty() || rest.size() > 8)
      throw FormatError(line, "dword: takes 1 to 8 hex digits, not '" + rest + "'");
    for (char c : rest)
      if (!std::isxdigit(static_cast<unsigned char>(c)))
        throw FormatError(line, "dword: takes hex digits, not '" + rest + "'");
    return registry::dwordValue("", static_cast<long long>(std::stoul(rest, nullptr, 16)));
  }
  if (kind == "hex") {
    v.type = registry::kBinary;
  } else if (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')') {
    const std::string number = kind.substr(4, kind.size() - 5);
    for (char c : number)
      if (!std::isxdigit(static_cast<unsigned char>(c)) || number.size() > 8)
        throw FormatError(line, "unknown type '" + kind + "'");
    v.type = std::stoul(number, nullptr, 16);
  } else {
    throw FormatError(line, "unknown type '" + kind + "'");
  }
  v.bytes = hexBytes(line, rest);
  // Texts in hex are UTF-16 in a 5.00 file.
  if (unicode && (v.type == registry::kString || v.type == registry::kExpandString ||
                  v.type == registry::kMultiString)) {
    std::string narrow;
    if (!utf16ToUtf8(v.bytes, &narrow)) throw FormatError(line, "the text is no valid UTF-16");
    v.bytes = narrow;
  }
  return v;
}

// The file as UTF-8 text and whether it is a 5.00 (Unicode) file.
std::string decodeFile(const std::string& bytes, bool* unicode) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF)
    throw FormatError(0, "UTF-16 big-endian is not a .reg encoding (UTF-16 LE is)");
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string text;
    if (!utf16ToUtf8(bytes.substr(2), &text))
      throw FormatError(0, "the file is no valid UTF-16 LE (truncated, or another encoding)");
    *unicode = true;
    return text;
  }
  // Without a byte order mark: ANSI (REGEDIT4), or UTF-8 with or without its
  // mark. UTF-16 without a mark has NULs in its first bytes.
  if (bytes.find('\0') != std::string::npos)
    throw FormatError(0, "the file holds NUL bytes: UTF-16 without a byte order mark?");
  *unicode = false;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

// --- writing ----------------------------------------------------------------------

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += std::string("\\") + c;
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

// hex(N):xx,xx,... wrapped as reg wraps it: lines of at most 80 characters,
// continued with a backslash and two spaces.
std::string hexList(const std::string& prefix, const std::string& bytes) {
  std::string out = prefix;
  std::size_t column = prefix.size();
  char cell[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%02x", static_cast<unsigned char>(bytes[i]));
    out += cell;
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column > 76) {
        out += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return out;
}

std::string valueLine(const registry::Value& v) {
  std::string line = v.name.empty() ? "@=" : "\"" + escaped(v.name) + "\"=";
  const std::size_t nul = v.bytes.find('\0');
  switch (v.type) {
    case registry::kString:
      if (nul != std::string::npos && nul + 1 == v.bytes.size())
        return line + "\"" + escaped(v.bytes.substr(0, nul)) + "\"";
      return hexList(line + "hex(1):", utf8ToUtf16(v.bytes));
    case registry::kDword:
      if (v.bytes.size() == 4) {
        char number[16];
        std::snprintf(number, sizeof number, "dword:%08lx",
                      static_cast<unsigned long>(registry::dwordNumber(v)) & 0xFFFFFFFFul);
        return line + number;
      }
      return hexList(line + "hex(4):", v.bytes);
    case registry::kBinary:
      return hexList(line + "hex:", v.bytes);
    case registry::kExpandString:
    case registry::kMultiString: {
      char prefix[16];
      std::snprintf(prefix, sizeof prefix, "hex(%lx):", v.type);
      return hexList(line + prefix, utf8ToUtf16(v.bytes));
    }
    default: {
      char prefix[24];
      std::snprintf(prefix, sizeof prefix, "hex(%lx):", v.type);
      return hexList(line + prefix, v.bytes);
    }
  }
}

}  // namespace

std::vector<KeyChange> parse(const std::string& bytes) {
  bool unicode = false;
  const std::vector<std::string> lines = splitLines(decodeFile(bytes, &unicode));
  std::size_t first = 0;
  while (first < lines.size() && trimmed(lines[first]).empty()) ++first;
  const std::string header = first < lines.size() ? trimmed(lines[first]) : "";
  if (header == kHeader5) {
    // A 5.00 file in UTF-8 is read as Wine's reg reads it; its hex texts are
    // UTF-16 whatever the file's encoding.
    unicode = true;
  } else if (header == kHeader4) {
    if (unicode) throw FormatError(1, "a REGEDIT4 file is ANSI, not UTF-16");
  } else {
    throw FormatError(static_cast<int>(first) + 1,
                      std::string("not a .reg file: the first line must be \"") + kHeader5 +
                          "\" or \"" + kHeader4 + "\"");
  }
  std::vector<KeyChange> changes;
  for (std::size_t i = first + 1; i < lines.size(); ++i) {
    const int lineNumber = static_cast<int>(i) + 1;
    std::string line = trimmed(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') throw FormatError(lineNumber, "a key line ends with ']'");
      KeyChange key;
      std::string inside = line.substr(1, line.size() - 2);
      key.removeKey = !inside.empty() && inside[0] == '-';
      if (key.removeKey) inside.erase(0, 1);
      key.key = keyBelowHive(lineNumber, inside);
      changes.push_back(key);
      continue;
    }
    if (changes.empty() || changes.back().removeKey)
      throw FormatError(lineNumber, "a value outside a key");
    // Continued lines: a backslash at the end joins the next one.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      line.pop_back();
      if (++i >= lines.size()) throw FormatError(lineNumber, "the file ends inside a value");
      line += trimmed(lines[i]);
    }
    ValueChange change;
    std::size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (line[0] == '"') {
      change.value.name = quoted(lineNumber, line, at);
    } else {
      throw FormatError(lineNumber, "a value line starts with \"name\" or @");
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') throw FormatError(lineNumber, "'=' expected");
    const std::string data = trimmed(line.substr(at + 1));
    if (data == "-") {
      change.remove = true;
    } else {
      const std::string name = change.value.name;
      change.value = parseData(lineNumber, data, unicode);
      change.value.name = name;
    }
    changes.back().values.push_back(change);
  }
  return changes;
}

std::string write(const std::vector<KeyDump>& keys) {
  std::string text = std::string(kHeader5) + "\r\n";
  for (const KeyDump& key : keys) {
    text += "\r\n[" + std::string(kHive) + "\\" + key.key + "]\r\n";
    for (const registry::Value& v : key.values) text += valueLine(v) + "\r\n";
  }
  text += "\r\n";
  return "\xFF\xFE" + utf8ToUtf16(text);
}

}  // namespace regfile
}  // namespace pdatool
