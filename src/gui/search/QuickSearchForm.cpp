#include "gui/search/QuickSearchForm.h"

#include "core/platform/Folders.h"
#include "core/search/QuickSearch.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <filesystem>

namespace klv {
namespace {

const QColor kFoundColour(Qt::red);
const QColor kNotFoundColour(Qt::blue);

QString waitingText() {
    return QStringLiteral("検索する文字列を入力して、［検索］ボタンを押してください");
}

QPushButton* button(QWidget* parent, const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

TQuickSearch::TQuickSearch(FrameHost& form1, QWidget* parent) : QDialog(parent), form1_(form1) {
    setObjectName(QStringLiteral("QuickSearch"));
    setWindowTitle(QStringLiteral("クイックサーチ"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("クイックサーチは、レジストリバイナリを直接解析することで、"
                                       "検索する\n文字列が存在するか否かのみを、瞬時に調べる機能"
                                       "です。\n\n検索する文字列を指定してください。"),
                        this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    // The list gathers what was searched; Enter alone must not add to it.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setDuplicatesEnabled(true);
    GroupBox1 = new QGroupBox(QStringLiteral("状況"), this);
    Label2 = new QLabel(waitingText(), GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    auto* status = new QVBoxLayout(GroupBox1);
    status->addWidget(Label2);

    Button1 = button(this, QStringLiteral("検索(&S)"), "Button1");
    Button1->setDefault(true);
    Button2 = button(this, QStringLiteral("閉じる(&C)"), "Button2");
    Button3 = button(this, QStringLiteral("場所の特定(&T)"), "Button3");
    // Showing it later must not move the other controls.
    QSizePolicy keep = Button3->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    Button3->setSizePolicy(keep);
    Button3->hide();

    auto* left = new QVBoxLayout;
    left->addWidget(Label1);
    left->addWidget(ComboBox1);
    left->addWidget(GroupBox1);
    left->addStretch(1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addSpacing(12);
    buttons->addWidget(Button3);
    buttons->addStretch(1);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left, 1);
    main->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button3Click(); }); });
    ComboBox1->setFocus();
}

TQuickSearch::~TQuickSearch() = default;

void TQuickSearch::run(FrameHost& form1, QWidget* parent) {
    TQuickSearch dialog(form1, parent);
    dialog.exec();
}

void TQuickSearch::setStatus(const QString& text, const QColor& colour) {
    QPalette p = Label2->palette();
    p.setColor(QPalette::WindowText, colour);
    Label2->setPalette(p);
    Label2->setText(text);
}

void TQuickSearch::Button1Click() {
    // The scan lets the windows run; a second click meanwhile is not a second scan.
    if (searching_)
        return;
    const QString text = ComboBox1->currentText();
    const auto bytes = toCp932(text);
    if (!bytes) {
        showError(this, unconvertibleTextMessage(text));
        return;
    }
    ComboBox1->addItem(text);
    ComboBox1->setEditText(text);
    Button3->hide();
    setStatus(QStringLiteral("レジストリを解析しています..."),
              palette().color(QPalette::WindowText));
    Label2->repaint();

    const std::filesystem::path folder = form1_.Label1.isEmpty()
                                             ? systemFolder()
                                             : std::filesystem::path(form1_.Label1.toStdString());
    bool found = false;
    {
        const QScopedValueRollback<bool> busy(searching_, true);
        found = quickSearchRegistry(folder, *bytes, [] { QCoreApplication::processEvents(); });
    }
    if (found) {
        setStatus(QStringLiteral("レジストリデータベースに文字列が存在します"), kFoundColour);
        Button3->show();
    } else {
        setStatus(QStringLiteral("レジストリデータベースに文字列は存在しません"), kNotFoundColour);
    }
}

void TQuickSearch::Button2Click() {
    reject();
}

void TQuickSearch::Button3Click() {
    const QString text = ComboBox1->currentText();
    accept();
    form1_.openSearch(false, QString(), text);
}

} // namespace klv
