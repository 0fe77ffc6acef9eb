#pragma once
// The registry printing dialog: a part of the registry as lines of text, either as the
// registry editor exports it or as the program's own detailed listing, then printed through
// the printing facility or, in its save form, written to a text file.
#include <QDialog>
#include <QStringList>
#include <memory>
#include <optional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTemporaryDir;
class QToolButton;
class QWidget;

namespace klv {

class FrameHost;
struct Listing;

class TRegPrintForm : public QDialog {
    Q_OBJECT
public:
    enum class Use {
        Print, // " レジストリの印刷"
        Save,  // " レジストリデータを詳細なテキストで書き出し"
    };

    TRegPrintForm(FrameHost& form1, Use use, QWidget* parent = nullptr);
    ~TRegPrintForm() override;

    // Shows the dialog modally.
    static void run(FrameHost& form1, Use use, QWidget* parent);

    QComboBox* ComboBox1 = nullptr; // 印刷処理: the registry-file form or the detailed form
    QGroupBox* GroupBox1 = nullptr; // 印刷範囲 / 保存範囲
    QRadioButton* RadioButton1 = nullptr; // すべて(&A)
    QRadioButton* RadioButton2 = nullptr; // 選択した部分(&E)
    QRadioButton* RadioButton3 = nullptr; // 選択したルートキー以下(&R)
    QLabel* Label2 = nullptr;             // 範囲指定
    QLineEdit* Edit1 = nullptr;           // a key path text
    QToolButton* SpeedButton1 = nullptr;  // レジストリの参照
    QComboBox* ComboBox2 = nullptr;       // the roots
    QWidget* Panel1 = nullptr;            // the progress panel
    QLabel* Label3 = nullptr;             // the key being read
    QPushButton* Button3 = nullptr;       // the progress panel's キャンセル(&C)
    QPushButton* Button1 = nullptr;       // 印刷(&P) / 保存(&S)
    QPushButton* Button2 = nullptr;       // closes the dialog

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void SpeedButton1Click();
    void RangeClick(); // a range choice: only its own control shows
    void reject() override;

    // The lines built by the last run (what was printed or saved).
    const QStringList& lines() const { return lines_; }

private:
    bool detailedForm() const;
    std::optional<QStringList> registryFileLines();
    std::optional<Listing> detailedListing();
    void saveListing(const Listing& listing);
    void setBusy(bool busy);

    FrameHost& form1_;
    Use use_;
    bool stop_ = false;
    bool busy_ = false;
    QStringList lines_;
    // reprint.reg lives in a folder of this dialog's own, removed with the dialog.
    std::unique_ptr<QTemporaryDir> tempFolder_;
};

} // namespace klv
