// libFuzzer target: any bytes as a list file (UNDO.DAT, FAVORITE.DAT, HISTRY.DAT, VALUE.DAT).
// A file is read whole or refused whole; what it reads as is written and read back the same;
// the panel lists and the undo log take its rows without harm, the undo log loads it as the
// decoder does, and undoing its entries against a store of this process's own either works
// or ends with the undo's own error.
#include "FuzzFolder.h"

#include "core/lists/ListFile.h"
#include "core/lists/PanelLists.h"
#include "core/platform/AtomicFile.h"
#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"
#include "core/undo/UndoActions.h"
#include "core/undo/UndoLog.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using klv::ListFileError;
using klv::ListRow;

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("listfile");
    return f;
}

// At most this many entries of one file are undone: each is a store transaction.
constexpr std::size_t kUndoneEntries = 8;

bool hasNul(const ListRow& r) {
    if (r.caption.find('\0') != std::string::npos)
        return true;
    for (const std::string& s : r.subItems)
        if (s.find('\0') != std::string::npos)
            return true;
    return false;
}

void writeOrAbort(const std::filesystem::path& file, std::string_view bytes) {
    try {
        klv::writeFileAtomically(file, bytes);
    } catch (const klv::FileError&) {
        std::abort(); // our own temporary folder
    }
}

// What is written is read back the same, through bytes and through a file.
void roundTrip(const std::vector<ListRow>& rows, std::string_view input) {
    const std::string again = klv::encodeListFile(rows);
    FUZZ_CHECK(klv::decodeListFile(again) == rows);
    // Only texts cut at a NUL make the rewritten file differ from (and shorter than) the input.
    FUZZ_CHECK(again.size() <= input.size());
    if (again.size() == input.size())
        FUZZ_CHECK(again == input);
    const auto file = folder().path() / "LIST.DAT";
    klv::saveListFile(file, rows);
    FUZZ_CHECK(klv::loadListFile(file) == rows);
}

// The value holder's and the history's readings of any row.
void panelRows(const std::vector<ListRow>& rows, std::uint8_t optionBits) {
    klv::HolderOptions options;
    options.date = optionBits & 1;
    options.add = optionBits & 2;
    for (const ListRow& r : rows) {
        const klv::LocationParts parts = klv::splitLocation(klv::favoriteLocation(r));
        FUZZ_CHECK(parts.root + parts.keyPath == r.caption);
        (void)klv::historyLocation(r);
        FUZZ_CHECK(klv::shownSubItems(r) <= r.subItems.size());
        ListRow toggled = r;
        klv::togglePasteFlag(toggled);
        FUZZ_CHECK(klv::pasteFlag(toggled) != klv::pasteFlag(r));
        const std::optional<klv::RawValue> value = klv::pastedValue(r);
        if (!value)
            continue;
        // Stored again in the holder and in VALUE.DAT, the value comes back exactly as it went
        // in (a shown text may be cut at a NUL; the value is not).
        const ListRow held =
            klv::holderRow(*value, options, "2024/01/02 03:04:05", "HKEY_CURRENT_USER\\Fuzz");
        FUZZ_CHECK(klv::pastedValue(held) == value);
        const std::vector<ListRow> saved = klv::decodeListFile(klv::encodeListFile({held}));
        FUZZ_CHECK(saved.size() == 1 && klv::pastedValue(saved[0]) == value);
    }
    std::vector<ListRow> holder = rows;
    const std::size_t removed = klv::removeUnflagged(holder);
    FUZZ_CHECK(removed + holder.size() == rows.size());
    for (const ListRow& r : holder)
        FUZZ_CHECK(klv::pasteFlag(r));
}

klv::UndoLog undoLog() {
    klv::UndoPlace place;
    place.home = folder().path();
    place.systemFolder = folder().path() / "WINDOWS"; // no REGEDIT.EXE: key restores refuse
    place.store = folder().store();
    return klv::UndoLog(place);
}

