// The export dialog, the quick export and the import of registry files, run against this
// build's klovreg (or a recording stand-in where the exact command line matters): the folder
// history, the file naming errors, the files that really appear under the mapped drive, the
// form by platform family, the scopes, the folder tree and the registry editor check.
#include "gui/regfiles/RegExportForm.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "gui/regfiles/RegFileCommands.h"
#include "gui/widgets/ChildWatcher.h"
#include "support/RegTestSupport.h"
#include "support/WindowTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

class RegExportFormTest : public WindowTest {
protected:
    // The frame on fresh folders, drive C: mapped to drive_c, with a folder C:\Work.
    TForm1& startWithPrograms() {
        TForm1& f = start();
        EXPECT_TRUE(ensureRegistryPrograms(systemFolder(), KLOVREG_PATH));
        fs::create_directories(driveC() / "Work");
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        EXPECT_TRUE(reg.OpenKey("\\ExportTest", true));
        reg.WriteString("mark", sj("書き出しの見本"));
        return f;
    }
    fs::path driveC() const { return folders.home() / "drive_c"; }

    // A registry program that records its arguments, one "|" after each, and does nothing.
    void recordingProgram(const char* name) {
        const fs::path p = folders.windir() / name;
        fs::remove(p);
        std::ofstream(p) << "#!/bin/sh\nprintf '%s|' \"$@\" > '" << argsFile().string() << "'\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    fs::path argsFile() const { return folders.root() / "args.txt"; }
    std::string recorded() {
        EXPECT_TRUE(waitForChildren());
        const std::string a = read(argsFile());
        fs::remove(argsFile());
        return a;
    }

    static bool waitForChildren() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ChildWatcher::active() > 0) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<ShownMessage> errors() const {
        std::vector<ShownMessage> e;
        for (const ShownMessage& m : dialogs.shown)
            if (m.caption == QStringLiteral("エラー"))
                e.push_back(m);
        return e;
    }
    // Fills the dialog and presses "書き出し(&S)".
    static void exportAs(TRegExportForm& d, const QString& name, const QString& folder) {
        d.Edit1->setText(name);
        d.ComboBox1->setEditText(folder);
        d.Button1Click();
    }
};

const std::string kVersion5Header = "\xFF\xFE" + le("Windows Registry Editor Version 5.00\r\n");

} // namespace

TEST_F(RegExportFormTest, TheFolderHistoryIsStoredByTheButtonsAndClearedOnlyAfterAsking) {
    TForm1& f = startWithPrograms();
    settings().writeList("REG_SAVE", "FOLDER", {"C:\\Old", sj("C:\\表")});
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("レジストリの書き出し"));
    ASSERT_EQ(d.ComboBox1->count(), 2);
    EXPECT_EQ(d.ComboBox1->itemText(1), QStringLiteral("C:\\表"));
    EXPECT_TRUE(d.ComboBox1->currentText().isEmpty());

    // At the top, without a limit, duplicates kept.
    d.ComboBox1->setEditText(QStringLiteral("C:\\Work"));
    d.Button3Click();
    d.Button3Click();
    const std::vector<std::string> stored{"C:\\Work", "C:\\Work", "C:\\Old", sj("C:\\表")};
    EXPECT_EQ(settings().readList("REG_SAVE", "FOLDER"), stored);
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("C:\\Work"));
    // A folder the INI file cannot hold is refused, not stored as "?".
    d.ComboBox1->setEditText(QStringLiteral("C:\\\U0001F600"));
    d.Button3Click();
    EXPECT_EQ(settings().readList("REG_SAVE", "FOLDER"), stored);
    ASSERT_EQ(errors().size(), 1u);

    dialogs.answers = {MsgAnswer::No};
    d.Button4Click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].caption, QStringLiteral("削除の確認"));
    EXPECT_EQ(dialogs.shown[1].text,
              QStringLiteral("フォルダの履歴をすべて削除します。よろしいですか。"));
    EXPECT_EQ(dialogs.shown[1].icon, MsgIcon::Warning);
    EXPECT_EQ(dialogs.shown[1].buttons, MsgButtons::YesNo);
    EXPECT_EQ(d.ComboBox1->count(), 4);
    EXPECT_EQ(settings().readList("REG_SAVE", "FOLDER"), stored);

    dialogs.answers = {MsgAnswer::Yes};
    d.Button4Click();
    EXPECT_EQ(d.ComboBox1->count(), 0);
    EXPECT_TRUE(settings().readList("REG_SAVE", "FOLDER").empty());
    EXPECT_EQ(settings().readString("REG_SAVE", "FOLDER.Count"), "0");
    EXPECT_EQ(TRegExportForm(f, QString()).ComboBox1->count(), 0);
}

