#include "core/search/HitActions.h"

#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "core/registry/KeyBrowser.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/ValueText.h"
#include "core/search/SearchEngine.h"
#include "core/search/TextMatcher.h"
#include "core/undo/UndoActions.h"
#include "core/undo/UndoLog.h"

#include <set>
#include <stdexcept>

namespace klv {
namespace {

// A row that cannot be handled; what() is its CP932 message.
class HitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& cp932) {
    throw HitError(cp932);
}

std::string fold(std::string_view s) {
    return cp932Upper(s);
}

std::string errorText(const std::exception& e) {
    if (const auto* r = dynamic_cast<const RegistryError*>(&e))
        return r->fullText();
    return e.what();
}

// The key below a root, whatever its access; the access layer reports keys it may not open
// as missing, and a row must not vanish because its key is read only.
std::optional<KeyId> findKey(Store& store, int root, std::string_view path) {
    store.refresh();
    KeyId id = Store::rootId(root);
    for (const std::string& part : navigationComponents(path)) {
        const std::optional<KeyId> next = store.child(id, part);
        if (!next)
            return std::nullopt;
        id = *next;
    }
    return id;
}

std::size_t lastSeparator(std::string_view path) {
    std::size_t last = std::string_view::npos;
    for (std::size_t at = cp932Find(path, "\\"); at != std::string_view::npos;
         at = cp932Find(path, "\\", at + 1))
        last = at;
    return last;
}

std::string shownKey(const SearchHit& hit) {
    const std::string& key = hit.text(kColKey);
    return key.empty() ? hit.text(kColRoot) : hit.text(kColRoot) + "\\" + key;
}

std::string replaceFailureText(std::size_t index, const SearchHit& hit, const std::string& why) {
    return sj("次の行を置換できなかったため、置換を中止しました。レジストリは置換を始める前の状"
              "態に戻してあります。\n\n") +
           sj("行 : ") + std::to_string(index + 1) + "\n" + sj("種類 : ") + hit.text(kColKind) +
           "\n" + sj("ヒット文字列 : ") + hit.text(kColHit) + "\n" + sj("キー : ") + shownKey(hit) +
           "\n" + sj("名前 : ") + hit.text(kColName) + "\n\n" + why;
}

std::optional<int> rootOf(const SearchHit& hit) {
    return rootIndexByName(hit.text(kColRoot));
}

std::string unknownRootText(const SearchHit& hit) {
    return sj("ルートキー ") + hit.text(kColRoot) + sj(" はありません");
}

const std::string& writeRefusedText() {
    static const std::string text = sj("このキーへの書き込みは許可されていません");
    return text;
}

} // namespace

// Keys renamed by the window's runs, in order: a row found below such a key names it by its
// old path, which the renames lead to the key's present path.
struct HitActions::Renames {
    struct Entry {
        int root;
        std::string from, to; // below the root, without a leading backslash
    };
    std::vector<Entry> list;

    std::string follow(int root, std::string path) const {
        for (const Entry& r : list) {
            if (r.root != root || path.size() < r.from.size())
                continue;
            if (path.size() > r.from.size() && path[r.from.size()] != '\\')
                continue;
            if (fold(std::string_view(path).substr(0, r.from.size())) != fold(r.from))
                continue;
            path = r.to + path.substr(r.from.size());
        }
        return path;
    }
};

// One replacement run inside its transaction.
class HitActions::Run {
public:
    Run(std::shared_ptr<Store> store, const HitActions& owner, Renames& renames,
        ReplaceChoice choice)
        : store_(std::move(store)), reg_(store_), owner_(owner), renames_(renames),
          choice_(choice) {}

    std::vector<UndoEntry> entries;

