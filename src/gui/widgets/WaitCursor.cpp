#include "gui/widgets/WaitCursor.h"

#include <QApplication>
#include <QCursor>

namespace klv {

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

} // namespace klv
