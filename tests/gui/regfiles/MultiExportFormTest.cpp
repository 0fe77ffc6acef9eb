// The several-keys export dialog: its key tree, the export list and its files, and whole
// exports through the real klovreg with the merged file saved, cancelled or failing.
#include "gui/regfiles/MultiExportForm.h"

#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "support/WindowTest.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <fstream>
#include <thread>

using namespace klv;
namespace fs = std::filesystem;

namespace {

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

QString q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

class MultiExportFormTest : public test::WindowTest {
protected:
    MultiExportFormTest() {
        start();
        EXPECT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        for (const char* key : {"\\Probe\\One", "\\Probe\\Two\\Inner", "\\Probe\\Three"}) {
            EXPECT_TRUE(reg.OpenKey(key, true));
            reg.WriteString("name", std::string(key + 7));
        }
    }

    // Ticks the timer (without its second) until the dialog no longer waits.
    static bool settle(TMultiExportForm& d) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (d.waiting() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            d.Timer1Timer();
        }
        return !d.waiting();
    }
    static void add(TMultiExportForm& d, const QString& key) {
        d.Edit1->setText(key);
        d.Button1Click();
    }
    static QTreeWidgetItem* child(QTreeWidgetItem* n, const QString& name) {
        for (int i = 0; i < n->childCount(); ++i)
            if (n->child(i)->text(0) == name)
                return n->child(i);
        return nullptr;
    }
    QStringList errors() const {
        QStringList out;
        for (const auto& m : dialogs.shown)
            if (m.caption == QStringLiteral("エラー"))
                out << m.text;
        return out;
    }
    std::vector<std::string> numberedFiles() const {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(folders.home()))
            if (std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0])))
                found.push_back(e.path().filename().string());
        return found;
    }
    // The text of a saved file of either form, from its first byte.
    static std::string textOf(const std::string& bytes) {
        if (bytes.starts_with("\xFF\xFE"))
            return "BOM:" + utf16ToUtf8(bytes.substr(2));
        return cp932ToUtf8(bytes);
    }
};

} // namespace

