// The status and backup window driven through its handlers, its menu items, and the desktop
// launcher with the installed layout.
#include "gui/status/RegStatus.h"
#include "core/platform/Encoding.h"
#include "core/platform/ProcessRunner.h"
#include "gui/editor/Regform.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <fstream>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

QString sizeOf(std::uint64_t n) {
    return QString::fromStdString(cp932ToUtf8(backup::sizeText(n)));
}

class RegStatusTest : public WindowTest {
protected:
    RegStatusTest() { start(); }
    // A window as the menu opens it, shown (not modally) so that its list is built.
    std::unique_ptr<TRegStatus> open() {
        auto w = std::make_unique<TRegStatus>(*form);
        w->show();
        QApplication::processEvents();
        return w;
    }
    QString cell(TRegStatus& w, int row, int column) {
        return w.ListView1->topLevelItem(row)->text(column);
    }
    void writeFile(const fs::path& p, std::size_t size) {
        std::ofstream(p, std::ios::binary) << std::string(size, 'z');
    }
};

} // namespace

TEST_F(RegStatusTest, FirstOpeningListsTheStoreWithItsSizeAndTheControls) {
    auto w = open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral(" レジストリのステータスとバックアップ"));
    EXPECT_TRUE(w->isModal());
    const QStringList hints{QStringLiteral("選択しているレジストリをバックアップ"),
                            QStringLiteral("すべて選択"),
                            QStringLiteral("すべて解除"),
                            QStringLiteral("項目の追加"),
                            QStringLiteral("項目の削除"),
                            QStringLiteral("閉じる")};
    QStringList shown;
    for (QAction* a : w->ToolBar1->actions())
        if (!a->isSeparator())
            shown << a->toolTip();
    EXPECT_EQ(shown, hints);
    QStringList headers;
    for (int c = 0; c < w->ListView1->columnCount(); ++c)
        headers << w->ListView1->headerItem()->text(c);
    EXPECT_EQ(headers, (QStringList{QStringLiteral("ﾚｼﾞｽﾄﾘﾌｧｲﾙ"), QStringLiteral("ｻｲｽﾞ"),
                                    QStringLiteral("前回のｻｲｽﾞ"), QStringLiteral("更新日時"),
                                    QStringLiteral("更新"), QStringLiteral("場所")}));

    ASSERT_EQ(w->ListView1->topLevelItemCount(), 1);
    const auto size = fs::file_size(folders.storeFile());
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColName), QStringLiteral("SYSTEM.DAT"));
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColSize), sizeOf(size));
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColPrevious), QStringLiteral("-"));
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColChanged), QStringLiteral("はい"));
    EXPECT_EQ(w->ListView1->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(w->Label1->text(), sizeOf(size));
    EXPECT_EQ(w->Label2->text(), QStringLiteral("-"));
    EXPECT_TRUE(w->Label3->text().endsWith(QStringLiteral("BACKUP")));
}

TEST_F(RegStatusTest, SecondOpeningShowsTheFirstSizesAsPreviousAndRemembersRows) {
    const fs::path other = folders.root() / "USER.DAT";
    writeFile(other, 1234);
    QString firstTotal;
    {
        auto w = open();
        firstTotal = w->Label1->text();
        dialogs.fileNames.push_back(QString::fromStdString(other.string()));
        w->ToolButton4Click();
        EXPECT_EQ(dialogs.asked.back(), QStringLiteral("レジストリファイルの追加"));
        ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
        EXPECT_EQ(cell(*w, 1, TRegStatus::ColSize), sizeOf(1234));
        EXPECT_EQ(cell(*w, 1, TRegStatus::ColPrevious), QStringLiteral("-"));
        EXPECT_EQ(cell(*w, 1, TRegStatus::ColChanged), QStringLiteral("はい"));
        w->ListView1->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        w->close();
    }
    fs::remove(other); // gone since the last closing
    auto w = open();
    ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColPrevious), cell(*w, 0, TRegStatus::ColSize));
    EXPECT_EQ(cell(*w, 0, TRegStatus::ColChanged), QStringLiteral("いいえ"));
    EXPECT_EQ(cell(*w, 1, TRegStatus::ColSize), QStringLiteral("*"));
    // Added after the first opening's sizes were taken: no previous size known.
    EXPECT_EQ(cell(*w, 1, TRegStatus::ColPrevious), QStringLiteral("*"));
    EXPECT_EQ(cell(*w, 1, TRegStatus::ColTime), QStringLiteral("*"));
    EXPECT_EQ(cell(*w, 1, TRegStatus::ColChanged), QStringLiteral("はい"));
    EXPECT_EQ(w->ListView1->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(w->Label2->text(), firstTotal);

    w->ListView1->setCurrentItem(w->ListView1->topLevelItem(1));
    w->ToolButton5Click();
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 1);
}

