// klovante_bench hexedit: a 16 MB binary value in the binary editor, offscreen: opening it,
// scrolling it page by page, typing into it and undoing the typing.
#include "BenchUtil.h"

#include "core/registry/Registry.h"
#include "gui/frame/Form1.h"
#include "gui/valueedit/BinaryEdit.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace klv::bench {
namespace {

constexpr std::size_t kValueBytes = 16u << 20;
constexpr int kTyped = 1000;

void press(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &e);
}

// Paints the view's visible rows into an image: what a screen would cost, offscreen too.
void paint(THexEditor* hex) {
    static QImage image;
    if (image.size() != hex->viewport()->size())
        image = QImage(hex->viewport()->size(), QImage::Format_RGB32);
    hex->viewport()->render(&image);
}

} // namespace

int runHexEdit(const Args& args) {
    const BenchFolders folders = benchFolders(args, "hexedit");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    {
        TRegistry reg(Store::open(folders.store, Store::Options{false, false}));
        if (!reg.OpenKey("\\BenchHex", true))
            throw std::runtime_error("cannot make HKEY_CURRENT_USER\\BenchHex");
        if (reg.GetDataSize("Big") != static_cast<int>(kValueBytes)) {
            std::string data(kValueBytes, '\0');
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<char>((i * 131) >> 3);
            reg.WriteBinary("Big", data);
        }
    }
    int argc = 1;
    char arg0[] = "klovante_bench";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    TForm1 form({});
    form.Edit1 = QStringLiteral("HKEY_CURRENT_USER\\BenchHex");

    // A plain read of the value from the store, the best of three.
    double plainRead = 1e9;
    for (int run = 0; run < 3; ++run) {
        Store::resetShared();
        Stopwatch watch;
        TRegistry reg;
        reg.OpenKeyForReading("\\BenchHex");
        const std::string bytes = reg.ReadBinary("Big");
        if (bytes.size() != kValueBytes)
            throw std::runtime_error("the value was not read whole");
        plainRead = std::min(plainRead, watch.seconds());
    }

    // Opening: the read, the editor loaded, the dialog shown and painted.
    double open = 1e9;
    std::unique_ptr<TBinaryEdit> dialog;
    for (int run = 0; run < 3; ++run) {
        Store::resetShared();
        Stopwatch watch;
        TRegistry reg;
        reg.OpenKeyForReading("\\BenchHex");
        auto d = std::make_unique<TBinaryEdit>(form);
        d->setUp(false, QStringLiteral("Big"), true);
        d->setData(reg.ReadBinary("Big"));
        d->show();
        paint(d->HexEditor1);
        open = std::min(open, watch.seconds());
        dialog = std::move(d);
    }
    THexEditor* hex = dialog->HexEditor1;

    // Page by page to the end.
    double worstPage = 0;
    double allPages = 0;
    long pages = 0;
    while (hex->verticalScrollBar()->value() < hex->verticalScrollBar()->maximum()) {
        Stopwatch watch;
        press(hex, Qt::Key_PageDown);
        paint(hex);
        const double t = watch.seconds();
        worstPage = std::max(worstPage, t);
        allPages += t;
        ++pages;
    }

    // Typing in the middle, in insert mode, two digits a byte; then undoing it all.
    hex->setCursor(kValueBytes / 2);
    press(hex, Qt::Key_Insert);
    double worstKey = 0;
    for (int i = 0; i < kTyped * 2; ++i) {
        Stopwatch watch;
        press(hex, 0, QString(QLatin1Char("0123456789ABCDEF"[i % 16])));
        paint(hex);
        worstKey = std::max(worstKey, watch.seconds());
    }
    if (hex->buffer().size() != kValueBytes + kTyped)
        throw std::runtime_error("the typing did not land");
    Stopwatch undoWatch;
    while (hex->buffer().canUndo())
        hex->undo();
    paint(hex);
    const double undoTime = undoWatch.seconds();
    dialog.reset();

    std::printf("value: %zu bytes; plain read %.3f s\n", kValueBytes, plainRead);
    std::printf("open: %.3f s\n", open);
    std::printf("pages: %ld, %.3f ms each on average, worst %.3f ms\n", pages,
                1e3 * allPages / static_cast<double>(std::max(pages, 1L)), 1e3 * worstPage);
    std::printf("typing: %d bytes, worst keystroke %.3f ms\n", kTyped, 1e3 * worstKey);
    std::printf("undo of the typing: %.3f s\n", undoTime);
    std::filesystem::remove_all(folders.home);
    std::printf("hexedit open ratio: %.2f\n", open / plainRead);
    return 0;
}

} // namespace klv::bench
