#include "gui/script/ScriptChoiceForm.h"

#include "gui/widgets/TextBridge.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace klv {

namespace {
std::function<ScriptChoice(TScriptChoiceForm&)>& testRunner() {
    static std::function<ScriptChoice(TScriptChoiceForm&)> runner;
    return runner;
}
} // namespace

TScriptChoiceForm::TScriptChoiceForm(const ScriptChoiceDialog& request, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ScriptChoiceForm"));
    setWindowTitle(toQString(request.caption));
    setModal(true);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(16, 16, 16, 12);
    QStringList lines;
    for (const std::string& line : request.messageLines)
        lines << toQString(line);
    Label1 = new QLabel(lines.join(QLatin1Char('\n')), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setMinimumWidth(300);
    v->addWidget(Label1, 1);
    v->addSpacing(12);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    const auto button = [&](const QString& text, const char* name, void (TScriptChoiceForm::*h)()) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, h] { (this->*h)(); });
        row->addWidget(b);
        return b;
    };
    Button1 =
        button(QStringLiteral("インストール(&I)"), "Button1", &TScriptChoiceForm::Button1Click);
    Button2 =
        button(QStringLiteral("アンインストール(&U)"), "Button2", &TScriptChoiceForm::Button2Click);
    Button3 = button(QStringLiteral("キャンセル(&C)"), "Button3", &TScriptChoiceForm::Button3Click);
    Button1->setEnabled(request.installEnabled);
    Button2->setEnabled(request.uninstallEnabled);
    v->addLayout(row);
}

void TScriptChoiceForm::Button1Click() {
    choice_ = ScriptChoice::Install;
    accept();
}

void TScriptChoiceForm::Button2Click() {
    choice_ = ScriptChoice::Uninstall;
    accept();
}

void TScriptChoiceForm::Button3Click() {
    choice_ = ScriptChoice::Cancel;
    reject();
}

void TScriptChoiceForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred on the screen, not on the window that runs the script.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

ScriptChoice TScriptChoiceForm::run(TScriptChoiceForm& form) {
    if (testRunner())
        return testRunner()(form);
    // The close box and Esc reject without a button: cancel.
    return form.exec() == QDialog::Accepted ? form.choice() : ScriptChoice::Cancel;
}

void TScriptChoiceForm::setRunnerForTesting(
    std::function<ScriptChoice(TScriptChoiceForm&)> runner) {
    testRunner() = std::move(runner);
}

} // namespace klv
