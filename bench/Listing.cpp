// klovante_bench listing: the detailed text listing of HKEY_LOCAL_MACHINE of the generated
// registry against the shared walker's walk of the same root in the same run, and the first
// pages of that listing printed to a PDF file.
#include "BenchUtil.h"
#include "Walk.h"

#include "core/listing/DetailedListing.h"
#include "core/printing/PageSetup.h"
#include "core/registry/Store.h"
#include "gui/printing/TextPrinter.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace klv::bench {

namespace {

// The listing's first pages printed as the printing dialog prints them: its default setup on A4.
void measurePrinting(const Listing& listing) {
    constexpr int kPages = 1000;
    constexpr double kTargetSeconds = 30;
    Stopwatch decodeWatch;
    QStringList lines = toQString(listing.text).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const double decodeSeconds = decodeWatch.seconds();

    QTemporaryFile pdf;
    if (!pdf.open()) {
        std::printf("printing to PDF: no temporary file\n");
        return;
    }
    pdf.close();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(pdf.fileName());
    Stopwatch printWatch;
    const int pages =
        printText(printer, lines, PageSetup{}, QString(), [](int done) { return done < kPages; });
    const double printSeconds = printWatch.seconds();
    std::printf("decoding the listing: %lld lines in %.3f s\n",
                static_cast<long long>(lines.size()), decodeSeconds);
    std::printf("printing to PDF: first %d pages in %.2f s (%.1f pages/s), %.1f MB PDF; "
                "target: under %.0f s\n",
                pages, printSeconds, pages / printSeconds,
                static_cast<double>(QFileInfo(pdf.fileName()).size()) / 1e6, kTargetSeconds);
}

} // namespace

int runListing(const Args& args) {
    const BenchFolders folders = benchFolders(args, "listing");
    // Printing measures text with the fonts of a (screenless) application.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "klovante_bench";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    auto store = Store::open(folders.store, Store::Options{false, false});
    ListingRequest request;
    request.range = ListingRange::Root;
    request.rootIndex = 2; // HKEY_LOCAL_MACHINE

    constexpr int kRuns = 3;
    double walkSeconds = 1e9, listSeconds = 1e9;
    Totals walked;
    Listing listing;
    for (int run = 0; run < kRuns; ++run) {
        store->dropCache();
        Stopwatch walkWatch;
        walked = plainWalk(store, HKEY_LOCAL_MACHINE_H);
        walkSeconds = std::min(walkSeconds, walkWatch.seconds());

        store->dropCache();
        listing = Listing{};
        Stopwatch listWatch;
        listing = buildListing(request, {}, store);
        listSeconds = std::min(listSeconds, listWatch.seconds());
    }
    const double mb = static_cast<double>(listing.text.size()) / 1e6;
    std::printf("walk of HKEY_LOCAL_MACHINE (best of %d): %llu keys, %llu values in %.3f s\n",
                kRuns, static_cast<unsigned long long>(walked.keys),
                static_cast<unsigned long long>(walked.values), walkSeconds);
    std::printf("listing (best of %d): %llu keys, %llu values, %llu lines, %.1f MB in %.3f s "
                "(%.1f MB/s)\n",
                kRuns, static_cast<unsigned long long>(listing.keys),
                static_cast<unsigned long long>(listing.values),
                static_cast<unsigned long long>(listing.lines), mb, listSeconds, mb / listSeconds);
    measurePrinting(listing);
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("listing/walk ratio: %.2f\n", listSeconds / walkSeconds);
    return 0;
}

} // namespace klv::bench
