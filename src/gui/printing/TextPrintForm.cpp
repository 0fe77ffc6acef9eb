#include "gui/printing/TextPrintForm.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/printing/PageLayout.h"
#include "gui/printing/PrintPreviewForm.h"
#include "gui/printing/PrintProgressForm.h"
#include "gui/printing/TextPrinter.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSpinBox>
#include <QTemporaryFile>
#include <QVBoxLayout>

namespace klv {
namespace {

std::function<int(TTextPrintForm&)>& testRunner() {
    static std::function<int(TTextPrintForm&)> runner;
    return runner;
}

std::optional<bool>& printersAvailableOverride() {
    static std::optional<bool> available;
    return available;
}

std::function<bool(QPrinter&)>& printerSetupOverride() {
    static std::function<bool(QPrinter&)> setup;
    return setup;
}

bool printersAvailable() {
    if (printersAvailableOverride())
        return *printersAvailableOverride();
    return !QPrinterInfo::availablePrinters().isEmpty();
}

QComboBox* positionBox(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    // In the order of PrintPosition.
    box->addItems({QStringLiteral("なし"), QStringLiteral("左"), QStringLiteral("中央"),
                   QStringLiteral("右")});
    return box;
}

QSpinBox* spinEdit(QWidget* parent, const char* name, int min, int max, const QString& suffix) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(min, max);
    spin->setSuffix(suffix);
    return spin;
}

QPushButton* button(QWidget* parent, const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QLabel* labelFor(QWidget* parent, const QString& caption, QWidget* buddy) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    return label;
}

// A setup text as CP932; "〓" marks what it cannot hold (printing refuses such a text first).
std::string cp932Lossy(const QString& text) {
    if (auto cp = toCp932(text))
        return *cp;
    const std::string utf16(reinterpret_cast<const char*>(text.utf16()),
                            static_cast<size_t>(text.size()) * 2);
    return utf16ToCp932Lossy(utf16);
}

QString keywordHelp() {
    return QStringLiteral("Header, Footer に利用出来るキーワードは以下の通りです。\n\n"
                          "%p  ページ番号\n"
                          "%f  ファイル名パス付き\n"
                          "%F  ファイル名パス無し\n"
                          "%y  年\n"
                          "%m  月\n"
                          "%d  日\n"
                          "%t  時間");
}

} // namespace

