// The script editor window's side of a run: the refusals, the log, and the host that the
// interpreter asks for the choice, the value boxes, the message box and the hand-back.
#include "gui/script/ScriptEditor.h"

#include "core/script/ScriptInterpreter.h"
#include "core/settings/SettingsFile.h"
#include "gui/script/ScriptChoiceForm.h"
#include "gui/valueedit/BinaryEdit.h"
#include "gui/valueedit/DwordEdit.h"
#include "gui/valueedit/StringEdit.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QEventLoop>
#include <QListWidget>
#include <QMessageBox>
#include <memory>

namespace klv {

namespace {

std::function<void(const QString&)>& testMessageBox() {
    static std::function<void(const QString&)> box;
    return box;
}

// Marks the run as on the stack for as long as it is, whatever way it leaves.
class RunningScope {
public:
    explicit RunningScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningScope() { flag_ = false; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    bool& flag_;
};

std::unique_ptr<ValueDialog> valueDialogFor(ScriptValueBox kind, FrameHost& frame,
                                            QWidget* parent) {
    switch (kind) {
    case ScriptValueBox::String:
        return std::make_unique<TStringEdit>(frame, parent);
    case ScriptValueBox::ExpandString:
        return std::make_unique<TExpandStringEdit>(frame, parent);
    case ScriptValueBox::Integer:
        return std::make_unique<TDwordEdit>(frame, parent);
    case ScriptValueBox::MultiString:
        return std::make_unique<TMultiStringEdit>(frame, parent);
    case ScriptValueBox::Binary:
        return std::make_unique<TBinaryEdit>(frame, parent);
    }
    return nullptr;
}

} // namespace

void TScriptEditor::ToolButton10Click() {
    RunScript();
}

void TScriptEditor::ToolButton11Click() {
    stop_ = true;
}

void TScriptEditor::RunScript() {
    if (running_)
        return;
    // The flag belongs to this run alone: taken now, it cannot close a window whose run was
    // refused, nor stay set for the next run of another window.
    const bool closeAfter = frame_.Label16 == QStringLiteral("1");
    frame_.Label16 = QStringLiteral("0");
    const bool forbidden = frame_.settings().readBool("OPTION", "SCRIPT", false);
    const bool fullAccess = frame_.statusPanel(0) == QStringLiteral("フルアクセス");
    if (const std::optional<std::string> refusal = scriptRefusal(forbidden, fullAccess)) {
        DialogService::instance().message(this, QStringLiteral("中止"), toQString(*refusal),
                                          MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    std::vector<std::string> script;
    for (const QString& line : lines()) {
        const std::optional<std::string> cp = toCp932(line);
        if (!cp) {
            klv::showError(this, unconvertibleTextMessage(line));
            return;
        }
        script.push_back(*cp);
    }
    stop_ = false;
    ListBox1->clear();
    showLog(true);
    {
        const RunningScope scope(running_);
        ToolButton10->setEnabled(false);
        ToolButton11->setEnabled(true);
        std::string showKeys = toCp932(frame_.Label15).value_or(std::string());
        try {
            runScript(script, *this, showKeys);
        } catch (const std::exception& e) {
            klv::showError(this, toQString(e.what()));
        }
        frame_.Label15 = toQString(showKeys);
        ToolButton10->setEnabled(true);
        ToolButton11->setEnabled(false);
    }
    if (closeAfter || closeRequested_)
        closeWindow();
}

ScriptChoice TScriptEditor::choose(const ScriptChoiceDialog& dialog) {
    TScriptChoiceForm form(dialog, this);
    return TScriptChoiceForm::run(form);
}

void TScriptEditor::log(const std::string& line) {
    ListBox1->addItem(toQString(line));
    ListBox1->scrollToBottom();
}

void TScriptEditor::showKey(const std::string& fullKeyPath) {
    frame_.Label8 = toQString(fullKeyPath);
    frame_.JumpTo(frame_.Label8, {}, false);
}

void TScriptEditor::valueBox(const ScriptValueBoxRequest& request) {
    // The dialogs write to the location in the frame's Edit1: lend it for the box.
    const QString savedLocation = frame_.Edit1;
    frame_.Edit1 = toQString(request.location);
    frame_.Label3 = QStringLiteral("NO");
    std::unique_ptr<ValueDialog> d = valueDialogFor(request.kind, frame_, this);
    d->setUp(false, toQString(request.name), true);
    switch (request.kind) {
    case ScriptValueBox::String:
    case ScriptValueBox::ExpandString:
        d->setDataText(toQString(request.text));
        break;
    case ScriptValueBox::Integer:
        static_cast<TDwordEdit*>(d.get())->setData(QString::number(request.number));
        break;
    case ScriptValueBox::MultiString: {
        QStringList items;
        for (const std::string& item : request.items)
            items << toQString(item);
        static_cast<TMultiStringEdit*>(d.get())->setData(items.join(QStringLiteral("\r\n")));
        break;
    }
    case ScriptValueBox::Binary: {
        auto* binary = static_cast<TBinaryEdit*>(d.get());
        binary->setData(request.bytes);
        binary->HexEditor1->setCursor(0);
        break;
    }
    }
    ValueDialog::run(*d);
    frame_.Label3 = QStringLiteral("NO");
    frame_.Edit1 = savedLocation;
}

void TScriptEditor::messageBox(const std::string& text) {
    const QString message = toQString(text);
    if (testMessageBox()) {
        testMessageBox()(message);
        return;
    }
    // No owner and no modality: the stop button of this window stays usable meanwhile.
    QMessageBox box(QMessageBox::Information, QStringLiteral("メッセージ"), message,
                    QMessageBox::Ok);
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec();
}

void TScriptEditor::setMessageBoxForTesting(std::function<void(const QString&)> box) {
    testMessageBox() = std::move(box);
}

void TScriptEditor::showError(const std::string& message) {
    klv::showError(this, toQString(message));
}

} // namespace klv
