#pragma once
// The printing facility's dialog "印刷": header and footer, font, columns, margins and line
// numbers for a text, the printer in use, printing and the preview. With no printer installed
// it prints to a PDF file.
#include "core/printing/PageSetup.h"

#include <QDialog>
#include <QPrinter>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace klv {

class TTextPrintForm : public QDialog {
    Q_OBJECT
public:
    TTextPrintForm(QWidget* parent, QStringList lines, const PageSetup& setup,
                   QString documentPath = {});
    ~TTextPrintForm() override;

    // Shows the dialog modally. Tests install a stand-in; nullptr restores exec().
    static int run(TTextPrintForm& form);
    static void setRunnerForTesting(std::function<int(TTextPrintForm&)> runner);
    // Whether printers are installed; nullopt asks the system. Tests say false, so that nothing
    // reaches a real printer.
    static void setPrintersAvailableForTesting(std::optional<bool> available);
    // Stands in for the system's printer setup dialog; it returns whether the user confirmed.
    static void setPrinterSetupForTesting(std::function<bool(QPrinter&)> setup);

    const QStringList& lines() const { return lines_; }
    // What the controls say now (a text that CP932 cannot hold shows "〓" there; printing
    // refuses it first).
    PageSetup setup() const;
    QPrinter& printer() { return printer_; }
    // No printer installed: 印刷 writes a PDF file.
    bool printsToPdf() const { return toPdf_; }

    // Prints to the PDF file `path`, replacing it only when the whole job succeeded. False,
    // after telling the user, when it could not be written; a cancelled job keeps the pages
    // printed so far.
    bool printToPdf(const QString& path);

    QLineEdit* Edit1 = nullptr;         // ヘッダ
    QComboBox* ComboBox1 = nullptr;     // the header's position
    QLineEdit* Edit2 = nullptr;         // フッダ
    QComboBox* ComboBox2 = nullptr;     // the footer's position
    QPushButton* Button5 = nullptr;     // 書式のヘルプ(&E)
    QFontComboBox* ComboBox3 = nullptr; // フォント
    QSpinBox* SpinEdit1 = nullptr;      // サイズ
    QSpinBox* SpinEdit2 = nullptr;      // columns
    QSpinBox* SpinEdit3 = nullptr;      // column spacing
    QGroupBox* GroupBox1 = nullptr;     // マージン
    QSpinBox* SpinEdit4 = nullptr;      // left margin
    QSpinBox* SpinEdit5 = nullptr;      // right margin
    QSpinBox* SpinEdit6 = nullptr;      // top margin
    QSpinBox* SpinEdit7 = nullptr;      // bottom margin
    QCheckBox* CheckBox1 = nullptr;     // 行番号の印刷(&I)
    QGroupBox* GroupBox2 = nullptr;     // プリンタ
    QLabel* Label1 = nullptr;           // the printer, or that output goes to a PDF file
    QLabel* Label2 = nullptr;           // the orientation
    QLabel* Label3 = nullptr;           // the paper size
    QPushButton* Button4 = nullptr;     // プリンタの設定(&N)
    QPushButton* Button1 = nullptr;     // 印刷(&P)
    QPushButton* Button2 = nullptr;     // 印刷プレビュー(&V)
    QPushButton* Button3 = nullptr;     // 閉じる

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();

protected:
    // Not while a job runs: it ends first (its progress window cancels it).
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setControls(const PageSetup& setup);
    void showPrinter();
    // The controls' setup, or nullopt after telling the user what cannot be printed.
    std::optional<PageSetup> checkedSetup();
    // Prints with the progress window; the pages printed, 0 on failure.
    int printWithProgress(QPrinter& printer, const PageSetup& setup, bool* cancelled);

    QStringList lines_;
    QString documentPath_;
    QPrinter printer_;
    bool toPdf_ = false;
    bool busy_ = false;
};

} // namespace klv
