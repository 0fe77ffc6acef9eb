// The options dialog: its defaults, OK, the resets, the shortcut, toolbar and set-up pages,
// and the rules behind them.
#include "gui/options/OptionsForm.h"
#include "core/platform/DriveMap.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/settings/OptionRules.h"
#include "gui/editor/Regform.h"
#include "gui/valueedit/BinaryEdit.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <fstream>
#include <set>

using namespace klv;

namespace {

class OptionsFormTest : public test::WindowTest {
protected:
    std::unique_ptr<TOptionsForm> open(TOptionsForm::Page page = TOptionsForm::Page::None,
                                       QToolBar* toolBar = nullptr) {
        return std::make_unique<TOptionsForm>(SettingsFile::defaultPath(), page, toolBar);
    }
    int rowOf(const TOptionsForm& f, const QString& key) {
        const auto found = f.ListBox1->findItems(key, Qt::MatchExactly);
        return found.isEmpty() ? -1 : f.ListBox1->row(found.front());
    }
    std::string fileText(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// Every toolbar row as the dialog lists it: caption, shown flag, name, position.
std::vector<std::array<QString, 4>> rowsOf(const TOptionsForm& f) {
    std::vector<std::array<QString, 4>> out;
    for (int i = 0; i < f.ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = f.ListView1->topLevelItem(i);
        out.push_back({item->text(0), item->text(1), item->text(2), item->text(3)});
    }
    return out;
}

} // namespace

TEST_F(OptionsFormTest, WithoutSettingsFileShowsDefaultsAndOkWritesThemAll) {
    ASSERT_FALSE(std::filesystem::exists(SettingsFile::defaultPath()));
    auto f = open();
    EXPECT_EQ(f->windowTitle(), QStringLiteral("オプション設定"));
    ASSERT_EQ(f->PageControl1->count(), 6);
    EXPECT_EQ(f->PageControl1->tabText(5), QStringLiteral("セットアップ"));
    EXPECT_EQ(f->PageControl1->currentIndex(), 0);
    const std::vector<bool> checks = {f->CheckBox1->isChecked(), f->CheckBox2->isChecked(),
                                      f->CheckBox3->isChecked(), f->CheckBox4->isChecked(),
                                      f->CheckBox5->isChecked(), f->CheckBox6->isChecked(),
                                      f->CheckBox7->isChecked(), f->CheckBox8->isChecked()};
    EXPECT_EQ(checks, (std::vector<bool>{true, false, true, false, false, true, true, false}));
    EXPECT_EQ(f->SpinEdit1->value(), 30);
    EXPECT_EQ(f->SpinEdit2->value(), 50);
    EXPECT_EQ(f->SpinEdit3->value(), 100);
    EXPECT_EQ(f->SpinEdit4->value(), 10);
    EXPECT_EQ(f->SpinEdit1->maximum(), 30000);
    EXPECT_EQ(f->ComboBox1->currentText(), QStringLiteral("クリップボード互換"));
    EXPECT_EQ(f->ComboBox2->currentText(), QStringLiteral("8 バイト"));
    EXPECT_EQ(f->ComboBox3->currentText(), QStringLiteral("1 バイト"));
    EXPECT_EQ(f->ComboBox4->currentIndex(), 1);
    EXPECT_EQ(f->ComboBox5->currentText(), QStringLiteral("16 進数"));
    EXPECT_EQ(f->ComboBox6->currentText(), QStringLiteral("Ansi"));
    EXPECT_FALSE(f->CheckBox12->isChecked());
    EXPECT_TRUE(f->CheckBox13->isChecked());
    EXPECT_FALSE(f->CheckBox15->isChecked());
    EXPECT_FALSE(f->CheckBox16->isChecked());

    f->Button1Click();
    EXPECT_EQ(f->result(), QDialog::Accepted);
    const SettingsFile s = settings();
    for (const BoolOption& o : kOptionChecks) {
        ASSERT_TRUE(s.hasKey(o.section, o.key)) << o.key;
        EXPECT_EQ(s.readBool(o.section, o.key, !o.def), o.def) << o.key;
    }
    EXPECT_EQ(s.readInt("OPTION", "HIS_1", -1), 30);
    EXPECT_EQ(s.readInt("OPTION", "HIS_2", -1), 50);
    EXPECT_EQ(s.readInt("OPTION", "HIS_3", -1), 100);
    EXPECT_EQ(s.readInt("OPTION", "HIS_4", -1), 10);
    EXPECT_EQ(s.readInt("VH", "MODE", -1), 0);
    EXPECT_TRUE(s.readBool("VH", "DATE", false) && s.readBool("VH", "ADD", false) &&
                s.readBool("VH", "SAVE", false));
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", -1), 8);
    EXPECT_EQ(s.readInt("BINARY", "COLUMNSIZE", -1), 1);
    EXPECT_EQ(s.readInt("BINARY", "STYLE", -1), 1);
    EXPECT_EQ(s.readInt("BINARY", "DISPLAY", -1), 0);
    EXPECT_EQ(s.readInt("BINARY", "TRANS", -1), 0);
    EXPECT_EQ(s.readString("BINARY", "GRID", "x"), "0");
    EXPECT_EQ(s.readString("BINARY", "MASK", "x"), "1");
    EXPECT_EQ(s.readString("BINARY", "READONLY", "x"), "0");
    EXPECT_EQ(s.readString("OPTION", "SHORTCUT", "x"), "0");
    EXPECT_EQ(s.readString("OPTION", "TOOLBAR", "x"), "0");
}

TEST_F(OptionsFormTest, SizesRoundTripAndAnUnlistedSizeIsKept) {
    SettingsFile s = settings();
    s.writeInt("BINARY", "LINESIZE", 12); // not one of the list's sizes
    s.writeInt("BINARY", "COLUMNSIZE", 4);
    s.writeInt("OPTION", "HIS_2", 777);
    auto f = open();
    EXPECT_EQ(f->ComboBox2->currentIndex(), -1);
    EXPECT_EQ(f->ComboBox3->currentText(), QStringLiteral("4 バイト"));
    EXPECT_EQ(f->SpinEdit2->value(), 777);
    f->ComboBox5->setCurrentIndex(2);
    f->CheckBox12->setChecked(true);
    f->Button1Click();
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", 0), 12);
    EXPECT_EQ(s.readInt("BINARY", "COLUMNSIZE", 0), 4);
    EXPECT_EQ(s.readInt("BINARY", "DISPLAY", 0), 2);
    EXPECT_EQ(s.readInt("BINARY", "GRID", 0), 1);

    auto g = open();
    g->ComboBox2->setCurrentIndex(3);
    g->ComboBox3->setCurrentIndex(1);
    g->Button1Click();
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", 0), 64);
    EXPECT_EQ(s.readInt("BINARY", "COLUMNSIZE", 0), 2);
    g = open();
    g->ComboBox2->setCurrentIndex(1);
    g->Button1Click();
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", 0), 16);
}

TEST_F(OptionsFormTest, CancelWritesNothing) {
    auto f = open();
    f->CheckBox4->setChecked(true);
    f->Button2->click();
    EXPECT_EQ(f->result(), QDialog::Rejected);
    EXPECT_FALSE(std::filesystem::exists(SettingsFile::defaultPath()));
}

TEST_F(OptionsFormTest, ResetAsksAndWorksOnTheOpenersPageOnly) {
    SettingsFile s = settings();
    s.writeString("SHORTCUT", utf8ToCp932("元に戻す(&U)　－　編集(&E)"), "F11");
    s.writeBool("OPTION", "SHORTCUT", true);
    s.writeInt("TOOLBAR", "ToolButton1", 24);

    auto none = open();
    none->Button4Click();
    EXPECT_TRUE(dialogs.shown.empty());

    auto shortcuts = open(TOptionsForm::Page::Shortcuts);
    ASSERT_TRUE(shortcuts->CheckBox15->isChecked());
    dialogs.answers.push_back(MsgAnswer::No);
    shortcuts->Button4Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("初期化の確認"));
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("ショートカットのカスタマイズ設定を破棄します。よろしいですか。"));
    EXPECT_TRUE(s.hasKey("SHORTCUT", utf8ToCp932("元に戻す(&U)　－　編集(&E)")));
    EXPECT_TRUE(shortcuts->CheckBox15->isChecked());
    dialogs.answers.push_back(MsgAnswer::Yes);
    shortcuts->Button4Click();
    EXPECT_TRUE(s.sectionKeys("SHORTCUT").empty()); // at once, before OK
    EXPECT_FALSE(shortcuts->CheckBox15->isChecked());
    EXPECT_TRUE(s.hasKey("TOOLBAR", "ToolButton1"));

