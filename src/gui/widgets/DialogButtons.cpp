#include "gui/widgets/DialogButtons.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace klv {

OkCancelRow makeOkCancelRow(QWidget* dialog) {
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), dialog);
    cancel->setObjectName(QStringLiteral("Button2"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return {ok, cancel, row};
}

} // namespace klv
