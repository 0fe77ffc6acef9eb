#pragma once
// Exports the whole registry (every root of the platform family) or one key with its whole
// tree into a registry file, reading the store directly. Keys that cannot be opened are left
// out, as a walk leaves them out; names and data that the chosen form cannot hold are listed
// in the report. The file shows the registry as one commit left it, however other processes
// write meanwhile.
#include "core/regfiles/RegFileForm.h"
#include "core/regfiles/RegFileWriter.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct ExportOptions {
    RegFileForm form = RegFileForm::Unicode;
    int rootCount = 5; // roots of a whole-registry export and of key paths
    // Lets a user interface process its events; called every few thousand keys.
    std::function<void()> pump;
    const bool* stop = nullptr; // set: the export ends with an error and writes nothing
    // Threads that read the store, each on a connection of its own (0: as many as help, at
    // most two). The others see only what is committed: use 1 inside an open transaction.
    int threads = 0;
};

struct ExportReport {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;
    // What could not be written exactly (CP932 texts): an empty list means the file reads
    // back to the same keys, values, types and bytes.
    std::vector<std::string> losses;
};

class RegExporter {
public:
    RegExporter(Store& store, ExportOptions options);

    // `keyPath` is a key path text (CP932): a root name, without regard to case, then the
    // sub-path; empty for the whole registry. Throws RegistryError when the key cannot be
    // found or opened and RegFileError when the file cannot be written; the file is then left
    // as it was.
    ExportReport exportToFile(const std::filesystem::path& file, std::string_view keyPath);
    // The same into any receiver of the file's bytes.
    ExportReport exportTo(const RegFileWriter::Flush& flush, std::string_view keyPath);

    // A part of the export, written in the file's order: a key alone (its key line and values)
    // or a key with its whole tree.
    struct Part {
        int root = 0;
        std::vector<KeyId> ids;        // from the root key down to the part's key
        std::vector<StoredName> names; // below the root, down to the part's key
        bool wholeTree = true;
    };

private:
    // The connections an export reads through, each on a read snapshot of one and the same
    // commit.
    struct Readers {
        std::vector<std::shared_ptr<Store>> helpers;
        std::vector<std::unique_ptr<Store::ReadSnapshot>> snapshots; // end before their stores
    };

    Readers openReaders();
    Part resolve(std::string_view keyPath);
    std::vector<Part> plan(const Part* start);
    std::vector<Part> planFor(std::string_view keyPath);
    ExportReport run(const std::vector<Part>& parts, Readers& readers,
                     const RegFileWriter::Flush& flush);

    Store& store_;
    ExportOptions options_;
};

} // namespace klv
