// The change-tracking window over a real store: the database rows and their settings, building
// and stopping, comparing, the errors, the start position, the reports and the viewer.
#include "gui/tracking/ChangeTrack.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "gui/browse/RegBrowse.h"
#include "gui/editor/Regform.h"
#include "gui/tracking/ListDataViewer.h"
#include "gui/widgets/TextBridge.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>
#include <sstream>

using namespace klv;

namespace {

const QString kNeverBuilt = QStringLiteral("まだ構築されていません");
const QString kHkcu = QStringLiteral("HKEY_CURRENT_USER");

std::string fileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ChangeTrackTest : public test::WindowTest {
protected:
    ChangeTrackTest() {
        settings().writeBool("OPTION", "OEDIT", false); // no editor window at start
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("\\Software\\Tracked", true));
        reg.WriteString("s", "old");
        reg.WriteInteger("n", 1);
        EXPECT_TRUE(reg.OpenKey("\\Software\\Tracked\\Gone", true));
        reg.WriteString("v", "x");
        // Enough keys that a build lets events through many times.
        for (int i = 0; i < 40; ++i) {
            EXPECT_TRUE(reg.OpenKey("\\Software\\Many\\K" + std::to_string(i), true));
            reg.WriteString("v", "x");
        }
    }

    TChangeTrack& window() {
        if (!form)
            start();
        form->ChangeTrackingClick();
        QApplication::processEvents();
        auto* w = form->findChild<TChangeTrack*>();
        EXPECT_NE(w, nullptr);
        w->setPumpInterval(0);
        return *w;
    }

    static QTreeWidgetItem* row(TChangeTrack& w, const QString& root) {
        for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i)
            if (w.ListView1->topLevelItem(i)->text(TChangeTrack::ColDatabase) == root)
                return w.ListView1->topLevelItem(i);
        ADD_FAILURE() << root.toStdString();
        return nullptr;
    }
    static void checkOnly(TChangeTrack& w, const QStringList& roots) {
        w.ToolButton2->trigger();
        for (const QString& r : roots)
            row(w, r)->setCheckState(TChangeTrack::ColDatabase, Qt::Checked);
    }
    static QString state(TChangeTrack& w, const QString& root) {
        return row(w, root)->text(TChangeTrack::ColState);
    }
    static QStringList resultLines(TChangeTrack& w) {
        QStringList out;
        QAbstractItemModel* m = w.ListView2->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < m->columnCount(); ++c)
                cells << m->index(r, c).data().toString();
            out << cells.join(QLatin1Char('|'));
        }
        return out;
    }
    QString setting(const std::string& key) const {
        return toQString(settings().readString("REG_CHANGE", key, "-"));
    }
    static std::filesystem::path database(const char* root) {
        return programFolder() / "DB" / (std::string(root) + ".DB");
    }

    // The three kinds of change below \Software\Tracked after a build.
    static void changeTheRegistry() {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Tracked", false));
        reg.WriteString("s", "new");
        reg.WriteString("added", "1");
        ASSERT_TRUE(reg.DeleteKey("\\Software\\Tracked\\Gone"));
    }
};

void clickHeader(QTreeView* view, int section) {
    QHeaderView* h = view->header();
    const QPoint at(h->sectionViewportPosition(section) + 10, h->height() / 2);
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(t, at, h->viewport()->mapToGlobal(at), Qt::LeftButton,
                      t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
        QApplication::sendEvent(h->viewport(), &e);
    }
}

} // namespace

