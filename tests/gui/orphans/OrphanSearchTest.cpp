// The orphan entry search window over a real store and real files on the c: drive's folder:
// what a scan finds under each option, stopping and closing, the checks, deletion with its
// undo, the hint and sorting, the jump, the report and the help.
#include "gui/orphans/OrphanSearch.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/DriveMap.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "core/registry/Store.h"
#include "core/undo/UndoLog.h"
#include "gui/editor/Regform.h"
#include "gui/orphans/OrphanTableModel.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <fstream>
#include <sstream>

using namespace klv;
namespace fs = std::filesystem;

namespace {

const QString kEndText = QStringLiteral("個の不正値を発見してスキャンを終了しました");
using Rows = std::vector<std::string>;

std::string fileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void mouse(QWidget* w, QEvent::Type type, QPoint at) {
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void click(QWidget* w, QPoint at) {
    mouse(w, QEvent::MouseButtonPress, at);
    mouse(w, QEvent::MouseButtonRelease, at);
}

class OrphanSearchTest : public test::WindowTest {
protected:
    OrphanSearchTest() {
        settings().writeBool("OPTION", "OEDIT", false); // no editor window at start
        start();
        driveC = *DriveMap(systemFolder()).folder('C');
        fs::create_directories(driveC / "Present");
        std::ofstream(driveC / "Present" / "ok.exe") << "x";
        put("\\Software\\KlvOrphan\\App", "missing", "C:\\Missing\\app.exe -run");
        put("\\Software\\KlvOrphan\\App", "present", "c:\\present\\OK.EXE");
        put("\\Software\\KlvOrphan\\App", "nodrive", "D:\\gone.exe");
        put("\\KlvOutside", "outside", "C:\\Outside\\gone.exe");
        put("\\Software\\KlvOrphan\\Floppy", "a", "A:\\setup.exe");
        put("\\Software\\KlvOrphan\\Floppy", "b", "C:\\AfterFloppy.exe");
    }

    static void put(const std::string& key, const std::string& name, const std::string& data) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(key, true)) << key;
        reg.WriteString(name, data);
    }

    static bool present(const std::string& key, const std::string& name) {
        TRegistry reg;
        return reg.OpenKeyForReading(key) && reg.ValuePresent(name);
    }

    TOrphanSearch& window() {
        form->OrphanSearchClick();
        QApplication::processEvents();
        auto* w = form->findChild<TOrphanSearch*>();
        EXPECT_NE(w, nullptr);
        w->setPumpInterval(0);
        return *w;
    }

    // A scan of HKEY_CURRENT_USER alone, so that the seed's other roots stay out of the way.
    TOrphanSearch& scanned() {
        TOrphanSearch& w = window();
        w.CheckBox3->setChecked(false);
        w.Button1->click();
        return w;
    }

    // "name=path" of the test's own rows (not the seed's), in list order.
    static Rows found(const TOrphanSearch& w) {
        Rows out;
        for (const OrphanRow& r : w.results())
            if (r.key.find("Klv") != std::string::npos)
                out.push_back(r.name + "=" + r.path);
        return out;
    }

    static int rowOf(const TOrphanSearch& w, const std::string& name) {
        for (std::size_t i = 0; i < w.results().size(); ++i)
            if (w.results()[i].name == name)
                return static_cast<int>(i);
        ADD_FAILURE() << name;
        return -1;
    }

    // Ticks a row's box as a click on it would.
    static void tick(TOrphanSearch& w, const std::string& name) {
        QAbstractItemModel* m = w.ListView1->model();
        ASSERT_TRUE(m->setData(m->index(rowOf(w, name), 0), Qt::Checked, Qt::CheckStateRole));
    }

    // Every row's box, as the list shows it, is `on`.
    static bool allTicked(const TOrphanSearch& w, bool on) {
        QAbstractItemModel* m = w.ListView1->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if ((m->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked) != on ||
                w.results()[static_cast<std::size_t>(r)].checked != on)
                return false;
        return m->rowCount() > 0;
    }

