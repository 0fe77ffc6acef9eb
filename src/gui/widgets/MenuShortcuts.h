#pragma once
// Shortcut keys that the user customised, kept in the settings section "SHORTCUT" under the
// key item caption + "　－　" + menu caption, the value in the text form "Ctrl+Z" (empty: none).
#include <QString>
#include <vector>

class QMenu;

namespace klv {

class SettingsFile;

QString shortcutKeyName(const QString& itemCaption, const QString& menuCaption);
// Applies the stored shortcuts to every item of the menus (and their submenus); items without
// a stored key keep their built-in shortcut.
void applyMenuShortcuts(SettingsFile& settings, const std::vector<QMenu*>& menus);

} // namespace klv
