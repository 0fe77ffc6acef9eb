#pragma once
// The product version of a Windows program file, as its version resource states it.
#include <filesystem>
#include <optional>

namespace klv {

// The number that the first three characters of the "ProductVersion" text make ("4.10.2222"
// gives 4.1); nullopt when the file has no such text.
std::optional<double> programProductVersion(const std::filesystem::path& file);
bool programVersionAtLeast(const std::filesystem::path& file, double version);

} // namespace klv
