// Bad input and faults as the windows meet them: a registry file the program cannot use at its
// start, a key deleted by another program while a window shows it, names past the limits typed
// into the editor window, panel lists holding bytes that are no CP932 character, damaged script
// files and command help, and a full disk while a script is saved.
#include "core/lists/ListFile.h"
#include "core/lists/PanelLists.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "core/registry/StoreSchema.h"
#include "gui/editor/Regform.h"
#include "gui/script/ScriptEditor.h"
#include "gui/valueedit/StringEdit.h"
#include "gui/widgets/TextBridge.h"
#include "support/RegTestSupport.h"
#include "support/WindowTest.h"
#include "support/WriteFailure.h"

#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sqlite3.h>

using namespace klv;
namespace fs = std::filesystem;

namespace {

std::string bytesOf(const fs::path& file) {
    return readFileBytes(file).value_or("(no file)");
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

QString u(const fs::path& p) {
    return QString::fromStdString(p.string());
}

// Another program deleting a key of HKEY_CURRENT_USER in the test's store.
void deleteElsewhere(const fs::path& store, const std::string& path) {
    const fs::path child = test::binaryDir() / "tests" / "klovante_store_child";
    const std::string command =
        "'" + child.string() + "' delete '" + store.string() + "' '" + path + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

class BadInputWindows : public test::WindowTest {
protected:
    ~BadInputWindows() override { ValueDialog::setRunnerForTesting({}); }

    TRegform& editor() {
        if (!form)
            start();
        auto w = form->editorWindows();
        if (w.empty())
            throw std::runtime_error("no editor window");
        return *w.front();
    }
    static QStringList rowNames(TRegform& e) {
        QStringList l;
        for (int r = 0; r < e.ValueModel->rowCount(); ++r)
            l << e.ValueModel->item(r, 0)->text();
        return l;
    }
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* n, const QString& name) {
        for (int i = 0; n && i < n->childCount(); ++i)
            if (n->child(i)->text(0) == name)
                return n->child(i);
        return nullptr;
    }
    static QTreeWidgetItem* hkcu(TRegform& e) { return e.TreeView1->topLevelItem(1); }
    static std::vector<std::string> dump() {
        const std::shared_ptr<Store> s = Store::system();
        s->refresh();
        return test::dumpStore(*s, 5);
    }
};

} // namespace

// --- the store at the program's start ----------------------------------------------------------

// A registry file the program cannot use: its start says why in an error box, opens no editor
// window on it, and leaves the file as it was.
TEST_F(BadInputWindows, AStoreTheProgramCannotUseIsNamedAtItsStartAndLeftAlone) {
    struct Damage {
        const char* what;
        std::function<void(const fs::path&)> apply;
        const char* message;
    };
    const std::vector<Damage> damages{
        {"not a database", [](const fs::path& f) { writeBytes(f, std::string(9000, 'n')); },
         "レジストリファイルが壊れています"},
        {"garbage after the header",
         [](const fs::path& f) {
             std::string b = bytesOf(f);
             for (std::size_t i = 100; i < b.size(); ++i)
                 b[i] = static_cast<char>(i * 13);
             writeBytes(f, b);
         },
         "レジストリファイルが壊れています"},
        {"newer schema",
         [](const fs::path& f) {
             sqlite3* db = nullptr;
             ASSERT_EQ(sqlite3_open(f.c_str(), &db), SQLITE_OK);
             const std::string sql =
                 "PRAGMA user_version = " + std::to_string(kStoreSchemaVersion + 1);
             EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
             sqlite3_close(db);
         },
         "このレジストリファイルは新しい版のプログラムで作られたため開けません"},
    };
    const fs::path file = folders.storeFile();
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        form.reset();
        Store::resetShared();
        fs::remove(file);
        Store::system().reset(); // the seeded registry of a first start
        Store::resetShared();
        d.apply(file);
        const std::string before = bytesOf(file);
        dialogs.shown.clear();
        TForm1& f = start();
        EXPECT_TRUE(f.editorWindows().empty());
        ASSERT_FALSE(dialogs.shown.empty());
        EXPECT_EQ(dialogs.shown.front().icon, MsgIcon::Error);
        EXPECT_TRUE(dialogs.shown.front().text.contains(QString::fromUtf8(d.message)))
            << dialogs.shown.front().text.toStdString();
        EXPECT_EQ(bytesOf(file), before);
    }
}