TEST_F(RegExportFormTest, NamingErrorsWarnCloseTheDialogAndExportNothing) {
    TForm1& f = startWithPrograms();
    recordingProgram("REGEDIT.EXE");
    const QString noName =
        QStringLiteral("ファイル名が指定されていません。再度、操作をやり直してください。");
    const QString noFolder =
        QStringLiteral("フォルダ名が指定されていません。再度、操作をやり直してください。");
    struct Case {
        QString name, folder, message;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("C:\\Work"), noName},
        {QStringLiteral("backup"), QStringLiteral("C:\\Missing"), noFolder},
        {QStringLiteral("backup"), QString(), noFolder},
        {QStringLiteral("backup"), QStringLiteral("Z:\\Work"), noFolder}, // no such drive
        {QStringLiteral("C:\\Missing\\x.reg"), QStringLiteral("C:\\Work"), noFolder},
    };
    for (const Case& c : cases) {
        dialogs.shown.clear();
        TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
        d.show();
        exportAs(d, c.name, c.folder);
        ASSERT_EQ(dialogs.shown.size(), 1u) << c.name.toStdString();
        EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
        EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Warning);
        EXPECT_EQ(dialogs.shown[0].text, c.message);
        EXPECT_FALSE(d.isVisible()) << "the dialog closes in every case";
    }
    EXPECT_EQ(ChildWatcher::active(), 0);
    EXPECT_FALSE(fs::exists(argsFile()));
    EXPECT_TRUE(fs::is_empty(driveC() / "Work"));
}

