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
        const int v = hexDigitValue(c);
        if (v < 0)
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

std::string dataText(const RawValue& value) {
    switch (valueKindOf(value.type)) {
    case ValueKind::String:
    case ValueKind::ExpandString: {
        const std::string text = listedData(value);
        return text.substr(0, text.find('\0'));
    }
    case ValueKind::Integer:
        if (value.data.size() == 4) {
            const auto b = [&](std::size_t i) {
                return static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i]));
            };
            return integerText(b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24);
        }
        break;
    case ValueKind::MultiString:
        return multiStringText(multiStringItems(listedData(value)));
    case ValueKind::Binary:
    case ValueKind::Unknown:
        break;
    }
    return hexText(value.data);
}

std::string dataText(TRegistry& reg, std::string_view valueName) {
    const std::optional<RawValue> v = reg.ReadRaw(valueName);
    if (!v)
        throw RegistryError(msgGetFailed(valueName));
    return dataText(*v);
}

bool editableAsItsKind(const RawValue& value) {
    if (value.name.wide)
        return false; // a name CP932 cannot hold: a write would make a second value
    const std::string_view data = value.data;
    switch (valueKindOf(value.type)) {
    case ValueKind::String:
    case ValueKind::ExpandString:
        return !value.dataWide && !data.empty() && data.find('\0') == data.size() - 1;
    case ValueKind::Integer:
        return data.size() == 4;
    case ValueKind::MultiString: {
        if (value.dataWide)
            return false;
        std::string rebuilt;
        for (const std::string& item : multiStringItems(data))
            rebuilt += item + '\0';
        return rebuilt + '\0' == data;
    }
    case ValueKind::Binary:
        return true;
    case ValueKind::Unknown:
        break;
    }
    return false;
}

std::vector<ValueRow> valueRows(TRegistry& reg) {
    const std::vector<RawValue> values = reg.ReadRawValues();
    std::vector<ValueRow> rows;
    if (values.empty()) {
        rows.push_back(ValueRow{std::string(), defaultValueCaption(), noValueDataText(),
                                kindName(ValueKind::String), kImageString, true});
        return rows;
    }
    rows.reserve(values.size());
    // Built from the stored values themselves, so a value whose name or bytes do not fit the
    // access layer's forms still shows its real kind and data.
    for (const RawValue& v : values) {
        ValueRow r;
        const ValueKind kind = valueKindOf(v.type);
        r.kind = kindName(kind);
        r.image = kindImage(kind);
        r.data = dataText(v);
        r.valueName = listedName(v.name);
        r.name = r.valueName.empty() ? defaultValueCaption() : r.valueName;
        r.editable = editableAsItsKind(v);
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace klv