// --- a key deleted by another program ----------------------------------------------------------

// The window shows HKEY_CURRENT_USER\Gone (a value, a subkey with one below it) when another
// program deletes it. The next action on it says so, and the view comes back to the nearest key
// that is still there, without the deleted one; nothing is made again.
TEST_F(BadInputWindows, AKeyDeletedByAnotherProgramIsToldAndTheViewRecovers) {
    const QString accessError = QStringLiteral("既に削除されているか、アクセス権がありません。");
    struct Action {
        const char* what;
        std::function<void(TRegform&)> run;
        QString message; // empty: nothing is shown
    };
    const std::vector<Action> actions{
        {"refresh the value list", [](TRegform& e) { e.RefreshListClick(); }, accessError},
        {"select it again",
         [](TRegform& e) {
             QTreeWidgetItem* gone = e.TreeView1->currentItem();
             e.TreeView1->setCurrentItem(hkcu(e));
             e.TreeView1->setCurrentItem(gone);
         },
         accessError},
        {"expand its subkey",
         [](TRegform& e) {
             childNamed(e.TreeView1->currentItem(), QStringLiteral("Sub"))->setExpanded(true);
         },
         accessError},
        {"delete its value",
         [](TRegform& e) {
             e.ListView1->setCurrentIndex(e.ValueModel->index(0, 0));
             e.DeleteValuesClick();
         },
         accessError},
        {"delete it", [](TRegform& e) { e.DeleteKeyClick(); },
         QStringLiteral("キーは削除しませんでした")},
        {"activate the window", [](TRegform& e) { e.FormActivate(); }, QString()},
    };
    ensureRegistryPrograms(systemFolder(), KLOVREG_PATH);
    for (const Action& a : actions) {
        SCOPED_TRACE(a.what);
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey("\\Gone\\Sub\\Deeper", true));
            ASSERT_TRUE(reg.OpenKey("\\Gone", false));
            reg.WriteString("v", "shown");
        }
        TRegform& e = editor();
        e.RefreshClick();
        e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Gone"));
        ASSERT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Gone"));
        ASSERT_EQ(rowNames(e), QStringList{QStringLiteral("v")});
        const std::vector<std::string> before = dump();
        deleteElsewhere(folders.storeFile(), "Gone");
        const std::vector<std::string> after = dump();
        ASSERT_NE(after, before);

        dialogs.shown.clear();
        a.run(e);
        QApplication::processEvents();
        QStringList errors;
        for (const auto& m : dialogs.shown)
            if (m.icon == MsgIcon::Error)
                errors << m.text;
        if (a.message.isEmpty()) {
            EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('|')).toStdString();
        } else {
            ASSERT_EQ(errors.size(), 1) << errors.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(errors[0].contains(a.message)) << errors[0].toStdString();
        }
        EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER"));
        EXPECT_EQ(childNamed(hkcu(e), QStringLiteral("Gone")), nullptr);
        EXPECT_FALSE(rowNames(e).contains(QStringLiteral("v")));
        EXPECT_EQ(dump(), after) << "the deleted key was made again";
    }
}

// --- names past the limits
// -------------------------------------------------------------------------