    void replaceRow(const SearchHit& hit) {
        const std::optional<int> root = rootOf(hit);
        if (!root)
            fail(unknownRootText(hit));
        reg_.CloseKey();
        reg_.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
        // Overlapping start keys list a key or value twice, alike: the first row does it.
        const std::string id = std::to_string(hit.isKey() ? -1 : static_cast<int>(hit.mark)) +
                               "\n" + std::to_string(*root) + "\n" + fold(hit.text(kColKey)) +
                               "\n" + fold(hit.text(kColName)) + "\n" + hit.text(kColHit);
        if (!done_.insert(id).second)
            return;
        const std::string& text =
            hit.text(choice_ == ReplaceChoice::Substitution ? kColPreview : kColReplacement);
        switch (hit.mark) {
        case HitMark::String:
            replaceString(hit, *root, text);
            break;
        case HitMark::Number:
            replaceNumber(hit, *root, text);
            break;
        case HitMark::Name:
            renameValue(hit, *root, text);
            break;
        case HitMark::Key:
        case HitMark::KeyWithSubKeys:
            renameKey(hit, *root, text);
            break;
        }
        reg_.CloseKey();
    }

private:
    // Opens the row's key for writing: by its path, else by the path an earlier rename gave
    // it, else by the path with the search text replaced. Returns the path opened, from its
    // backslash on.
    std::string openValueKey(const SearchHit& hit, int root) {
        const std::string& key = hit.text(kColKey);
        std::vector<std::string> tries{"\\" + key};
        const std::string followed = "\\" + renames_.follow(root, key);
        if (followed != tries.front())
            tries.push_back(followed);
        const std::string substituted =
            "\\" + substitutePreview(key, owner_.search_, owner_.replacement_, false);
        if (substituted != tries.front() && substituted != followed)
            tries.push_back(substituted);
        for (const std::string& path : tries)
            if (reg_.OpenKey(path, false))
                return path;
        const std::string& name = hit.text(kColName);
        for (const std::string& path : tries)
            if (reg_.OpenKeyForReading(path)) {
                reg_.CloseKey();
                throw RegistryError(msgSetFailed(name), writeRefusedText());
            }
        throw RegistryError(msgSetFailed(name),
                            sj("キー ") + shownKey(hit) + sj(" が見つかりません"));
    }

    // The value as the search found it; a value that changed since would lose that change.
    RawValue foundValue(const SearchHit& hit, ValueKind k1, ValueKind k2) {
        const std::string& name = hit.text(kColName);
        const std::optional<RawValue> raw = reg_.ReadRaw(name);
        if (!raw)
            throw RegistryError(msgSetFailed(name), sj("値が見つかりません"));
        const ValueKind kind = valueKindOf(raw->type);
        if (kind != k1 && kind != k2)
            throw RegistryError(msgBadDataType(name));
        if (!editableAsItsKind(*raw))
            throw RegistryError(msgSetFailed(name),
                                sj("この値のデータは書き換えると元の形に戻せないため、置換でき"
                                   "ません"));
        return *raw;
    }

    [[noreturn]] static void changedSinceSearch(const std::string& name) {
        throw RegistryError(msgSetFailed(name), sj("検索の後でデータが変更されています"));
    }

    void replaceString(const SearchHit& hit, int root, const std::string& text) {
        const std::string& name = hit.text(kColName);
        const std::string path = openValueKey(hit, root);
        const RawValue raw = foundValue(hit, ValueKind::String, ValueKind::ExpandString);
        const std::string current = reg_.ReadText(name);
        if (current != hit.text(kColHit))
            changedSinceSearch(name);
        if (text == current)
            return;
        // An expandable string stays one: its %variables% keep working.
        const bool expand = valueKindOf(raw.type) == ValueKind::ExpandString;
        if (expand)
            reg_.WriteExpandString(name, text);
        else
            reg_.WriteString(name, text);
        record(expand ? undo_op::ExpandChanged : undo_op::StringChanged, hit, path, name, current,
               text);
    }

