// libFuzzer target: any bytes as an export list file (.exportlist). A list is read whole or
// refused with its own error; every key it reads is a plain line of CP932 text, and a list
// read can be written again and reads back the same.
#include "FuzzFolder.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/ExportMerge.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("exportlist");
    return f;
}

std::vector<std::string> readList(const std::filesystem::path& file) {
    try {
        return klv::readExportList(file);
    } catch (const klv::ExportListError&) {
        std::abort(); // a list the program wrote itself
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto file = folder().path() / "keys.exportlist";
    try {
        klv::writeFileAtomically(file, bytes);
    } catch (const klv::FileError&) {
        std::abort();
    }
    std::vector<std::string> keys;
    try {
        keys = klv::readExportList(file);
    } catch (const klv::ExportListError& e) {
        FUZZ_CHECK(*e.what() != '\0');
        return 0;
    }
    for (const std::string& k : keys) {
        FUZZ_CHECK(!k.empty() && k.size() <= klv::kMaxExportListLine);
        FUZZ_CHECK(k.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        FUZZ_CHECK(klv::tryCp932ToUtf8(k).has_value());
    }
    // Written again, the list reads back the same; a file in the writer's own layout (CR LF
    // after every line, no empty lines) is written back byte for byte.
    const auto again = folder().path() / "again.exportlist";
    try {
        klv::writeExportList(again, keys);
    } catch (const klv::ExportListError&) {
        std::abort(); // a list that was read can be saved
    } catch (const klv::FileError&) {
        std::abort();
    }
    FUZZ_CHECK(readList(again) == keys);
    std::string canonical;
    for (const std::string& k : keys)
        canonical += k + "\r\n";
    if (bytes == canonical) {
        try {
            FUZZ_CHECK(klv::readFileBytes(again) == canonical);
        } catch (const klv::FileError&) {
            std::abort();
        }
    }
    return 0;
}
