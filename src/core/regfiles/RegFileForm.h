#pragma once
// The two forms of registry files.
#include <string_view>

namespace klv {

enum class RegFileForm {
    Regedit4, // "REGEDIT4", CP932 text
    Unicode,  // "Windows Registry Editor Version 5.00", UTF-16LE with a byte order mark
};

inline constexpr std::string_view kRegedit4Header = "REGEDIT4";
inline constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";

} // namespace klv