    void replaceNumber(const SearchHit& hit, int root, const std::string& text) {
        const std::string& name = hit.text(kColName);
        const std::optional<std::uint32_t> number = integerOfText(text);
        if (!number)
            fail(notANumberText(text));
        const std::string path = openValueKey(hit, root);
        foundValue(hit, ValueKind::Integer, ValueKind::Integer);
        const std::uint32_t current = reg_.ReadDword(name);
        if (std::to_string(current) != hit.text(kColHit))
            changedSinceSearch(name);
        if (*number == current)
            return;
        reg_.WriteInteger(name, *number);
        record(undo_op::IntegerChanged, hit, path, name, std::to_string(current),
               std::to_string(*number));
    }

    void renameValue(const SearchHit& hit, int root, const std::string& newName) {
        const std::string& name = hit.text(kColName);
        if (name.empty())
            fail(sj("標準値の名前変更は許可されていません。"));
        const std::string path = openValueKey(hit, root);
        if (!reg_.ValuePresent(name))
            throw RegistryError(msgSetFailed(newName),
                                sj("値 '") + name + sj("' が見つかりません"));
        if (newName == name)
            return;
        if (fold(newName) == fold(name))
            fail(sj("大文字と小文字だけが異なる名前には変更できません。"));
        if (reg_.ValuePresent(newName))
            fail(sj("同じ名前の値が既に存在するため、値の名前を変更できません。"));
        reg_.RenameValue(name, newName);
        if (!reg_.ValuePresent(newName) || reg_.ValuePresent(name))
            fail(sj("値の名前を変更できませんでした。"));
        record(undo_op::ValueRenamed, hit, path, name, name, newName);
    }

    void renameKey(const SearchHit& hit, int root, const std::string& newName) {
        const std::string& key = hit.text(kColKey);
        std::string source = key;
        if (!findKey(*store_, root, source)) {
            source = renames_.follow(root, key);
            if (source == key || !findKey(*store_, root, source))
                fail(sj("キー ") + shownKey(hit) + sj(" が見つかりません"));
        }
        // Only the last component is renamed, even when a parent holds the same name.
        const std::size_t sep = lastSeparator(source);
        const std::string parent = sep == std::string::npos ? "" : source.substr(0, sep + 1);
        const std::string oldName = source.substr(parent.size());
        if (newName.empty() || cp932Find(newName, "\\") != std::string::npos)
            fail(sj("新しい名前 '") + newName + sj("' はキーの名前に使えません。"));
        if (newName == oldName)
            return;
        if (fold(newName) == fold(oldName))
            fail(sj("大文字と小文字だけが異なる名前には変更できません。"));
        const std::string target = parent + newName;
        // Moving onto an existing key would merge the two.
        if (findKey(*store_, root, target))
            fail(sj("同じ名前のキーが既に存在するため、キー名を変更できません。"));
        reg_.MoveKey("\\" + source, "\\" + target, true);
        // A subkey that may not be deleted keeps the source: the move is then undone.
        if (!findKey(*store_, root, target) || findKey(*store_, root, source))
            fail(sj("キー名を変更できませんでした。"));
        renames_.list.push_back({root, source, target});
        record(undo_op::KeyRenamed, hit, "\\" + source, {}, "\\" + source, "\\" + target);
    }

    void record(std::string_view operation, const SearchHit& hit, std::string keyPath,
                std::string valueName, std::string before, std::string after) {
        UndoEntry e;
        e.operation = sj(operation);
        e.root = hit.text(kColRoot);
        e.keyPath = std::move(keyPath);
        e.valueName = std::move(valueName);
        e.before = std::move(before);
        e.after = std::move(after);
        // A change that could not be taken back is not made.
        if (!UndoLog::recordable(e))
            fail(sj("変更の内容が大きすぎるため、元に戻すリストには記録できません"));
        entries.push_back(std::move(e));
    }

    std::shared_ptr<Store> store_;
    TRegistry reg_;
    const HitActions& owner_;
    Renames& renames_;
    ReplaceChoice choice_;
    std::set<std::string> done_;
};

