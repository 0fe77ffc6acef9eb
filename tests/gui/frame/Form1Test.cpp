#include "gui/editor/Regform.h"
#include "support/WindowTest.h"
#include "support/WriteFailure.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

using namespace klv;
namespace fs = std::filesystem;

namespace {

QStringList menuTitles(TForm1& f) {
    QStringList t;
    for (QAction* a : f.menuBar()->actions())
        t << a->text();
    return t;
}

class Form1Test : public test::WindowTest {};

} // namespace

TEST_F(Form1Test, FirstStartCreatesFoldersAndRecordsSetupOnce) {
    TForm1& f = start();
    for (const char* name : {"BACKUP", "DB", "UNDO"})
        EXPECT_TRUE(fs::is_directory(folders.home() / name)) << name;
    EXPECT_TRUE(settings().readBool("SETUP", "DIR", false));
    EXPECT_EQ(settings().readString("SETUP", "FLOPPY", ""), "A"); // A: is the removable drive
    EXPECT_TRUE(fs::exists(folders.windir() / "dosdevices" / "c:"));
    EXPECT_EQ(f.Label1, QString::fromStdString(folders.windir().string()));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Quimbo Registry Editor"));
    EXPECT_EQ(f.statusPanel(0), QStringLiteral("フルアクセス"));
    EXPECT_EQ(f.statusPanel(1), QStringLiteral("履歴ON"));
    form.reset();

    // A later start finds the tasks done and leaves the recorded drive alone; a folder that
    // went missing is made again.
    SettingsFile s = settings();
    s.writeString("SETUP", "FLOPPY", "B");
    fs::remove_all(folders.home() / "BACKUP");
    start();
    EXPECT_EQ(settings().readString("SETUP", "FLOPPY", ""), "B");
    EXPECT_TRUE(fs::is_directory(folders.home() / "BACKUP"));
}