// A key name of 256 bytes and a value name of 16384 bytes typed into the editor window: the
// program's message, and nothing made; one byte less is made.
TEST_F(BadInputWindows, NamesPastTheLimitsTypedIntoTheEditorWindowMakeNothing) {
    TRegform& e = editor();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.CreateKey("\\Names"));
    }
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Names"));
    const std::vector<std::string> before = dump();
    dialogs.inputs.push_back(QString(256, QLatin1Char('k')));
    e.NewKeyClick();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("キーの名前が長すぎます")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Names"));

    QString name;
    ValueDialog::setRunnerForTesting([&](ValueDialog& d) {
        d.Edit1->setText(name);
        static_cast<TStringEdit&>(d).Edit3->setText(QStringLiteral("data"));
        d.Button1Click();
        return 1;
    });
    name = QString(static_cast<int>(kMaxValueNameBytes) + 1, QLatin1Char('v'));
    dialogs.shown.clear();
    e.NewValueClick(EditedKind::String);
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_TRUE(dialogs.shown.back().text.contains(QStringLiteral("値の名前が長すぎます")))
        << dialogs.shown.back().text.toStdString();
    EXPECT_EQ(dump(), before);

    dialogs.inputs.push_back(QString(255, QLatin1Char('k')));
    e.NewKeyClick();
    name.chop(1);
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Names"));
    e.NewValueClick(EditedKind::String);
    TRegistry reg;
    EXPECT_TRUE(reg.KeyPresent("\\Names\\" + std::string(255, 'k')));
    ASSERT_TRUE(reg.OpenKey("\\Names", false));
    EXPECT_EQ(reg.ReadText(std::string(kMaxValueNameBytes, 'v')), "data");
}

// --- panel lists -------------------------------------------------------------------------------

// Rows whose texts hold bytes that are no CP932 character show them as U+FFFD; saved again (a
// new favorite, the window closed) they keep their bytes.
TEST_F(BadInputWindows, PanelListRowsKeepBytesThatAreNoCp932Character) {
    const std::vector<ListRow> history{historyRow("2024/01/02 03:04:05", "HKEY_USERS\\\x81"),
                                       historyRow("\xA0\x80", "HKEY_USERS\\a\xFD\xFE")};
    const std::vector<ListRow> favorites{favoriteRow("HKEY_USERS\\\xFF", "\x82")};
    saveListFile(programFolder() / "HISTRY.DAT", history);
    saveListFile(programFolder() / "FAVORITE.DAT", favorites);
    TRegform& e = editor();
    e.FormActivate();
    ASSERT_GE(e.ListView4->topLevelItemCount(), 2);
    EXPECT_TRUE(e.ListView3->topLevelItem(0)->text(0).contains(QChar(0xFFFD)));

    dialogs.inputs.push_back(QStringLiteral("new"));
    e.AddFavoriteClick();
    std::vector<ListRow> saved = loadListFile(programFolder() / "FAVORITE.DAT");
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1], favorites[0]);

    form.reset(); // closing the windows writes the access history
    saved = loadListFile(programFolder() / "HISTRY.DAT");
    ASSERT_GE(saved.size(), 2u);
    EXPECT_EQ(std::vector<ListRow>(saved.end() - 2, saved.end()), history);
}

// --- script files ------------------------------------------------------------------------------

class ScriptFiles : public BadInputWindows {
protected:
    ScriptFiles() {
        settings().writeBool("OPTION", "OEDIT", false);
        start();
    }
    TScriptEditor& scriptWindow() {
        form->ScriptEditorClick();
        TScriptEditor* last = nullptr;
        for (QMdiSubWindow* sub : form->findChild<QMdiArea*>()->subWindowList())
            if (auto* w = qobject_cast<TScriptEditor*>(sub->widget()))
                last = w;
        return *last;
    }
};

