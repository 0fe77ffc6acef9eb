#pragma once
// The rules of the function panel's favorites, access history and value holder lists: rows,
// limits, moves, paste flags, and what a paste writes. The lists are the list file's rows; the
// editor window shows them and saves them to FAVORITE.DAT, HISTRY.DAT and VALUE.DAT.
#include "core/lists/ListFile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace klv {

struct RawValue;

// --- favorites and access history ---------------------------------------------------------------

inline constexpr int kFavoriteImage = 0;
inline constexpr int kHistoryImage = 20;
inline constexpr int kDefaultFavoriteLimit = 30; // OPTION/HIS_1
inline constexpr int kDefaultHistoryLimit = 100; // OPTION/HIS_3

// 場所, コメント
ListRow favoriteRow(std::string location, std::string comment);
// 日時, 履歴
ListRow historyRow(std::string time, std::string location);
const std::string& favoriteLocation(const ListRow& row);
const std::string& historyLocation(const ListRow& row);

// Puts `row` at index 0; the rows past `limit` go (a negative limit counts as 0).
void insertNewest(std::vector<ListRow>& rows, ListRow row, int limit);
// Moves row `index` one place up (step -1) or down (+1); false, nothing moved, at either end.
bool moveRow(std::vector<ListRow>& rows, std::size_t index, int step);

// A location text split at its first backslash: the root name and the key path from that
// backslash on ("" for the root itself).
struct LocationParts {
    std::string root;
    std::string keyPath;
};
LocationParts splitLocation(const std::string& location);

// --- value holder -------------------------------------------------------------------------------

// Settings of section VH.
struct HolderOptions {
    int mode = 0;     // 0: a copy or cut first empties the holder
    bool date = true; // rows carry the time they were stored
    bool add = true;  // rows carry the location they came from
    bool save = true; // VALUE.DAT follows every change
};

// 名前 (caption), データ, 種類, 貼り付け ("はい"/"いいえ"), then 保管日時 and 保管元 as enabled,
// then the value itself in hidden sub-items, so that a paste writes it back exactly (its type, a
// name or text CP932 cannot hold, data longer than a list file's text). A data text longer
// than a list file can keep is shown cut short.
ListRow holderRow(const RawValue& value, const HolderOptions& options, const std::string& time,
                  const std::string& location);
// The number of sub-items a row shows (the hidden ones follow).
std::size_t shownSubItems(const ListRow& row);

// Adds copied rows (in the order given) to the holder, emptying it first under MODE 0. A
// holder that would pass what VALUE.DAT can store is refused with ListFileError (TooLarge)
// and left as it was.
void addToHolder(std::vector<ListRow>& holder, std::vector<ListRow> rows,
                 const HolderOptions& options);

bool pasteFlag(const ListRow& row);
void setPasteFlag(ListRow& row, bool paste);
void togglePasteFlag(ListRow& row);
// Removes the rows not flagged for pasting; returns how many went.
std::size_t removeUnflagged(std::vector<ListRow>& holder);

// What pasting a row writes: the value it carries, or, for a row of an older VALUE.DAT, the
// value its data text gives by its image (2 string, 3 binary, 4 DWORD, 6 multi-string,
// 10 expandable string). nullopt for a row of any other image.
std::optional<RawValue> pastedValue(const ListRow& row);

} // namespace klv