TEST_F(MultiExportFormTest, TheTreeOffersTheRootsOfTheBrowseDialogAndFillsTheKeyField) {
    TMultiExportForm d(*form);
    EXPECT_EQ(d.windowTitle(),
              QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し"));
    EXPECT_TRUE(d.Label1->text().startsWith(QStringLiteral("複数のレジストリキーを、１つの")));
    ASSERT_EQ(d.TreeView1->topLevelItemCount(), 5); // the NT family: no HKEY_DYN_DATA
    EXPECT_EQ(d.TreeView1->topLevelItem(4)->text(0), QStringLiteral("HKEY_CURRENT_CONFIG"));

    QTreeWidgetItem* hkcu = d.TreeView1->topLevelItem(1);
    hkcu->setExpanded(true);
    QStringList names;
    for (int i = 0; i < hkcu->childCount(); ++i)
        names << hkcu->child(i)->text(0);
    QStringList sorted = names;
    sorted.sort(Qt::CaseInsensitive);
    EXPECT_EQ(names, sorted);
    QTreeWidgetItem* probe = child(hkcu, QStringLiteral("Probe"));
    ASSERT_NE(probe, nullptr);
    probe->setExpanded(true);
    QTreeWidgetItem* two = child(probe, QStringLiteral("Two"));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(child(probe, QStringLiteral("One"))->childIndicatorPolicy(),
              QTreeWidgetItem::DontShowIndicatorWhenChildless);
    d.TreeView1->setCurrentItem(two);
    EXPECT_EQ(d.Edit1->text(), QStringLiteral("HKEY_CURRENT_USER\\Probe\\Two"));

    // A key that cannot be opened.
    QTreeWidgetItem* hklm = d.TreeView1->topLevelItem(2);
    hklm->setExpanded(true);
    QTreeWidgetItem* security = child(hklm, QStringLiteral("SECURITY"));
    ASSERT_NE(security, nullptr);
    security->setExpanded(true);
    EXPECT_EQ(errors(), QStringList{QStringLiteral("キーへのアクセスが拒否されました。")});
    EXPECT_EQ(security->childCount(), 0);

    // Restricted as the browse dialog is at the time.
    form->Label11 = QStringLiteral("HKEY_USERS");
    TMultiExportForm only(*form);
    ASSERT_EQ(only.TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(only.TreeView1->topLevelItem(0)->text(0), QStringLiteral("HKEY_USERS"));
    form->Label11 = QStringLiteral("All");
}

TEST_F(MultiExportFormTest, TheFormatChoiceFollowsThePlatform) {
    {
        TMultiExportForm d(*form);
        EXPECT_TRUE(d.RadioButton2->isEnabled());
        EXPECT_TRUE(d.RadioButton2->isChecked());
    }
    setenv("KLOVANTE_PLATFORM", "95", 1);
    TMultiExportForm d(*form);
    EXPECT_FALSE(d.RadioButton2->isEnabled());
    EXPECT_TRUE(d.RadioButton1->isChecked());
}

TEST_F(MultiExportFormTest, AddingAndRemovingKeysDrivesTheRunButton) {
    TMultiExportForm d(*form);
    d.FormActivate();
    EXPECT_FALSE(d.Button3->isEnabled());
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\Nowhere"));
    add(d, QStringLiteral("HKEY_NOWHERE\\Probe"));
    EXPECT_EQ(errors(), QStringList(2, QStringLiteral("指定されたレジストリキーは存在しません。")));
    EXPECT_EQ(d.ListBox1->count(), 0);
    EXPECT_FALSE(d.Button3->isEnabled());

    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One")); // duplicates are allowed
    EXPECT_EQ(d.exportList(), QStringList(2, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One")));
    EXPECT_TRUE(d.Button3->isEnabled());
    EXPECT_TRUE(d.Button3->font().bold());

    d.ListBox1->setCurrentRow(-1);
    d.Button2Click(); // nothing selected: nothing removed
    EXPECT_EQ(d.ListBox1->count(), 2);
    d.ListBox1->setCurrentRow(0);
    d.Button2Click();
    EXPECT_TRUE(d.Button3->isEnabled());
    d.ListBox1->setCurrentRow(0);
    d.Button2Click();
    EXPECT_EQ(d.ListBox1->count(), 0);
    EXPECT_FALSE(d.Button3->isEnabled());

    // The registry editor must be there, checked on each activation and told once.
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    fs::remove(folders.windir() / "REGEDIT.EXE");
    d.FormActivate();
    d.FormActivate();
    EXPECT_EQ(
        errors().count(QStringLiteral("この機能を使用するためには、OS標準搭載のレジストリエディ"
                                      "タ Regedit.exe が必要です。")),
        1);
    EXPECT_FALSE(d.Button3->isEnabled());
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    d.FormActivate();
    EXPECT_TRUE(d.Button3->isEnabled());
}

TEST_F(MultiExportFormTest, ListFilesReplaceTheListAndTheRunButtonFollows) {
    TMultiExportForm d(*form);
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\Three"));
    const fs::path saved = folders.root() / "keys";
    dialogs.fileNames.push_back(q(saved));
    d.SpeedButton2Click();
    EXPECT_EQ(dialogs.asked.last(), QStringLiteral("エクスポートリストの保存"));
    EXPECT_EQ(dialogs.fileTypeLists.last(), QStringLiteral("エクスポートリスト(*.exportlist)"));
    EXPECT_EQ(read(folders.root() / "keys.exportlist"),
              "HKEY_CURRENT_USER\\Probe\\One\r\nHKEY_CURRENT_USER\\Probe\\Three\r\n");

    const fs::path empty = folders.root() / "empty.exportlist";
    write(empty, "");
    dialogs.fileNames.push_back(q(empty));
    d.SpeedButton1Click();
    EXPECT_EQ(dialogs.asked.last(), QStringLiteral("エクスポートリストを開く"));
    EXPECT_EQ(d.ListBox1->count(), 0);
    EXPECT_FALSE(d.Button3->isEnabled());

    dialogs.fileNames.push_back(q(folders.root() / "keys.exportlist"));
    d.SpeedButton1Click();
    EXPECT_EQ(d.exportList(), (QStringList{QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"),
                                           QStringLiteral("HKEY_CURRENT_USER\\Probe\\Three")}));
    EXPECT_TRUE(d.Button3->isEnabled());

    // A file that is not a list: the error, and the list as it was.
    const fs::path bad = folders.root() / "bad.exportlist";
    write(bad, "HKEY_USERS\\\x81\r\n");
    dialogs.fileNames.push_back(q(bad));
    d.SpeedButton1Click();
    ASSERT_EQ(errors().size(), 1);
    EXPECT_TRUE(errors()[0].contains(QStringLiteral("1 行目"))) << errors()[0].toStdString();
    EXPECT_EQ(d.ListBox1->count(), 2);
    d.SpeedButton1Click(); // cancelled: nothing happens
    EXPECT_EQ(d.ListBox1->count(), 2);
}

TEST_F(MultiExportFormTest, OneKeyIsSavedWithTheHeaderOfItsForm) {
    TMultiExportForm d(*form);
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\Two"));
    dialogs.fileNames.push_back(q(folders.root() / "two"));
    d.Button3Click();
    EXPECT_TRUE(d.waiting());
    EXPECT_TRUE(d.Label4->isVisibleTo(&d));
    EXPECT_TRUE(d.Timer1->isActive());
    EXPECT_EQ(d.Timer1->interval(), 1000);
    EXPECT_FALSE(d.Button3->isEnabled()); // no second run over the files of this one
    ASSERT_TRUE(settle(d));
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QStringLiteral("\n")).toStdString();
    EXPECT_EQ(dialogs.asked.last(),
              QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し"));
    EXPECT_EQ(dialogs.fileTypeLists.last(),
              QStringLiteral("レジストリファイル (*.reg);;すべてのファイル (*.*)"));
    const std::string text = textOf(read(folders.root() / "two.reg"));
    EXPECT_TRUE(text.starts_with("BOM:Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Probe\\Two]\r\n"))
        << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Probe\\Two\\Inner]\r\n\"name\"=\"Two\\\\Inner\""),
              std::string::npos)
        << text;
    EXPECT_TRUE(numberedFiles().empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.Timer1->isActive());
}

TEST_F(MultiExportFormTest, ThreeKeysAreMergedInListOrderAndNoNumberedFileIsLeft) {
    TMultiExportForm d(*form);
    d.RadioButton1->setChecked(true); // REGEDIT4 through the console tool
    for (const char* key : {"Three", "One", "Two\\Inner"})
        add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\") + QString::fromUtf8(key));
    dialogs.fileNames.push_back(q(folders.root() / "all.reg"));
    d.Button3Click();
    ASSERT_TRUE(settle(d));
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QStringLiteral("\n")).toStdString();
    EXPECT_EQ(textOf(read(folders.root() / "all.reg")),
              "REGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\Probe\\Three]\r\n\"name\"=\"Three\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Probe\\One]\r\n\"name\"=\"One\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Probe\\Two\\Inner]\r\n\"name\"=\"Two\\\\Inner\"\r\n\r\n");
    EXPECT_TRUE(numberedFiles().empty());
}