TEST_F(RegStatusTest, BackupWithNoCheckedRowsReportsSuccess) {
    auto w = open();
    w->ToolButton3Click();
    w->ToolButton1Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("報告"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("バックアップが正常に完了しました。"));
    EXPECT_TRUE(fs::is_directory(w->Label3->text().toStdString()));
}

TEST_F(RegStatusTest, BackupCopiesCheckedRowsAndReportsEachFailure) {
    auto w = open();
    const fs::path target = folders.root() / "saved";
    dialogs.folders.push_back(QString::fromStdString(target.string()));
    w->Label3Click();
    EXPECT_EQ(dialogs.asked.back(), QStringLiteral("バックアップ先を指定してください"));
    EXPECT_EQ(settings().readString("REG_BACKUP", "FOLDER"), target.string());

    const fs::path gone = folders.root() / "GONE.DAT";
    writeFile(gone, 10);
    dialogs.fileNames.push_back(QString::fromStdString(gone.string()));
    w->ToolButton4Click();
    fs::remove(gone);
    w->ToolButton2Click();
    w->ToolButton1Click();
    ASSERT_EQ(dialogs.shown.size(), 1u) << "no success report after a failure";
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("GONE.DAT のバックアップが失敗しました。ファイルがないか、"
                             "バックアップ先が不正です。"));
    EXPECT_TRUE(backup::isSqliteDatabase(target / "SYSTEM.DAT"));
}

TEST_F(RegStatusTest, MenuItemsOfFrameAndEditorOpenTheWindow) {
    for (const bool fromEditor : {false, true}) {
        QAction* item = form->findAction(QStringLiteral("StatusBackup"));
        if (fromEditor) {
            ASSERT_FALSE(form->editorWindows().empty());
            item =
                form->editorWindows().front()->findChild<QAction*>(QStringLiteral("StatusBackup"));
        }
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->shortcut(), QKeySequence(Qt::Key_F4));
        ASSERT_TRUE(item->isEnabled());
        bool seen = false;
        QTimer::singleShot(0, [&] {
            if (auto* d = qobject_cast<TRegStatus*>(QApplication::activeModalWidget())) {
                seen = true;
                d->ToolButton6Click();
            }
        });
        item->trigger();
        EXPECT_TRUE(seen) << (fromEditor ? "editor" : "frame");
        // Closing wrote the list.
        EXPECT_EQ(settings().readInt("REG_FILE", "Count", -1), 1);
        EXPECT_EQ(settings().readString("REG_FILE", "0"), "SYSTEM.DAT");
    }
}

TEST(Launcher, DesktopFileValidatesAndInstallsBesideTheProgram) {
    const fs::path desktop = fs::path(KLOVANTE_SOURCE_DIR) / "data" / "klovante.desktop";
    std::ifstream in(desktop);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("\nExec=klovante\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=klovante\n"), std::string::npos);

    const TempFolders temp;
    const fs::path prefix = temp.root() / "prefix";
    const auto install = ProcessRunner::runWaited(
        KLOVANTE_CMAKE, {"--install", KLOVANTE_BINARY_DIR, "--prefix", prefix.string()}, {}, [] {});
    ASSERT_TRUE(install.succeeded()) << install.errorText;
    for (const char* f :
         {"bin/klovante", "bin/klovreg", "bin/SCRIPT_DB.DAT", "share/applications/klovante.desktop",
          "share/icons/hicolor/scalable/apps/klovante.svg"})
        EXPECT_TRUE(fs::is_regular_file(prefix / f)) << f;
    // Started from there, the program finds its registry program beside itself.
    const auto self =
        ProcessRunner::runWaited(prefix / "bin" / "klovante", {"--self-test"}, {}, [] {});
    EXPECT_TRUE(self.succeeded()) << self.errorText;
    EXPECT_EQ(fs::read_symlink(temp.windir() / "REGEDIT.EXE"), prefix / "bin" / "klovreg");
    EXPECT_TRUE(
        ProcessRunner::runWaited(prefix / "bin" / "klovreg", {"--help"}, {}, [] {}).succeeded());

    if (!fs::exists("/usr/bin/desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    const auto valid = ProcessRunner::runWaited(
        "/usr/bin/desktop-file-validate",
        {(prefix / "share/applications/klovante.desktop").string()}, {}, [] {});
    EXPECT_TRUE(valid.succeeded()) << valid.errorText;
}
