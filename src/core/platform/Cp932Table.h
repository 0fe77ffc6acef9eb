#pragma once
// CP932 <-> UTF-16 by table, character by character, for the registry files: millions of
// names and strings go through it, and a character only counts as convertible when it comes
// back unchanged (so a name or text that does not is kept in its own form, never altered).
// The tables are filled once from the platform's converter.
#include <cstdint>
#include <string>
#include <string_view>

namespace klv {

class Cp932Table {
public:
    static const Cp932Table& instance();

    // The CP932 character at `i`: a lead byte followed by a trail byte is one character.
    static std::size_t charLength(std::string_view s, std::size_t i) {
        const auto lead = static_cast<unsigned char>(s[i]);
        return isLead(lead) && i + 1 < s.size() && isTrail(static_cast<unsigned char>(s[i + 1]))
                   ? 2
                   : 1;
    }
    static constexpr bool isLead(unsigned char c) {
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    }
    static constexpr bool isTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

    // Whether `c` (one character, as charLength measures it) is a character of CP932.
    bool isCharacter(std::string_view c) const {
        const auto b0 = static_cast<unsigned char>(c[0]);
        const std::uint16_t code =
            c.size() == 1 ? b0
                          : static_cast<std::uint16_t>(b0 << 8 | static_cast<unsigned char>(c[1]));
        return unitOf_[code] != kNoUnit;
    }

    // Appends the UTF-16 form of CP932 text; a character without one becomes U+FFFD. Returns
    // true when every character converts there and back unchanged.
    bool toUtf16(std::string_view cp932, std::u16string& out) const;
    // Appends the CP932 form of UTF-16 text. Returns false (out then holds a partial result)
    // when some character has no CP932 form that converts back to it.
    bool toCp932(std::u16string_view utf16, std::string& out) const;

private:
    Cp932Table();
    static constexpr char16_t kNoUnit = 0xFFFF;
    static constexpr std::uint16_t kNoCode = 0xFFFF;
    // Indexed by the character code: a single byte, or lead * 256 + trail.
    char16_t unitOf_[65536];
    // Indexed by the UTF-16 unit: the CP932 code, when it converts back to the same unit.
    std::uint16_t codeOf_[65536];
};

} // namespace klv