    static QPoint rowCentre(TOrphanSearch& w, const std::string& name) {
        return w.ListView1->visualRect(w.ListView1->model()->index(rowOf(w, name), 1)).center();
    }

    fs::path driveC;
};

TEST_F(OrphanSearchTest, OneWindowFromEitherMenuWithItsDefaultsAndTheOptionsLink) {
    TOrphanSearch& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("孤立エントリの検索"));
    const OrphanOptions o = w.options();
    EXPECT_EQ(o.roots, (std::array<bool, 4>{false, true, true, false}));
    EXPECT_EQ((std::array<bool, 4>{o.anyDrive, o.softwareOnly, o.skipBlanks, o.skipFloppy}),
              (std::array<bool, 4>{false, true, false, true}));
    EXPECT_EQ(o.floppy, 'A');
    EXPECT_FALSE(w.Button2->isEnabled());
    EXPECT_FALSE(w.ToolButton6->isEnabled());
    QStringList headers;
    for (int c = 0; c < OrphanTableModel::ColumnCount; ++c)
        headers << w.ListView1->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers.join(QLatin1Char('|')),
              QStringLiteral("孤立したデータ|ルートキー|キー|名前|判定ﾊﾟｽ"));

    // The link and the toolbar's 設定 both open and close the panel; a search closes it.
    EXPECT_FALSE(w.optionsShown());
    EXPECT_EQ(w.Label2->text(), QStringLiteral("検索オプション  >>"));
    click(w.Label2, QPoint(4, 4));
    EXPECT_TRUE(w.CheckBox6->isVisible());
    EXPECT_EQ(w.Label2->text(), QStringLiteral("検索オプション  <<"));
    w.ToolButton1->trigger();
    EXPECT_FALSE(w.optionsShown());
    w.ToolButton1->trigger();
    w.Button1->click();
    EXPECT_FALSE(w.optionsShown());
    EXPECT_EQ(w.Label2->text(), QStringLiteral("検索オプション  >>"));

    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    QAction* item = editor->findChild<QAction*>(QStringLiteral("OrphanSearch"));
    ASSERT_TRUE(item && item->isEnabled());
    item->trigger();
    form->findAction(QStringLiteral("OrphanSearch"))->trigger();
    EXPECT_EQ(form->findChildren<TOrphanSearch*>().size(), 1u);
}