    auto toolbar = open(TOptionsForm::Page::Toolbar);
    dialogs.answers.push_back(MsgAnswer::Yes);
    toolbar->Button4Click();
    EXPECT_TRUE(s.sectionKeys("TOOLBAR").empty());

    s.writeInt("BINARY", "LINESIZE", 32);
    s.writeBool("BINARY", "READONLY", true);
    s.writeInt("VH", "MODE", 1);
    auto binary = open(TOptionsForm::Page::BinaryEditor);
    dialogs.answers.push_back(MsgAnswer::Yes);
    binary->Button4Click();
    EXPECT_EQ(dialogs.shown.back().text,
              QStringLiteral("［バイナリエディタの表示］の設定を破棄し、すべて標準値に戻します。よ"
                             "ろしいですか。"));
    EXPECT_EQ(binary->ComboBox2->currentText(), QStringLiteral("8 バイト"));
    EXPECT_FALSE(binary->CheckBox14->isChecked());
    EXPECT_EQ(binary->ComboBox1->currentIndex(), 1);   // not its page
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", 0), 32); // written by OK only
    binary->Button1Click();
    EXPECT_EQ(s.readInt("BINARY", "LINESIZE", 0), 8);
    EXPECT_FALSE(s.readBool("BINARY", "READONLY", true));

