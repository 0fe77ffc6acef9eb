#include "gui/widgets/ToolBarItems.h"

#include "gui/widgets/MenuItems.h"

#include <QAction>
#include <QToolBar>

namespace klv {

QToolBar* makeTextToolBar(QWidget* window) {
    auto* bar = new QToolBar(window);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return bar;
}

QAction* addToolButton(QToolBar* bar, ImageLists::ToolImage image, const QString& text,
                       const char* name, QWidget* window, std::function<void()> handler) {
    QAction* a = bar->addAction(ImageLists::toolImage(image), text);
    a->setObjectName(QString::fromLatin1(name));
    a->setToolTip(text);
    QObject::connect(a, &QAction::triggered, window,
                     [window, handler = std::move(handler)] { runGuarded(window, handler); });
    return a;
}

void showIconOnly(QToolBar* bar, QAction* button) {
    if (QWidget* w = bar->widgetForAction(button))
        w->setProperty("toolButtonStyle", static_cast<int>(Qt::ToolButtonIconOnly));
}

} // namespace klv
