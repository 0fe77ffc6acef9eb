#pragma once
// The quick search dialog: tells whether a text occurs in the registry's data files, and hands
// a found text to the search dialog, which finds where.
#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace klv {

class FrameHost;

class TQuickSearch : public QDialog {
    Q_OBJECT
public:
    explicit TQuickSearch(FrameHost& form1, QWidget* parent = nullptr);
    ~TQuickSearch() override;

    // Shows the dialog modally.
    static void run(FrameHost& form1, QWidget* parent);

    QLabel* Label1 = nullptr;       // the explanation
    QComboBox* ComboBox1 = nullptr; // the search text, with the texts searched so far
    QGroupBox* GroupBox1 = nullptr; // 状況
    QLabel* Label2 = nullptr;       // the status line
    QPushButton* Button1 = nullptr; // 検索(&S)
    QPushButton* Button2 = nullptr; // 閉じる(&C)
    QPushButton* Button3 = nullptr; // 場所の特定(&T)

    void Button1Click();
    void Button2Click();
    void Button3Click();

private:
    void setStatus(const QString& text, const QColor& colour);

    FrameHost& form1_;
    bool searching_ = false;
};

} // namespace klv
