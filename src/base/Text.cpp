#include "base/Text.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pda {

int textToInt(const char* text) noexcept {
  if (!text || !*text) return 0;
  if (*text >= '0' && *text <= '9') {
    long n = std::strtol(text, nullptr, 10);
    // strtol saturates at LONG_MAX, which is wider than 32 bits on LP64.
    if (n > INT_MAX) return INT_MAX;
    return static_cast<int>(n);
  }
  return (ciEquals(text, "true") || ciEquals(text, "yes")) ? 1 : 0;
}

bool copyWhole(char* buffer, std::size_t size, const char* text) noexcept {
  if (!buffer || size == 0) return false;
  if (!text) text = "";
  std::size_t n = std::strlen(text);
  if (n < size) {
    // memmove: text may be buffer itself (a caller's default pre-filled).
    std::memmove(buffer, text, n + 1);
    return true;
  }
  buffer[0] = '\0';
  return false;
}

int ciCompare(const char* a, const char* b) noexcept {
  if (!a) a = "";
  if (!b) b = "";
  for (;; ++a, ++b) {
    int ca = std::tolower(static_cast<unsigned char>(*a));
    int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

bool ciEquals(const char* a, const char* b) noexcept {
  return ciCompare(a, b) == 0;
}

bool ciStartsWith(const char* text, const char* prefix) noexcept {
  if (!text || !prefix) return false;
  for (; *prefix; ++text, ++prefix) {
    if (!*text) return false;
    if (std::tolower(static_cast<unsigned char>(*text)) !=
        std::tolower(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

std::string sqlLiteral(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) {
    out += *p;
    if (*p == '\'') out += '\'';
  }
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace pda
