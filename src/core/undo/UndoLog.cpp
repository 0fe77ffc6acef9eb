#include "core/undo/UndoLog.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/platform/ProcessRunner.h"
#include "core/platform/TimeText.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegFileReader.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/RawValueCodec.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/ValueText.h"
#include "core/undo/UndoActions.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace klv {
namespace {

constexpr const char* kUndoFolder = "UNDO";

// Stops the reading of an undo file at its first key.
struct FirstKey {};

class FirstKeySink : public RegFileSink {
public:
    std::optional<RegKeyPath> key;
    void openKey(const RegKeyPath& path) override {
        key = path;
        throw FirstKey{};
    }
    void deleteKey(const RegKeyPath&) override { throw FirstKey{}; }
    void setValue(const RawValue&) override {}
    void deleteValue(const StoredName&) override {}
};

// True when the registry file starts with the key `rootName` + `keyPath`.
bool fileHoldsKey(const fs::path& file, const std::string& rootName, const std::string& keyPath) {
    std::ifstream in(file, std::ios::binary);
    // The header and the first key line are near the start; a long first line still fits.
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    FirstKeySink sink;
    try {
        RegFileReader().read(head, sink);
    } catch (const FirstKey&) {
    } catch (const RegFileError&) {
        return false;
    }
    if (!sink.key || kRootKeys[static_cast<std::size_t>(sink.key->root)].name != rootName)
        return false;
    std::string path;
    for (const StoredName& c : sink.key->components) {
        if (c.wide)
            return false;
        path += '\\';
        path += c.bytes;
    }
    return cp932Upper(path) == cp932Upper(keyPath);
}

// The child's standard error (UTF-8) for a CP932 box; characters CP932 lacks show as "〓".
std::string childText(const std::string& utf8) {
    return utf16ToCp932Lossy(utf8ToUtf16(utf8));
}

std::string exitText(const ProcessRunner::Result& r) {
    if (!r.started)
        return childText(r.errorText);
    std::string text = r.signal ? sj("シグナル ") + std::to_string(r.signal) + sj(" で終了しました")
                                : sj("終了コード ") + std::to_string(r.exitCode);
    if (!r.errorText.empty())
        text += "\n" + childText(r.errorText);
    return text;
}

void removeQuietly(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
}

} // namespace

UndoLog::UndoLog(UndoPlace place) : place_(std::move(place)) {}

void UndoLog::setLimit(int limit) {
    limit_ = std::max(1, limit);
}

fs::path UndoLog::listFile() const {
    return findNoCase(place_.home, kUndoListFile).value_or(place_.home / kUndoListFile);
}

fs::path UndoLog::undoFolder() const {
    return ensureFolderNoCase(place_.home, kUndoFolder);
}

std::optional<fs::path> UndoLog::undoFilePath(const std::string& name) const {
    // A name from UNDO.DAT may have been written by anyone: only a plain file name is used.
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
        return std::nullopt;
    const fs::path folder = undoFolder();
    return findNoCase(folder, name).value_or(folder / name);
}

std::string UndoLog::freshUndoFileName(const std::string& stamp, const char* extension) const {
    // Two deletions within one second must not share a file.
    const fs::path folder = undoFolder();
    for (int n = 1;; ++n) {
        const std::string name =
            n == 1 ? stamp + extension : stamp + "_" + std::to_string(n) + extension;
        const bool listed = std::any_of(entries_.begin(), entries_.end(), [&](const UndoEntry& e) {
            return cp932Upper(e.undoFile) == cp932Upper(name);
        });
        if (!listed && !findNoCase(folder, name))
            return name;
    }
}

std::vector<fs::path> UndoLog::trimToLimit() {
    std::vector<fs::path> files;
    while (entries_.size() > static_cast<std::size_t>(limit_)) {
        if (const auto file = undoFilePath(entries_.back().undoFile))
            files.push_back(*file);
        entries_.pop_back();
    }
    return files;
}

void UndoLog::saveTrimmed() {
    // The files of the rows that went are removed only once UNDO.DAT no longer names them: a
    // failed save, or a process killed before it, leaves every listed row its file.
    for (fs::path& file : trimToLimit())
        dropped_.push_back(std::move(file));
    save();
    for (const fs::path& file : dropped_)
        removeQuietly(file);
    dropped_.clear();
}

bool UndoLog::recordable(const UndoEntry& e) {
    for (const std::string* text : {&e.before, &e.after, &e.valueName, &e.keyPath})
        if (text->size() > kMaxListText)
            return false;
    return true;
}

namespace {
[[noreturn]] void throwTooLarge() {
    throw ListFileError(ListFileError::Kind::TooLarge,
                        sj("変更の内容が大きすぎるため、元に戻すリストには記録できません"));
}
} // namespace

