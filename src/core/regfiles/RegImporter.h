#pragma once
// Applies a registry file to the store in one transaction. A malformed line, or a request the
// registry refuses for another reason than a key's access (a name too long, a full disk),
// applies nothing and reports the file name, the line and the reason. Writes into keys that
// may not be written (read-only or no-access keys, new keys below them) are refused one key at
// a time, as the platform's registry editor does: everything else is imported, and the report
// names each refused key with its line.
#include "core/regfiles/RegFileForm.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct ImportOptions {
    int rootCount = 5; // roots that the file may name
    // Lets a user interface process its events; called every few thousand requests.
    std::function<void()> pump;
    const bool* stop = nullptr; // set: the import ends with an error and applies nothing
};

struct RefusedKey {
    std::string key; // key path text (CP932)
    int line = 0;    // the line of the first refused request for it
    std::string reason;
};

struct ImportReport {
    RegFileForm form = RegFileForm::Regedit4;
    std::uint64_t keys = 0;          // [key] lines
    std::uint64_t values = 0;        // values written
    std::uint64_t deletedKeys = 0;   // keys removed by [-key] lines, subkeys included
    std::uint64_t deletedValues = 0; // values removed by "name"=- lines
    std::vector<RefusedKey> refused; // in file order
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
