#include "core/valueedit/ValueEdit.h"

#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"

#include <algorithm>
#include <cstdio>

namespace klv {
namespace {

DwordForms formsOf(std::uint64_t value) {
    DwordForms f;
    f.value = value;
    f.decimal = std::to_string(value);
    char hex[24];
    // The hex field holds eight digits: it shows the 32 bits that are written.
    std::snprintf(hex, sizeof hex, "%08llX", static_cast<unsigned long long>(value & 0xFFFFFFFFu));
    f.hex = hex;
    f.binary.reserve(32);
    for (int bit = 31; bit >= 0; --bit)
        f.binary.push_back((value >> bit) & 1 ? '1' : '0');
    return f;
}

} // namespace

DwordForms dwordFromDecimal(std::string_view text) {
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        if (v > (UINT64_MAX - 9) / 10)
            break; // the field holds ten digits; longer input is cut
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return formsOf(v);
}

DwordForms dwordFromHex(std::string_view text) {
    std::uint64_t v = 0;
    for (const char c : text.substr(0, 16)) {
        const int d = hexDigitValue(c);
        if (d < 0)
            break;
        v = v << 4 | static_cast<std::uint64_t>(d);
    }
    return formsOf(v);
}

DwordForms dwordFromBinary(std::string_view text) {
    std::uint64_t v = 0;
    for (const char c : text.substr(0, 64))
        v = v << 1 | (c == '1' ? 1u : 0u);
    return formsOf(v);
}

std::string
expandFirstVariable(std::string_view data,
                    const std::function<std::optional<std::string>(const std::string&)>& lookup) {
    const std::size_t first = data.find('%');
    if (first == std::string_view::npos)
        return std::string(data);
    const std::size_t second = data.find('%', first + 1);
    if (second == std::string_view::npos)
        return std::string(data);
    const std::string name(data.substr(first + 1, second - first - 1));
    std::string value = lookup(name).value_or(std::string());
    if (value.size() > 255)
        value.resize(255);
    const std::string reference = "%" + name + "%";
    std::string out;
    for (std::size_t pos = 0;;) {
        const std::size_t at = data.find(reference, pos);
        if (at == std::string_view::npos) {
            out.append(data.substr(pos));
            return out;
        }
        out.append(data.substr(pos, at - pos));
        out += value;
        pos = at + reference.size();
    }
}

std::vector<std::string> multiStringLines(std::string_view memo) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= memo.size()) {
        const std::size_t lf = memo.find('\n', from);
        if (lf == std::string_view::npos) {
            lines.emplace_back(memo.substr(from));
            break;
        }
        std::size_t end = lf;
        if (end > from && memo[end - 1] == '\r')
            --end;
        lines.emplace_back(memo.substr(from, end - from));
        from = lf + 1;
    }
    // A memo that ends with a line break has an empty last line, which is no string.
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

std::string assistedPath(std::string_view path, bool quote, bool appendIcon, int iconIndex) {
    std::string out = quote ? "\"" + std::string(path) + "\"" : std::string(path);
    if (appendIcon)
        out += "," + std::to_string(std::max(0, iconIndex));
    return out;
}

std::optional<EditedKind> editedKindOf(ValueKind kind) {
    switch (kind) {
    case ValueKind::String:
        return EditedKind::String;
    case ValueKind::ExpandString:
        return EditedKind::ExpandString;
    case ValueKind::Integer:
        return EditedKind::Integer;
    case ValueKind::Binary:
        return EditedKind::Binary;
    case ValueKind::MultiString:
        return EditedKind::MultiString;
    case ValueKind::Unknown:
        break;
    }
    return std::nullopt;
}

EditResult commitValueEdit(TRegistry& reg, const ValueEdit& edit) {
    const SplitKeyPath split = splitKeyPath(edit.location);
    if (!split.root)
        throw RegistryError(sj("ルートキー ") + std::string(split.rootName) +
                            sj(" が見つかりません"));
    reg.RootKey(*split.root);
    if (!reg.OpenKey(split.subPath, true))
        throw RegistryError(sj("キー ") + edit.location + sj(" を書き込み用に開けません"));
    struct Closer {
        TRegistry& reg;
        ~Closer() { reg.CloseKey(); }
    } closer{reg};
    if (edit.newMode) {
        std::vector<std::string> names;
        reg.ListValues(names);
        if (std::find(names.begin(), names.end(), edit.name) != names.end())
            return EditResult::NameClash;
    }
    switch (edit.kind) {
    case EditedKind::String:
        reg.WriteString(edit.name, edit.text);
        break;
    case EditedKind::ExpandString:
        reg.WriteExpandString(edit.name, edit.text);
        break;
    case EditedKind::Integer:
        reg.WriteInteger(edit.name, static_cast<std::uint32_t>(dwordFromDecimal(edit.text).value));
        break;
    case EditedKind::Binary:
        reg.WriteBinary(edit.name, edit.bytes);
        break;
    case EditedKind::MultiString:
        reg.WriteMultiString(edit.name, edit.lines);
        break;
    }
    return edit.modified || edit.newMode ? EditResult::Committed : EditResult::Unchanged;
}

} // namespace klv