TEST_F(RegExportFormTest, ABareNameGoesIntoTheFolderUnderTheMappedDrive) {
    TForm1& f = startWithPrograms();
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    EXPECT_TRUE(d.RadioButton2->isEnabled());
    EXPECT_TRUE(d.RadioButton2->isChecked());
    EXPECT_TRUE(d.RadioButton5->isChecked());
    EXPECT_EQ(d.Edit2->text(), QStringLiteral("HKEY_CURRENT_USER\\ExportTest"));
    EXPECT_TRUE(d.Button1->font().bold());
    exportAs(d, QStringLiteral("backup"), QStringLiteral("c:\\work"));
    EXPECT_EQ(d.Edit1->text(), QStringLiteral("backup.reg"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(errors().empty()) << errors()[0].text.toStdString();
    const std::string file = read(driveC() / "Work" / "backup.reg");
    EXPECT_EQ(file.substr(0, kVersion5Header.size()), kVersion5Header);
    EXPECT_NE(file.find(le("[HKEY_CURRENT_USER\\ExportTest]")), std::string::npos);
    EXPECT_NE(file.find(le("\"mark\"=\"書き出しの見本\"")), std::string::npos);

    // The text box: the same export under the .txt name.
    TRegExportForm t(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    t.CheckBox1->setChecked(true);
    exportAs(t, QStringLiteral("backup.reg"), QStringLiteral("C:\\Work\\"));
    EXPECT_EQ(t.Edit1->text(), QStringLiteral("backup.txt"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_EQ(read(driveC() / "Work" / "backup.txt").substr(0, kVersion5Header.size()),
              kVersion5Header);

    // A full path whose folder exists ignores the folder field.
    fs::create_directories(driveC() / "Other");
    TRegExportForm full(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    exportAs(full, QStringLiteral("C:\\Other\\full"), QStringLiteral("C:\\Work"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(fs::exists(driveC() / "Other" / "full.reg"));
    EXPECT_FALSE(fs::exists(driveC() / "Work" / "full.reg"));
    EXPECT_TRUE(errors().empty());
}

TEST_F(RegExportFormTest, RegEdit4OnTheNtFamilyIsWrittenByTheConsoleTool) {
    TForm1& f = startWithPrograms();
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    d.RadioButton1->setChecked(true);
    exportAs(d, QStringLiteral("four"), QStringLiteral("C:\\Work"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(errors().empty());
    const std::string file = read(driveC() / "Work" / "four.reg");
    EXPECT_EQ(file.substr(0, 10), "REGEDIT4\r\n");
    EXPECT_NE(file.find(sj("\"mark\"=\"書き出しの見本\"")), std::string::npos);

    recordingProgram("REG.EXE");
    TRegExportForm all(f, QString(), &f);
    all.RadioButton1->setChecked(true);
    all.RadioButton3->setChecked(true);
    exportAs(all, QStringLiteral("all"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "EXPORT|C:\\Work\\all.reg|/nt4|");
    TRegExportForm key(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    key.RadioButton1->setChecked(true);
    exportAs(key, QStringLiteral("k"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "EXPORT|HKEY_CURRENT_USER\\ExportTest|C:\\Work\\k.reg|/nt4|");
}

TEST_F(RegExportFormTest, TheWindows95FamilyOffersRegEdit4AndSixRoots) {
    setenv("KLOVANTE_PLATFORM", "95", 1);
    TForm1& f = startWithPrograms();
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    EXPECT_FALSE(d.RadioButton2->isEnabled());
    EXPECT_TRUE(d.RadioButton1->isChecked());
    ASSERT_EQ(d.ComboBox2->count(), 6);
    EXPECT_EQ(d.ComboBox2->itemText(5), QStringLiteral("HKEY_DYN_DATA"));
    exportAs(d, QStringLiteral("win95"), QStringLiteral("C:\\Work"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(read(driveC() / "Work" / "win95.reg").substr(0, 10), "REGEDIT4\r\n");

    // The registry editor itself, never the console tool.
    recordingProgram("REGEDIT.EXE");
    recordingProgram("REG.EXE");
    TRegExportForm again(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    exportAs(again, QStringLiteral("again"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "/E|C:\\Work\\again.reg|HKEY_CURRENT_USER\\ExportTest|");
}

TEST_F(RegExportFormTest, TheScopesPassNothingTheRootOrTheKeyAsTyped) {
    TForm1& f = startWithPrograms();
    recordingProgram("REGEDIT.EXE");
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"), &f);
    d.show();
    ASSERT_EQ(d.ComboBox2->count(), 5); // no HKEY_DYN_DATA on the NT family
    EXPECT_EQ(d.ComboBox2->currentText(), QStringLiteral("HKEY_CLASSES_ROOT"));
    EXPECT_FALSE(d.ComboBox2->isEnabled());
    EXPECT_TRUE(d.Edit2->isEnabled());
    EXPECT_EQ(d.SpeedButton1->toolTip(), QStringLiteral("レジストリの参照"));

    d.RadioButton3->setChecked(true);
    d.RadioButtonClick();
    EXPECT_FALSE(d.Edit2->isEnabled());
    exportAs(d, QStringLiteral("s"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "/E|C:\\Work\\s.reg|");

    TRegExportForm root(f, QString(), &f);
    root.RadioButton4->setChecked(true);
    root.ComboBox2->setCurrentIndex(2);
    exportAs(root, QStringLiteral("s"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "/E|C:\\Work\\s.reg|HKEY_LOCAL_MACHINE|");

    TRegExportForm key(f, QString(), &f);
    key.Edit2->setText(QStringLiteral("HKEY_CURRENT_USER\\Software\\a\"b 表"));
    exportAs(key, QStringLiteral("s"), QStringLiteral("C:\\Work"));
    EXPECT_EQ(recorded(), "/E|C:\\Work\\s.reg|HKEY_CURRENT_USER\\Software\\a\"b 表|");
    EXPECT_TRUE(errors().empty());
}

TEST_F(RegExportFormTest, AMissingRegistryEditorDisablesTheExportButton) {
    TForm1& f = start(); // this test program has no klovreg beside it: nothing is linked
    ASSERT_FALSE(registryEditorPath(systemFolder()));
    TRegExportForm d(f, QStringLiteral("HKEY_CURRENT_USER"), &f);
    d.FormActivate();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("この機能を使用するためには、OS標準搭載のレジ"
                                                    "ストリエディタ Regedit.exe が必要です。"));
    EXPECT_FALSE(d.Button1->isEnabled());
    // Coming back from the box activates the dialog again: told once, not in a loop.
    d.FormActivate();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    d.Edit1->setText(QStringLiteral("x"));
    d.Button1Click();
    EXPECT_EQ(ChildWatcher::active(), 0);

    ASSERT_TRUE(ensureRegistryPrograms(systemFolder(), KLOVREG_PATH));
    d.FormActivate();
    EXPECT_TRUE(d.Button1->isEnabled());
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(RegExportFormTest, TheFolderTreeAndTheFieldsFollowEachOther) {
    TForm1& f = startWithPrograms();
    fs::create_directories(driveC() / "Work" / "表の下");
    fs::create_directories(driveC() / "Zeta");
    TRegExportForm d(f, QString(), &f);
    ASSERT_EQ(d.TreeView1->topLevelItemCount(), 1); // A: stands for no folder
    QTreeWidgetItem* c = d.TreeView1->topLevelItem(0);
    EXPECT_EQ(c->text(0), QStringLiteral("C:\\"));
    EXPECT_EQ(c->childCount(), 0); // loaded when expanded
    c->setExpanded(true);
    QStringList names;
    for (int i = 0; i < c->childCount(); ++i)
        names << c->child(i)->text(0);
    EXPECT_TRUE(names.contains(QStringLiteral("Work")));
    EXPECT_LT(names.indexOf(QStringLiteral("Work")), names.indexOf(QStringLiteral("Zeta")));

    // Choosing a folder fills the folder field and the caption.
    QTreeWidgetItem* work = d.folderNode(QStringLiteral("C:\\Work"));
    ASSERT_NE(work, nullptr);
    d.TreeView1->setCurrentItem(work);
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("C:\\Work"));
    EXPECT_EQ(d.Label4->text(), QStringLiteral("C:\\Work"));

    // Typing an existing folder selects it; the typed text stays as typed.
    d.ComboBox1->setEditText(QStringLiteral("c:\\WORK\\表の下"));
    ASSERT_NE(d.TreeView1->currentItem(), nullptr);
    EXPECT_EQ(d.TreeView1->currentItem()->text(0), QStringLiteral("表の下"));
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("c:\\WORK\\表の下"));
    EXPECT_EQ(d.Label4->text(), QStringLiteral("C:\\Work\\表の下"));
    // A folder that is not there leaves the tree as it is.
    d.ComboBox1->setEditText(QStringLiteral("C:\\Work\\Nothing"));
    EXPECT_EQ(d.TreeView1->currentItem()->text(0), QStringLiteral("表の下"));

    // A file path whose folder exists selects that folder, and leaves the folder field alone.
    d.Edit1->setText(QStringLiteral("C:\\Zeta\\x.reg"));
    EXPECT_EQ(d.TreeView1->currentItem()->text(0), QStringLiteral("Zeta"));
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("C:\\Work\\Nothing"));
    d.Edit1->setText(QStringLiteral("C:\\x.reg"));
    EXPECT_EQ(d.TreeView1->currentItem(), c);
}

TEST_F(RegExportFormTest, QuickExportWritesTheChosenFileAndCancelDoesNothing) {
    TForm1& f = startWithPrograms();
    const fs::path file = folders.root() / "quick";
    dialogs.fileNames = {QString::fromStdString(file.string())};
    quickExport(&f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"));
    ASSERT_EQ(dialogs.asked.size(), 1);
    EXPECT_EQ(dialogs.asked[0],
              QStringLiteral("レジストリファイルの書き出し - HKEY_CURRENT_USER\\ExportTest"));
    EXPECT_EQ(dialogs.fileTypeLists[0], QStringLiteral("レジストリファイル (*.REG)"));
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(errors().empty());
    const std::string exported = read(folders.root() / "quick.reg");
    EXPECT_EQ(exported.substr(0, kVersion5Header.size()), kVersion5Header);
    EXPECT_NE(exported.find(le("[HKEY_CURRENT_USER\\ExportTest]")), std::string::npos);

    recordingProgram("REGEDIT.EXE");
    quickExport(&f, QStringLiteral("HKEY_CURRENT_USER\\ExportTest"));
    EXPECT_EQ(dialogs.asked.size(), 2);
    EXPECT_EQ(ChildWatcher::active(), 0);
    EXPECT_FALSE(fs::exists(argsFile()));
}

TEST_F(RegExportFormTest, AnImportedFileIsAppliedAndRefusedKeysAreNamed) {
    TForm1& f = startWithPrograms();
    // klovreg asks before it imports; here the question is answered on its terminal.
    const fs::path editor = folders.windir() / "REGEDIT.EXE";
    fs::remove(editor);
    std::ofstream(editor) << "#!/bin/sh\necho y | env -u DISPLAY -u WAYLAND_DISPLAY '"
                          << KLOVREG_PATH << "' \"$@\"\n";
    fs::permissions(editor, fs::perms::owner_all);

    const fs::path good = folders.root() / "good.REG";
    std::ofstream(good, std::ios::binary)
        << cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Imported]\r\n\"v\"=\"取り込み\"\r\n");
    dialogs.fileNames = {QString::fromStdString(good.string())};
    importRegistryFile(&f);
    EXPECT_EQ(dialogs.asked, QStringList{QStringLiteral("レジストリファイルの取り込み")});
    ASSERT_TRUE(waitForChildren());
    EXPECT_TRUE(errors().empty()) << errors()[0].text.toStdString();
    TRegistry reg;
    reg.RootKey(HKEY_CURRENT_USER_H);
    ASSERT_TRUE(reg.OpenKey("\\Imported", false));
    EXPECT_EQ(reg.ReadText("v"), sj("取り込み"));

    // The seeded read-only key refuses its part; the rest is imported and the key is named.
    const fs::path part = folders.root() / "part.reg";
    std::ofstream(part, std::ios::binary)
        << cp932File("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\r\n"
                     "\"x\"=\"1\"\r\n\r\n[HKEY_CURRENT_USER\\Partly]\r\n\"y\"=\"2\"\r\n");
    dialogs.fileNames = {QString::fromStdString(part.string())};
    importRegistryFile(&f);
    ASSERT_TRUE(waitForChildren());
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_TRUE(errors()[0].text.contains(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum（4 行目）")))
        << errors()[0].text.toStdString();
    EXPECT_TRUE(reg.OpenKey("\\Partly", false));
    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    ASSERT_TRUE(reg.OpenKeyForReading("\\SYSTEM\\CurrentControlSet\\Enum"));
    EXPECT_FALSE(reg.ValuePresent("x"));

    // Cancelling the file dialog starts nothing; a missing registry editor asks for no file.
    recordingProgram("REGEDIT.EXE");
    importRegistryFile(&f);
    EXPECT_EQ(ChildWatcher::active(), 0);
    EXPECT_FALSE(fs::exists(argsFile()));
    fs::remove(editor);
    dialogs.asked.clear();
    importRegistryFile(&f);
    EXPECT_TRUE(dialogs.asked.isEmpty());
    ASSERT_EQ(errors().size(), 2u);
    EXPECT_TRUE(errors()[1].text.contains(QStringLiteral("Regedit.exe が必要です。")));
}