// Each form of a script file, cut at every length, in CP932 and in UTF-8, with bytes that are no
// CP932 character, and with a line of a megabyte: opened, the editor shows what is there; a
// character cut in two or no character at all shows as U+FFFD, and such a text is neither saved
// nor run.
TEST_F(ScriptFiles, DamagedScriptFilesShowWhatIsThereAndRefuseWhatCannotBeKept) {
    const std::string utf8 = "<TITLE>題名\r\nINSTBEGIN\r\nOpenKey(HKEY_CURRENT_USER\\Script,True)"
                             "\r\nWriteString(名前,値)\r\nINSTEND\r\n";
    struct Form {
        std::string name;
        std::optional<std::string> bytes;
        QString shown; // what the editor shows
    };
    std::vector<Form> forms{{"missing", std::nullopt, {}}, {"empty", std::string(), {}}};
    const auto text = [](std::string_view t) {
        QString s = QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
        s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (s.endsWith(QLatin1Char('\r')) || s.endsWith(QLatin1Char('\n')))
            s.chop(1);
        return s;
    };
    // The text that is there whole, and U+FFFD for a character cut in two. A UTF-8 file cut
    // before its first whole double-byte character cannot be told from CP932 and reads as such.
    const auto wholeCharacters = [&](const std::string& cut, bool cp932) {
        std::string complete = cut;
        while (!(cp932 ? tryCp932ToUtf8(complete).has_value() : isValidUtf8(complete)))
            complete.pop_back();
        const bool multiByte = std::any_of(complete.begin(), complete.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
        });
        if (!cp932 && !multiByte && complete.size() < cut.size())
            return text(cp932ToUtf8(cut));
        QString shown = text(cp932 ? *tryCp932ToUtf8(complete) : complete);
        return complete.size() < cut.size() ? shown + QChar(0xFFFD) : shown;
    };
    for (const bool cp932 : {true, false}) {
        const std::string whole = cp932 ? sj(utf8) : utf8;
        for (std::size_t len = 1; len <= whole.size(); ++len) {
            const std::string cut = whole.substr(0, len);
            forms.push_back({(cp932 ? "CP932 cut at " : "UTF-8 cut at ") + std::to_string(len), cut,
                             wholeCharacters(cut, cp932)});
        }
    }
    forms.push_back({"not CP932", std::string("WriteString(a,\x81\x20\xA0)\r\n"),
                     QStringLiteral("WriteString(a,\uFFFD \uFFFD)")});
    forms.push_back({"1 MB line", std::string(1024 * 1024, 'x') + "\r\nINSTEND\r\n",
                     QString(1024 * 1024, QLatin1Char('x')) + QStringLiteral("\nINSTEND")});

    TScriptEditor& w = scriptWindow();
    const fs::path file = folders.root() / "script.hvs";
    const fs::path saved = folders.root() / "saved.hvs";
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        fs::remove(file);
        if (f.bytes)
            writeBytes(file, *f.bytes);
        w.Memo1->setPlainText(QStringLiteral("before"));
        dialogs.shown.clear();
        dialogs.fileNames.push_back(u(file));
        w.ToolButton2Click();
        if (!f.bytes) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("ファイルが見つかりません")));
            EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("before"));
            continue;
        }
        EXPECT_TRUE(dialogs.shown.empty());
        // One U+FFFD or several for the bytes of one cut character.
        const auto collapsed = [](QString t) {
            while (t.contains(QStringLiteral("\uFFFD\uFFFD")))
                t.replace(QStringLiteral("\uFFFD\uFFFD"), QStringLiteral("\uFFFD"));
            return t;
        };
        EXPECT_EQ(collapsed(w.Memo1->toPlainText()), collapsed(f.shown));
        // Saved again: exactly what was read, or refused with the file left alone.
        writeBytes(saved, "old");
        dialogs.fileNames.push_back(u(saved));
        w.ToolButton3Click();
        if (f.shown.contains(QChar(0xFFFD))) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Error);
            EXPECT_EQ(bytesOf(saved), "old");
            const std::vector<std::string> before = dump();
            w.RunScript();
            EXPECT_EQ(dump(), before);
        } else {
            // Written back as CP932 with CR LF, an empty text as one empty line.
            EXPECT_TRUE(dialogs.shown.empty());
            EXPECT_EQ(toQString(bytesOf(saved)),
                      QString(f.shown).replace(QLatin1Char('\n'), QStringLiteral("\r\n")) +
                          QStringLiteral("\r\n"));
        }
    }
}

