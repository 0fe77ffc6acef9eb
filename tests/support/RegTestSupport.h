#pragma once
// Helpers of the registry file tests: file texts in both forms, a store dump to compare, and
// imports that report their error text.
#include "core/platform/Encoding.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::test {

// A CP932 file from UTF-8 source text.
inline std::string cp932File(std::string_view utf8) {
    return sj(utf8);
}
// A UTF-16LE file with its byte order mark from UTF-8 source text.
inline std::string utf16File(std::string_view utf8) {
    return "\xFF\xFE" + utf8ToUtf16(utf8);
}
// UTF-16LE bytes of UTF-8 source text (no mark).
inline std::string le(std::string_view utf8) {
    return utf8ToUtf16(utf8);
}

inline std::string hexOf(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// Every key and value below the first `roots` roots, one line each, in enumeration order:
// names as stored (hex, with their UTF-16 marks), raw types and bytes. Keys without access are
// left out when `skipNoAccess` (an export cannot read them).
inline std::vector<std::string> dumpStore(Store& s, int roots, bool skipNoAccess = false) {
    std::vector<std::string> out;
    auto name = [](const StoredName& n) { return (n.wide ? "W:" : "A:") + hexOf(n.bytes); };
    auto walk = [&](auto&& self, KeyId id, const std::string& path) -> void {
        const KeyRecord* k = s.key(id);
        if (skipNoAccess && k->access == KeyAccess::None)
            return;
        out.push_back("K " + path);
        for (const RawValue& v : s.values(id))
            out.push_back("V " + path + " " + name(v.name) + " t" + std::to_string(v.type) +
                          (v.dataWide ? " W:" : " A:") + hexOf(v.data));
        const std::vector<KeyId> kids = s.children(id);
        for (KeyId c : kids)
            self(self, c, path + "\\" + name(s.key(c)->name));
    };
    for (int r = 0; r < roots; ++r)
        walk(walk, Store::rootId(r), std::string(kRootKeys[static_cast<std::size_t>(r)].name));
    return out;
}

// The key at a CP932 path below a root; nullopt when missing.
inline std::optional<KeyId> keyAt(Store& s, int root, std::string_view utf8Path) {
    KeyId id = Store::rootId(root);
    const std::string path = sj(utf8Path);
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = cp932Find(path, "\\", start);
        if (end == std::string::npos)
            end = path.size();
        auto c = s.child(id, std::string_view(path).substr(start, end - start));
        if (!c)
            return std::nullopt;
        id = *c;
        start = end + 1;
    }
    return id;
}

// The value of a key by its stored name; nullopt when missing.
inline std::optional<RawValue> valueAt(Store& s, KeyId key, const StoredName& name) {
    for (const RawValue& v : s.values(key))
        if (v.name == name)
            return v;
    return std::nullopt;
}
inline std::optional<RawValue> valueAt(Store& s, KeyId key, std::string_view utf8Name) {
    return valueAt(s, key, StoredName{sj(utf8Name), false});
}

inline constexpr int HKCU = 1, HKLM = 2;

// Imports bytes and returns the error message in UTF-8 ("" when it imported).
inline std::string importError(Store& s, std::string_view bytes, int roots = 5,
                               const std::string& name = "test.reg") {
    try {
        ImportOptions o;
        o.rootCount = roots;
        RegImporter(s, o).importBytes(bytes, sj(name));
        return {};
    } catch (const RegFileError& e) {
        return cp932ToUtf8(e.what());
    }
}

} // namespace klv::test
