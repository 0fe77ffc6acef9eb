#pragma once
// The DWORD editor: decimal, hexadecimal and binary fields that follow the active one.
#include "gui/valueedit/ValueDialog.h"

class QRadioButton;

namespace klv {

class TDwordEdit : public ValueDialog {
    Q_OBJECT
public:
    TDwordEdit(FrameHost& form1, QWidget* parent = nullptr);
    // The caller's decimal text (the display text up to its first blank).
    void setData(const QString& decimal);
    // The display text up to its first blank is the decimal.
    void setDataText(const QString& text) override;

    QLineEdit* Edit3 = nullptr; // decimal
    QLineEdit* Edit4 = nullptr; // hexadecimal
    QLineEdit* Edit5 = nullptr; // binary
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton3 = nullptr;

    void FieldChange(QLineEdit* field);
    void activate(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    std::optional<ValueEdit> edit() override;
    void fillResults(const ValueEdit& e) override;

private:
    QString given_;
    bool edited_ = false;
    bool updating_ = false;
};

} // namespace klv
