#include "gui/valueedit/StringEdit.h"

#include "gui/valueedit/PathAssistant.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace klv {

// --- string ----------------------------------------------------------------------------------

TStringEdit::TStringEdit(FrameHost& form1, QWidget* parent)
    : ValueDialog(form1, EditedKind::String, QStringLiteral(" 文字列の編集"), parent) {
    setObjectName(QStringLiteral("StringEdit"));
    auto* label = new QLabel(QStringLiteral("値のデータ(&V) : "), this);
    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setMinimumWidth(380);
    label->setBuddy(Edit3);
    Button3 = new QToolButton(this);
    Button3->setText(QStringLiteral("..."));
    Button3->setToolTip(QStringLiteral("フルパス指定アシスタントの表示"));
    auto* row = new QHBoxLayout;
    row->addWidget(Edit3, 1);
    row->addWidget(Button3);
    body()->addWidget(label);
    body()->addLayout(row);
    connect(Edit3, &QLineEdit::textEdited, this, [this] { modified_ = true; });
    connect(Button3, &QToolButton::clicked, this, [this] { Button3Click(); });
    setFixedSize(sizeHint());
}

void TStringEdit::setData(const QString& text) {
    Edit3->setText(text);
    modified_ = false;
    Edit3->setFocus();
}

// The full-path assistant: the chosen file, quoted and numbered as its boxes say, replaces the
// data.
void TStringEdit::Button3Click() {
    TPathAssistant assistant(this);
    if (!runPathAssistant(assistant))
        return;
    const QStringList chosen = assistant.selectedFiles();
    if (chosen.isEmpty())
        return;
    Edit3->setText(assistant.result(chosen.front()));
    modified_ = true;
}

namespace {
std::function<bool(TPathAssistant&)>& assistantRunner() {
    static std::function<bool(TPathAssistant&)> runner;
    return runner;
}
} // namespace

bool TStringEdit::runPathAssistant(TPathAssistant& assistant) {
    if (assistantRunner())
        return assistantRunner()(assistant);
    return assistant.exec() == QDialog::Accepted;
}

void TStringEdit::setAssistantRunnerForTesting(std::function<bool(TPathAssistant&)> runner) {
    assistantRunner() = std::move(runner);
}

std::optional<ValueEdit> TStringEdit::edit() {
    const auto text = cp932Of(Edit3->text(), QStringLiteral("値のデータ"));
    if (!text)
        return std::nullopt;
    ValueEdit e;
    e.kind = EditedKind::String;
    e.text = *text;
    e.modified = modified_;
    return e;
}

// --- expandable string -------------------------------------------------------------------------

TExpandStringEdit::TExpandStringEdit(FrameHost& form1, QWidget* parent)
    : ValueDialog(form1, EditedKind::ExpandString, QStringLiteral(" 拡張文字列の編集"), parent) {
    setObjectName(QStringLiteral("ExpandStringEdit"));
    auto* label = new QLabel(QStringLiteral("値のデータ(&V) : "), this);
    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    label->setBuddy(Edit3);
    body()->addWidget(label);
    body()->addWidget(Edit3);
    auto* group = new QLabel(QStringLiteral("環境変数"), this);
    Edit4 = new QLineEdit(this);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Edit4->setReadOnly(true);
    Button3 = new QPushButton(QStringLiteral("展開(&O)"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("環境変数展開後のデータ : "), this));
    row->addWidget(Edit4, 1);
    row->addWidget(Button3);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setHeaderLabels({QStringLiteral("環境変数"), QStringLiteral("データ")});
    ListView1->setRootIsDecorated(false);
    ListView1->header()->resizeSection(0, 160);
    body()->addWidget(group);
    body()->addLayout(row);
    body()->addWidget(ListView1, 1);
    connect(Edit3, &QLineEdit::textEdited, this, [this] { modified_ = true; });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    resize(520, 420);
    setFixedSize(size());
}

void TExpandStringEdit::setData(const QString& text) {
    Edit3->setText(text);
    modified_ = false;
    Edit3->setFocus();
}

void TExpandStringEdit::showEvent(QShowEvent* e) {
    // The process's variables, and the preview, when the dialog comes up.
    ListView1->clear();
    const QStringList vars = QProcessEnvironment::systemEnvironment().toStringList();
    for (const QString& entry : vars) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        auto* item = new QTreeWidgetItem(ListView1);
        item->setText(0, entry.left(eq));
        item->setText(1, eq < 0 ? QString() : entry.mid(eq + 1));
    }
    Button3Click();
    ValueDialog::showEvent(e);
}

void TExpandStringEdit::Button3Click() {
    const auto data = toCp932(Edit3->text());
    if (!data) {
        Edit4->setText(Edit3->text());
        return;
    }
    const std::string preview =
        expandFirstVariable(*data, [](const std::string& name) -> std::optional<std::string> {
            const QByteArray value = qgetenv(name.c_str());
            if (value.isNull())
                return std::nullopt;
            return toCp932(QString::fromLocal8Bit(value));
        });
    Edit4->setText(toQString(preview));
}

std::optional<ValueEdit> TExpandStringEdit::edit() {
    const auto text = cp932Of(Edit3->text(), QStringLiteral("値のデータ"));
    if (!text)
        return std::nullopt;
    ValueEdit e;
    e.kind = EditedKind::ExpandString;
    e.text = *text;
    e.modified = modified_;
    return e;
}

// --- multi-string ------------------------------------------------------------------------------

TMultiStringEdit::TMultiStringEdit(FrameHost& form1, QWidget* parent)
    : ValueDialog(form1, EditedKind::MultiString, QStringLiteral(" マルチ文字列の編集"), parent) {
    setObjectName(QStringLiteral("MultiStringEdit"));
    auto* label = new QLabel(QStringLiteral("値のデータ(&V) : "), this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    label->setBuddy(Memo1);
    Memo2 = new QPlainTextEdit(form1_.Edit1, this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setMaximumHeight(48);
    Edit2->hide(); // the location shows in the memo below
    body()->addWidget(label);
    body()->addWidget(Memo1, 1);
    body()->addWidget(Memo2);
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { modified_ = true; });
    resize(460, 360);
    setFixedSize(size());
}

void TMultiStringEdit::setData(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    Memo1->setPlainText(shown);
    modified_ = false;
    Memo1->setFocus();
}

std::optional<ValueEdit> TMultiStringEdit::edit() {
    const auto text = cp932Of(Memo1->toPlainText(), QStringLiteral("値のデータ"));
    if (!text)
        return std::nullopt;
    ValueEdit e;
    e.kind = EditedKind::MultiString;
    e.lines = multiStringLines(*text);
    e.modified = modified_;
    return e;
}

void TMultiStringEdit::fillResults(const ValueEdit& e) {
    QString memo;
    for (const std::string& line : e.lines)
        memo += toQString(line) + QStringLiteral("\r\n");
    form1_.Memo1 = memo;
}

} // namespace klv