// After an undo, the registry holds what the entry said was there before.
void checkRestored(const klv::UndoEntry& e, klv::UndoAction action) {
    const auto root = klv::rootIndexByName(e.root);
    klv::TRegistry reg(folder().store());
    reg.RootKey(klv::kRootKeys[static_cast<std::size_t>(*root)].handle);
    switch (action) {
    case klv::UndoAction::WriteString:
    case klv::UndoAction::WriteExpandString:
        FUZZ_CHECK(reg.OpenKey(e.keyPath, false) && reg.ReadText(e.valueName) == e.before);
        break;
    case klv::UndoAction::WriteInteger:
        FUZZ_CHECK(reg.OpenKey(e.keyPath, false) &&
                   reg.ReadDword(e.valueName) == klv::integerOfText(e.before));
        break;
    case klv::UndoAction::DeleteValue:
        FUZZ_CHECK(!reg.OpenKey(e.keyPath, false) || !reg.ValuePresent(e.valueName));
        break;
    case klv::UndoAction::DeleteKey:
        FUZZ_CHECK(e.keyPath.empty() || !reg.KeyPresent(e.keyPath));
        break;
    default:
        break;
    }
}

void undoEntries(const std::vector<ListRow>& rows, std::string_view bytes) {
    const auto file = folder().path() / klv::kUndoListFile;
    writeOrAbort(file, bytes);
    klv::UndoLog log = undoLog();
    FUZZ_CHECK(log.load());
    FUZZ_CHECK(log.entries().size() == rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        FUZZ_CHECK(log.entries()[i] == klv::fromListRow(rows[i]));
    for (const klv::UndoEntry& e : log.entries()) {
        if (const auto undoFile = log.undoFilePath(e.undoFile))
            FUZZ_CHECK(undoFile->parent_path() == log.undoFolder()); // never outside UNDO
        (void)klv::UndoLog::confirmationText(e);
    }
    // Undoing every entry from the last, as a user would click down the list.
    klv::Store::Transaction outer(*folder().store()); // never committed
    const std::size_t n = std::min(log.entries().size(), kUndoneEntries);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = log.entries().size() - 1;
        const klv::UndoEntry e = log.entries()[i];
        try {
            log.undo(i);
        } catch (const klv::UndoError&) {
            FUZZ_CHECK(log.entries().size() == i + 1); // a failed undo keeps its entry
            log.remove(i);
            continue;
        }
        FUZZ_CHECK(log.entries().size() == i);
        if (e.undoFile.empty())
            checkRestored(e, klv::undoActionFor(e.operation));
    }
}

// A file the decoder refuses: saving the undo log keeps it aside instead of writing over it,
// and loading it is refused, the log keeping what it had.
void refusedFile(std::string_view bytes, ListFileError::Kind kind) {
    const auto file = folder().path() / klv::kUndoListFile;
    writeOrAbort(file, bytes);
    klv::UndoLog log = undoLog();
    klv::UndoEntry kept;
    kept.time = "kept";
    log.setLimit(10);
    try {
        log.add(kept); // writes UNDO.DAT: put the refused bytes back afterwards
    } catch (const ListFileError&) {
        std::abort();
    }
    // The refused file was not written over: it waits beside the list as UNDO.DAT.BAD.
    auto bad = file;
    bad += ".BAD";
    if (!bytes.empty()) {
        try {
            FUZZ_CHECK(klv::readFileBytes(bad) == std::string(bytes));
        } catch (const klv::FileError&) {
            std::abort();
        }
    }
    std::error_code ec;
    std::filesystem::remove(bad, ec); // the next input finds the name free
    writeOrAbort(file, bytes);
    try {
        log.load();
        std::abort(); // the decoder refused these bytes
    } catch (const ListFileError& e) {
        FUZZ_CHECK(e.kind() == kind);
    }
    FUZZ_CHECK(log.entries().size() == 1 && log.entries()[0].time == "kept");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ListRow> rows;
    try {
        rows = klv::decodeListFile(bytes);
    } catch (const ListFileError& e) {
        // Reading never reports a size limit, and a file that is a list file is never missing.
        FUZZ_CHECK(e.kind() == ListFileError::Kind::Damaged ||
                   e.kind() == ListFileError::Kind::Missing);
        FUZZ_CHECK((e.kind() == ListFileError::Kind::Missing) != bytes.starts_with("LVF"));
        refusedFile(bytes, e.kind());
        return 0;
    }
    FUZZ_CHECK(rows.size() <= klv::kMaxListRows);
    for (const ListRow& r : rows)
        FUZZ_CHECK(!hasNul(r));
    roundTrip(rows, bytes);
    panelRows(rows, size > 3 ? data[3] : 0);
    undoEntries(rows, bytes);
    return 0;
}
