#pragma once
// The rules of the value editor dialogs, apart from the dialogs: the DWORD dialog's three
// linked forms, the expandable string's preview, the multi-string memo's lines, and the OK
// procedure the five dialogs share. Texts are CP932.
#include "core/registry/Registry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

// The DWORD dialog's fields: decimal, and the low 32 bits (what is written) as 8 upper-case hex
// digits and as 32 binary digits. The value may exceed 32 bits (a ten-digit decimal).
struct DwordForms {
    std::uint64_t value = 0;
    std::string decimal;
    std::string hex;
    std::string binary;
};
DwordForms dwordFromDecimal(std::string_view text); // digits; empty or no number counts as 0
DwordForms dwordFromHex(std::string_view text);
DwordForms dwordFromBinary(std::string_view text); // each "1" a one bit, anything else zero

// The preview of an expandable string: the first variable named between "%" signs replaced,
// every occurrence, left to right; an unset variable by nothing. `lookup` gives a variable's
// value (cut to 255 characters here).
std::string
expandFirstVariable(std::string_view data,
                    const std::function<std::optional<std::string>(const std::string&)>& lookup);

// The strings of a multi-string memo: its lines (CR LF or LF), a last line of a single LF
// dropped.
std::vector<std::string> multiStringLines(std::string_view memo);

// The full-path assistant's result: the path, in double quotation marks when asked, then ","
// and the icon's index when asked.
std::string assistedPath(std::string_view path, bool quote, bool appendIcon, int iconIndex);

enum class EditedKind { String, ExpandString, Integer, Binary, MultiString };

// The editor of a value kind; nullopt for the kinds no editor writes back.
std::optional<EditedKind> editedKindOf(ValueKind kind);

// What a dialog hands to the OK procedure.
struct ValueEdit {
    std::string location; // root name, backslash, key path
    bool newMode = false;
    std::string name;
    EditedKind kind = EditedKind::String;
    std::string text;               // string, expandable string, and the DWORD's decimal text
    std::string bytes;              // binary
    std::vector<std::string> lines; // multi-string
    bool modified = false;          // the user changed the data (new mode always counts)
};

enum class EditResult {
    Committed, // written; the caller updates the list and logs the change ("YES")
    Unchanged, // written again as it was; nothing to log
    NameClash, // new mode: a value of that exact name exists; nothing written ("No")
};

// The OK procedure: opens (creating) the key of the location, refuses a new name that exists,
// writes the value. A write the registry refuses throws RegistryError with its message and
// commits nothing.
EditResult commitValueEdit(TRegistry& reg, const ValueEdit& edit);

} // namespace klv