void UndoLog::add(UndoEntry e) {
    if (!recordable(e))
        throwTooLarge();
    if (e.time.empty())
        e.time = listTimeText(localNow());
    entries_.insert(entries_.begin(), std::move(e));
    saveTrimmed();
}

void UndoLog::addAll(std::vector<UndoEntry> entries) {
    if (entries.empty())
        return;
    for (const UndoEntry& e : entries)
        if (!recordable(e))
            throwTooLarge();
    const std::string now = listTimeText(localNow());
    for (UndoEntry& e : entries)
        if (e.time.empty())
            e.time = now;
    // Newest first, ahead of what was there.
    std::reverse(entries.begin(), entries.end());
    entries.insert(entries.end(), std::make_move_iterator(entries_.begin()),
                   std::make_move_iterator(entries_.end()));
    entries_ = std::move(entries);
    saveTrimmed();
}

void UndoLog::deleteKey(const std::string& rootName, const std::string& keyPath) {
    const auto rootIndex = rootIndexByName(rootName);
    if (!rootIndex || keyPath.empty())
        throw UndoError(sj("キー ") + rootName + keyPath + sj(" は削除できません"));
    const std::tm now = localNow(); // one instant for the entry and its file
    const std::string name = freshUndoFileName(fileNameTimeText(now), ".reg");
    const fs::path file = undoFolder() / name;
    const std::string key = rootName + keyPath;
    const auto editor = registryEditorPath(place_.systemFolder);
    if (!editor)
        throw UndoError(sj("レジストリエディタ REGEDIT.EXE が見つからないため、キー ") + key +
                        sj(" を書き出せません。キーは削除しませんでした。"));
    const ProcessRunner::Result r = ProcessRunner::runWaited(*editor, {"/E", file.string(), key},
                                                             place_.systemFolder, place_.pump);
    const auto refuse = [&](const std::string& why) {
        removeQuietly(file);
        throw UndoError(sj("キー ") + key + sj(" をアンドゥファイルに書き出せなかったため、") +
                        sj("キーは削除しませんでした。\n") + why);
    };
    if (r.started && r.finished && r.signal == 0 && r.exitCode == kKlovregLossy)
        refuse(sj("名前やデータの一部をファイルに正確に書き出せません。"));
    if (!r.succeeded())
        refuse(exitText(r));
    std::error_code ec;
    if (!fs::exists(file, ec) || fs::file_size(file, ec) == 0 || ec)
        refuse(sj("アンドゥファイルが作られませんでした。"));
    if (!fileHoldsKey(file, rootName, keyPath))
        refuse(sj("アンドゥファイルにキーが書き出されていません。"));

    UndoEntry e;
    e.time = listTimeText(now);
    e.operation = sj(undo_op::KeyDeleted);
    e.root = rootName;
    e.keyPath = keyPath;
    e.undoFile = name;
    const std::vector<UndoEntry> before = entries_;
    const std::vector<fs::path> droppedBefore = dropped_;
    try {
        add(std::move(e));
    } catch (const ListFileError&) {
        // Without the entry on disk a crash would lose the way back: keep the key. The rows
        // the limit would have dropped are back, and keep their files.
        entries_ = before;
        dropped_ = droppedBefore;
        removeQuietly(file);
        throw;
    }
    TRegistry reg(place_.store ? place_.store : Store::system());
    reg.RootKey(kRootKeys[static_cast<std::size_t>(*rootIndex)].handle);
    bool deleted = false;
    try {
        deleted = reg.DeleteKey(keyPath);
    } catch (const RegistryError& err) {
        throw UndoError(err.fullText());
    }
    if (!deleted)
        throw UndoError(sj("キー ") + key + sj(" を削除できませんでした"));
}

void UndoLog::restoreKey(const UndoEntry& e, TRegistry& reg) {
    const auto editor = registryEditorPath(place_.systemFolder);
    if (!editor)
        throw UndoError(sj("キーの削除を復元するためには、OS標準搭載のレジストリエディタ "
                           "Regedit.exe が必要です。"));
    const auto file = undoFilePath(e.undoFile);
    std::error_code ec;
    if (!file || !fs::is_regular_file(*file, ec))
        throw UndoError(sj("アンドゥファイル ") + e.undoFile + sj(" が見つかりません"));
    const ProcessRunner::Result r =
        ProcessRunner::runWaited(*editor, {"/S", file->string()}, place_.systemFolder, place_.pump);
    if (r.started && r.finished && r.signal == 0 && r.exitCode == kKlovregRefused)
        throw UndoError(sj("書き込みが許可されていないキーがあるため、キー ") + e.root + e.keyPath +
                        sj(" の一部を復元できませんでした。\n") + childText(r.errorText));
    if (!r.succeeded())
        throw UndoError(sj("キー ") + e.root + e.keyPath + sj(" を復元できませんでした。\n") +
                        exitText(r));
    reg.store().refresh();
    if (!reg.KeyPresent(e.keyPath))
        throw UndoError(sj("キー ") + e.root + e.keyPath + sj(" を復元できませんでした。"));
    removeQuietly(*file);
}

