#pragma once
// Applies a registry file to the store in one transaction: a malformed line, or a request the
// registry refuses (a read-only or no-access key, a name too long, a full disk), applies
// nothing and reports the file name, the line and the reason.
#include "core/regfiles/RegFileForm.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace klv {

struct ImportOptions {
    int rootCount = 5; // roots that the file may name
    // Lets a user interface process its events; called every few thousand requests.
    std::function<void()> pump;
    const bool* stop = nullptr; // set: the import ends with an error and applies nothing
};

struct ImportReport {
    RegFileForm form = RegFileForm::Regedit4;
    std::uint64_t keys = 0;          // [key] lines
    std::uint64_t values = 0;        // values written
    std::uint64_t deletedKeys = 0;   // keys removed by [-key] lines, subkeys included
    std::uint64_t deletedValues = 0; // values removed by "name"=- lines
};

class RegImporter {
public:
    RegImporter(Store& store, ImportOptions options);

    // Throws RegFileError; the store is then unchanged.
    ImportReport importFile(const std::filesystem::path& file);
    // `displayName` names the file in messages (CP932).
    ImportReport importBytes(std::string_view bytes, const std::string& displayName);

private:
    Store& store_;
    ImportOptions options_;
};

} // namespace klv
