#include "core/platform/Cp932Table.h"

#include "core/platform/Encoding.h"

namespace klv {

namespace {
char16_t unitFromLe(std::string_view le) {
    return static_cast<char16_t>(static_cast<unsigned char>(le[0]) |
                                 static_cast<unsigned char>(le[1]) << 8);
}
} // namespace

const Cp932Table& Cp932Table::instance() {
    static const Cp932Table table;
    return table;
}

Cp932Table::Cp932Table() {
    for (auto& u : unitOf_)
        u = kNoUnit;
    for (auto& c : codeOf_)
        c = kNoCode;
    auto learn = [&](std::uint16_t code, std::string_view bytes) {
        const std::string le = cp932ToUtf16(bytes);
        if (le.size() == 2 && le != "\xFD\xFF")
            unitOf_[code] = unitFromLe(le);
    };
    for (unsigned b = 0; b < 0x100; ++b) {
        const char c = static_cast<char>(b);
        if (!isLead(static_cast<unsigned char>(b)))
            learn(static_cast<std::uint16_t>(b), std::string_view(&c, 1));
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLead(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (!isTrail(static_cast<unsigned char>(trail)))
                continue;
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            learn(static_cast<std::uint16_t>(lead << 8 | trail), std::string_view(pair, 2));
        }
    }
    // The way back is the converter's own choice (several codes may share a character); it
    // counts only when it leads to the same character again.
    for (std::size_t code = 0; code < 65536; ++code) {
        const char16_t u = unitOf_[code];
        if (u == kNoUnit || codeOf_[u] != kNoCode)
            continue;
        const char le[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        const auto back = tryUtf16ToCp932(std::string_view(le, 2));
        if (!back || back->empty() || back->size() > 2)
            continue;
        const auto b0 = static_cast<unsigned char>((*back)[0]);
        const std::uint16_t c =
            back->size() == 1
                ? b0
                : static_cast<std::uint16_t>(b0 << 8 | static_cast<unsigned char>((*back)[1]));
        if (unitOf_[c] == u)
            codeOf_[u] = c;
    }
}

bool Cp932Table::toUtf16(std::string_view s, std::u16string& out) const {
    bool exact = true;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        const std::size_t len = charLength(s, i);
        const std::uint16_t code =
            len == 1 ? b
                     : static_cast<std::uint16_t>(b << 8 | static_cast<unsigned char>(s[i + 1]));
        const char16_t u = unitOf_[code];
        if (u == kNoUnit || codeOf_[u] != code) {
            exact = false;
            out.push_back(u == kNoUnit ? u'\uFFFD' : u);
        } else {
            out.push_back(u);
        }
        i += len;
    }
    return exact;
}

bool Cp932Table::toCp932(std::u16string_view s, std::string& out) const {
    for (const char16_t u : s) {
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        const std::uint16_t code = codeOf_[u];
        if (code == kNoCode)
            return false;
        if (code > 0xFF)
            out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    }
    return true;
}

} // namespace klv
