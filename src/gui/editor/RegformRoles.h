#pragma once
// Item data roles of the editor window's tree and value list, shared by its files.
#include <Qt>

namespace klv::regform {

constexpr int kDataRole = Qt::UserRole;         // tree: root handle, or 1
constexpr int kFilledRole = Qt::UserRole + 1;   // tree: subkeys loaded
constexpr int kImageRole = Qt::UserRole + 2;    // tree: 0 (full access) or 2 (read only)
constexpr int kNameRole = Qt::UserRole + 3;     // tree: the key's name before an in-place edit
constexpr int kValueNameRole = Qt::UserRole;    // value rows: the stored name
constexpr int kDataTextRole = Qt::UserRole + 1; // value rows: the exact data text
constexpr int kEditableRole = Qt::UserRole + 2; // value rows: an editor may write it back

} // namespace klv::regform
