#pragma once
// Lays out and paints pages of text for a printer: the header and footer rows, the columns
// with their line numbers, and lines wrapped at the column width by the font's metrics.
// Printing and the preview both paint through TextPrintJob::paintPage.
#include "core/printing/PageLayout.h"
#include "core/printing/PageSetup.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QRectF>
#include <QStringList>
#include <ctime>
#include <functional>
#include <vector>

class QPainter;
class QPrinter;

namespace klv {

// The font a setup names (the desktop's fixed-pitch font when it names none), in points.
QFont printFont(const PageSetup& setup);

class TextPrintJob {
public:
    // Takes the printer's paper, resolution and least margins; the keywords' time is now.
    TextPrintJob(const QPrinter& printer, QStringList lines, const PageSetup& setup,
                 const QString& documentPath);

    // Why the text cannot be printed on this paper; empty when it can.
    const QString& problem() const { return problem_; }
    LayoutParams layoutParams() const;
    // The paper in the printer's pixels; paintPage draws with the origin at its corner.
    QSizeF paperSize() const { return paper_.size(); }
    double resolution() const { return dpi_; }

    // Paints a page; pageNumber counts from 1.
    void paintPage(QPainter& painter, const PrintedPage& page, int pageNumber) const;
    // A page as an image of `scale` times the printer's pixels, for the preview.
    QImage pageImage(const PrintedPage& page, int pageNumber, double scale) const;
    // The printed rows of a line at the column width.
    QStringList wrapLine(std::size_t line) const;

private:
    QString lineText(std::size_t line) const;
    QString rowText(std::size_t line, int part) const;
    void paintRunningText(QPainter& painter, const std::string& text, PrintPosition position,
                          double baseline, int pageNumber) const;

    QStringList lines_;
    PageSetup setup_;
    std::string documentPath_; // CP932
    std::tm time_{};
    QFont font_;
    QFontMetricsF metrics_;
    double dpi_ = 72;
    QRectF paper_, area_; // the whole paper, and what the margins leave of it
    double lineHeight_ = 0, bodyTop_ = 0;
    int rowsPerColumn_ = 0;
    double columnWidth_ = 0, columnGap_ = 0, numberWidth_ = 0, textWidth_ = 0;
    QString problem_;
    // The rows of the line wrapped last: a long line is painted part by part.
    mutable std::size_t cachedLine_ = static_cast<std::size_t>(-1);
    mutable QStringList cachedRows_;
};

// Lays out and prints every page on `printer`; returns the number of pages printed, or 0
// when nothing could be printed (the printer would not start or failed, or the margins leave
// no room). `pageDone` is told after each page; returning false stops there.
int printText(QPrinter& printer, const QStringList& lines, const PageSetup& setup,
              const QString& documentPath, const std::function<bool(int pagesDone)>& pageDone = {});

} // namespace klv
