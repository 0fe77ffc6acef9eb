// The hex view as a user types into it, and the binary editor through the editor window.
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "gui/editor/Regform.h"
#include "gui/valueedit/BinaryEdit.h"
#include "support/WindowTest.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>
#include <fstream>

using namespace klv;

namespace {

void press(QWidget* w, int key, const QString& text = {},
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent e(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &e);
}

void type(QWidget* w, const char* text) {
    for (const char* c = text; *c; ++c)
        press(w, 0, QString(QLatin1Char(*c)));
}

class HexEditorTest : public test::WindowTest {};

} // namespace

TEST_F(HexEditorTest, TypingOverwritesInsertsAndUndoesInBothParts) {
    THexEditor h;
    h.resize(500, 300);
    h.load(std::string("\x00\x01", 2));
    type(&h, "ab");
    EXPECT_EQ(h.buffer().all(), std::string("\xAB\x01", 2));
    EXPECT_TRUE(h.buffer().changed(0));
    EXPECT_FALSE(h.buffer().changed(1));
    EXPECT_EQ(h.cursor(), 1u);
    press(&h, Qt::Key_Insert);
    type(&h, "12");
    EXPECT_EQ(h.buffer().all(), std::string("\xAB\x12\x01", 3));
    press(&h, Qt::Key_Tab); // the text part
    type(&h, "Z");
    EXPECT_EQ(h.buffer().all(), std::string("\xAB\x12Z\x01", 4));
    // A selection of two bytes, deleted.
    press(&h, Qt::Key_Home);
    press(&h, Qt::Key_Right, {}, Qt::ShiftModifier);
    press(&h, Qt::Key_Right, {}, Qt::ShiftModifier);
    ASSERT_TRUE(h.selection());
    EXPECT_EQ(h.selection()->second, 1u);
    press(&h, Qt::Key_Delete);
    EXPECT_EQ(h.buffer().all(), std::string("Z\x01", 2));
    while (h.buffer().canUndo())
        h.undo();
    EXPECT_EQ(h.buffer().all(), std::string("\x00\x01", 2));
    EXPECT_FALSE(h.buffer().changed(0));
}

TEST_F(HexEditorTest, ALargeValuePaintsItsVisibleRows) {
    THexEditor h;
    h.resize(500, 300);
    h.load(std::string(4 << 20, '\x5A'));
    h.setCursor(3u << 20); // scrolled there
    QImage image(h.size(), QImage::Format_RGB32);
    h.render(&image);
    EXPECT_GT(h.verticalScrollBar()->value(), 0);
    press(&h, Qt::Key_PageDown);
    EXPECT_GT(h.cursor(), 3u << 20);
}

TEST_F(HexEditorTest, TheEditorWindowEditsBinaryValuesAndTheirUndoTakesItBack) {
    start();
    ensureRegistryPrograms(systemFolder(), KLOVREG_PATH);
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Bin", true));
        reg.WriteBinary("b", std::string("\x01\x02", 2));
        reg.WriteBinary("empty", std::string());
    }
    TRegform& e = *form->editorWindows().front();
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Bin"));
    int opened = 0;
    ValueDialog::setRunnerForTesting([&](ValueDialog& d) {
        ++opened;
        auto& b = static_cast<TBinaryEdit&>(d);
        EXPECT_TRUE(b.StatusBar1->text().contains(QStringLiteral("ｻｲｽﾞ : 2")));
        type(b.HexEditor1, "ff");
        d.Button1Click();
        return 1;
    });
    auto select = [&](const char* name) {
        for (int r = 0; r < e.ValueModel->rowCount(); ++r)
            if (e.ValueModel->item(r, 0)->text() == QLatin1String(name))
                e.ListView1->setCurrentIndex(e.ValueModel->index(r, 0));
    };
    select("empty");
    e.ModifyClick();
    EXPECT_EQ(opened, 0); // no bytes, no editor
    select("b");
    e.ModifyClick();
    EXPECT_EQ(opened, 1);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Bin", false));
    EXPECT_EQ(reg.ReadBinary("b"), std::string("\xFF\x02", 2));
    EXPECT_EQ(e.undoLog().entries().front().before, "01 02 ");
    EXPECT_EQ(e.undoLog().entries().front().after, "FF 02 ");
    e.undoLog().undo(0);
    ASSERT_TRUE(reg.OpenKey("\\Bin", false));
    EXPECT_EQ(reg.ReadBinary("b"), std::string("\x01\x02", 2));
    ValueDialog::setRunnerForTesting({});
}

