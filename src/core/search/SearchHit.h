#pragma once
// One row of a search's results: a kind mark and nine texts (CP932), as the results window
// lists them and as replacement and deletion read them back.
#include <array>
#include <string>
#include <string_view>

namespace klv {

// What a row found; also its icon.
enum class HitMark { Key, KeyWithSubKeys, Name, String, Number };

// The columns of a hit row.
enum HitColumn : int {
    kColKind = 0,    // "キー", "名前", "文字列" or "数値"
    kColHit,         // the whole text that matched
    kColRoot,        // root key name of the walk
    kColKey,         // path below the root, no leading backslash
    kColName,        // value name (empty for key rows)
    kColData,        // string data or decimal number text
    kColTime,        // last write time of the key, "yyyy/mm/dd hh:nn:ss" (UTC) or "不明"
    kColPreview,     // replace mode: the substitution preview of kColHit
    kColReplacement, // replace mode: the replacement text
    kHitColumns
};

struct SearchHit {
    HitMark mark = HitMark::Key;
    std::array<std::string, kHitColumns> texts;
    bool checked = false;

    const std::string& text(HitColumn c) const { return texts[c]; }
    bool isKey() const { return mark == HitMark::Key || mark == HitMark::KeyWithSubKeys; }
};

// The CP932 kind text of a mark ("キー" for both key marks).
const std::string& hitKindText(HitMark mark);

} // namespace klv
