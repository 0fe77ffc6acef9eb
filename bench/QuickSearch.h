#pragma once
#include <filesystem>

namespace klv::bench {

// Measures the quick search over the data files of `systemFolder` (USER.DAT and SYSTEM.DAT)
// for a text that is not there, so that every byte is scanned, against a plain read of the
// same files, and prints both speeds.
void reportQuickSearch(const std::filesystem::path& systemFolder);

} // namespace klv::bench