TTextPrintForm::TTextPrintForm(QWidget* parent, QStringList lines, const PageSetup& setup,
                               QString documentPath)
    : QDialog(parent), lines_(std::move(lines)), documentPath_(std::move(documentPath)),
      printer_(QPrinter::HighResolution), toPdf_(!printersAvailable()) {
    setObjectName(QStringLiteral("TextPrintForm"));
    setWindowTitle(QStringLiteral("印刷"));
    setModal(true);
    if (toPdf_) {
        printer_.setOutputFormat(QPrinter::PdfFormat);
        printer_.setPageSize(QPageSize(QPageSize::A4));
    }

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    ComboBox1 = positionBox(this, "ComboBox1");
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    ComboBox2 = positionBox(this, "ComboBox2");
    Button5 = button(this, QStringLiteral("書式のヘルプ(&E)"), "Button5");
    ComboBox3 = new QFontComboBox(this);
    ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
    SpinEdit1 = spinEdit(this, "SpinEdit1", kMinFontSize, kMaxFontSize, QString());
    SpinEdit2 = spinEdit(this, "SpinEdit2", kMinColumns, kMaxColumns, QString());
    SpinEdit3 = spinEdit(this, "SpinEdit3", 0, kMaxColumnSpacing, QStringLiteral(" 文字"));
    CheckBox1 = new QCheckBox(QStringLiteral("行番号の印刷(&I)"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));

    auto* texts = new QGridLayout;
    texts->addWidget(labelFor(this, QStringLiteral("ヘッダ(&H)"), Edit1), 0, 0);
    texts->addWidget(Edit1, 0, 1);
    texts->addWidget(ComboBox1, 0, 2);
    texts->addWidget(labelFor(this, QStringLiteral("フッダ(&F)"), Edit2), 1, 0);
    texts->addWidget(Edit2, 1, 1);
    texts->addWidget(ComboBox2, 1, 2);
    texts->addWidget(Button5, 2, 2);
    texts->setColumnStretch(1, 1);

    auto* font = new QGridLayout;
    font->addWidget(labelFor(this, QStringLiteral("フォント(&N) : "), ComboBox3), 0, 0);
    font->addWidget(ComboBox3, 0, 1);
    font->addWidget(labelFor(this, QStringLiteral("サイズ(&S) : "), SpinEdit1), 0, 2);
    font->addWidget(SpinEdit1, 0, 3);
    font->addWidget(labelFor(this, QStringLiteral("段数(&K) : "), SpinEdit2), 1, 0);
    font->addWidget(SpinEdit2, 1, 1, Qt::AlignLeft);
    font->addWidget(labelFor(this, QStringLiteral("段の間隔(&G) : "), SpinEdit3), 1, 2);
    font->addWidget(SpinEdit3, 1, 3);
    font->setColumnStretch(1, 1);

    GroupBox1 = new QGroupBox(QStringLiteral("マージン"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    const QString mm = QStringLiteral(" mm");
    SpinEdit4 = spinEdit(GroupBox1, "SpinEdit4", 0, kMaxMargin, mm);
    SpinEdit5 = spinEdit(GroupBox1, "SpinEdit5", 0, kMaxMargin, mm);
    SpinEdit6 = spinEdit(GroupBox1, "SpinEdit6", 0, kMaxMargin, mm);
    SpinEdit7 = spinEdit(GroupBox1, "SpinEdit7", 0, kMaxMargin, mm);
    auto* margins = new QGridLayout(GroupBox1);
    margins->addWidget(labelFor(GroupBox1, QStringLiteral("左(&L) : "), SpinEdit4), 0, 0);
    margins->addWidget(SpinEdit4, 0, 1);
    margins->addWidget(labelFor(GroupBox1, QStringLiteral("右(&R) : "), SpinEdit5), 0, 2);
    margins->addWidget(SpinEdit5, 0, 3);
    margins->addWidget(labelFor(GroupBox1, QStringLiteral("上(&T) : "), SpinEdit6), 1, 0);
    margins->addWidget(SpinEdit6, 1, 1);
    margins->addWidget(labelFor(GroupBox1, QStringLiteral("下(&B) : "), SpinEdit7), 1, 2);
    margins->addWidget(SpinEdit7, 1, 3);
    margins->setColumnStretch(4, 1);

    GroupBox2 = new QGroupBox(QStringLiteral("プリンタ"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    Label1 = new QLabel(GroupBox2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(GroupBox2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = new QLabel(GroupBox2);
    Label3->setObjectName(QStringLiteral("Label3"));
    Button4 = button(GroupBox2, QStringLiteral("プリンタの設定(&N)"), "Button4");
    auto* printerBox = new QGridLayout(GroupBox2);
    printerBox->addWidget(Label1, 0, 0, 1, 3);
    printerBox->addWidget(Label2, 1, 0);
    printerBox->addWidget(Label3, 1, 1);
    printerBox->addWidget(Button4, 1, 2, Qt::AlignRight);
    printerBox->setHorizontalSpacing(16);
    printerBox->setColumnStretch(1, 1);

    auto* left = new QVBoxLayout;
    left->addLayout(texts);
    left->addSpacing(6);
    left->addLayout(font);
    left->addWidget(GroupBox1);
    left->addWidget(CheckBox1);
    left->addWidget(GroupBox2);
    left->addStretch(1);

    Button1 = button(this, QStringLiteral("印刷(&P)"), "Button1");
    Button1->setDefault(true);
    Button2 = button(this, QStringLiteral("印刷プレビュー(&V)"), "Button2");
    Button3 = button(this, QStringLiteral("閉じる(&C)"), "Button3");
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addSpacing(12);
    buttons->addWidget(Button3);
    buttons->addStretch(1);

    auto* main = new QHBoxLayout(this);
    main->addLayout(left, 1);
    main->addSpacing(6);
    main->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });

    setControls(clampedSetup(setup));
    showPrinter();
}

TTextPrintForm::~TTextPrintForm() = default;

int TTextPrintForm::run(TTextPrintForm& form) {
    if (testRunner())
        return testRunner()(form);
    return form.exec();
}

void TTextPrintForm::setRunnerForTesting(std::function<int(TTextPrintForm&)> runner) {
    testRunner() = std::move(runner);
}

void TTextPrintForm::setPrintersAvailableForTesting(std::optional<bool> available) {
    printersAvailableOverride() = available;
}

void TTextPrintForm::setPrinterSetupForTesting(std::function<bool(QPrinter&)> setup) {
    printerSetupOverride() = std::move(setup);
}

void TTextPrintForm::setControls(const PageSetup& s) {
    Edit1->setText(toQString(s.header));
    ComboBox1->setCurrentIndex(static_cast<int>(s.headerPosition));
    Edit2->setText(toQString(s.footer));
    ComboBox2->setCurrentIndex(static_cast<int>(s.footerPosition));
    ComboBox3->setCurrentFont(printFont(s));
    SpinEdit1->setValue(s.fontSize);
    SpinEdit2->setValue(s.columns);
    SpinEdit3->setValue(s.columnSpacing);
    SpinEdit4->setValue(s.marginLeft);
    SpinEdit5->setValue(s.marginRight);
    SpinEdit6->setValue(s.marginTop);
    SpinEdit7->setValue(s.marginBottom);
    CheckBox1->setChecked(s.lineNumbers);
}

PageSetup TTextPrintForm::setup() const {
    PageSetup s;
    s.header = cp932Lossy(Edit1->text());
    s.headerPosition = static_cast<PrintPosition>(ComboBox1->currentIndex());
    s.footer = cp932Lossy(Edit2->text());
    s.footerPosition = static_cast<PrintPosition>(ComboBox2->currentIndex());
    s.fontName = cp932Lossy(ComboBox3->currentFont().family());
    s.fontSize = SpinEdit1->value();
    s.columns = SpinEdit2->value();
    s.columnSpacing = SpinEdit3->value();
    s.marginLeft = SpinEdit4->value();
    s.marginRight = SpinEdit5->value();
    s.marginTop = SpinEdit6->value();
    s.marginBottom = SpinEdit7->value();
    s.lineNumbers = CheckBox1->isChecked();
    return clampedSetup(s);
}

std::optional<PageSetup> TTextPrintForm::checkedSetup() {
    for (const QString& text : {Edit1->text(), Edit2->text(), ComboBox3->currentFont().family()}) {
        if (!toCp932(text)) {
            showError(this, unconvertibleTextMessage(text));
            return std::nullopt;
        }
    }
    const PageSetup s = setup();
    const TextPrintJob job(printer_, lines_, s, documentPath_);
    if (!job.problem().isEmpty()) {
        showError(this, job.problem());
        return std::nullopt;
    }
    return s;
}

void TTextPrintForm::showPrinter() {
    Label1->setText(toPdf_ ? QStringLiteral("プリンタ : なし (PDF ファイルに出力します)")
                    : printer_.outputFormat() == QPrinter::PdfFormat
                        ? QStringLiteral("プリンタ : PDF ファイル ") + printer_.outputFileName()
                        : QStringLiteral("プリンタ : ") + printer_.printerName());
    const QPageLayout layout = printer_.pageLayout();
    Label2->setText(QStringLiteral("用紙の向き : ") + (layout.orientation() == QPageLayout::Portrait
                                                           ? QStringLiteral("縦")
                                                           : QStringLiteral("横")));
    const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
    Label3->setText(QStringLiteral("用紙サイズ : %1 (%2 × %3 mm)")
                        .arg(layout.pageSize().name())
                        .arg(qRound(mm.width()))
                        .arg(qRound(mm.height())));
}

int TTextPrintForm::printWithProgress(QPrinter& printer, const PageSetup& setup, bool* cancelled) {
    const QScopedValueRollback<bool> busy(busy_, true);
    TPrintProgressForm progress(this, QStringLiteral("印刷中"));
    const int pages =
        printText(printer, lines_, setup, documentPath_, [&](int) { return progress.step(); });
    *cancelled = progress.cancelled();
    return pages;
}

bool TTextPrintForm::printToPdf(const QString& path) {
    if (busy_)
        return false;
    const std::optional<PageSetup> s = checkedSetup();
    if (!s)
        return false;
    try {
        // Opened first: a folder that cannot be written is told before the job runs, and the
        // old file stays until the new one is complete.
        AtomicFileWriter writer(path.toStdString());
        QTemporaryFile pdfFile;
        if (!pdfFile.open())
            throw FileWriteError(pdfFile.fileTemplate().toStdString(),
                                 pdfFile.errorString().toStdString());
        pdfFile.close();
        QPrinter pdf(QPrinter::HighResolution);
        pdf.setOutputFormat(QPrinter::PdfFormat);
        pdf.setPageLayout(printer_.pageLayout());
        pdf.setOutputFileName(pdfFile.fileName());
        bool cancelled = false;
        if (printWithProgress(pdf, *s, &cancelled) == 0)
            throw FileWriteError(path.toStdString(), std::string());
        QFile in(pdfFile.fileName());
        if (!in.open(QIODevice::ReadOnly))
            throw FileWriteError(path.toStdString(), in.errorString().toStdString());
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 20);
            if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
                throw FileWriteError(path.toStdString(), in.errorString().toStdString());
            writer.write(std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
        }
        writer.commit();
        return true;
    } catch (const FileError& e) {
        showError(this, toQString(e.what()));
        return false;
    }
}

void TTextPrintForm::Button1Click() {
    if (busy_)
        return;
    if (toPdf_) {
        if (!checkedSetup())
            return;
        const QString file =
            withDefaultExtension(DialogService::instance().saveFileName(
                                     this, QStringLiteral("PDF ファイルに印刷"), QString(),
                                     QStringLiteral("PDF ファイル (*.pdf)")),
                                 QStringLiteral("pdf"));
        if (!file.isEmpty() && printToPdf(file))
            accept();
        return;
    }
    const std::optional<PageSetup> s = checkedSetup();
    if (!s)
        return;
    bool cancelled = false;
    if (printWithProgress(printer_, *s, &cancelled) == 0)
        showError(this, QStringLiteral("印刷できませんでした。プリンタの状態を確認してください。"));
    else if (!cancelled)
        accept();
}

void TTextPrintForm::Button2Click() {
    if (busy_)
        return;
    const std::optional<PageSetup> s = checkedSetup();
    if (!s)
        return;
    auto job = std::make_shared<const TextPrintJob>(printer_, lines_, *s, documentPath_);
    std::optional<std::vector<RowPosition>> starts;
    {
        const QScopedValueRollback<bool> busy(busy_, true);
        TPrintProgressForm progress(this, QStringLiteral("プレビューを作成中"));
        starts = pageStarts(
            job->layoutParams(), [&] { progress.step(); }, progress.stopFlag());
    }
    if (!starts)
        return;
    TPrintPreviewForm preview(this, std::move(job), std::move(*starts));
    TPrintPreviewForm::run(preview);
}

void TTextPrintForm::Button3Click() {
    reject();
}

void TTextPrintForm::reject() {
    if (!busy_)
        QDialog::reject();
}

void TTextPrintForm::closeEvent(QCloseEvent* event) {
    if (busy_)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TTextPrintForm::Button4Click() {
    bool changed = false;
    if (printerSetupOverride()) {
        changed = printerSetupOverride()(printer_);
    } else if (toPdf_) {
        QPageSetupDialog dialog(&printer_, this);
        changed = dialog.exec() == QDialog::Accepted;
    } else {
        QPrintDialog dialog(&printer_, this);
        dialog.setWindowTitle(QStringLiteral("プリンタの設定"));
        changed = dialog.exec() == QDialog::Accepted;
    }
    if (changed)
        showPrinter();
}

void TTextPrintForm::Button5Click() {
    showInformation(this, QStringLiteral("情報"), keywordHelp());
}

} // namespace klv
