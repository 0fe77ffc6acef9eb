#include "gui/printing/TextPrinter.h"

#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "gui/widgets/TextBridge.h"

#include <QFontDatabase>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QScopeGuard>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace klv {
namespace {

constexpr int kTabWidth = 8;

// An entry that holds line breaks (a multi-string value's items) prints as several lines; a
// break at its very end ends its last line rather than adding an empty one.
QStringList splitEntries(QStringList lines) {
    const auto hasBreak = [](const QString& s) {
        return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
    };
    if (std::none_of(lines.cbegin(), lines.cend(), hasBreak))
        return lines;
    QStringList out;
    out.reserve(lines.size());
    for (const QString& entry : std::as_const(lines)) {
        if (!hasBreak(entry)) {
            out << entry;
            continue;
        }
        QString text = entry;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QStringList parts = text.split(QLatin1Char('\n'));
        if (parts.size() > 1 && parts.last().isEmpty())
            parts.removeLast();
        out << parts;
    }
    return out;
}

// Columns a character takes in a fixed-pitch font: two for the full-width ones, as in the
// double-byte text the lines come from.
int columnsOf(QChar c) {
    const char16_t u = c.unicode();
    if (c.isLowSurrogate())
        return 0; // counted with its high half
    const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                      (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                      (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                      (u >= 0xFFE0 && u <= 0xFFE6) || c.isHighSurrogate();
    return wide ? 2 : 1;
}

QString expandTabs(const QString& text) {
    QString out;
    out.reserve(text.size() + kTabWidth);
    int column = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\t')) {
            const int blanks = kTabWidth - column % kTabWidth;
            out += QString(blanks, QLatin1Char(' '));
            column += blanks;
        } else {
            out += c;
            column += columnsOf(c);
        }
    }
    return out;
}

// The document's path for "%f": a character that CP932 cannot hold shows as "〓".
std::string pathForKeywords(const QString& path) {
    const std::string utf16(reinterpret_cast<const char*>(path.utf16()),
                            static_cast<size_t>(path.size()) * 2);
    return utf16ToCp932Lossy(utf16);
}

// Sized in the printer's pixels, so that the font measures alike on the printer and on the
// preview's images.
QFont deviceFont(const PageSetup& setup, double dpi) {
    QFont font = printFont(setup);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSizeF() * dpi / 72.0))));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

} // namespace

QFont printFont(const PageSetup& setup) {
    QFont font = setup.fontName.empty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                        : QFont(toQString(setup.fontName));
    font.setPointSize(clampedSetup(setup).fontSize);
    return font;
}

TextPrintJob::TextPrintJob(const QPrinter& printer, QStringList lines, const PageSetup& setup,
                           const QString& documentPath)
    : lines_(splitEntries(std::move(lines))), setup_(clampedSetup(setup)),
      documentPath_(pathForKeywords(documentPath)), time_(localNow()),
      font_(deviceFont(setup_, printer.resolution())), metrics_(font_), dpi_(printer.resolution()) {
    paper_ = QRectF(QPointF(0, 0), printer.paperRect(QPrinter::DevicePixel).size());
    QPageLayout pageLayout = printer.pageLayout();
    pageLayout.setUnits(QPageLayout::Millimeter);
    const QMarginsF least = pageLayout.minimumMargins();
    const auto px = [this](double mm) { return mm * dpi_ / 25.4; };
    area_ = paper_.adjusted(px(std::max<double>(setup_.marginLeft, least.left())),
                            px(std::max<double>(setup_.marginTop, least.top())),
                            -px(std::max<double>(setup_.marginRight, least.right())),
                            -px(std::max<double>(setup_.marginBottom, least.bottom())));

    lineHeight_ = metrics_.lineSpacing();
    // A header or footer takes its row and half a row's gap from the text.
    double top = area_.top(), bottom = area_.bottom();
    if (setup_.headerPosition != PrintPosition::None)
        top += lineHeight_ * 1.5;
    if (setup_.footerPosition != PrintPosition::None)
        bottom -= lineHeight_ * 1.5;
    bodyTop_ = top;
    rowsPerColumn_ =
        bottom > top ? static_cast<int>(std::floor((bottom - top) / lineHeight_ + 1e-6)) : 0;

    const double digit = metrics_.horizontalAdvance(QLatin1Char('0'));
    columnGap_ = setup_.columnSpacing * digit;
    columnWidth_ = (area_.width() - columnGap_ * (setup_.columns - 1)) / setup_.columns;
    if (setup_.lineNumbers)
        numberWidth_ = metrics_.horizontalAdvance(QString(
                           lineNumberWidth(static_cast<size_t>(lines_.size())), QLatin1Char('0'))) +
                       digit;
    textWidth_ = columnWidth_ - numberWidth_;
    // Room for at least one full-width character on one row.
    if (rowsPerColumn_ < 1 || textWidth_ < 2 * digit)
        problem_ = QStringLiteral("余白や段の設定に対して用紙が小さすぎるため、印刷できません。");
}