    auto holder = open(TOptionsForm::Page::ValueHolder);
    dialogs.answers.push_back(MsgAnswer::Yes);
    holder->Button4Click();
    EXPECT_EQ(holder->ComboBox1->currentIndex(), 0);
}

TEST_F(OptionsFormTest, CommandListMatchesTheEditorWindowsMenus) {
    const auto& commands = shortcutCommands();
    ASSERT_EQ(commands.size(), 70u);
    std::set<std::string> keys;
    for (const auto& c : commands)
        keys.insert(c.keyName());
    EXPECT_EQ(keys.size(), 70u);
    EXPECT_EQ(commands.front().keyName(), "編集ウィンドウの新規作成(&N)　－　レジストリ(&R)");
    EXPECT_EQ(commands.back().keyName(), "トピックの検索(&H)　－　ヘルプ(&H)");

    // Every listed key names a real command of the editor window or of the frame's window and
    // help menus, with the item and menu captions that the windows read shortcuts under.
    TForm1& f1 = start();
    TRegform& editor = *f1.NewEditorWindow();
    std::vector<QMenu*> menus = editor.menus();
    menus.push_back(f1.windowMenu());
    menus.push_back(f1.helpMenu());
    std::set<std::string> found;
    std::function<void(QMenu*)> collect = [&](QMenu* m) {
        for (QAction* a : m->actions()) {
            if (a->menu())
                collect(a->menu());
            else if (!a->isSeparator())
                found.insert((a->text() + QStringLiteral("　－　") + m->title()).toStdString());
        }
    };
    for (QMenu* m : menus)
        collect(m);
    for (const auto& key : keys)
        EXPECT_TRUE(found.count(key)) << key;
}

