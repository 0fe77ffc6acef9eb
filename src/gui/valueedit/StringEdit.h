#pragma once
// The string editor, and the expandable-string and multi-string editors beside it.
#include "gui/valueedit/ValueDialog.h"

class QPlainTextEdit;
class QToolButton;
class QTreeWidget;

namespace klv {

class TStringEdit : public ValueDialog {
    Q_OBJECT
public:
    TStringEdit(FrameHost& form1, QWidget* parent = nullptr);
    void setData(const QString& text);
    void setDataText(const QString& text) override { setData(text); }

    QLineEdit* Edit3 = nullptr;     // the data
    QToolButton* Button3 = nullptr; // フルパス指定アシスタントの表示
    void Button3Click();

    // Tests answer the assistant instead of a user; nullptr restores exec().
    static void setAssistantRunnerForTesting(std::function<bool(class TPathAssistant&)> runner);

protected:
    std::optional<ValueEdit> edit() override;

private:
    static bool runPathAssistant(class TPathAssistant& assistant);
    bool modified_ = false;
};

class TExpandStringEdit : public ValueDialog {
    Q_OBJECT
public:
    TExpandStringEdit(FrameHost& form1, QWidget* parent = nullptr);
    void setData(const QString& text);
    void setDataText(const QString& text) override { setData(text); }

    QLineEdit* Edit3 = nullptr;       // the data
    QLineEdit* Edit4 = nullptr;       // the expanded preview
    QPushButton* Button3 = nullptr;   // 展開(&O)
    QTreeWidget* ListView1 = nullptr; // the environment variables
    void Button3Click();

protected:
    void showEvent(QShowEvent* e) override;
    std::optional<ValueEdit> edit() override;

private:
    bool modified_ = false;
};

class TMultiStringEdit : public ValueDialog {
    Q_OBJECT
public:
    TMultiStringEdit(FrameHost& form1, QWidget* parent = nullptr);
    // The lines separated by CR LF.
    void setData(const QString& text);
    void setDataText(const QString& text) override { setData(text); }

    QPlainTextEdit* Memo1 = nullptr; // the strings, one a line
    QPlainTextEdit* Memo2 = nullptr; // the location

protected:
    std::optional<ValueEdit> edit() override;
    void fillResults(const ValueEdit& e) override;

private:
    bool modified_ = false;
};

} // namespace klv
