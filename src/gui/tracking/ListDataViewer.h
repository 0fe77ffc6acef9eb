#pragma once
// The list data viewer of the change-tracking window: one result row in full, with the stored
// and the current data side by side in text boxes large enough for long or multi-line data.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace klv {

struct ChangeRow;

class TListDataViewer : public QDialog {
    Q_OBJECT
public:
    explicit TListDataViewer(QWidget* parent = nullptr);
    ~TListDataViewer() override;

    // Fills the fields from `row` and titles them type + "の" + status.
    void showRow(const ChangeRow& row);

    QLabel* Label1 = nullptr;        // the title
    QLineEdit* Edit1 = nullptr;      // キー
    QLineEdit* Edit2 = nullptr;      // 値の名前
    QPlainTextEdit* Memo1 = nullptr; // 検証前のデータ
    QPlainTextEdit* Memo2 = nullptr; // 現在のデータ
    QPushButton* Button1 = nullptr;  // 閉じる

    void Button1Click();
};

} // namespace klv
