// The printing facility: PDFs printed offscreen are read back with pdftotext (text, header
// date, footer page numbers, line numbers, columns, wrapped lines), the preview's pages and
// buttons, the keyword help, cancelling, and what happens when a PDF cannot be written.
#include "gui/printing/TextPrintForm.h"
#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "gui/printing/PrintPreviewForm.h"
#include "gui/printing/PrintProgressForm.h"
#include "gui/printing/TextPrinter.h"
#include "support/FakeDialogs.h"
#include "support/TempFolders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace klv;

namespace {

class TextPrintFormTest : public ::testing::Test {
protected:
    TextPrintFormTest() {
        TTextPrintForm::setPrintersAvailableForTesting(false);
        // Noon UTC: the same date in every time zone the tests run in.
        setClockForTesting([] { return fileTimeFromUnix(1709640000); }); // 2024-03-05
    }
    ~TextPrintFormTest() override {
        TTextPrintForm::setPrintersAvailableForTesting(std::nullopt);
        TTextPrintForm::setPrinterSetupForTesting({});
        TPrintPreviewForm::setRunnerForTesting({});
        TPrintProgressForm::setStepHookForTesting({});
        setClockForTesting({});
    }

    QString pdfPath(const char* name) const {
        return QString::fromStdString((folders.root() / name).string());
    }
    static QString run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(30000)) << program.toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // The PDF's text page by page, laid out as printed.
    static QStringList pdfPages(const QString& pdf) {
        QStringList pages =
            run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
                .split(QLatin1Char('\f'));
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
            pages.removeLast();
        return pages;
    }
    static QStringList numbered(int count, const QString& prefix = QStringLiteral("L")) {
        QStringList lines;
        for (int i = 1; i <= count; ++i)
            lines << prefix + QString::asprintf("%03d", i);
        return lines;
    }

    test::TempFolders folders;
    test::FakeDialogs dialogs;
};

} // namespace

TEST_F(TextPrintFormTest, PdfHoldsTheTextWithHeaderDateAndFooterPageNumbers) {
    QStringList lines{QStringLiteral("[HKEY_CURRENT_USER\\Software\\サンプル]"),
                      QStringLiteral("名前=\"値\""), QStringLiteral("Count=255 (0x000000FF)")};
    lines << numbered(150);
    TTextPrintForm form(nullptr, lines, PageSetup{});
    EXPECT_EQ(form.windowTitle(), QStringLiteral("印刷"));
    const QString pdf = pdfPath("out.pdf");
    ASSERT_TRUE(form.printToPdf(pdf));
    EXPECT_TRUE(dialogs.shown.empty());

    const QStringList pages = pdfPages(pdf);
    ASSERT_GE(pages.size(), 2);
    EXPECT_TRUE(pages[0].contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\サンプル]")));
    EXPECT_TRUE(pages[0].contains(QStringLiteral("名前=\"値\"")));
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Count=255 (0x000000FF)")));
    for (int i = 0; i < pages.size(); ++i) {
        const QStringList rows = pages[i].split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // The header is the first row, on the right; the footer the last.
        EXPECT_EQ(rows.first().trimmed(), QStringLiteral("2024/03/05")) << i;
        EXPECT_TRUE(rows.first().startsWith(QStringLiteral("     "))) << i;
        EXPECT_EQ(rows.last().trimmed(), QStringLiteral("- %1 -").arg(i + 1)) << i;
    }
    // Every line once, in order.
    const QString all = pages.join(QString());
    qsizetype at = 0;
    for (const QString& line : numbered(150)) {
        const qsizetype found = all.indexOf(line, at);
        ASSERT_GE(found, 0) << line.toStdString();
        at = found + line.size();
    }
}