TEST_F(MultiExportFormTest, CancellingTheSaveDialogLeavesTheFirstFileAndClosesTheDialog) {
    TMultiExportForm d(*form);
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\Three"));
    d.Button3Click();
    ASSERT_TRUE(settle(d));
    EXPECT_EQ(dialogs.asked.last(),
              QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し"));
    EXPECT_EQ(numberedFiles(), std::vector<std::string>{"0.reg"});
    EXPECT_NE(textOf(read(folders.home() / "0.reg")).find("[HKEY_CURRENT_USER\\Probe\\One]"),
              std::string::npos);
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(MultiExportFormTest, AFailingExporterIsReportedAndTheDialogStaysUsable) {
    TMultiExportForm d(*form);
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\Three"));
    TRegistry reg;
    reg.RootKey(HKEY_CURRENT_USER_H);
    ASSERT_TRUE(reg.DeleteKey("\\Probe\\Three")); // gone after it was added
    d.Button3Click();
    ASSERT_TRUE(settle(d));
    ASSERT_EQ(errors().size(), 1);
    EXPECT_TRUE(errors()[0].startsWith(
        QStringLiteral("キー HKEY_CURRENT_USER\\Probe\\Three を書き出せませんでした。")))
        << errors()[0].toStdString();
    EXPECT_TRUE(errors()[0].contains(QStringLiteral("klovreg:"))) << errors()[0].toStdString();
    EXPECT_TRUE(numberedFiles().empty());
    EXPECT_TRUE(dialogs.asked.isEmpty()); // no save dialog
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.Label4->isVisibleTo(&d));
    EXPECT_TRUE(d.Button3->isEnabled());

    // An exporter that ends well without its file is a failure too.
    fs::remove(folders.windir() / "REGEDIT.EXE");
    write(folders.windir() / "REGEDIT.EXE", "#!/bin/sh\nexit 0\n");
    fs::permissions(folders.windir() / "REGEDIT.EXE", fs::perms::owner_all);
    d.Button3Click();
    ASSERT_TRUE(settle(d));
    ASSERT_EQ(errors().size(), 2);
    EXPECT_TRUE(errors()[1].contains(QStringLiteral("0.reg を作成しませんでした")))
        << errors()[1].toStdString();
}

TEST_F(MultiExportFormTest, ClosingTheDialogEndsTheWait) {
    fs::remove(folders.windir() / "REGEDIT.EXE");
    write(folders.windir() / "REGEDIT.EXE", "#!/bin/sh\nprintf x > \"$2\"\nexec sleep 60\n");
    fs::permissions(folders.windir() / "REGEDIT.EXE", fs::perms::owner_all);
    TMultiExportForm d(*form);
    add(d, QStringLiteral("HKEY_CURRENT_USER\\Probe\\One"));
    d.Button3Click();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(folders.home() / "0.reg") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    d.Timer1Timer();
    EXPECT_TRUE(d.waiting()); // the file is there, but its exporter runs on
    d.Button4Click();
    EXPECT_FALSE(d.waiting());
    EXPECT_FALSE(d.Timer1->isActive());
    EXPECT_TRUE(numberedFiles().empty());
    EXPECT_TRUE(errors().isEmpty());
}