TEST_F(ChangeTrackTest, OneWindowFromEitherMenuWithTheSixRootsInOrder) {
    TChangeTrack& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("レジストリの変更箇所の追跡"));
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 6);
    EXPECT_EQ(w.ListView1->topLevelItem(5)->text(0), QStringLiteral("HKEY_DYN_DATA"));
    for (int i = 0; i < 6; ++i) {
        const QTreeWidgetItem* r = w.ListView1->topLevelItem(i);
        EXPECT_EQ(r->text(TChangeTrack::ColState), kNeverBuilt);
        EXPECT_EQ(r->text(TChangeTrack::ColStart), QStringLiteral("\\"));
        EXPECT_EQ(r->text(TChangeTrack::ColSize), QStringLiteral("0 ﾊﾞｲﾄ"));
    }
    // The NT family has no HKEY_DYN_DATA: its row stays in place but cannot be checked.
    w.ToolButton1->trigger();
    EXPECT_EQ(w.ListView1->topLevelItem(4)->checkState(0), Qt::Checked);
    EXPECT_EQ(w.ListView1->topLevelItem(5)->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(w.ListView1->topLevelItem(5)->flags() & Qt::ItemIsEnabled);
    EXPECT_TRUE(w.CheckBox1->isChecked());
    EXPECT_EQ(w.Label2->text(),
              QStringLiteral("比較対象とするデータベースにチェックを入れてください"));

    // The editor window's item and the frame's second click bring the same window up.
    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    QAction* item = editor->findChild<QAction*>(QStringLiteral("ChangeTracking"));
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
    form->findAction(QStringLiteral("ChangeTracking"))->trigger();
    EXPECT_EQ(form->findChildren<TChangeTrack*>().size(), 1);
}

TEST_F(ChangeTrackTest, BuildThenCompareFindsOnlyWhatChanged) {
    TChangeTrack& w = window();
    checkOnly(w, {kHkcu});
    w.ToolButton3->trigger();
    EXPECT_TRUE(state(w, kHkcu).contains(
        QRegularExpression(QStringLiteral("^構築済　\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}$"))));
    EXPECT_EQ(
        row(w, kHkcu)->text(TChangeTrack::ColSize),
        toQString(snapshotSizeText(std::filesystem::file_size(database("HKEY_CURRENT_USER")))));
    EXPECT_EQ(w.Label2->text(), QStringLiteral("データベースの構築が完了しました"));
    EXPECT_TRUE(w.ToolButton3->isEnabled());

    w.ToolButton5->trigger();
    EXPECT_TRUE(w.results().empty());
    EXPECT_EQ(w.Label2->text(),
              QStringLiteral("HKEY_CURRENT_USER のデータベース照合と再構築が終了しました..."));
    EXPECT_TRUE(dialogs.shown.empty());

    // Without 再構築: no 削除 rows, and the database stays as it was.
    changeTheRegistry();
    const std::string built = fileBytes(database("HKEY_CURRENT_USER"));
    w.CheckBox1->setChecked(false);
    w.ToolButton5->trigger();
    EXPECT_EQ(
        resultLines(w),
        (QStringList{
            QStringLiteral("更新|文字列|HKEY_CURRENT_USER\\Software\\Tracked|s|old|new"),
            QStringLiteral("新規作成|文字列|HKEY_CURRENT_USER\\Software\\Tracked|added|なし|1")}));
    EXPECT_EQ(fileBytes(database("HKEY_CURRENT_USER")), built);

    // With it, after the question about the rows on show (answered No): the deleted key too;
    // the next comparison then finds nothing.
    w.CheckBox1->setChecked(true);
    dialogs.answers = {MsgAnswer::No};
    w.ToolButton5->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("問い合わせ"));
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("再検証を始めると、この検証結果はクリアされます。"
                             "検証結果のデータを保存しますか。"));
    EXPECT_EQ(w.results().size(), 3u);
    EXPECT_TRUE(resultLines(w).contains(
        QStringLiteral("削除|キー|HKEY_CURRENT_USER\\Software\\Tracked\\Gone|||")));
    EXPECT_NE(fileBytes(database("HKEY_CURRENT_USER")), built);

    // Header clicks sort the rows themselves, toggling the direction.
    clickHeader(w.ListView2, 3);
    EXPECT_EQ(w.results().front().name, "");
    EXPECT_EQ(w.results().back().name, "s");
    clickHeader(w.ListView2, 3);
    EXPECT_EQ(w.results().front().name, "s");
    EXPECT_EQ(w.ListView2->header()->sortIndicatorOrder(), Qt::DescendingOrder);

    settings().writeBool("OPTION", "MSG", false);
    w.ToolButton5->trigger();
    EXPECT_EQ(dialogs.shown.size(), 1u); // not asked again
    EXPECT_TRUE(w.results().empty());
}

