#include "gui/widgets/MenuShortcuts.h"

#include "core/settings/SettingsFile.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace klv {
namespace {

void applyTo(SettingsFile& settings, QMenu* menu) {
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        if (a->menu()) {
            applyTo(settings, a->menu());
            continue;
        }
        const auto key = toCp932(shortcutKeyName(a->text(), menu->title()));
        if (!key || !settings.hasKey("SHORTCUT", *key))
            continue;
        const QString text = toQString(settings.readString("SHORTCUT", *key, ""));
        a->setShortcut(QKeySequence::fromString(text, QKeySequence::PortableText));
    }
}

} // namespace

QString shortcutKeyName(const QString& itemCaption, const QString& menuCaption) {
    return itemCaption + QStringLiteral("　－　") + menuCaption;
}

void applyMenuShortcuts(SettingsFile& settings, const std::vector<QMenu*>& menus) {
    for (QMenu* m : menus)
        applyTo(settings, m);
}

} // namespace klv
