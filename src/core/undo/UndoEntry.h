#pragma once
// One row of the undo log: a change the editor window made, with what it takes to reverse it.
// All texts are CP932, as the list shows and stores them.
#include "core/lists/ListFile.h"

#include <string>
#include <string_view>

namespace klv {

struct UndoEntry {
    std::string time;      // "yyyy/mm/dd hh:nn:ss", the row caption
    std::string operation; // one of the names below
    std::string root;      // "HKEY_CURRENT_USER"
    std::string keyPath;   // below the root, from its backslash on; empty for a root key
    std::string valueName; // empty for the default value
    std::string before;
    std::string after;
    std::string undoFile; // "yyyymmddhhnnss.reg" for key deletions, else empty
    bool operator==(const UndoEntry&) const = default;
};

// The undo icon of the list (the same image as the tab).
inline constexpr int kUndoImage = 21;

// Operation names, UTF-8 here; the entries hold them in CP932 (see undoOperation()).
namespace undo_op {
inline constexpr std::string_view StringChanged = "文字列値の変更";
inline constexpr std::string_view IntegerChanged = "数値の変更";
inline constexpr std::string_view BinaryChanged = "バイナリ値の変更";
inline constexpr std::string_view ExpandChanged = "拡張文字列値の変更";
inline constexpr std::string_view MultiChanged = "マルチ文字列値の変更";
inline constexpr std::string_view StringCreated = "文字列値の作成";
inline constexpr std::string_view IntegerCreated = "数値の作成";
inline constexpr std::string_view BinaryCreated = "バイナリ値の作成";
inline constexpr std::string_view ExpandCreated = "拡張文字列値の作成";
inline constexpr std::string_view MultiCreated = "マルチ文字列値の作成";
inline constexpr std::string_view KeyCreated = "キーの作成";
inline constexpr std::string_view KeyDeleted = "キーの削除";
inline constexpr std::string_view KeyRenamed = "キー名の変更";
inline constexpr std::string_view ValueRenamed = "値名の変更";
inline constexpr std::string_view ValueDeletedPrefix = "値の削除 - ";
inline constexpr std::string_view ValueCutPrefix = "切り取り - ";
inline constexpr std::string_view Pasted = "貼り付け";
} // namespace undo_op

struct RawValue;

// The entry of a value deleted from `keyPath` (from its backslash on) of the root `root`, as
// every window records one: "値の削除 - " + the kind's name, the data text as 変更前.
UndoEntry valueDeletionEntry(const std::string& root, const std::string& keyPath,
                             const std::string& valueName, const RawValue& deleted);

// The CP932 form of an operation name.
std::string undoOperation(std::string_view utf8Name);

// The list row of an entry (caption 日時, then the seven columns) and back. A row with fewer
// sub-items reads the missing ones as empty.
ListRow toListRow(const UndoEntry& e);
UndoEntry fromListRow(const ListRow& r);

} // namespace klv