TEST_F(Form1Test, KeyArgumentOpensTheFirstEditorWindowOnThatKey) {
    TForm1& f =
        start({QStringLiteral("/KEY"), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft")});
    ASSERT_EQ(f.editorWindows().size(), 1u);
    EXPECT_EQ(f.editorWindows().front()->caption(),
              QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"));
    EXPECT_EQ(f.Edit1, QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"));
    EXPECT_FALSE(f.readOnlyArgument());

    // Arguments are compared exactly.
    form.reset();
    TForm1& g = start({QStringLiteral("/key"), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")});
    ASSERT_FALSE(g.editorWindows().empty());
    EXPECT_EQ(g.editorWindows().front()->caption(), QStringLiteral("HKEY_CLASSES_ROOT"));
    form.reset();
    EXPECT_TRUE(start({QStringLiteral("/READONLY")}).readOnlyArgument());
}

TEST_F(Form1Test, WithoutOeditTheFrameStartsEmptyWithItsOwnMenus) {
    settings().writeBool("OPTION", "OEDIT", false);
    TForm1& f = start();
    EXPECT_TRUE(f.editorWindows().empty());
    EXPECT_EQ(menuTitles(f),
              (QStringList{QStringLiteral("レジストリ(&R)"), QStringLiteral("編集(&E)"),
                           QStringLiteral("表示(&V)"), QStringLiteral("検索(&S)"),
                           QStringLiteral("スクリプト(&P)"), QStringLiteral("オプション(&O)"),
                           QStringLiteral("ウィンドウ(&W)"), QStringLiteral("ヘルプ(&H)")}));
    // Items whose features have not arrived are there but disabled; none does nothing.
    ASSERT_NE(f.findAction(QStringLiteral("NewWindow")), nullptr);
    EXPECT_TRUE(f.findAction(QStringLiteral("NewWindow"))->isEnabled());
    EXPECT_EQ(f.findAction(QStringLiteral("NewWindow"))->shortcut(), QKeySequence(Qt::Key_F9));
    EXPECT_TRUE(f.findAction(QStringLiteral("Search"))->isEnabled());
    EXPECT_FALSE(f.findAction(QStringLiteral("Print"))->isEnabled());

    // The registry checker is enabled only when its program is in the system folder.
    f.RegistryMenuPopup();
    EXPECT_FALSE(f.findAction(QStringLiteral("ScanReg"))->isEnabled());

    // A new window replaces the frame's menus with its own; closing it brings them back.
    f.N1Click();
    QApplication::processEvents();
    ASSERT_EQ(f.editorWindows().size(), 1u);
    EXPECT_TRUE(menuTitles(f).contains(QStringLiteral("編集(&E)")));
    EXPECT_NE(f.menuBar()->actions().at(1)->menu(),
              f.findChild<QMenu*>(QStringLiteral("EditMenu")));
}

TEST_F(Form1Test, PlatformFamilyDecidesTheRootCount) {
    TForm1& nt = start();
    EXPECT_EQ(nt.Label12, QStringLiteral("1"));
    EXPECT_EQ(nt.Label21, QStringLiteral("4"));
    // The data files that quick search reads exist here on both families.
    EXPECT_TRUE(nt.findAction(QStringLiteral("QuickSearch"))->isEnabled());
    ASSERT_FALSE(nt.editorWindows().empty());
    EXPECT_EQ(nt.editorWindows().front()->TreeView1->topLevelItemCount(), 5);
    form.reset();

    setenv("KLOVANTE_PLATFORM", "95", 1);
    TForm1& w95 = start();
    EXPECT_EQ(w95.Label12, QStringLiteral("0"));
    EXPECT_EQ(w95.Label21, QStringLiteral("5"));
    EXPECT_TRUE(w95.findAction(QStringLiteral("QuickSearch"))->isEnabled());
    ASSERT_FALSE(w95.editorWindows().empty());
    QTreeWidget* tree = w95.editorWindows().front()->TreeView1;
    ASSERT_EQ(tree->topLevelItemCount(), 6);
    EXPECT_EQ(tree->topLevelItem(5)->text(0), QStringLiteral("HKEY_DYN_DATA"));
}

TEST_F(Form1Test, HandBackGoesToTheFrontmostWindowOrNowhere) {
    settings().writeBool("OPTION", "OEDIT", false);
    TForm1& f = start();
    f.Label8 = QStringLiteral("HKEY_CURRENT_USER\\Environment");
    f.HandBack(); // no editor window: nothing happens
    EXPECT_TRUE(f.editorWindows().empty());
    EXPECT_TRUE(f.Edit1.isEmpty());

    TRegform* first = f.NewEditorWindow();
    TRegform* second = f.NewEditorWindow();
    ASSERT_TRUE(first && second);
    f.Label18 = QStringLiteral("TEMP");
    f.Label19 = QStringLiteral("1");
    f.HandBack();
    EXPECT_EQ(second->caption(), QStringLiteral("HKEY_CURRENT_USER\\Environment"));
    EXPECT_EQ(first->caption(), QStringLiteral("HKEY_CLASSES_ROOT"));
    EXPECT_EQ(second->ListView1->currentIndex().data().toString(), QStringLiteral("TEMP"));
}

TEST_F(Form1Test, ClosingKeepsThePlacementOnlyWhileSaveIsOn) {
    TForm1& f = start();
    f.showNormal();
    f.setGeometry(30, 40, 700, 500);
    f.close();
    auto p = settings().readPlacement("RegView", "RV");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->width, 700);
    EXPECT_EQ(p->height, 500);
    form.reset();

    settings().eraseSection("RegView");
    settings().writeBool("OPTION", "SAVE", false);
    start().close();
    EXPECT_FALSE(settings().readPlacement("RegView", "RV").has_value());
}

TEST_F(Form1Test, AMaximisedFrameStartsMaximisedAgainAndWithoutSaveAlways) {
    start().close(); // starts maximised, as the frame's default
    form.reset();
    auto p = settings().readPlacement("RegView", "RV");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->show, 3);
    EXPECT_TRUE(start().isMaximized());
    form.reset();

    // SAVE off: no placement is read, and the frame still starts maximised; the status bar
    // shows whatever VIEW/SB remembers.
    settings().writePlacement("RegView", "RV", WindowPlacement{0, 1, -1, -1, 10, 10, 500, 400});
    settings().writeBool("OPTION", "SAVE", false);
    settings().writeBool("VIEW", "SB", false);
    TForm1& f = start();
    EXPECT_TRUE(f.isMaximized());
    EXPECT_TRUE(f.statusBar()->isVisible());
}

// An absurd saved size or position is brought onto the screen instead of crashing the start.
TEST_F(Form1Test, ASavedPlacementIsClampedToTheScreen) {
    settings().writePlacement("RegView", "RV",
                              WindowPlacement{0, 1, -1, -1, -50000, 90000, 100000, 100000});
    TForm1& f = start();
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_FALSE(f.isMaximized());
    // (The window system may add its frame around the rectangle.)
    const QRect g = f.geometry();
    EXPECT_LE(g.width(), avail.width());
    EXPECT_LE(g.height(), avail.height());
    EXPECT_TRUE(avail.contains(g.topLeft())) << g.x() << "," << g.y();
    EXPECT_EQ(f.editorWindows().size(), 1u);
}

// A system folder that cannot be made: said in Japanese, and the later steps still run (the
// NT family still shows five roots).
TEST_F(Form1Test, AFailingStartUpStepIsReportedAndTheOthersStillRun) {
    const fs::path blocker = folders.root() / "blocker";
    std::ofstream(blocker) << "a file where a folder should be";
    setenv("KLOVANTE_WINDIR", (blocker / "WINDOWS").c_str(), 1);
    TForm1& f = start();
    EXPECT_EQ(f.Label21, QStringLiteral("4"));
    EXPECT_EQ(f.Label12, QStringLiteral("1"));
    EXPECT_TRUE(fs::exists(folders.home() / "UNDO"));
    ASSERT_FALSE(dialogs.shown.empty());
    const QString text = dialogs.shown.front().text;
    EXPECT_TRUE(text.contains(QStringLiteral("システム フォルダの準備に失敗しました。")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("パスの途中にフォルダではないファイルがあります")))
        << text.toStdString();
    for (const test::ShownMessage& m : dialogs.shown)
        EXPECT_FALSE(m.text.contains(QStringLiteral("filesystem error"))) << m.text.toStdString();
    setenv("KLOVANTE_WINDIR", folders.windir().c_str(), 1);
}

// A registry file that cannot be written still gets its editor window, read only, and the
// status bar says so.
TEST_F(Form1Test, AReadOnlyRegistryFileOpensReadOnlyAndTheStatusBarSaysSo) {
    start();
    form.reset();
    Store::resetShared();
    fs::permissions(folders.storeFile(), fs::perms::owner_read | fs::perms::group_read);
    TForm1& f = start();
    ASSERT_EQ(f.editorWindows().size(), 1u);
    EXPECT_TRUE(f.editorWindows().front()->registryReadOnly());
    EXPECT_EQ(f.statusPanel(0), QStringLiteral("読み取り専用"));
}

TEST_F(Form1Test, ASettingsFileThatCannotBeWrittenGivesAnErrorBoxNotACrash) {
    TForm1& f = start();
    QAction* toggle = f.findAction(QStringLiteral("StatusBarToggle"));
    ASSERT_NE(toggle, nullptr);
    {
        test::WriteFailure full(0); // the disk is full
        toggle->trigger();
    }
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("エラー"));
    EXPECT_TRUE(settings().readBool("VIEW", "SB", true)); // the old value is still there
}

namespace {
// A program file whose version resource states `version` as its product version.
void writeProgram(const std::filesystem::path& file, const std::string& version) {
    std::string bytes = "MZ padding";
    for (const std::string& s : {std::string("ProductVersion"), std::string()}) {
        for (char c : s)
            bytes += {c, '\0'};
    }
    bytes += std::string("\0\0", 2);
    for (char c : version)
        bytes += {c, '\0'};
    bytes += std::string("\0\0", 2);
    std::ofstream(file, std::ios::binary) << bytes;
}
} // namespace

TEST_F(Form1Test, RegistryCheckerItemsFollowTheProgramInTheSystemFolder) {
    TForm1& f = start();
    QAction* checker = f.findAction(QStringLiteral("ScanReg"));
    QAction* fix = f.findAction(QStringLiteral("ScanRegFix"));
    QAction* restore = f.findAction(QStringLiteral("ScanRegRestore"));
    f.RegistryMenuPopup();
    EXPECT_FALSE(checker->isEnabled());

    writeProgram(folders.windir() / "ScanRegW.exe", "4.10.2222"); // found without regard to case
    f.RegistryMenuPopup();
    EXPECT_TRUE(checker->isEnabled());
    EXPECT_FALSE(restore->isEnabled()); // 4.1 is older than 4.9

    writeProgram(folders.windir() / "ScanRegW.exe", "4.90.3000");
    f.RegistryMenuPopup();
    EXPECT_TRUE(restore->isEnabled());
    EXPECT_FALSE(fix->isEnabled()); // never on the NT family
}

TEST_F(Form1Test, TileLaysTheWindowsSideBySide) {
    TForm1& f = start();
    f.N1Click();
    QApplication::processEvents();
    auto windows = f.editorWindows();
    ASSERT_EQ(windows.size(), 2u);
    f.TileClick();
    QApplication::processEvents();
    const QRect a = windows[0]->parentWidget()->geometry();
    const QRect b = windows[1]->parentWidget()->geometry();
    EXPECT_FALSE(a.intersects(b));
    f.CascadeClick();
    QApplication::processEvents();
    EXPECT_NE(windows[0]->parentWidget()->pos(), windows[1]->parentWidget()->pos());
}
