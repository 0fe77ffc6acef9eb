#pragma once
// The toolbars of the tool windows: small images with their captions beside them, each button
// a guarded command.
#include "gui/widgets/ImageLists.h"

#include <QString>
#include <functional>

class QAction;
class QToolBar;
class QWidget;

namespace klv {

// An empty toolbar named ToolBar1 in `window`.
QToolBar* makeTextToolBar(QWidget* window);

// A button with its image and caption (its hint too), named `name`; a click runs `handler`,
// and an error it lets through shows in the error box over `window`.
QAction* addToolButton(QToolBar* bar, ImageLists::ToolImage image, const QString& text,
                       const char* name, QWidget* window, std::function<void()> handler);

// The button shows its image alone; its hint still names it.
void showIconOnly(QToolBar* bar, QAction* button);

} // namespace klv