TEST_F(OptionsFormTest, AssignedAndEmptyHotKeysReachTheEditorWindowsMenus) {
    TForm1& f1 = start();
    TRegform& editor = *f1.NewEditorWindow();
    const auto shortcutOf = [&editor](const QString& name) {
        for (QMenu* m : editor.menus())
            for (QAction* a : m->findChildren<QAction*>())
                if (a->objectName() == name)
                    return a->shortcut();
        return QKeySequence(QStringLiteral("unfound"));
    };
    ASSERT_EQ(shortcutOf(QStringLiteral("Undo")), QKeySequence(Qt::CTRL | Qt::Key_Z));

    auto f = open(TOptionsForm::Page::Shortcuts);
    const int undo = rowOf(*f, QStringLiteral("元に戻す(&U)　－　編集(&E)"));
    const int newKey = rowOf(*f, QStringLiteral("キー(&K)　－　新規(&N)"));
    ASSERT_GE(undo, 0);
    ASSERT_GE(newKey, 0);
    f->ListBox1->setCurrentRow(undo);
    EXPECT_TRUE(f->HotKey1->keySequence().isEmpty()); // no stored key reads as empty
    f->Button5Click();
    f->ListBox1->setCurrentRow(newKey);
    f->HotKey1->setKeySequence(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    f->Button5Click();
    SettingsFile s = settings();
    ASSERT_TRUE(s.hasKey("SHORTCUT", utf8ToCp932("元に戻す(&U)　－　編集(&E)")));
    EXPECT_EQ(s.readString("SHORTCUT", utf8ToCp932("元に戻す(&U)　－　編集(&E)"), "x"), "");
    EXPECT_EQ(s.readString("SHORTCUT", utf8ToCp932("キー(&K)　－　新規(&N)"), ""), "Ctrl+Shift+K");
    // Selecting a command shows what is stored for it.
    f->ListBox1->setCurrentRow(undo);
    f->ListBox1->setCurrentRow(newKey);
    EXPECT_EQ(f->HotKey1->keySequence(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));

    f->CheckBox15->setChecked(true);
    f->Button1Click();
    editor.FormActivate();
    EXPECT_TRUE(shortcutOf(QStringLiteral("Undo")).isEmpty());
    EXPECT_EQ(shortcutOf(QStringLiteral("NewKey")), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    EXPECT_EQ(shortcutOf(QStringLiteral("Refresh")), QKeySequence(Qt::Key_F5));
}

TEST(ToolbarLayoutRule, PositionsFollowTheRowsAndTheLastKeepsItsOwn) {
    std::vector<ToolbarRow> rows = {{false, true, 7},  {false, true, 7}, {true, true, 7},
                                    {false, false, 7}, {false, true, 7}, {false, true, 500}};
    layoutToolbarRows(rows);
    std::vector<int> positions;
    for (const auto& r : rows)
        positions.push_back(r.position);
    EXPECT_EQ(positions, (std::vector<int>{0, 24, 48, 56, 56, 500}));

    // A button moved to the end with a small old position still ends up last.
    rows = {{false, true, 24}, {false, true, 48}, {false, true, 72}, {false, true, 0}};
    layoutToolbarRows(rows);
    EXPECT_EQ(rows[2].position, 48);
    EXPECT_EQ(rows[3].position, 72);

    // With fewer than three rows only the first one moves.
    rows = {{false, true, 30}, {false, true, 10}};
    layoutToolbarRows(rows);
    EXPECT_EQ(rows[0].position, 0);
    EXPECT_EQ(rows[1].position, 10);
}

TEST_F(OptionsFormTest, ToolbarPageMovesTogglesAndWritesTheLayout) {
    QToolBar bar;
    bar.resize(600, 30);
    const char* names[] = {"A", "B", nullptr, "C"};
    for (int i = 0; i < 4; ++i) {
        if (!names[i]) {
            bar.addSeparator();
            continue;
        }
        QAction* a = bar.addAction(QString::fromLatin1(names[i]));
        bar.widgetForAction(a)->setObjectName(QStringLiteral("ToolButton%1").arg(i + 1));
    }
    bar.show();
    QApplication::processEvents();
    const int lastLeft = bar.widgetForAction(bar.actions().back())->x();
    auto f = open(TOptionsForm::Page::None, &bar);
    auto rows = rowsOf(*f);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][0], QStringLiteral("A"));
    EXPECT_EQ(rows[0][1], QStringLiteral("表示する"));
    EXPECT_EQ(rows[2][0], QStringLiteral("－　区切り　－"));
    EXPECT_EQ(rows[3][2], QStringLiteral("ToolButton4"));

    f->Button6Click(); // the first row cannot go up
    EXPECT_EQ(rowsOf(*f)[0][0], QStringLiteral("A"));
    f->Button7Click(); // A below B
    EXPECT_EQ(rowsOf(*f)[1][0], QStringLiteral("A"));
    EXPECT_EQ(f->ListView1->currentItem()->text(0), QStringLiteral("A"));
    f->Button8Click(); // A hidden
    EXPECT_EQ(rowsOf(*f)[1][1], QStringLiteral("表示しない"));
    f->ListView1DblClick(f->ListView1->topLevelItem(2)); // a separator stays one
    EXPECT_EQ(rowsOf(*f)[2][1], QString());

    f->Button9Click();
    const SettingsFile s = settings();
    EXPECT_EQ(s.readInt("TOOLBAR", "ToolButton2", -1), 0);
    EXPECT_TRUE(s.readBool("TOOLBAR", "ToolButton2_E", false));
    EXPECT_EQ(s.readInt("TOOLBAR", "ToolButton1", -1), 24);
    EXPECT_FALSE(s.readBool("TOOLBAR", "ToolButton1_E", true));
    EXPECT_EQ(s.readInt("TOOLBAR", "ToolButton4", -1), lastLeft);
    EXPECT_EQ(s.sectionKeys("TOOLBAR").size(), 6u); // no key for the separator
}