HitActions::HitActions(std::shared_ptr<Store> store, std::string searchText,
                       std::string replacement)
    : store_(std::move(store)), search_(std::move(searchText)),
      replacement_(std::move(replacement)), renames_(std::make_unique<Renames>()) {}

HitActions::~HitActions() = default;

namespace {

// Removes the rows marked, keeping the order of the rest.
std::size_t eraseMarked(std::vector<SearchHit>& rows, const std::vector<char>& marked) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!marked[i]) {
            if (kept != i)
                rows[kept] = std::move(rows[i]);
            ++kept;
        }
    const std::size_t removed = rows.size() - kept;
    rows.resize(kept);
    return removed;
}

} // namespace

ReplaceOutcome HitActions::replace(std::vector<SearchHit>& rows, ReplaceChoice choice,
                                   UndoLog& undo) {
    ReplaceOutcome out;
    const std::shared_ptr<Store> store = store_ ? store_ : Store::system();
    Renames renames = *renames_;
    std::vector<char> handled(rows.size(), 0);
    std::vector<UndoEntry> entries;
    try {
        Store::Transaction txn(*store);
        Run run(store, *this, renames, choice);
        for (std::size_t i = rows.size(); i-- > 0;) {
            if (!rows[i].checked)
                continue;
            try {
                run.replaceRow(rows[i]);
            } catch (const std::exception& e) {
                out.failedRow = i;
                out.error = replaceFailureText(i, rows[i], errorText(e));
                return out; // the transaction rolls back
            }
            handled[i] = 1;
        }
        txn.commit();
        entries = std::move(run.entries);
    } catch (const std::exception& e) {
        out.error = sj("置換を中止しました。レジストリは置換を始める前の状態に戻してあります。"
                       "\n\n") +
                    errorText(e);
        return out;
    }
    *renames_ = std::move(renames);
    out.replaced = eraseMarked(rows, handled);
    try {
        undo.addAll(std::move(entries));
    } catch (const ListFileError& e) {
        out.undoError = e.what();
    }
    return out;
}