TEST_F(HexEditorTest, TheEditMenuOpensAndSavesFiles) {
    TForm1& f = start();
    f.Edit1 = QStringLiteral("HKEY_CURRENT_USER\\Bin");
    TBinaryEdit d(f);
    d.setUp(false, QStringLiteral("b"), true);
    d.setData(std::string("\x01\x02", 2));
    const auto dir = folders.root();
    { std::ofstream(dir / "in.bin", std::ios::binary) << std::string("\xAA\xBB\xCC", 3); }
    dialogs.fileNames.push_back(QString::fromStdString((dir / "in.bin").string()));
    d.OpenClick();
    EXPECT_EQ(d.HexEditor1->buffer().all(), std::string("\xAA\xBB\xCC", 3));
    dialogs.fileNames.push_back(QString::fromStdString((dir / "out.txt").string()));
    d.SaveClick(true);
    dialogs.fileNames.push_back(QString::fromStdString((dir / "out.bin").string()));
    d.SaveClick(false);
    auto bytesOf = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytesOf(dir / "out.txt"), "AA BB CC ");
    EXPECT_EQ(bytesOf(dir / "out.bin"), std::string("\xAA\xBB\xCC", 3));
    dialogs.fileNames.push_back(QString::fromStdString(dir.string())); // a folder
    d.SaveClick(false);
    EXPECT_TRUE(
        dialogs.shown.back().text.startsWith(QStringLiteral("ファイルに保存できませんでした。")));
    d.HexEditor1->undo();
    d.HexEditor1->undo();
    EXPECT_EQ(d.HexEditor1->buffer().all(), std::string("\x01\x02", 2));
    EXPECT_FALSE(d.HexEditor1->isReadOnly());
    // The dialog's read-only box leaves the loaded bytes view-only.
    dialogs.readOnlyBoxes.push_back(true);
    dialogs.fileNames.push_back(QString::fromStdString((dir / "in.bin").string()));
    d.OpenClick();
    EXPECT_EQ(d.HexEditor1->buffer().all(), std::string("\xAA\xBB\xCC", 3));
    EXPECT_TRUE(d.HexEditor1->isReadOnly());
}

TEST_F(HexEditorTest, ClicksFindTheirByteWhateverTheColumnLayout) {
    THexEditor h;
    h.resize(600, 300);
    HexDisplay display;
    display.columnSize = 4;
    display.lineSize = 8;
    display.decimalOffsets = true;
    display.grid = 1;
    h.setDisplay(display);
    h.load(std::string(64, 'A'));
    EXPECT_GT(h.hexX(4) - h.hexX(3), h.hexX(3) - h.hexX(2)); // a gap between the columns
    auto click = [&](int x, int y) {
        QMouseEvent e(QEvent::MouseButtonPress, QPointF(x, y), QPointF(x, y), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(h.viewport(), &e);
    };
    click(h.hexX(5) + 1, 2);
    EXPECT_EQ(h.cursor(), 5u);
    EXPECT_FALSE(h.textPart());
    click(h.textLeft() + 2 * h.fontMetrics().horizontalAdvance(QLatin1Char('0')) + 1, 2);
    EXPECT_EQ(h.cursor(), 2u);
    EXPECT_TRUE(h.textPart());
    QImage image(h.size(), QImage::Format_RGB32);
    h.render(&image); // paints with the grid and decimal offsets
}
