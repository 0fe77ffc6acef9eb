#include "gui/tracking/ListDataViewer.h"

#include "core/snapshot/ChangeTracking.h"
#include "gui/widgets/TextBridge.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace klv {
namespace {

QLineEdit* readOnlyLine(QWidget* parent, const QString& name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(true);
    return e;
}

QPlainTextEdit* readOnlyMemo(QWidget* parent, const QString& name) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(name);
    m->setReadOnly(true);
    m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return m;
}

QLabel* fieldLabel(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return l;
}

// Multi-string data ends every item with CR LF; the box wants bare line feeds.
QString boxText(const std::string& cp932) {
    QString s = toQString(cp932);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

} // namespace

TListDataViewer::TListDataViewer(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ListDataViewer"));
    setWindowTitle(QStringLiteral(" リストデータビューワ"));
    setModal(false);
    auto* v = new QVBoxLayout(this);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    Label1->setFont(bold);
    v->addWidget(Label1);

    auto* grid = new QGridLayout;
    Edit1 = readOnlyLine(this, QStringLiteral("Edit1"));
    Edit2 = readOnlyLine(this, QStringLiteral("Edit2"));
    Memo1 = readOnlyMemo(this, QStringLiteral("Memo1"));
    Memo2 = readOnlyMemo(this, QStringLiteral("Memo2"));
    grid->addWidget(fieldLabel(QStringLiteral("キー : "), this), 0, 0);
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(fieldLabel(QStringLiteral("値の名前 : "), this), 1, 0);
    grid->addWidget(Edit2, 1, 1);
    grid->addWidget(fieldLabel(QStringLiteral("検証前の\nデータ : "), this), 2, 0);
    grid->addWidget(Memo1, 2, 1);
    grid->addWidget(fieldLabel(QStringLiteral("現在の\nデータ  : "), this), 3, 0);
    grid->addWidget(Memo2, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    grid->setRowStretch(3, 1);
    v->addLayout(grid, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("閉じる"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    buttons->addWidget(Button1);
    v->addLayout(buttons);
    resize(520, 400);
}

TListDataViewer::~TListDataViewer() = default;

void TListDataViewer::showRow(const ChangeRow& row) {
    Label1->setText(toQString(row.type) + QStringLiteral("の") +
                    toQString(changeStateText(row.state)));
    Edit1->setText(toQString(row.key));
    Edit2->setText(toQString(row.name));
    Memo1->setPlainText(boxText(row.before));
    Memo2->setPlainText(boxText(row.after));
    Edit1->setCursorPosition(0);
    Edit2->setCursorPosition(0);
}

void TListDataViewer::Button1Click() {
    close();
}

} // namespace klv