TEST_F(TextPrintFormTest, LineNumbersTwoColumnsAndWrappedLines) {
    QStringList lines = numbered(60);
    QString longLine;
    for (int i = 0; i < 80; ++i)
        longLine += QString::asprintf("w%02d ", i);
    lines[4] = longLine;
    PageSetup setup;
    setup.lineNumbers = true;
    setup.columns = 2;
    setup.headerPosition = PrintPosition::None;
    TTextPrintForm form(nullptr, lines, setup);
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_EQ(form.SpinEdit2->value(), 2);
    const QString pdf = pdfPath("columns.pdf");
    ASSERT_TRUE(form.printToPdf(pdf));
    const QStringList pages = pdfPages(pdf);
    ASSERT_EQ(pages.size(), 1);
    const QStringList rows = pages[0].split(QLatin1Char('\n'));

    // Numbers stand before their lines; the first row carries both columns.
    const auto rowWith = [&](const QString& text) {
        for (const QString& r : rows)
            if (r.contains(text))
                return r;
        return QString();
    };
    const QString first = rowWith(QStringLiteral("L001"));
    EXPECT_TRUE(
        first.contains(QRegularExpression(QStringLiteral("^\\s*1\\s+L001\\s{2,}\\d+\\s+L0\\d\\d"))))
        << first.toStdString();
    EXPECT_TRUE(
        rowWith(QStringLiteral("L060")).contains(QRegularExpression(QStringLiteral("60\\s+L060"))));

    // The long line wraps onto rows of its own; nothing of it is lost, and only its first row
    // is numbered.
    int wrappedRows = 0;
    for (const QString& r : rows)
        if (r.contains(QStringLiteral("w0")) || r.contains(QStringLiteral("w7")))
            ++wrappedRows;
    EXPECT_GE(wrappedRows, 2);
    const QString all = pages[0];
    for (int i = 0; i < 80; ++i)
        EXPECT_TRUE(all.contains(QString::asprintf("w%02d", i))) << i;
    EXPECT_TRUE(rowWith(QStringLiteral("w00"))
                    .contains(QRegularExpression(QStringLiteral("^\\s*5\\s+w00"))));
    const QString continued = rowWith(QStringLiteral("w79"));
    EXPECT_FALSE(continued.contains(QRegularExpression(QStringLiteral("^\\s*\\d+\\s+w"))))
        << continued.toStdString();
}

TEST_F(TextPrintFormTest, PrintTextStopsWhenPageDoneSaysSoAndCountsPages) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    const QString pdf = pdfPath("stop.pdf");
    printer.setOutputFileName(pdf);
    std::vector<int> told;
    const int pages = printText(printer, numbered(600), PageSetup{}, QString(), [&](int done) {
        told.push_back(done);
        return done < 3;
    });
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(told, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pdfPages(pdf).size(), 3);
    EXPECT_FALSE(printer.fullPage()); // the caller's printer is left as it was

    // Uninterrupted, the same text takes more pages; an empty text still prints one.
    printer.setOutputFileName(pdfPath("all.pdf"));
    EXPECT_GT(printText(printer, numbered(600), PageSetup{}, QString()), 3);
    printer.setOutputFileName(pdfPath("empty.pdf"));
    EXPECT_EQ(printText(printer, {}, PageSetup{}, QString()), 1);
    const QStringList empty = pdfPages(pdfPath("empty.pdf"));
    ASSERT_EQ(empty.size(), 1);
    EXPECT_TRUE(empty[0].contains(QStringLiteral("2024/03/05")));
    EXPECT_TRUE(empty[0].contains(QStringLiteral("- 1 -")));
}

TEST_F(TextPrintFormTest, CancelInTheProgressWindowKeepsThePagesSoFar) {
    int steps = 0;
    TPrintProgressForm::setStepHookForTesting([&](TPrintProgressForm& progress) {
        EXPECT_EQ(progress.Label1->text(), QStringLiteral("しばらくお待ちください"));
        EXPECT_EQ(progress.Label2->text(), QStringLiteral("印刷中"));
        EXPECT_EQ(progress.Button1->text(), QStringLiteral("キャンセル(&C)"));
        if (++steps == 2)
            progress.Button1Click();
    });
    TTextPrintForm form(nullptr, numbered(600), PageSetup{});
    const QString pdf = pdfPath("cancelled.pdf");
    ASSERT_TRUE(form.printToPdf(pdf));
    EXPECT_EQ(pdfPages(pdf).size(), 2);
}

TEST_F(TextPrintFormTest, NoPrinterPrintsToTheChosenPdfFile) {
    TTextPrintForm form(nullptr, {QStringLiteral("あいう")}, PageSetup{});
    EXPECT_TRUE(form.printsToPdf());
    EXPECT_TRUE(form.Label1->text().contains(QStringLiteral("PDF")));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("用紙の向き : 縦"));
    EXPECT_TRUE(form.Label3->text().contains(QStringLiteral("A4")));

    // Cancelling the save dialog prints nothing and keeps the dialog open.
    form.Button1Click();
    EXPECT_EQ(dialogs.asked.size(), 1);
    EXPECT_EQ(form.result(), 0);

    dialogs.fileNames.push_back(pdfPath("chosen")); // the extension is added
    form.Button1Click();
    EXPECT_EQ(dialogs.fileTypeLists.last(), QStringLiteral("PDF ファイル (*.pdf)"));
    ASSERT_TRUE(QFile::exists(pdfPath("chosen.pdf")));
    EXPECT_TRUE(pdfPages(pdfPath("chosen.pdf")).value(0).contains(QStringLiteral("あいう")));
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(TextPrintFormTest, PrinterSetupChangesWhatIsShownAndPrinted) {
    TTextPrintForm::setPrinterSetupForTesting([](QPrinter& printer) {
        printer.setPageOrientation(QPageLayout::Landscape);
        return true;
    });
    TTextPrintForm form(nullptr, numbered(10), PageSetup{});
    form.Button4Click();
    EXPECT_EQ(form.Label2->text(), QStringLiteral("用紙の向き : 横"));
    const QString pdf = pdfPath("landscape.pdf");
    ASSERT_TRUE(form.printToPdf(pdf));
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(info);
    ASSERT_TRUE(m.hasMatch()) << info.toStdString();
    EXPECT_GT(m.captured(1).toDouble(), m.captured(2).toDouble());
}

