#include "core/registry/ValueText.h"

#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"

#include <array>
#include <cstdio>

namespace klv {
namespace {

struct KindTexts {
    std::string name;
    std::string caption;
};

const KindTexts& texts(ValueKind kind) {
    static const std::array<KindTexts, 6> t{{
        {sj("文字列"), sj("文字列(&S)")},
        {sj("拡張文字列"), sj("拡張文字列(&E)")},
        {sj("数値"), sj("数値（DWORD値）(&D)")},
        {sj("バイナリ"), sj("バイナリ(&B)")},
        {sj("マルチ文字列"), sj("マルチ文字列(&M)")},
        {sj("バイナリ"), std::string()},
    }};
    return t[static_cast<std::size_t>(kind)];
}

} // namespace

const std::string& kindName(ValueKind kind) {
    return texts(kind).name;
}

const std::string& newValueCaption(ValueKind kind) {
    return texts(kind).caption;
}

int kindImage(ValueKind kind) {
    switch (kind) {
    case ValueKind::String:
        return kImageString;
    case ValueKind::ExpandString:
        return kImageExpandString;
    case ValueKind::Integer:
        return kImageInteger;
    case ValueKind::MultiString:
        return kImageMultiString;
    case ValueKind::Binary:
    case ValueKind::Unknown:
        break;
    }
    return kImageBinary;
}

std::optional<ValueKind> kindFromName(std::string_view name) {
    for (ValueKind k : {ValueKind::String, ValueKind::Integer, ValueKind::Binary,
                        ValueKind::ExpandString, ValueKind::MultiString})
        if (name == kindName(k))
            return k;
    return std::nullopt;
}

const std::string& defaultValueCaption() {
    static const std::string s = sj("(標準)");
    return s;
}

const std::string& noValueDataText() {
    static const std::string s = sj("(値の設定なし)");
    return s;
}

std::string integerText(std::uint32_t value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%u (0x%08X)", value, value);
    return buf;
}

std::optional<std::uint32_t> parseIntegerText(std::string_view text) {
    text = text.substr(0, text.find(' '));
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::string hexText(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        s += digits[b >> 4];
        s += digits[b & 15];
        s += ' ';
    }
    return s;
}

std::string parseHexText(std::string_view text) {
    std::string out;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A double-byte character is no digit, whatever its trail byte (ア is 83 41).
        if (isCp932Lead(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>(high << 4 | v);
            high = -1;
        }
    }
    return out;
}

std::string multiStringText(const std::vector<std::string>& strings) {
    std::string s;
    for (const std::string& line : strings) {
        s += line;
        s += "\r\n";
    }
    return s;
}

std::string dataText(TRegistry& reg, std::string_view valueName) {
    ValueInfo info;
    if (!reg.QueryValueInfo(valueName, info))
        throw RegistryError(msgGetFailed(valueName));
    switch (info.kind) {
    case ValueKind::String:
    case ValueKind::ExpandString:
        return reg.ReadText(valueName);
    case ValueKind::Integer:
        return integerText(reg.ReadDword(valueName));
    case ValueKind::MultiString: {
        std::vector<std::string> lines;
        reg.ReadMultiText(valueName, lines);
        return multiStringText(lines);
    }
    case ValueKind::Binary:
    case ValueKind::Unknown:
        break;
    }
    return hexText(reg.ReadBinary(valueName));
}

std::vector<ValueRow> valueRows(TRegistry& reg) {
    std::vector<std::string> names;
    reg.ListValues(names);
    std::vector<ValueRow> rows;
    if (names.empty()) {
        rows.push_back(ValueRow{std::string(), defaultValueCaption(), noValueDataText(),
                                kindName(ValueKind::String), kImageString});
        return rows;
    }
    rows.reserve(names.size());
    for (std::string& n : names) {
        ValueRow r;
        const ValueKind kind = reg.GetDataType(n);
        r.kind = kindName(kind);
        r.image = kindImage(kind);
        try {
            r.data = dataText(reg, n);
        } catch (const RegistryError&) {
            // A malformed value (a DWORD of eight bytes) still gets a row: its raw bytes.
            if (auto raw = reg.ReadRaw(n))
                r.data = hexText(raw->data);
        }
        r.name = n.empty() ? defaultValueCaption() : n;
        r.valueName = std::move(n);
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace klv
