#pragma once
// The three texts a value is shown with (name, data, kind name) and the parsers that read the
// data texts back. All texts are CP932.
#include "core/registry/Registry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

// Image indexes of the value kinds in the shared image list.
inline constexpr int kImageString = 2;
inline constexpr int kImageBinary = 3;
inline constexpr int kImageInteger = 4;
inline constexpr int kImageMultiString = 6;
inline constexpr int kImageExpandString = 10;

// "文字列", "拡張文字列", "数値", "バイナリ", "マルチ文字列"; unknown kinds are "バイナリ".
const std::string& kindName(ValueKind kind);
int kindImage(ValueKind kind);
// "文字列(&S)", ...; empty for the unknown kind, which cannot be created.
const std::string& newValueCaption(ValueKind kind);
// The kind a kind name stands for, compared exactly in the order the modify command uses.
std::optional<ValueKind> kindFromName(std::string_view name);

const std::string& defaultValueCaption(); // "(標準)"
const std::string& noValueDataText();     // "(値の設定なし)"

// "4294967295 (0xFFFFFFFF)"
std::string integerText(std::uint32_t value);
// The decimal part (before the first blank) of an integer text.
std::optional<std::uint32_t> parseIntegerText(std::string_view text);
// "01 AB FF " (every byte, each followed by a blank); empty for no bytes.
std::string hexText(std::string_view bytes);
// Every hexadecimal digit counts and other characters are skipped; a final single digit is
// dropped.
std::string parseHexText(std::string_view text);
// Each string followed by CR LF.
std::string multiStringText(const std::vector<std::string>& strings);

// The data text of a value of the current key, read with the reader of its kind.
std::string dataText(TRegistry& reg, std::string_view valueName);
// The data text of a stored value: the text of its kind, or the hex of its bytes when they do
// not have the form of its kind (an integer of other than four bytes).
std::string dataText(const RawValue& value);

// Whether the editor of the value's kind can show it and write it back unchanged: its name
// can be written through the access layer, and its bytes have the exact form the kind's
// writer makes (a text with one closing NUL, an integer of four bytes, a list without empty
// items). Kinds without an editor of their own are not: the binary editor would change the
// type.
bool editableAsItsKind(const RawValue& value);

struct ValueRow {
    std::string valueName; // as listed ("" for the default value)
    std::string name;      // as shown
    std::string data;
    std::string kind;
    int image = kImageString;
    // False when an editor would not write the value back as it is: it is shown, not edited.
    bool editable = true;
};

// The rows of the current key's value list; a key with no values gives the single row
// "(標準)" / "(値の設定なし)" / "文字列".
std::vector<ValueRow> valueRows(TRegistry& reg);

} // namespace klv