void UndoLog::undo(std::size_t index) {
    if (index >= entries_.size())
        return;
    const UndoEntry e = entries_[index];
    const auto rootIndex = rootIndexByName(e.root);
    if (!rootIndex)
        throw UndoError(sj("ルートキー ") + e.root + sj(" が不明なため、元に戻せません"));
    TRegistry reg(place_.store ? place_.store : Store::system());
    reg.RootKey(kRootKeys[static_cast<std::size_t>(*rootIndex)].handle);
    const UndoAction action = undoActionFor(e.operation);
    if (action == UndoAction::RestoreKey)
        restoreKey(e, reg);
    else if (!e.undoFile.empty())
        restoreValue(e, reg);
    else
        applyUndo(e, action, reg);
    // The list may have changed while REGEDIT.EXE ran (the window kept working).
    const auto it = std::find(entries_.begin(), entries_.end(), e);
    if (it != entries_.end())
        entries_.erase(it);
}

namespace {

// Whether the undo of the entry's operation gives the value back from the entry's texts alone.
bool restorableFromText(const RawValue& v) {
    return !v.name.wide && !v.dataWide && editableAsItsKind(v) &&
           dataText(v).size() <= kMaxListText;
}

} // namespace

void UndoLog::addValueChange(UndoEntry e, const std::optional<RawValue>& previous) {
    const bool pasted = e.operation == undoOperation(undo_op::Pasted);
    if (previous && (pasted || !restorableFromText(*previous))) {
        const std::string name = freshUndoFileName(fileNameTimeTextNow(), ".val");
        try {
            writeFileAtomically(undoFolder() / name, encodeRawValue(*previous));
        } catch (const FileError& err) {
            throw ListFileError(ListFileError::Kind::Io, err.what());
        }
        e.undoFile = name;
        // The texts only show what the file keeps: cut to what a list file can hold.
        for (std::string* text : {&e.before, &e.after}) {
            if (text->size() > kMaxListText) {
                text->resize(kMaxListText - 3);
                *text += "...";
            }
        }
    }
    add(std::move(e));
}

// A value change whose value is kept in an undo file: the value goes back as it was.
void UndoLog::restoreValue(const UndoEntry& e, TRegistry& reg) {
    const auto file = undoFilePath(e.undoFile);
    std::optional<std::string> bytes;
    try {
        bytes = file ? readFileBytes(*file) : std::nullopt;
    } catch (const FileError& err) {
        throw UndoError(err.what());
    }
    const std::optional<RawValue> value = bytes ? decodeRawValue(*bytes) : std::nullopt;
    if (!value)
        throw UndoError(sj("アンドゥファイル ") + e.undoFile +
                        sj(" が見つからないか壊れているため、元に戻せません"));
    try {
        if (!reg.OpenKey(e.keyPath, true))
            throw UndoError(sj("キー ") + e.root + e.keyPath +
                            sj(" を開けないため、元に戻せません"));
        reg.WriteRaw(*value);
    } catch (const RegistryError& err) {
        throw UndoError(err.what());
    }
    std::error_code ec;
    fs::remove(*file, ec);
}

void UndoLog::remove(std::size_t index) {
    if (index < entries_.size())
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

void UndoLog::clear() {
    entries_.clear();
}

void UndoLog::save() const {
    std::vector<ListRow> rows;
    rows.reserve(entries_.size());
    for (const UndoEntry& e : entries_)
        rows.push_back(toListRow(e));
    saveListFile(listFile(), rows);
}

bool UndoLog::load() {
    const fs::path file = listFile();
    std::error_code ec;
    if (!fs::exists(file, ec))
        return false;
    std::vector<UndoEntry> loaded;
    for (const ListRow& r : loadListFile(file))
        loaded.push_back(fromListRow(r));
    entries_ = std::move(loaded);
    return true;
}

std::string UndoLog::confirmationText(const UndoEntry& e) {
    return sj("処理を元に戻し、更新されたデータを復元します。元に戻してもよろしいですか。") +
           "\r\r" + sj("日時 : ") + e.time + "\r" + sj("処理 : ") + e.operation + "\r" +
           sj("キー : ") + e.root + e.keyPath + "\r" + sj("値　 : ") + e.valueName + "\r";
}

} // namespace klv