TEST_F(ChangeTrackTest, StopDuringABuildLeavesThatRowAndTheLaterOnesUnbuilt) {
    TChangeTrack& w = window();
    checkOnly(w, {kHkcu});
    w.ToolButton3->trigger();
    const std::string before = fileBytes(database("HKEY_CURRENT_USER"));

    checkOnly(w, {QStringLiteral("HKEY_CLASSES_ROOT"), kHkcu, QStringLiteral("HKEY_USERS")});
    bool buttonsDisabled = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (state(w, kHkcu) == QStringLiteral("構築中...")) {
            buttonsDisabled = !w.ToolButton3->isEnabled() && !w.ToolButton5->isEnabled();
            w.ToolButton4->trigger();
        }
    });
    watch.start(0);
    w.ToolButton3->trigger();
    watch.stop();
    EXPECT_TRUE(buttonsDisabled);
    EXPECT_TRUE(state(w, QStringLiteral("HKEY_CLASSES_ROOT")).startsWith(QStringLiteral("構築済")));
    EXPECT_EQ(state(w, kHkcu), kNeverBuilt);
    EXPECT_EQ(state(w, QStringLiteral("HKEY_USERS")), kNeverBuilt);
    EXPECT_FALSE(std::filesystem::exists(database("HKEY_USERS")));
    EXPECT_EQ(fileBytes(database("HKEY_CURRENT_USER")), before);
    EXPECT_EQ(w.Label2->text(), QStringLiteral("データベースの構築が完了しました"));
}

TEST_F(ChangeTrackTest, ClosingDuringABuildStopsItAndClosesOnceItHasUnwound) {
    QPointer<TChangeTrack> w = &window();
    checkOnly(*w, {kHkcu});
    bool stillOpen = false;
    QTimer::singleShot(0, [&] {
        w->ToolButton7->trigger();
        stillOpen = w && w->running();
    });
    w->ToolButton3->trigger();
    EXPECT_TRUE(stillOpen);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
    EXPECT_FALSE(std::filesystem::exists(database("HKEY_CURRENT_USER")));
    EXPECT_EQ(setting("HKEY_CURRENT_USER_1"), kNeverBuilt);
}

TEST_F(ChangeTrackTest, AMissingDatabaseEndsTheComparisonAndKeepsEarlierRows) {
    TChangeTrack& w = window();
    w.ToolButton2->trigger();
    w.ToolButton5->trigger();
    EXPECT_EQ(w.Label2->text(), QStringLiteral("検索エラーです。比較対象とするデータベースにチェッ"
                                               "クが入れて、再度実行してください。"));
    EXPECT_TRUE(dialogs.shown.empty());

    checkOnly(w, {kHkcu});
    w.ToolButton3->trigger();
    changeTheRegistry();
    checkOnly(w, {kHkcu, QStringLiteral("HKEY_LOCAL_MACHINE")});
    w.ToolButton5->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(
        dialogs.shown[0].text.remove(QLatin1Char('\r')),
        QStringLiteral("照合エラーが発生しました。\n\nデータベースが構築されていないか、あるい"
                       "は壊れています。データベースを構築し直してください。"));
    EXPECT_EQ(w.results().size(), 3u);
    EXPECT_TRUE(w.ToolButton5->isEnabled());
}