TEST_F(OptionsFormTest, SetupPageWritesValidLaunchersAtTheShellFolders) {
    start();
    DriveMap drives(systemFolder());
    const auto desktop =
        drives.toLinuxPath("C:\\Documents and Settings\\user\\\x83\x66\x83\x58\x83\x4e\x83\x67"
                           "\x83\x62\x83\x76");
    ASSERT_TRUE(desktop);
    auto f = open();
    f->Button11Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("実行ファイルのショートカットの作成に成功しました。"));
    const auto launcher = *desktop / "Quimbo RegEditor.desktop";
    ASSERT_TRUE(std::filesystem::exists(launcher));
    EXPECT_NE(fileText(launcher).find("Exec=\""), std::string::npos);

    f->Button10Click();
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[1].text,
              QStringLiteral("実行ファイルのショートカットの作成に成功しました。"));
    EXPECT_EQ(dialogs.shown[2].text,
              QStringLiteral("ヘルプファイルのショートカットの作成に成功しました。"));
    f->Button10Click(); // the group exists now
    ASSERT_EQ(dialogs.shown.size(), 4u);
    EXPECT_EQ(dialogs.shown[3].text,
              QStringLiteral("グループの作成に失敗しました。フォルダが作成できませんでした。"));

    const QString validate =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validate.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    std::vector<std::filesystem::path> files = {launcher};
    for (const auto& e : std::filesystem::recursive_directory_iterator(folders.root()))
        if (e.path().extension() == ".desktop" && e.path() != launcher)
            files.push_back(e.path());
    EXPECT_EQ(files.size(), 3u);
    for (const auto& file : files) {
        QProcess p;
        p.start(validate, {QString::fromStdString(file.string())});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << file << p.readAllStandardOutput().toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().trimmed().isEmpty()) << file;
    }
}