LayoutParams TextPrintJob::layoutParams() const {
    LayoutParams p;
    p.lineCount = static_cast<size_t>(lines_.size());
    p.rowsPerColumn = rowsPerColumn_;
    p.columnsPerPage = setup_.columns;
    p.lineNumbers = setup_.lineNumbers;
    p.rowsOf = [this](size_t line) { return static_cast<int>(wrapLine(line).size()); };
    return p;
}

QString TextPrintJob::lineText(size_t line) const {
    const QString& text = lines_[static_cast<qsizetype>(line)];
    return text.contains(QLatin1Char('\t')) ? expandTabs(text) : text;
}

QStringList TextPrintJob::wrapLine(size_t line) const {
    if (line == cachedLine_)
        return cachedRows_;
    const QString text = lineText(line);
    if (text.isEmpty() || metrics_.horizontalAdvance(text) <= textWidth_)
        return {text};
    QTextLayout layout(text, font_);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList rows;
    layout.beginLayout();
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
        row.setLineWidth(textWidth_);
        rows << text.mid(row.textStart(), row.textLength());
    }
    layout.endLayout();
    if (rows.isEmpty())
        rows << text;
    cachedLine_ = line;
    cachedRows_ = rows;
    return rows;
}

QString TextPrintJob::rowText(size_t line, int part) const {
    const QStringList rows = wrapLine(line);
    return part < rows.size() ? rows[part] : QString();
}

void TextPrintJob::paintRunningText(QPainter& painter, const std::string& text,
                                    PrintPosition position, double baseline, int pageNumber) const {
    if (position == PrintPosition::None)
        return;
    PageKeywords keywords;
    keywords.page = pageNumber;
    keywords.filePath = documentPath_;
    keywords.time = time_;
    const QString s = toQString(expandPageKeywords(text, keywords));
    const double width = metrics_.horizontalAdvance(s);
    double x = area_.left();
    if (position == PrintPosition::Center)
        x = area_.center().x() - width / 2;
    else if (position == PrintPosition::Right)
        x = area_.right() - width;
    // Too wide for the row: its beginning stays on the paper.
    painter.drawText(QPointF(std::max(x, area_.left()), baseline), s);
}

void TextPrintJob::paintPage(QPainter& painter, const PrintedPage& page, int pageNumber) const {
    painter.save();
    painter.setFont(font_);
    painter.setPen(Qt::black);
    paintRunningText(painter, setup_.header, setup_.headerPosition, area_.top() + metrics_.ascent(),
                     pageNumber);
    paintRunningText(painter, setup_.footer, setup_.footerPosition,
                     area_.bottom() - metrics_.descent(), pageNumber);
    const double digit = metrics_.horizontalAdvance(QLatin1Char('0'));
    for (size_t c = 0; c < page.columns.size(); ++c) {
        const double left = area_.left() + static_cast<double>(c) * (columnWidth_ + columnGap_);
        double baseline = bodyTop_ + metrics_.ascent();
        for (const PrintedRow& row : page.columns[c]) {
            if (!row.number.empty()) {
                const QString number = toQString(row.number).trimmed();
                painter.drawText(
                    QPointF(left + numberWidth_ - digit - metrics_.horizontalAdvance(number),
                            baseline),
                    number);
            }
            painter.drawText(QPointF(left + numberWidth_, baseline), rowText(row.line, row.part));
            baseline += lineHeight_;
        }
    }
    painter.restore();
}

QImage TextPrintJob::pageImage(const PrintedPage& page, int pageNumber, double scale) const {
    const QSize size(std::max(1, static_cast<int>(std::ceil(paper_.width() * scale))),
                     std::max(1, static_cast<int>(std::ceil(paper_.height() * scale))));
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.scale(scale, scale);
    paintPage(painter, page, pageNumber);
    return image;
}

int printText(QPrinter& printer, const QStringList& lines, const PageSetup& setup,
              const QString& documentPath, const std::function<bool(int pagesDone)>& pageDone) {
    // The margins are measured from the paper's edge, so the painter starts at its corner.
    const bool wasFullPage = printer.fullPage();
    printer.setFullPage(true);
    const auto restore = qScopeGuard([&] { printer.setFullPage(wasFullPage); });

    const TextPrintJob job(printer, lines, setup, documentPath);
    if (!job.problem().isEmpty())
        return 0;
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;
    PageLayout layout(job.layoutParams());
    int pages = 0;
    for (;;) {
        job.paintPage(painter, layout.nextPage(), ++pages);
        const bool goOn = !pageDone || pageDone(pages);
        if (!goOn || layout.atEnd())
            break;
        if (!printer.newPage()) {
            painter.end();
            return 0;
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return 0;
    return pages;
}

} // namespace klv
