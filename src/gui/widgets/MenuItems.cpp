#include "gui/widgets/MenuItems.h"

#include "core/registry/RegistryError.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QMenu>
#include <exception>

namespace klv {

void runGuarded(QWidget* parent, const std::function<void()>& f) {
    try {
        f();
    } catch (const RegistryError& e) {
        showError(parent, toQString(e.fullText()));
    } catch (const std::exception& e) {
        showError(parent, toQString(e.what()));
    }
}

QAction* addMenuItem(QMenu* menu, const QString& caption, const QString& name,
                     const QKeySequence& shortcut, std::function<void()> handler,
                     Qt::ShortcutContext context) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setShortcut(shortcut);
    a->setShortcutContext(context);
    a->setStatusTip(caption);
    if (handler)
        QObject::connect(a, &QAction::triggered, menu,
                         [menu, h = std::move(handler)] { runGuarded(menu->window(), h); });
    else
        a->setEnabled(false);
    return a;
}

} // namespace klv