TEST_F(OrphanSearchTest, AScanListsAMissingFileOnAFixedDiskAndNothingElse) {
    TOrphanSearch& w = scanned();
    EXPECT_EQ(found(w), Rows{"missing=C:\\Missing\\app.exe"});
    const OrphanRow& row = w.results()[static_cast<std::size_t>(rowOf(w, "missing"))];
    EXPECT_EQ(row.data, "C:\\Missing\\app.exe -run");
    EXPECT_EQ(row.key, "Software\\KlvOrphan\\App");
    EXPECT_EQ(w.StatusBar1->text(), QString::number(w.results().size()) + kEndText);
    QAbstractItemModel* m = w.ListView1->model();
    ASSERT_EQ(m->rowCount(), static_cast<int>(w.results().size()));
    const int r = rowOf(w, "missing");
    EXPECT_EQ(m->index(r, OrphanTableModel::ColPath).data().toString(),
              QStringLiteral("C:\\Missing\\app.exe"));
    EXPECT_EQ(m->index(r, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_FALSE(m->index(r, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    // Once the file is there the value is no orphan.
    fs::create_directories(driveC / "Missing");
    std::ofstream(driveC / "Missing" / "APP.exe") << "x";
    w.Button1->click();
    EXPECT_TRUE(found(w).empty());
}

TEST_F(OrphanSearchTest, TheOptionsDecideWhatIsScannedAndWhatCounts) {
    TOrphanSearch& w = window();
    w.CheckBox3->setChecked(false);
    w.CheckBox6->setChecked(false); // the whole root, not only \Software
    w.Button1->click();
    EXPECT_EQ(found(w), (Rows{"outside=C:\\Outside\\gone.exe", "missing=C:\\Missing\\app.exe"}));
    w.CheckBox6->setChecked(true);

    // Without the floppy option the value after A:\ is reached; A: (no fixed disk) and D: (no
    // drive) only count when any drive does.
    w.CheckBox8->setChecked(false);
    w.Button1->click();
    EXPECT_EQ(found(w), (Rows{"missing=C:\\Missing\\app.exe", "b=C:\\AfterFloppy.exe"}));
    w.CheckBox5->setChecked(true);
    w.Button1->click();
    EXPECT_EQ(found(w), (Rows{"missing=C:\\Missing\\app.exe", "nodrive=D:\\gone.exe",
                              "a=A:\\setup.exe", "b=C:\\AfterFloppy.exe"}));

    // The floppy letter is the setting's.
    w.CheckBox5->setChecked(false);
    w.CheckBox8->setChecked(true);
    settings().writeString("SETUP", "FLOPPY", "B");
    w.Button1->click();
    EXPECT_EQ(found(w), (Rows{"missing=C:\\Missing\\app.exe", "b=C:\\AfterFloppy.exe"}));

    w.CheckBox2->setChecked(false);
    w.Button1->click();
    EXPECT_TRUE(w.results().empty());
    EXPECT_EQ(w.StatusBar1->text(), QStringLiteral("0") + kEndText);
}

TEST_F(OrphanSearchTest, DeletingCheckedRowsRemovesTheirValuesAndTheUndoBringsOneBack) {
    put("\\Software\\KlvOrphan\\More", "m1", "C:\\Gone1.exe");
    put("\\Software\\KlvOrphan\\Locked", "m2", "C:\\Gone2.exe");
    TOrphanSearch& w = scanned();
    // Checking from the toolbar and the popup.
    for (QAction* on : {w.ToolButton2, w.SelectAll1}) {
        on->trigger();
        EXPECT_TRUE(allTicked(w, true));
        (on == w.ToolButton2 ? w.ToolButton3 : w.SelectNone1)->trigger();
        EXPECT_TRUE(allTicked(w, false));
    }
    EXPECT_EQ(w.PopupMenu1->defaultAction(), w.DeleteChecked1);

    tick(w, "missing");
    tick(w, "m2");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\KlvOrphan\\Locked", false));
        reg.store().setAccess(*reg.CurrentKeyId(), KeyAccess::ReadOnly);
    }
    const std::size_t before = w.results().size();
    w.ToolButton4->trigger();
    // The locked key's value stays, and so does its row, checked, after one box.
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("値の削除に失敗しました。エラー報告：30-77"));
    EXPECT_EQ(w.ListView1->model()->rowCount(), static_cast<int>(before - 1));
    EXPECT_EQ(found(w), (Rows{"m2=C:\\Gone2.exe", "m1=C:\\Gone1.exe"}));
    EXPECT_TRUE(w.results()[static_cast<std::size_t>(rowOf(w, "m2"))].checked);
    EXPECT_FALSE(present("\\Software\\KlvOrphan\\App", "missing"));
    EXPECT_TRUE(present("\\Software\\KlvOrphan\\Locked", "m2"));

    // The editor windows' undo log has the deletion and gives the value back.
    UndoLog log(UndoPlace{programFolder(), systemFolder(), {}, nullptr});
    ASSERT_TRUE(log.load());
    ASSERT_EQ(log.entries().size(), 1u);
    log.undo(0);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyForReading("\\Software\\KlvOrphan\\App"));
    EXPECT_EQ(reg.ReadText("missing"), "C:\\Missing\\app.exe -run");

    dialogs.shown.clear();
    w.SelectNone1->trigger();
    tick(w, "m1");
    w.DeleteChecked1->trigger();
    EXPECT_FALSE(present("\\Software\\KlvOrphan\\More", "m1"));
    EXPECT_EQ(found(w), Rows{"m2=C:\\Gone2.exe"});
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(OrphanSearchTest, AnUnreadableUndoListStopsTheDeletionBeforeAnyChange) {
    TOrphanSearch& w = scanned();
    tick(w, "missing");
    writeFileAtomically(programFolder() / "UNDO.DAT", "not a list file");
    w.ToolButton4->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Error);
    EXPECT_TRUE(present("\\Software\\KlvOrphan\\App", "missing"));
    EXPECT_EQ(found(w), Rows{"missing=C:\\Missing\\app.exe"});
    EXPECT_EQ(fileBytes(programFolder() / "UNDO.DAT"), "not a list file");
}

TEST_F(OrphanSearchTest, SelectingARowSetsTheHintAndHeadersSortTheRowsToggling) {
    put("\\Software\\KlvOrphan\\More", "m1", "C:\\Gone1.exe");
    TOrphanSearch& w = scanned();
    click(w.ListView1->viewport(), rowCentre(w, "missing"));
    EXPECT_EQ(w.ListView1->toolTip(),
              QStringLiteral("　キー : HKEY_CURRENT_USER\\Software\\KlvOrphan\\App　\n"
                             "　名前 : missing　\n"
                             "　不正値 : C:\\Missing\\app.exe -run　"));
    // The arrow keys move the selection, and the hint with it.
    QKeyEvent key(QEvent::KeyPress,
                  rowOf(w, "m1") > rowOf(w, "missing") ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(w.ListView1, &key);
    EXPECT_TRUE(w.ListView1->toolTip().contains(QStringLiteral("　名前 : m1　")));

    QHeaderView* h = w.ListView1->header();
    const QPoint at(h->sectionViewportPosition(OrphanTableModel::ColName) + 10, h->height() / 2);
    const auto byName = [](const OrphanRow& a, const OrphanRow& b) { return a.name < b.name; };
    click(h->viewport(), at);
    EXPECT_TRUE(std::is_sorted(w.results().begin(), w.results().end(), byName));
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::AscendingOrder);
    click(h->viewport(), at);
    EXPECT_TRUE(std::is_sorted(w.results().rbegin(), w.results().rend(), byName));
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_TRUE(h->isSortIndicatorShown());
}

TEST_F(OrphanSearchTest, ADoubleClickGoesToTheValueWhenThereIsAnEditorWindow) {
    TOrphanSearch& w = scanned();
    const QPoint at = rowCentre(w, "missing");
    const auto doubleClick = [&] {
        click(w.ListView1->viewport(), at);
        mouse(w.ListView1->viewport(), QEvent::MouseButtonDblClick, at);
        mouse(w.ListView1->viewport(), QEvent::MouseButtonRelease, at);
    };
    doubleClick();
    EXPECT_TRUE(form->editorWindows().empty());
    EXPECT_TRUE(dialogs.shown.empty());

    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    doubleClick();
    EXPECT_EQ(editor->caption(), QStringLiteral("HKEY_CURRENT_USER\\Software\\KlvOrphan\\App"));
    EXPECT_EQ(editor->ListView1->currentIndex().data().toString(), QStringLiteral("missing"));
}

TEST_F(OrphanSearchTest, SavingWritesTheReportUnderTheNameAsEntered) {
    TOrphanSearch& w = scanned();
    const fs::path file = folders.root() / "result";
    dialogs.fileNames = {QString::fromStdString(file.string())};
    w.ToolButton5->trigger();
    EXPECT_EQ(dialogs.asked, QStringList{QStringLiteral("検索結果の保存")});
    EXPECT_EQ(dialogs.fileTypeLists,
              QStringList{QStringLiteral("コンマ区切りテキスト (*.CSV);;HTML (*.HTM)")});
    const std::string csv = fileBytes(file);
    EXPECT_EQ(csv, orphanReport(w.results(), OrphanReportFormat::Csv));
    EXPECT_NE(csv.find("C:\\Missing\\app.exe -run"), std::string::npos);

    // A failed write says so and leaves the earlier file whole; then the HTML type.
    const auto saveHtml = [&] {
        dialogs.fileNames = {QString::fromStdString(file.string())};
        dialogs.fileTypes = {QStringLiteral("HTML (*.HTM)")};
        w.ToolButton5->trigger();
    };
    setWriteFailureForTesting(3);
    saveHtml();
    setWriteFailureForTesting(std::nullopt);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(fileBytes(file), csv);
    saveHtml();
    EXPECT_EQ(fileBytes(file), orphanReport(w.results(), OrphanReportFormat::Html));
    EXPECT_FALSE(fs::exists(folders.root() / "result.htm"));
}

TEST_F(OrphanSearchTest, TheAdviceOpensHelpTopic69) {
    TOrphanSearch& w = window();
    w.ToolButton7->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("ヘルプファイルがインストールされていません。"));

    const fs::path help = programFolder() / "Help";
    fs::create_directories(help);
    std::ofstream(help / "TOPIC69.HTML") << "69";
    std::ofstream(help / "topic88.html") << "88";
    w.ToolButton7->trigger();
    EXPECT_EQ(dialogs.opened,
              QStringList{QString::fromStdString((help / "TOPIC69.HTML").string())});
}