TEST_F(ChangeTrackTest, TheStartPositionIsBrowsedWithinTheRowsRootAndKeptAtOnce) {
    TChangeTrack& w = window();
    w.ListView1->setCurrentItem(row(w, kHkcu));
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("\\"));
    EXPECT_TRUE(w.Edit1->isReadOnly());
    EXPECT_EQ(w.Edit1->toolTip(), QStringLiteral("[ ･･･ ] ボタンを押して位置を選択します"));
    EXPECT_EQ(w.Button2->toolTip(), QStringLiteral("検証開始位置の変更を反映します"));

    // Answers the browse dialog with `path` (empty: cancel); records the roots it offered.
    QStringList offered;
    const auto browseTo = [&](const QString& path) {
        QTimer::singleShot(0, [&offered, path] {
            auto* d = qobject_cast<TRegBrowse*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            offered.clear();
            for (int i = 0; i < d->TreeView1->topLevelItemCount(); ++i)
                offered << d->TreeView1->topLevelItem(i)->text(0);
            if (path.isEmpty())
                return d->Button2Click();
            d->Edit1->setText(path);
            d->Button1Click();
        });
        w.Button1Click();
    };
    browseTo(QStringLiteral("HKEY_CURRENT_USER\\Software\\Tracked"));
    EXPECT_EQ(offered, QStringList{kHkcu});
    EXPECT_EQ(form->Label11, QStringLiteral("All"));
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("\\Software\\Tracked"));
    browseTo(QString());
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("\\Software\\Tracked"));
    EXPECT_EQ(setting("HKEY_CURRENT_USER_2"), QStringLiteral("-")); // not before 変更

    w.Button2Click();
    EXPECT_EQ(setting("HKEY_CURRENT_USER_2"), QStringLiteral("\\Software\\Tracked"));
    EXPECT_EQ(row(w, kHkcu)->text(TChangeTrack::ColStart), QStringLiteral("\\Software\\Tracked"));
    browseTo(kHkcu);
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("\\"));

    // The comparison starts there: a change elsewhere under the root is not seen.
    checkOnly(w, {kHkcu});
    w.ToolButton3->trigger();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Many\\K1", false));
        reg.WriteString("v", "changed");
        ASSERT_TRUE(reg.OpenKey("\\Software\\Tracked\\Gone", false));
        reg.WriteString("v", "changed");
    }
    w.CheckBox1->setChecked(false);
    w.ToolButton5->trigger();
    EXPECT_EQ(resultLines(w),
              QStringList{QStringLiteral(
                  "更新|文字列|HKEY_CURRENT_USER\\Software\\Tracked\\Gone|v|x|changed")});
}

TEST_F(ChangeTrackTest, RowSettingsAreWrittenOnCloseAndReadBackOnActivation) {
    {
        TChangeTrack& w = window();
        checkOnly(w, {kHkcu});
        w.ToolButton3->trigger();
        const QString built = state(w, kHkcu);
        w.ToolButton7->trigger();
        QApplication::processEvents();
        EXPECT_EQ(setting("HKEY_CURRENT_USER_1"), built);
        EXPECT_EQ(setting("HKEY_CURRENT_USER_2"), QStringLiteral("\\"));
        EXPECT_EQ(setting("HKEY_DYN_DATA_1"), kNeverBuilt);
        EXPECT_EQ(setting("HKEY_DYN_DATA_2"), QStringLiteral("\\"));
    }
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(form->findChild<TChangeTrack*>(), nullptr);

    settings().eraseSection("REG_CHANGE");
    settings().writeString("REG_CHANGE", "HKEY_CURRENT_USER_1", sj("構築済　2001/02/03 04:05:06"));
    settings().writeString("REG_CHANGE", "HKEY_CURRENT_USER_2", "\\Software");
    settings().writeString("REG_CHANGE", "HKEY_USERS_1", sj("構築済　2001/02/03 04:05:06"));
    writeFileAtomically(database("HKEY_LOCAL_MACHINE"), "[HKEY_LOCAL_MACHINE\\A]\r\nx=1\r\n");
    TChangeTrack& w = window();
    EXPECT_EQ(state(w, kHkcu), QStringLiteral("構築済　2001/02/03 04:05:06"));
    EXPECT_EQ(row(w, kHkcu)->text(TChangeTrack::ColStart), QStringLiteral("\\Software"));
    EXPECT_EQ(state(w, QStringLiteral("HKEY_USERS")), kNeverBuilt); // no file: never built
    EXPECT_EQ(state(w, QStringLiteral("HKEY_LOCAL_MACHINE")), QStringLiteral("情報取得エラー"));
    EXPECT_EQ(row(w, QStringLiteral("HKEY_LOCAL_MACHINE"))->text(TChangeTrack::ColSize),
              QStringLiteral("29 ﾊﾞｲﾄ"));
    EXPECT_EQ(row(w, QStringLiteral("HKEY_LOCAL_MACHINE"))->text(TChangeTrack::ColStart),
              QStringLiteral("\\"));

    // Coming back to the front after another window re-reads the files and the settings.
    ASSERT_NE(form->NewEditorWindow(), nullptr);
    settings().writeString("REG_CHANGE", "HKEY_CURRENT_USER_2", "\\Other");
    form->ChangeTrackingClick();
    QApplication::processEvents();
    EXPECT_EQ(row(w, kHkcu)->text(TChangeTrack::ColStart), QStringLiteral("\\Other"));
}

