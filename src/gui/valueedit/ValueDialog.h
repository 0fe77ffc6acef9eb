#pragma once
// What the value editor dialogs share: the name and location fields, the two modes, the hidden
// OK of a read-only window or key, and the OK procedure that writes the value and fills the
// frame's result fields (Label3 commit flag, Label5 name, Label2 data).
#include "core/valueedit/ValueEdit.h"

#include <QDialog>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace klv {

class FrameHost;

class ValueDialog : public QDialog {
    Q_OBJECT
public:
    // The caption in new mode contains "新規作成"; `name` is "(新規値)" there.
    ValueDialog(FrameHost& form1, EditedKind kind, const QString& editCaption, QWidget* parent);

    // Sets the mode, the name and whether OK is offered (a read-only window or key: not).
    void setUp(bool newMode, const QString& name, bool writable);
    // The current data in the value list's display form (a DWORD's "5 (0x00000005)", binary
    // data's hex text).
    virtual void setDataText(const QString& text) = 0;
    bool newMode() const { return newMode_; }

    QLineEdit* Edit1 = nullptr;     // the value's name
    QLineEdit* Edit2 = nullptr;     // the location, read only
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // キャンセル

    void Button1Click();
    void Button2Click();

    // Shows a dialog modally. Tests install a stand-in that fills the fields and presses a
    // button instead; nullptr restores exec().
    static int run(ValueDialog& dialog);
    static void setRunnerForTesting(std::function<int(ValueDialog&)> runner);

protected:
    // The data part of the dialog goes here.
    QVBoxLayout* body() const { return body_; }
    // The data to write, as CP932; nullopt (after telling the user) when it cannot be held.
    virtual std::optional<ValueEdit> edit() = 0;
    // The result fields beyond commit, name and data.
    virtual void fillResults(const ValueEdit&) {}
    // A CP932 form of a field's text, or a box saying which characters cannot be stored.
    std::optional<std::string> cp932Of(const QString& text, const QString& what);

    FrameHost& form1_;
    EditedKind kind_;

private:
    QString editCaption_;
    QVBoxLayout* body_ = nullptr;
    bool newMode_ = false;
};

} // namespace klv
