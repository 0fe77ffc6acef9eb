#include "gui/valueedit/ValueDialog.h"

#include "core/registry/RegistryError.h"
#include "gui/widgets/DialogButtons.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace klv {

ValueDialog::ValueDialog(FrameHost& form1, EditedKind kind, const QString& editCaption,
                         QWidget* parent)
    : QDialog(parent), form1_(form1), kind_(kind), editCaption_(editCaption) {
    setWindowTitle(editCaption);
    setModal(true);
    auto* v = new QVBoxLayout(this);
    auto* nameLabel = new QLabel(QStringLiteral("値の名前(&N) : "), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    nameLabel->setBuddy(Edit1);
    Edit2 = new QLineEdit(form1_.Edit1, this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setReadOnly(true);
    Edit2->setStyleSheet(QStringLiteral("QLineEdit { background: palette(window); }"));
    v->addWidget(nameLabel);
    v->addWidget(Edit1);
    v->addWidget(Edit2);
    body_ = new QVBoxLayout;
    v->addLayout(body_, 1);
    const OkCancelRow row = makeOkCancelRow(this);
    Button1 = row.ok;
    Button2 = row.cancel;
    QHBoxLayout* buttons = row.layout;
    v->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void ValueDialog::setUp(bool newMode, const QString& name, bool writable) {
    newMode_ = newMode;
    Edit1->setText(name);
    Edit1->setReadOnly(!newMode);
    Edit1->setStyleSheet(newMode ? QStringLiteral("QLineEdit { background: white; }")
                                 : QStringLiteral("QLineEdit { background: palette(window); }"));
    if (newMode) {
        QString caption = editCaption_;
        caption.replace(QStringLiteral("の編集"), QStringLiteral("の新規作成"));
        setWindowTitle(caption);
        Edit1->setFocus();
        Edit1->selectAll();
    }
    Button1->setVisible(writable);
}

std::optional<std::string> ValueDialog::cp932Of(const QString& text, const QString& what) {
    if (auto cp = toCp932(text))
        return cp;
    showError(this, what + QStringLiteral("に、レジストリに書き込めない文字が含まれています。"));
    return std::nullopt;
}

void ValueDialog::Button1Click() {
    const auto name = cp932Of(Edit1->text(), QStringLiteral("値の名前"));
    if (!name)
        return;
    std::optional<ValueEdit> e = edit();
    if (!e)
        return;
    e->location = toCp932(form1_.Edit1).value_or(std::string());
    e->newMode = newMode_;
    e->name = *name;
    EditResult result;
    try {
        TRegistry reg;
        result = commitValueEdit(reg, *e);
    } catch (const RegistryError& err) {
        // Nothing was written: the caller must not log a change.
        form1_.Label3 = QStringLiteral("NO");
        showError(this, toQString(err.fullText()));
        return;
    }
    if (result == EditResult::NameClash) {
        form1_.Label3 = QStringLiteral("No");
        DialogService::instance().message(
            this, QStringLiteral("新規作成の中止"),
            QStringLiteral("同じ名前のキーが既に存在しています。\n\nデータの新規作成は中止されまし"
                           "た。存在していない名前をつけて、再度、新規作成し直してください。"),
            MsgIcon::Error, MsgButtons::Ok);
        reject();
        return;
    }
    form1_.Label5 = Edit1->text();
    form1_.Label2 = toQString(e->text);
    fillResults(*e);
    form1_.Label3 = result == EditResult::Committed ? QStringLiteral("YES") : QStringLiteral("NO");
    accept();
}

void ValueDialog::Button2Click() {
    reject();
}

namespace {
std::function<int(ValueDialog&)>& testRunner() {
    static std::function<int(ValueDialog&)> runner;
    return runner;
}
} // namespace

int ValueDialog::run(ValueDialog& dialog) {
    if (testRunner())
        return testRunner()(dialog);
    return dialog.exec();
}

void ValueDialog::setRunnerForTesting(std::function<int(ValueDialog&)> runner) {
    testRunner() = std::move(runner);
}

} // namespace klv