// The command help file missing, cut anywhere, or with bytes that are no CP932 character: a
// selected command shows what the file holds for it, and nothing in its place.
TEST_F(ScriptFiles, DamagedCommandHelpShowsWhatIsThere) {
    const std::string whole = sj("[OpenKey]\r\nP=(キーのフルパス,True)\r\nE=(HKEY_CURRENT_USER\\"
                                 "Software,True)\r\n[CloseKey]\r\nP=　なし\r\n");
    const fs::path file = programFolder() / "SCRIPT_DB.DAT";
    std::vector<std::optional<std::string>> forms{std::nullopt, std::string()};
    for (std::size_t len = 1; len <= whole.size(); ++len)
        forms.push_back(whole.substr(0, len));
    forms.push_back(std::string("[OpenKey]\r\nP=\xFD\x80\r\n"));
    TScriptEditor& w = scriptWindow();
    QTreeWidgetItem* openKey = w.ListView1->topLevelItem(1);
    ASSERT_EQ(openKey->text(0), QStringLiteral("OpenKey"));
    for (const auto& bytes : forms) {
        SCOPED_TRACE(bytes ? std::to_string(bytes->size()) + " bytes" : "missing");
        fs::remove(file);
        if (bytes)
            writeBytes(file, *bytes);
        w.ListView1Change(openKey);
        const QString p = w.Edit1->text();
        const QString e = w.Edit2->text();
        ASSERT_TRUE(p.startsWith(QStringLiteral("OpenKey"))) << p.toStdString();
        EXPECT_TRUE(QStringLiteral("OpenKey(キーのフルパス,True)").startsWith(p) ||
                    p == QStringLiteral("OpenKey\uFFFD\uFFFD") ||
                    (p.endsWith(QChar(0xFFFD)) &&
                     QStringLiteral("OpenKey(キーのフルパス,True)").startsWith(p.chopped(1))))
            << p.toStdString();
        EXPECT_TRUE(QStringLiteral("OpenKey(HKEY_CURRENT_USER\\Software,True)").startsWith(e))
            << e.toStdString();
        EXPECT_TRUE(dialogs.shown.empty());
    }
}

// A disk that fills up while a script is saved: the system's reason, and the old file as it was.
TEST_F(ScriptFiles, AFullDiskWhileSavingAScriptKeepsTheOldFile) {
    TScriptEditor& w = scriptWindow();
    const fs::path file = folders.root() / "kept.hvs";
    writeBytes(file, "old script\r\n");
    w.Memo1->setPlainText(QStringLiteral("INSTBEGIN\nWriteString(a,b)\nINSTEND"));
    for (const std::size_t after : {std::size_t{0}, std::size_t{5}}) {
        dialogs.shown.clear();
        dialogs.fileNames.push_back(u(file));
        {
            test::WriteFailure full(after);
            w.ToolButton3Click();
        }
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_TRUE(
            dialogs.shown[0].text.contains(QStringLiteral("ディスクの空き容量が不足しています")))
            << dialogs.shown[0].text.toStdString();
        EXPECT_EQ(bytesOf(file), "old script\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(folders.root()), fs::directory_iterator()),
                  2)
            << "a temporary file was left";
    }
}

// --- a deep tree in the editor window -----------------------------------------------------------

// A key 512 levels down is reached by navigation, and expanding everything below the first of
// them goes down the whole chain (the expansion recurses once per level).
TEST_F(BadInputWindows, TheDeepestKeyIsReachedAndExpandedInTheEditorWindow) {
    QString deepest = QStringLiteral("HKEY_CURRENT_USER");
    std::string path;
    for (int i = 1; i <= kMaxKeyDepth; ++i) {
        path += "\\d" + std::to_string(i);
        deepest += QStringLiteral("\\d%1").arg(i);
    }
    {
        TRegistry reg;
        ASSERT_TRUE(reg.CreateKey(path));
    }
    settings().writeBool("OPTION", "ACCESS", false); // no waiting panel painted at each level
    TRegform& e = editor();
    e.NavigateTo(deepest);
    EXPECT_EQ(e.caption(), deepest);
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\d1"));
    e.ExpandAllClick(); // answered OK
    QTreeWidgetItem* n = e.TreeView1->currentItem();
    int levels = 1;
    for (; n->childCount() > 0; ++levels) {
        EXPECT_TRUE(n->isExpanded()) << levels;
        n = n->child(0);
    }
    EXPECT_EQ(levels, kMaxKeyDepth);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("確認"));
}