class OrphanSearchLongTest : public OrphanSearchTest {
protected:
    OrphanSearchLongTest() {
        // Enough keys that the scan lets events through many times.
        for (int i = 0; i < 300; ++i)
            put("\\Software\\KlvOrphan\\Many\\K" + std::to_string(i), "v",
                "C:\\Gone\\" + std::to_string(i) + ".exe");
    }
};

TEST_F(OrphanSearchLongTest, TheStatusLineShowsProgressAndTheStopThenTheCount) {
    TOrphanSearch& w = window();
    QStringList seen;
    bool buttonsWhileRunning = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!w.running() || seen.endsWith(QStringLiteral("スキャンを中止しました")))
            return;
        seen << w.StatusBar1->text();
        buttonsWhileRunning = !w.Button1->isEnabled() && w.Button2->isEnabled() &&
                              w.ToolButton6->isEnabled() && !w.ToolButton4->isEnabled();
        if (w.results().size() >= 20) {
            w.ToolButton6->trigger();
            seen << w.StatusBar1->text();
        }
    });
    watch.start(0);
    w.Button1->click();
    watch.stop();
    ASSERT_EQ(seen.last(), QStringLiteral("スキャンを中止しました"));
    EXPECT_TRUE(buttonsWhileRunning);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const QString& s) {
        return s.startsWith(QStringLiteral("ｽｷｬﾝしています: HKEY_CURRENT_USER\\Software\\"));
    })) << seen.join(QLatin1Char('|')).toStdString();
    // The scan ended early, and the end text replaced the stop text.
    EXPECT_LT(w.results().size(), 300u);
    EXPECT_EQ(w.StatusBar1->text(), QString::number(w.results().size()) + kEndText);
    EXPECT_EQ(w.ListView1->model()->rowCount(), static_cast<int>(w.results().size()));
    EXPECT_TRUE(w.Button1->isEnabled());
}

TEST_F(OrphanSearchLongTest, ClosingDuringAScanStopsItAndClosesOnceItHasUnwound) {
    QPointer<TOrphanSearch> w = &window();
    bool stillOpen = false;
    QTimer::singleShot(0, [&] {
        w->ToolButton8->trigger();
        stillOpen = w && w->running();
    });
    w->Button1->click();
    EXPECT_TRUE(stillOpen);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
}

} // namespace
