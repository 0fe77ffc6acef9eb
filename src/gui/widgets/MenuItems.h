#pragma once
// Menu items and handlers of the windows: an error that no command catches ends in the error
// box, never in the event loop.
#include <QKeySequence>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace klv {

// Runs `f`; a registry error or any other error it lets through is shown in the error box over
// `parent` (with the cause, when the registry layer gives one).
void runGuarded(QWidget* parent, const std::function<void()>& f);

// Adds an item named `name` (tests and the shortcut settings find it by that name). Without a
// handler the item stays disabled: its feature is not there yet.
QAction* addMenuItem(QMenu* menu, const QString& caption, const QString& name,
                     const QKeySequence& shortcut, std::function<void()> handler,
                     Qt::ShortcutContext context = Qt::WindowShortcut);

} // namespace klv
