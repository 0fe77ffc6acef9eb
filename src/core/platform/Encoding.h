#pragma once
// Text conversion between the program's CP932 byte strings, UTF-8 (Qt side and source
// literals) and UTF-16LE (Unicode registry files and marked store texts).
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace klv {

class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// CP932 lead bytes of double-byte characters.
constexpr bool isCp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The value of a hexadecimal digit, or -1.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "〓" in CP932: stands for a character that CP932 cannot hold.
inline constexpr std::string_view kCp932Geta = "\x81\xAC";

// Strict conversions: nullopt when a character cannot be converted, or (towards CP932) would
// not convert back to itself.
std::optional<std::string> tryUtf8ToCp932(std::string_view utf8);
std::optional<std::string> tryCp932ToUtf8(std::string_view cp932);
std::optional<std::string> tryUtf16ToCp932(std::string_view utf16le);

// Well-formed UTF-8: no stray continuation byte, overlong form, surrogate or code past U+10FFFF.
bool isValidUtf8(std::string_view text);

// A text file a Linux editor saved in UTF-8: the bytes after a UTF-8 mark, or all of them when
// they are valid UTF-8 holding multi-byte characters (the last one may be cut short); nullopt
// for any other file (read as CP932).
std::optional<std::string_view> utf8FileText(std::string_view bytes);

// Throwing forms (EncodingError names the offending text).
std::string utf8ToCp932(std::string_view utf8);

// For program literals written in UTF-8 in the sources; they are always convertible.
std::string sj(std::string_view utf8);

// Display conversion: invalid CP932 bytes become U+FFFD, never "?".
std::string cp932ToUtf8(std::string_view cp932);

// UTF-16LE <-> CP932. The lossy form puts "〓" for each character CP932 cannot hold and
// reports whether it had to.
std::string utf16ToCp932Lossy(std::string_view utf16le, bool* lossy = nullptr);
std::string cp932ToUtf16(std::string_view cp932);
std::string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::string_view utf16le);
// UTF-16 units and their little-endian bytes, the form the registry files and the store keep
// (an odd last byte has no unit).
std::string utf16leBytes(std::u16string_view units);
std::u16string utf16leUnits(std::string_view bytes);

// Equality of two texts without regard to the case of ASCII letters.
bool equalsAsciiNoCase(std::string_view a, std::string_view b);

// Upper-cases single-byte ASCII letters; double-byte characters are stepped over whole, so a
// trail byte that happens to be a letter code is never changed.
std::string cp932Upper(std::string_view s);
// The same into a caller's buffer (hot paths reuse one).
void cp932UpperInto(std::string_view s, std::string& out);

// Finds needle in hay at a character boundary at or after `from`, stepping over double-byte
// characters whole. With ignoreCase, single-byte letters compare without regard to case.
// Returns std::string_view::npos when absent. An empty needle matches at `from`.
size_t cp932Find(std::string_view hay, std::string_view needle, size_t from = 0,
                 bool ignoreCase = false);

} // namespace klv