TEST(LauncherText, ReservedCharactersInPathsAreEscaped) {
    const std::string text = programLauncherText("N", "/a b/x\"$`%\\y", "/w");
    EXPECT_NE(text.find("Exec=\"/a b/x\\\\\"\\\\$\\\\`%%\\\\\\\\y\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Path=/w\n"), std::string::npos);
    const std::string link = fileLauncherText("H", "/a b/ヘルプ.HLP");
    EXPECT_NE(link.find("URL=file:///a%20b/%E3%83%98%E3%83%AB%E3%83%97.HLP\n"), std::string::npos)
        << link;
}

TEST_F(OptionsFormTest, HelpOpensTheTopicOfTheShowingPage) {
    const auto help = folders.home() / "HELP";
    std::filesystem::create_directories(help);
    std::ofstream(help / "topic87.html") << "x";
    auto f = open();
    f->PageControl1->setCurrentIndex(4);
    f->Button3Click();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(dialogs.opened[0].endsWith(QStringLiteral("topic87.html")));
    f->PageControl1->setCurrentIndex(0); // topic 34 is not installed
    f->Button3Click();
    EXPECT_EQ(dialogs.opened.size(), 1);
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(OptionsFormTest, BinaryEditorOpensItsPageAndAppliesWhatOkWrote) {
    TForm1& f1 = start();
    TBinaryEdit editor(f1);
    EXPECT_FALSE(editor.HexEditor1->isReadOnly());
    QAction* item = nullptr;
    for (QAction* a : editor.EditMenu->actions())
        if (a->text() == QStringLiteral("表示オプション(&O)"))
            item = a;
    ASSERT_TRUE(item);
    ASSERT_TRUE(item->isEnabled());
    bool answered = false;
    QTimer::singleShot(0, [&] {
        TOptionsForm* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<TOptionsForm*>(w); d && d->isVisible())
                dialog = d;
        ASSERT_TRUE(dialog);
        // Its reset works on the binary-editor page.
        dialogs.answers.push_back(MsgAnswer::Yes);
        dialog->Button4Click();
        answered = !dialogs.shown.empty() && dialogs.shown.back().text.startsWith(
                                                 QStringLiteral("［バイナリエディタの表示］"));
        dialog->CheckBox14->setChecked(true);
        dialog->Button1Click();
    });
    item->trigger();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(editor.HexEditor1->isReadOnly());
}

TEST_F(OptionsFormTest, AHiddenEditorButtonIsListedAndCanBeShownAgain) {
    {
        SettingsFile s = settings();
        s.writeBool("OPTION", "TOOLBAR", true);
        s.writeBool("TOOLBAR", "ToolButton1_E", false);
    }
    start();
    TRegform& e = *form->editorWindows().front();
    const QAction* first = e.ToolBar1->actions().front();
    auto f = open(TOptionsForm::Page::None, e.ToolBar1);
    const auto rows = rowsOf(*f);
    const auto hidden = std::find_if(rows.begin(), rows.end(), [](const auto& r) {
        return r[2] == QStringLiteral("ToolButton1");
    });
    ASSERT_NE(hidden, rows.end());
    EXPECT_EQ((*hidden)[1], QStringLiteral("表示しない"));
    EXPECT_FALSE(first->isVisible());
    // The menu item behind the hidden button stays where it was.
    int menuItems = 0;
    for (QAction* a : e.findChildren<QAction*>()) {
        if (a != first && a->text() == first->text()) {
            ++menuItems;
            EXPECT_TRUE(a->isVisible());
        }
    }
    EXPECT_GE(menuItems, 1);

    const int row = static_cast<int>(hidden - rows.begin());
    f->ListView1->setCurrentItem(f->ListView1->topLevelItem(row));
    f->Button8Click();
    f->Button9Click();
    EXPECT_TRUE(settings().readBool("TOOLBAR", "ToolButton1_E", false));
}
