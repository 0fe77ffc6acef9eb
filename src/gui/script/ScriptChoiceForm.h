#pragma once
// The install/uninstall choice of a script run, made as the script's header lines say.
#include "core/script/ScriptHost.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace klv {

class TScriptChoiceForm : public QDialog {
    Q_OBJECT
public:
    TScriptChoiceForm(const ScriptChoiceDialog& request, QWidget* parent = nullptr);

    // Shows the dialog modally; the close box counts as cancel. Tests install a stand-in that
    // answers instead; nullptr restores exec().
    static ScriptChoice run(TScriptChoiceForm& form);
    static void setRunnerForTesting(std::function<ScriptChoice(TScriptChoiceForm&)> runner);

    ScriptChoice choice() const { return choice_; }

    QLabel* Label1 = nullptr;       // the message lines
    QPushButton* Button1 = nullptr; // インストール(&I)
    QPushButton* Button2 = nullptr; // アンインストール(&U)
    QPushButton* Button3 = nullptr; // キャンセル(&C)

    void Button1Click();
    void Button2Click();
    void Button3Click();

protected:
    void showEvent(QShowEvent* e) override;

private:
    ScriptChoice choice_ = ScriptChoice::Cancel;
};

} // namespace klv