TEST_F(TextPrintFormTest, WhatCannotBePrintedIsRefusedAndTheOldFileKept) {
    const QString pdf = pdfPath("keep.pdf");
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    TTextPrintForm form(nullptr, numbered(10), PageSetup{});
    const auto oldKept = [&] {
        QFile f(pdf);
        return f.open(QIODevice::ReadOnly) && f.readAll() == "old";
    };

    // A header that CP932 cannot hold.
    form.Edit1->setText(QStringLiteral("한국어"));
    EXPECT_FALSE(form.printToPdf(pdf));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown.back().text.contains(QStringLiteral("한국어")));
    EXPECT_TRUE(oldKept());
    form.Edit1->setText(QStringLiteral("%y"));

    // Margins that leave no row on the paper.
    form.printer().setPageOrientation(QPageLayout::Landscape);
    for (QSpinBox* margin : {form.SpinEdit6, form.SpinEdit7})
        margin->setValue(100);
    EXPECT_FALSE(form.printToPdf(pdf));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("エラー"));
    EXPECT_TRUE(oldKept());
    form.SpinEdit6->setValue(10);
    form.SpinEdit7->setValue(10);

    // A folder that is not there.
    EXPECT_FALSE(form.printToPdf(pdfPath("missing/out.pdf")));
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_TRUE(dialogs.shown.back().text.contains(QStringLiteral("に書き込めません")));

    // Everything right again: the file is replaced.
    ASSERT_TRUE(form.printToPdf(pdf));
    EXPECT_FALSE(oldKept());
}

TEST_F(TextPrintFormTest, ControlsShowTheSetupAndGiveItBack) {
    PageSetup s;
    s.header = "%F";
    s.headerPosition = PrintPosition::Left;
    s.footer = "p%p";
    s.footerPosition = PrintPosition::None;
    s.fontSize = 12;
    s.columns = 3;
    s.columnSpacing = 7;
    s.lineNumbers = true;
    s.marginLeft = 11;
    s.marginRight = 12;
    s.marginTop = 13;
    s.marginBottom = 14;
    TTextPrintForm form(nullptr, {}, s);
    EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("左"));
    EXPECT_EQ(form.ComboBox2->currentText(), QStringLiteral("なし"));
    PageSetup back = form.setup();
    back.fontName = s.fontName; // the desktop's font comes back by its name
    EXPECT_EQ(back, s);
    // Out-of-range numbers are brought into range when shown.
    s.columns = 9;
    s.marginLeft = 500;
    TTextPrintForm clamped(nullptr, {}, s);
    EXPECT_EQ(clamped.setup().columns, 3);
    EXPECT_EQ(clamped.setup().marginLeft, kMaxMargin);
}

TEST_F(TextPrintFormTest, KeywordHelp) {
    TTextPrintForm form(nullptr, {}, PageSetup{});
    form.Button5Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("Header, Footer に利用出来るキーワードは以下の通りです。\n\n"
                             "%p  ページ番号\n%f  ファイル名パス付き\n%F  ファイル名パス無し\n"
                             "%y  年\n%m  月\n%d  日\n%t  時間"));
}

