#pragma once

// Small text helpers shared by every layer, the platform included. The bottom
// layer ("base"): it includes nothing of the library and no operating-system
// header.

#include <cstddef>
#include <string>

namespace pda {

// The conversion of a stored text to a number: leading decimal digits through
// strtol in base 10 (saturating at 2147483647), when the first character is a
// digit; otherwise 1 for "true" or "yes" (any letter case) and 0 for anything
// else. So "-5", " 7" and "0x10" read as 0.
int textToInt(const char* text) noexcept;

// Copies text with its terminator into buffer when it fits in size bytes;
// otherwise leaves buffer "". Never truncates. A null text counts as "".
// Returns whether the text was copied. size must be at least 1.
bool copyWhole(char* buffer, std::size_t size, const char* text) noexcept;

// Comparisons that ignore letter case, byte by byte through tolower.
bool ciEquals(const char* a, const char* b) noexcept;
int ciCompare(const char* a, const char* b) noexcept;
// Whether text begins with prefix, ignoring letter case.
bool ciStartsWith(const char* text, const char* prefix) noexcept;

// The text with every single quote doubled, for a literal between single
// quotes in an SQL statement: the text is then matched and stored as passed
// and cannot end the literal early. A text without quotes is returned as is.
std::string sqlLiteral(const char* text);

// printf into a std::string of any length.
std::string format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace pda