TEST_F(ChangeTrackTest, SavingWritesTheChosenTypeAndOffersToOpenIt) {
    TChangeTrack& w = window();
    checkOnly(w, {kHkcu});
    w.ToolButton3->trigger();
    changeTheRegistry();
    w.ToolButton5->trigger();
    ASSERT_EQ(w.results().size(), 3u);

    const auto dir = folders.root();
    const QString html = QStringLiteral("HTML (*.HTM)");
    dialogs.fileNames = {QString::fromStdString((dir / "result").string())};
    dialogs.fileTypes = {html};
    dialogs.answers = {MsgAnswer::Yes};
    w.ToolButton6->trigger();
    EXPECT_EQ(dialogs.asked, QStringList{QStringLiteral("検証結果の保存")});
    EXPECT_EQ(dialogs.fileTypeLists,
              QStringList{QStringLiteral(
                  "カンマ区切りテキスト (*.CSV);;整形テキスト (*.TXT);;HTML (*.HTM)")});
    EXPECT_EQ(fileBytes(dir / "result.htm"), changeReport(w.results(), ReportFormat::Html));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("確認"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("保存したファイルを開きますか？"));
    EXPECT_EQ(dialogs.opened, QStringList{QString::fromStdString((dir / "result.htm").string())});

    // A write that fails says so and leaves the earlier file whole.
    const std::string earlier = fileBytes(dir / "result.htm");
    dialogs.shown.clear();
    dialogs.fileNames = {QString::fromStdString((dir / "result").string())};
    dialogs.fileTypes = {QStringLiteral("整形テキスト (*.TXT)")};
    writeFileAtomically(dir / "result.txt", "old");
    setWriteFailureForTesting(3);
    w.ToolButton6->trigger();
    setWriteFailureForTesting(std::nullopt);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(fileBytes(dir / "result.txt"), "old");

    // Yes to the question before a new comparison runs the save first (cancelled here).
    dialogs.shown.clear();
    dialogs.asked.clear();
    w.ToolButton5->trigger();
    EXPECT_EQ(dialogs.asked, QStringList{QStringLiteral("検証結果の保存")});
    EXPECT_TRUE(w.results().empty()); // the comparison went on, against the rebuilt database
}

TEST_F(ChangeTrackTest, DoubleClickShowsTheRowInTheWindowsOneViewer) {
    QPointer<TChangeTrack> w = &window();
    checkOnly(*w, {kHkcu});
    w->ToolButton3->trigger();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Tracked", false));
        reg.WriteString("s", "new");
        reg.WriteMultiString("list", {"a", "b"});
    }
    w->ToolButton5->trigger();
    ASSERT_EQ(w->results().size(), 2u);
    w->ListView2->setCurrentIndex(w->ListView2->model()->index(0, 0));
    w->ListView2DblClick();
    QPointer<TListDataViewer> v = w->viewer();
    ASSERT_FALSE(v.isNull());
    EXPECT_TRUE(v->isVisible());
    EXPECT_EQ(v->windowTitle(), QStringLiteral(" リストデータビューワ"));
    EXPECT_EQ(v->Label1->text(), QStringLiteral("文字列の更新"));
    EXPECT_EQ(v->Edit1->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Tracked"));
    EXPECT_EQ(v->Edit2->text(), QStringLiteral("s"));
    EXPECT_EQ(v->Memo1->toPlainText(), QStringLiteral("old"));
    EXPECT_EQ(v->Memo2->toPlainText(), QStringLiteral("new"));

    w->ListView2->setCurrentIndex(w->ListView2->model()->index(1, 0));
    w->ListView2DblClick();
    EXPECT_EQ(w->viewer(), v.data());
    EXPECT_EQ(v->Label1->text(), QStringLiteral("マルチ文字列の新規作成"));
    EXPECT_EQ(v->Memo1->toPlainText(), QStringLiteral("なし"));

    w->ToolButton7->trigger();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(w.isNull());
}
