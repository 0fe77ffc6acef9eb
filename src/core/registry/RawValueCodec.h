#pragma once
// A stored value as bytes and back, exactly: its type, its name (CP932 or UTF-16) and its data.
// Used where a value must survive a trip through a file: the value holder and the undo files
// of value changes.
#include "core/registry/Store.h"

#include <optional>
#include <string>
#include <string_view>

namespace klv {

std::string encodeRawValue(const RawValue& value);
// nullopt for bytes that are not one value.
std::optional<RawValue> decodeRawValue(std::string_view bytes);

} // namespace klv
