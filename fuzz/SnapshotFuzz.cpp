// libFuzzer target: any bytes as a snapshot database (DB\<root>.DB). The database reads and
// rewrites itself consistently and takes edits; compared with a store made from its own
// sections and entries it gives a change report, and once brought up to date it finds no
// change. A database the program builds itself from that store finds no change either.
#include "FuzzFolder.h"

#include "core/platform/AtomicFile.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"
#include "core/snapshot/ChangeTracking.h"
#include "core/snapshot/SnapshotDatabase.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using klv::SnapshotDatabase;

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("snapshot");
    return f;
}

// Bounds that keep one input fast.
constexpr std::size_t kSections = 12;
constexpr std::size_t kEntries = 12;
constexpr std::size_t kDepth = 6;

const std::string kRoot = "HKEY_CURRENT_USER";

void writeOrAbort(const std::filesystem::path& file, std::string_view bytes) {
    try {
        klv::writeFileAtomically(file, bytes);
    } catch (const klv::FileError&) {
        std::abort(); // our own temporary folder
    }
}

std::vector<std::string> firstOf(std::vector<std::string> v, std::size_t n) {
    v.resize(std::min(v.size(), n));
    return v;
}

// The database read again from its own text holds the same entries.
void rewritesItself(const SnapshotDatabase& db) {
    const SnapshotDatabase again = SnapshotDatabase::parse(db.text());
    for (const std::string& s : firstOf(db.sectionNames(), kSections)) {
        const std::vector<std::string> names = db.entryNames(s);
        if (names.empty())
            continue; // a section without entries is not written
        FUZZ_CHECK(again.hasSection(s));
        FUZZ_CHECK(again.entryNames(s) == names);
        for (const std::string& n : firstOf(names, kEntries)) {
            FUZZ_CHECK(db.read(s, n).has_value());
            FUZZ_CHECK(again.read(s, n) == db.read(s, n));
            (void)klv::snapshotShown(n);
            (void)klv::snapshotShown(*db.read(s, n));
        }
    }
}

void takesEdits(SnapshotDatabase db) {
    const std::vector<std::string> sections = firstOf(db.sectionNames(), 2);
    const std::string section = sections.empty() ? kRoot + "\\Fuzz" : sections.front();
    db.write(section,
             "\x01"
             "fuzz",
             "value");
    FUZZ_CHECK(db.read(section, "\x01"
                                "FUZZ") == "value"); // names match without case
    FUZZ_CHECK(db.changed());
    if (sections.size() > 1) {
        db.eraseSection(sections.back());
        FUZZ_CHECK(!db.hasSection(sections.back()));
        FUZZ_CHECK(!SnapshotDatabase::parse(db.text()).hasSection(sections.back()));
    }
    FUZZ_CHECK(SnapshotDatabase::parse(db.text()).read(section, "\x01"
                                                                "fuzz") == "value");
}

// Keys and values of the store taken from the database itself: its section names as key
// paths below one root, its entries as values of every kind, some with UTF-16 names, some
// with the escapes undone.
void fillStore(klv::Store& store, const SnapshotDatabase& db, std::uint8_t salt) {
    const klv::KeyId root = klv::Store::rootId(*klv::rootIndexByName(kRoot));
    std::size_t n = 0;
    for (const std::string& s : firstOf(db.sectionNames(), kSections)) {
        klv::KeyId key = root;
        std::size_t depth = 0, from = s.find('\\') == std::string::npos ? 0 : s.find('\\') + 1;
        try {
            while (from < s.size() && depth < kDepth) {
                const std::size_t end = std::min(s.find('\\', from), s.size());
                if (end > from) {
                    std::string name = s.substr(from, end - from);
                    if (salt & 2)
                        name = klv::snapshotShown(name);
                    key = store.createChild(key, klv::StoredName{name, false});
                    ++depth;
                }
                from = end + 1;
            }
            for (const std::string& e : firstOf(db.entryNames(s), kEntries)) {
                // Escapes undone where the salt says: CR, LF, 7F and "=" reach the store.
                const std::string_view stored = db.read(s, e).value_or("");
                const std::string data =
                    salt & 2 ? klv::snapshotShown(stored) : std::string(stored);
                static constexpr std::uint32_t kTypes[] = {
                    klv::REG_SZ,       klv::REG_EXPAND_SZ, klv::REG_DWORD, klv::REG_BINARY,
                    klv::REG_MULTI_SZ, klv::REG_QWORD,     klv::REG_NONE,  0x12345678u};
                const std::size_t pick = (n++ + salt) % std::size(kTypes);
                klv::RawValue v;
                v.type = kTypes[pick];
                const std::string name = salt & 2 ? klv::snapshotShown(e) : e;
                v.name = klv::StoredName{name, (salt & 0x80) && name.size() % 2 == 0};
                v.data = data;
                if (klv::isTextType(v.type) && (salt & 1))
                    v.data += std::string(v.type == klv::REG_MULTI_SZ ? 2 : 1, '\0');
                v.dataWide = klv::isTextType(v.type) && (salt & 0x40) && v.data.size() % 2 == 0;
                store.setValue(key, v);
            }
        } catch (const klv::RegistryError&) {
            // a name past the store's limits: that section adds what it could
        }
    }
}

klv::CompareOutcome compare(const std::filesystem::path& file, bool rebuild,
                            std::vector<klv::ChangeRow>& rows) {
    return klv::compareSnapshot(kRoot, "\\", file, rebuild, {}, rows, folder().store());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const SnapshotDatabase db = SnapshotDatabase::parse(std::string(bytes));
    rewritesItself(db);
    takesEdits(SnapshotDatabase::parse(std::string(bytes)));

    klv::Store& store = *folder().store();
    klv::Store::Transaction outer(store); // never committed: every input starts from empty roots
    fillStore(store, db, size > 0 ? data[size - 1] : 0);

    // The fuzzed database against the store: rows and reports, then brought up to date.
    const auto fuzzed = folder().path() / "FUZZED.DB";
    writeOrAbort(fuzzed, bytes);
    std::vector<klv::ChangeRow> rows;
    const klv::CompareOutcome first = compare(fuzzed, false, rows);
    FUZZ_CHECK(!first.databaseMissing && !first.rebuilt);
    for (klv::ReportFormat f :
         {klv::ReportFormat::Csv, klv::ReportFormat::Text, klv::ReportFormat::Html})
        (void)klv::changeReport(rows, f);
    rows.clear();
    const klv::CompareOutcome updated = compare(fuzzed, true, rows);
    if (!updated.error) {
        rows.clear();
        const klv::CompareOutcome again = compare(fuzzed, false, rows);
        FUZZ_CHECK(!again.error && rows.empty());
    }

    // A database the program builds finds the store unchanged, and is not rewritten.
    const auto built = folder().path() / "BUILT.DB";
    const klv::BuildOutcome b = klv::buildSnapshot(kRoot, built, {}, folder().store());
    FUZZ_CHECK(!b.error && !b.stopped);
    rows.clear();
    const klv::CompareOutcome fresh = compare(built, true, rows);
    FUZZ_CHECK(!fresh.error && rows.empty() && !fresh.rebuilt);
    return 0;
}