TEST_F(TextPrintFormTest, PreviewPagesAndButtons) {
    int shown = 0;
    TPrintPreviewForm::setRunnerForTesting([&](TPrintPreviewForm& p) {
        ++shown;
        EXPECT_EQ(p.windowTitle(), QStringLiteral(" 印刷プレビュー"));
        EXPECT_EQ(p.SpeedButton1->toolTip(), QStringLiteral("先頭ページへ移動"));
        EXPECT_EQ(p.SpeedButton2->toolTip(), QStringLiteral("ページを戻る"));
        EXPECT_EQ(p.SpeedButton3->toolTip(), QStringLiteral("次のページへ進む"));
        EXPECT_EQ(p.SpeedButton4->toolTip(), QStringLiteral("最終ページへ移動"));
        EXPECT_EQ(p.SpeedButton5->toolTip(), QStringLiteral("プレビュー幅を画面の縦幅にあわせる"));
        EXPECT_EQ(p.SpeedButton6->toolTip(), QStringLiteral("プレビュー幅を画面の横幅にあわせる"));
        EXPECT_EQ(p.SpeedButton7->toolTip(), QStringLiteral("プレビュー幅を標準サイズへ戻す"));
        EXPECT_EQ(p.Button1->text(), QStringLiteral("閉じる(&C)"));
        const int n = p.pageCount();
        EXPECT_GE(n, 3);
        const auto counter = [](int page, int count) {
            return QString::asprintf("%3d / %3d", page, count);
        };
        EXPECT_EQ(p.Label1->text(), counter(1, n));
        EXPECT_FALSE(p.SpeedButton2->isEnabled());
        p.SpeedButton3Click();
        EXPECT_EQ(p.Label1->text(), counter(2, n));
        p.SpeedButton4Click();
        EXPECT_EQ(p.Label1->text(), counter(n, n));
        EXPECT_FALSE(p.SpeedButton3->isEnabled());
        p.SpeedButton3Click(); // past the end stays there
        EXPECT_EQ(p.page(), n);
        p.SpeedButton2Click();
        EXPECT_EQ(p.Label1->text(), counter(n - 1, n));
        p.SpeedButton1Click();
        EXPECT_EQ(p.Label1->text(), counter(1, n));

        // The page is painted: dark text on white paper.
        p.resize(900, 500); // wider than the page
        p.show();
        p.SpeedButton7Click();
        EXPECT_DOUBLE_EQ(p.scale(), p.logicalDpiX() / 1200.0);
        const QImage page = p.Image1->pixmap().toImage();
        int dark = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                dark += qGray(page.pixel(x, y)) < 128;
        EXPECT_GT(dark, 100);
        p.SpeedButton5Click();
        const double fitHeight = p.scale();
        p.SpeedButton6Click();
        // A portrait page fitted to the width is larger than fitted to the height.
        EXPECT_GT(p.scale(), fitHeight);
        EXPECT_TRUE(p.SpeedButton6->isChecked());
        EXPECT_FALSE(p.SpeedButton5->isChecked());
        p.Button1Click();
        return p.result();
    });
    TTextPrintForm form(nullptr, numbered(200), PageSetup{});
    form.Button2Click();
    EXPECT_EQ(shown, 1);

    // The preview counts the pages that printing gives.
    TPrintPreviewForm::setRunnerForTesting([&](TPrintPreviewForm& p) {
        const QString pdf = pdfPath("same.pdf");
        EXPECT_TRUE(form.printToPdf(pdf));
        EXPECT_EQ(pdfPages(pdf).size(), p.pageCount());
        return 0;
    });
    form.CheckBox1->setChecked(true);
    form.SpinEdit2->setValue(2);
    form.Button2Click();
}

TEST_F(TextPrintFormTest, PreviewIsBuiltBehindTheProgressWindowAndCanBeCancelled) {
    QStringList doing;
    bool cancel = true;
    TPrintProgressForm::setStepHookForTesting([&](TPrintProgressForm& progress) {
        doing << progress.Label2->text();
        if (cancel)
            progress.Button1Click();
    });
    int shown = 0;
    TPrintPreviewForm::setRunnerForTesting([&](TPrintPreviewForm&) {
        ++shown;
        return 0;
    });
    TTextPrintForm form(nullptr, numbered(300), PageSetup{});
    form.Button2Click();
    EXPECT_EQ(shown, 0);
    ASSERT_FALSE(doing.isEmpty());
    EXPECT_EQ(doing.first(), QStringLiteral("プレビューを作成中"));
    cancel = false;
    form.Button2Click();
    EXPECT_EQ(shown, 1);
}

TEST_F(TextPrintFormTest, EntriesWithLineBreaksAndTheDocumentsName) {
    PageSetup setup;
    setup.lineNumbers = true;
    setup.header = sj("%F (%f)");
    setup.headerPosition = PrintPosition::Left;
    const QString document = QStringLiteral("/work/スクリプト/表.hvs");
    TTextPrintForm form(
        nullptr,
        {QStringLiteral("M= (2行のマルチ文字列)\r\nfirst\r\nsecond\r\n"), QStringLiteral("after")},
        setup, document);
    const QString pdf = pdfPath("entries.pdf");
    ASSERT_TRUE(form.printToPdf(pdf));
    const QStringList rows = pdfPages(pdf).value(0).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(rows.size(), 5);
    EXPECT_EQ(rows[0].trimmed(), QStringLiteral("表.hvs (/work/スクリプト/表.hvs)"));
    EXPECT_TRUE(rows[2].contains(QRegularExpression(QStringLiteral("^\\s*2\\s+first$"))));
    EXPECT_TRUE(rows[3].contains(QRegularExpression(QStringLiteral("^\\s*3\\s+second$"))));
    EXPECT_TRUE(rows[4].contains(QRegularExpression(QStringLiteral("^\\s*4\\s+after$"))));
}