DeleteOutcome HitActions::deleteChecked(std::vector<SearchHit>& rows, bool withSubKeys,
                                        UndoLog& undo,
                                        const std::function<void(const std::string&)>& report) {
    DeleteOutcome out;
    const std::shared_ptr<Store> store = store_ ? store_ : Store::system();
    TRegistry reg(store);
    // Rows go at the end, so that the list stays whole while the undo log's export runs.
    std::vector<char> removed(rows.size(), 0);
    std::vector<char> refused(rows.size(), 0); // reported once, not again by the second pass
    std::vector<UndoEntry> pending;
    const auto say = [&](const std::string& text) {
        if (report)
            report(text);
    };
    // Entries in the order of the changes: the key deletions record theirs themselves.
    const auto flush = [&] {
        if (pending.empty())
            return;
        try {
            undo.addAll(std::move(pending));
        } catch (const ListFileError& e) {
            out.undoError = e.what();
        }
        pending.clear();
    };
    const auto failedKey = [&](const SearchHit& hit, const std::string& why) {
        say(sj("キーの削除に失敗しました。エラー報告：15-248") + "\n\n" + shownKey(hit) + "\n" +
            why);
    };

    // Deletes the row's key with its subtree after exporting it; false when it stays.
    const auto deleteKey = [&](const SearchHit& hit, KeyId id) {
        const KeyRecord* k = store->key(id);
        if (!k || k->depth == 0 || k->access != KeyAccess::Full || store->readOnly()) {
            failedKey(hit, writeRefusedText());
            return false;
        }
        flush();
        try {
            undo.deleteKey(hit.text(kColRoot), "\\" + hit.text(kColKey));
            return true;
        } catch (const std::exception& e) {
            failedKey(hit, e.what());
            return false;
        }
    };

    const auto deleteValue = [&](std::size_t i) {
        const SearchHit& hit = rows[i];
        const char* code = hit.mark == HitMark::String ? "15-255"
                           : hit.mark == HitMark::Name ? "15-262"
                                                       : "15-269";
        const auto failed = [&](const std::string& why) {
            say(sj("値の削除に失敗しました。エラー報告：") + code + "\n\n" + shownKey(hit) + "\n" +
                hit.text(kColName) + (why.empty() ? "" : "\n" + why));
        };
        const std::optional<int> root = rootOf(hit);
        if (!root)
            return failed(unknownRootText(hit));
        if (!findKey(*store, *root, hit.text(kColKey))) {
            removed[i] = 1;
            return;
        }
        const std::string path = "\\" + hit.text(kColKey);
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
        if (!reg.OpenKey(path, false))
            return failed(writeRefusedText());
        const std::string& name = hit.text(kColName);
        const std::optional<RawValue> raw = reg.ReadRaw(name);
        if (!raw) {
            removed[i] = 1;
            return;
        }
        if (!reg.DeleteValue(name))
            return failed({});
        removed[i] = 1;
        pending.push_back(valueDeletionEntry(hit.text(kColRoot), path, name, *raw));
    };

    // First pass: values and keys without subkeys.
    for (std::size_t i = rows.size(); i-- > 0;) {
        const SearchHit& hit = rows[i];
        if (!hit.checked)
            continue;
        if (!hit.isKey()) {
            deleteValue(i);
            continue;
        }
        if (hit.mark == HitMark::KeyWithSubKeys)
            continue;
        const std::optional<int> root = rootOf(hit);
        if (!root) {
            failedKey(hit, unknownRootText(hit));
            refused[i] = 1;
            continue;
        }
        const std::optional<KeyId> id = findKey(*store, *root, hit.text(kColKey));
        if (!id) {
            removed[i] = 1;
            continue;
        }
        // A key that has gained subkeys since the search is left to the second pass.
        if (const KeyRecord* k = store->key(*id); k && k->subKeys > 0)
            continue;
        if (deleteKey(hit, *id))
            removed[i] = 1;
        else
            refused[i] = 1;
    }
    // Second pass: keys with their subkeys, only when asked for.
    if (withSubKeys)
        for (std::size_t i = rows.size(); i-- > 0;) {
            const SearchHit& hit = rows[i];
            if (!hit.checked || !hit.isKey() || removed[i] || refused[i])
                continue;
            const std::optional<int> root = rootOf(hit);
            if (!root) {
                failedKey(hit, unknownRootText(hit));
                continue;
            }
            const std::optional<KeyId> id = findKey(*store, *root, hit.text(kColKey));
            if (!id || deleteKey(hit, *id))
                removed[i] = 1;
        }
    flush();
    out.deleted = eraseMarked(rows, removed);
    return out;
}

PreviewLines previewLines(const SearchHit& hit) {
    const std::string before = sj("置換前 : ") + hit.text(kColHit);
    return {before, sj("置換後 : ") + hit.text(kColPreview), before,
            sj("置換後 : ") + hit.text(kColReplacement)};
}

void tickByKind(std::vector<SearchHit>& rows, TickKind kind) {
    const auto wanted = [kind](HitMark m) {
        switch (kind) {
        case TickKind::All:
            return true;
        case TickKind::Strings:
            return m == HitMark::String;
        case TickKind::Numbers:
            return m == HitMark::Number;
        case TickKind::StringsAndNumbers:
            return m == HitMark::String || m == HitMark::Number;
        case TickKind::Names:
            return m == HitMark::Name;
        case TickKind::LeafKeys:
            return m == HitMark::Key;
        case TickKind::AllKeys:
            return m == HitMark::Key || m == HitMark::KeyWithSubKeys;
        }
        return false;
    };
    for (SearchHit& r : rows)
        r.checked = wanted(r.mark);
}

} // namespace klv
