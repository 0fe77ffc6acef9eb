// The script editor window: its template, files, command list and help, browse-and-paste, the
// runs through the interpreter with their refusals, stop and close, and the script menu items
// of the frame and the editor windows.
#include "gui/script/ScriptEditor.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/script/ScriptInterpreter.h"
#include "gui/browse/RegBrowse.h"
#include "gui/editor/Regform.h"
#include "gui/script/ScriptChoiceForm.h"
#include "gui/script/ScriptFileDialog.h"
#include "gui/valueedit/StringEdit.h"
#include "gui/widgets/TextBridge.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

using namespace klv;
namespace fs = std::filesystem;

namespace {

QStringList L(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items)
        out << QString::fromUtf8(item);
    return out;
}

// An item of an editor window's menus, by name.
QAction* editorItem(const TRegform& editor, const QString& name) {
    for (QMenu* m : editor.menus())
        for (QAction* a : m->findChildren<QAction*>())
            if (a->objectName() == name)
                return a;
    ADD_FAILURE() << name.toStdString() << " is not in the menus";
    static QAction none;
    return &none;
}

QString u(const fs::path& p) {
    return QString::fromStdString(p.string());
}

class ScriptEditorTest : public test::WindowTest {
protected:
    ScriptEditorTest() {
        settings().writeBool("OPTION", "OEDIT", false); // no editor window at start
        fs::copy_file(SCRIPT_DB_PATH, folders.home() / "SCRIPT_DB.DAT");
        start();
        TScriptChoiceForm::setRunnerForTesting([this](TScriptChoiceForm& f) {
            choiceCaptions << f.windowTitle();
            choiceMessages << f.Label1->text();
            installEnabled = f.Button1->isEnabled();
            return choice;
        });
        TScriptEditor::setMessageBoxForTesting([this](const QString& text) {
            messages << text;
            if (onMessage)
                onMessage();
        });
    }
    ~ScriptEditorTest() override {
        TScriptChoiceForm::setRunnerForTesting(nullptr);
        TScriptEditor::setMessageBoxForTesting(nullptr);
        TScriptFileDialog::setChooserForTesting(nullptr);
        ValueDialog::setRunnerForTesting(nullptr);
    }

    std::vector<TScriptEditor*> scriptWindows() const {
        std::vector<TScriptEditor*> out;
        for (QMdiSubWindow* sub : form->findChild<QMdiArea*>()->subWindowList())
            if (auto* w = qobject_cast<TScriptEditor*>(sub->widget()))
                out.push_back(w);
        return out;
    }
    TScriptEditor& newScriptWindow() {
        form->ScriptEditorClick();
        return *scriptWindows().back();
    }
    QStringList logLines(const TScriptEditor& w) const {
        QStringList out;
        for (int i = 0; i < w.ListBox1->count(); ++i)
            out << w.ListBox1->item(i)->text();
        return out;
    }
    static std::optional<std::string> readValue(const std::string& key, const std::string& name) {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        if (!reg.OpenKeyForReading(key) || !reg.ValuePresent(name))
            return std::nullopt;
        return reg.ReadText(name);
    }
    fs::path writeScript(const std::string& name, const QStringList& lines) {
        std::string bytes;
        for (const QString& l : lines)
            bytes += utf8ToCp932(l.toStdString()) + "\r\n";
        const fs::path p = folders.root() / name;
        writeFileAtomically(p, bytes);
        return p;
    }

    ScriptChoice choice = ScriptChoice::Install;
    QStringList choiceCaptions, choiceMessages, messages;
    bool installEnabled = false;
    std::function<void()> onMessage;
};

const QStringList kInstallScript{
    QStringLiteral("<TITLE>テストのインストール"),
    QStringLiteral("<MESSAGE>一行目#13#10二行目"),
    QStringLiteral("<INSTDATA>YES"),
    QStringLiteral("<UNINSTDATA>NO"),
    QStringLiteral("<BACKGROUND>NO"),
    QStringLiteral("INSTBEGIN"),
    QStringLiteral("OpenKey(HKEY_CURRENT_USER\\Software\\QBTest,True)"),
    QStringLiteral("WriteString(名前,日本語の値)"),
    QStringLiteral("MessageBox(完了しました)"),
    QStringLiteral("WriteString(After,x)"),
    QStringLiteral("INSTEND"),
};

TEST_F(ScriptEditorTest, ANewWindowShowsTheTemplateAndTheCommands) {
    TScriptEditor& w = newScriptWindow();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("QB スクリプトエディタ 1.0"));
    const QStringList expected =
        L({"<TITLE>", "<MESSAGE>", "<INSTDATA>YES", "<UNINSTDATA>NO", "<BACKGROUND>YES", "", "",
           "INSTBEGIN", "", "INSTEND", "", "", "UNINSTBEGIN", "", "UNINSTEND"});
    EXPECT_EQ(w.lines(), expected);
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 20);
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(0), QStringLiteral("RootKey"));
    EXPECT_EQ(w.ListView1->topLevelItem(19)->text(0), QStringLiteral("InputExpandStringBox"));
    EXPECT_EQ(w.ListView1->topLevelItem(19)->text(1),
              QStringLiteral("ユーザーに任意の拡張文字列の入力を要求します"));
    // 新規作成 opens another window with its own text.
    w.Memo1->setPlainText(QStringLiteral("changed"));
    w.ToolButton1Click();
    ASSERT_EQ(scriptWindows().size(), 2u);
    EXPECT_EQ(scriptWindows().back()->lines(), expected);
}

TEST_F(ScriptEditorTest, OpeningAFileReplacesTheTextAndSavingWritesCrLfCp932WithTheExtension) {
    TScriptEditor& w = newScriptWindow();
    const fs::path in = writeScript("in.hvs", L({"<TITLE>題名", "INSTBEGIN", "", "INSTEND"}));
    dialogs.fileNames.push_back(u(in));
    w.ToolButton2Click();
    EXPECT_EQ(dialogs.asked.back(), QStringLiteral("スクリプトファイルを開く"));
    EXPECT_EQ(w.lines(), (L({"<TITLE>題名", "INSTBEGIN", "", "INSTEND"})));

    // A cancelled dialog keeps the text.
    w.ToolButton2Click();
    EXPECT_EQ(w.lines().size(), 4);

    w.Memo1->setPlainText(QStringLiteral("WriteString(名前,値)\nX"));
    dialogs.fileNames.push_back(u(folders.root() / "out"));
    w.ToolButton3Click();
    EXPECT_EQ(dialogs.asked.back(), QStringLiteral("スクリプトファイルの保存"));
    EXPECT_EQ(dialogs.fileTypeLists.back(),
              QStringLiteral("QB スクリプトファイル (*.HVS);;テキストファイル (*.txt)"));
    EXPECT_EQ(readFileBytes(folders.root() / "out.hvs"), sj("WriteString(名前,値)\r\nX\r\n"));
    // A name with an extension keeps it.
    dialogs.fileNames.push_back(u(folders.root() / "notes.txt"));
    w.ToolButton3Click();
    EXPECT_TRUE(fs::exists(folders.root() / "notes.txt"));
    EXPECT_TRUE(dialogs.shown.empty());

    // A file that is not there: an error, and the text stays.
    dialogs.fileNames.push_back(u(folders.root() / "missing.hvs"));
    w.ToolButton2Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown.back().icon, MsgIcon::Error);
    EXPECT_EQ(w.lines(), (L({"WriteString(名前,値)", "X"})));
}

TEST_F(ScriptEditorTest, TextThatCp932CannotHoldIsNeitherSavedNorRun) {
    TScriptEditor& w = newScriptWindow();
    const fs::path out = folders.root() / "keep.hvs";
    writeFileAtomically(out, "old\r\n");
    w.Memo1->setPlainText(QStringLiteral("INSTBEGIN\nWriteString(a,\U0001F600)\nINSTEND"));
    dialogs.fileNames.push_back(u(out));
    w.ToolButton3Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              unconvertibleTextMessage(QStringLiteral("WriteString(a,\U0001F600)")));
    EXPECT_EQ(readFileBytes(out), std::string("old\r\n"));

    w.RunScript();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].icon, MsgIcon::Error);
    EXPECT_TRUE(choiceCaptions.isEmpty());
    EXPECT_EQ(w.ListBox1->count(), 0);
}

TEST_F(ScriptEditorTest, DoubleClickInsertsTheCommandAndALineBreakAtTheCaret) {
    TScriptEditor& w = newScriptWindow();
    w.Memo1->setPlainText(QStringLiteral("abcdef"));
    QTextCursor c = w.Memo1->textCursor();
    c.setPosition(3);
    w.Memo1->setTextCursor(c);
    w.ListView1DblClick(w.ListView1->topLevelItem(4)); // WriteString
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("abcWriteString\ndef"));
    // A selection is replaced.
    c = w.Memo1->textCursor();
    c.setPosition(0);
    c.setPosition(3, QTextCursor::KeepAnchor);
    w.Memo1->setTextCursor(c);
    w.ListView1DblClick(w.ListView1->topLevelItem(2)); // CloseKey
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("CloseKey\nWriteString\ndef"));
    // The editor's own undo takes it back.
    w.ToolButton5Click();
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("abcWriteString\ndef"));
}

TEST_F(ScriptEditorTest, BrowseAndPasteInsertsTheChosenPathOrNothing) {
    TScriptEditor& w = newScriptWindow();
    w.Memo1->setPlainText(QStringLiteral("OpenKey(XX,True)"));
    QTextCursor c = w.Memo1->textCursor();
    c.setPosition(8);
    c.setPosition(10, QTextCursor::KeepAnchor);
    w.Memo1->setTextCursor(c);
    form->Label11 = QStringLiteral("HKEY_USERS");
    const auto answer = [](bool ok) {
        QTimer::singleShot(0, [ok] {
            auto* d = qobject_cast<TRegBrowse*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            if (ok) {
                d->Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Software"));
                d->Button1Click();
            } else {
                d->Button2Click();
            }
        });
    };
    answer(false);
    w.ToolButton9Click();
    EXPECT_EQ(form->Label11, QStringLiteral("All"));
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("OpenKey(XX,True)"));
    answer(true);
    w.ToolButton9Click();
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("OpenKey(HKEY_CURRENT_USER\\Software,True)"));
}

TEST_F(ScriptEditorTest, SelectingACommandShowsItsHelpFromTheShippedFile) {
    TScriptEditor& w = newScriptWindow();
    // The shipped help has both entries for every command, AppClose too.
    const SettingsFile db(folders.home() / "SCRIPT_DB.DAT");
    for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i) {
        const std::string name = w.ListView1->topLevelItem(i)->text(0).toStdString();
        EXPECT_TRUE(db.hasKey(name, "P") && db.hasKey(name, "E")) << name;
    }
    EXPECT_TRUE(db.hasKey("AppClose", "P"));

    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(1)); // OpenKey
    EXPECT_TRUE(
        w.Edit1->text().startsWith(QStringLiteral("OpenKey(キーのフルパス,True または False)")));
    EXPECT_EQ(w.Edit2->text(),
              QStringLiteral("OpenKey(HKEY_CURRENT_USER\\Software\\QBSample,True)"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("　OpenKey　 指定のレジストリキーを開きます"));

    // Without the file the fields hold the name alone.
    fs::remove(folders.home() / "SCRIPT_DB.DAT");
    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(2)); // CloseKey
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("CloseKey"));
    EXPECT_EQ(w.Edit2->text(), QStringLiteral("CloseKey"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("　CloseKey　 開いているキーを閉じます"));
}

TEST_F(ScriptEditorTest, RefusedRunsShowTheReasonAndWriteNothing) {
    TScriptEditor& w = newScriptWindow();
    w.Memo1->setPlainText(kInstallScript.join(QLatin1Char('\n')));
    settings().writeBool("OPTION", "SCRIPT", true);
    w.RunScript();
    form->setStatusPanel(0, QStringLiteral("読み取り専用"));
    settings().writeBool("OPTION", "SCRIPT", false);
    w.RunScript();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("中止"));
    EXPECT_EQ(dialogs.shown[0].text, toQString(*scriptRefusal(true, true)));
    EXPECT_EQ(dialogs.shown[1].text, toQString(*scriptRefusal(false, false)));
    EXPECT_TRUE(choiceCaptions.isEmpty());
    EXPECT_EQ(w.ListBox1->count(), 0);
    EXPECT_FALSE(readValue("Software\\QBTest", sj("名前")));
}

TEST_F(ScriptEditorTest, ARunInstallsLogsAndHandsBackTheKey) {
    TScriptEditor& w = newScriptWindow();
    w.Memo1->setPlainText(kInstallScript.join(QLatin1Char('\n')));
    form->setStatusPanel(2, QStringLiteral("something"));
    w.RunScript();
    EXPECT_EQ(choiceCaptions, QStringList{QStringLiteral("テストのインストール")});
    EXPECT_EQ(choiceMessages, QStringList{QStringLiteral("一行目\n二行目")});
    EXPECT_TRUE(installEnabled);
    EXPECT_EQ(messages, QStringList{QStringLiteral("完了しました")});
    EXPECT_EQ(readValue("Software\\QBTest", sj("名前")), sj("日本語の値"));
    EXPECT_EQ(readValue("Software\\QBTest", "After"), std::string("x"));
    const QStringList log = logLines(w);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.front(), QStringLiteral("インストール処理を実行します"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("［成功］　文字列を書き込みました - (値)名前 (データ)日本語の値")));
    EXPECT_EQ(log.back(), QStringLiteral("［成功］　レジストリを解放しました - スクリプト終了"));
    EXPECT_TRUE(w.Panel2->isVisibleTo(&w));
    // <BACKGROUND>NO: show-keys on for the program, the key handed back.
    EXPECT_EQ(form->Label15, QStringLiteral("0"));
    EXPECT_EQ(form->Label8, QStringLiteral("HKEY_CURRENT_USER\\Software\\QBTest"));
    EXPECT_EQ(scriptWindows().size(), 1u); // stays open

    // The next run clears the log; cancelled, it writes nothing.
    choice = ScriptChoice::Cancel;
    w.RunScript();
    EXPECT_EQ(logLines(w).front(), QStringLiteral("処理はキャンセルされました"));
    EXPECT_EQ(logLines(w).size(), 2);
    w.SpeedButton1Click();
    EXPECT_FALSE(w.Panel2->isVisibleTo(&w));
}

TEST_F(ScriptEditorTest, StopDuringTheMessageBoxEndsTheRunAfterIt) {
    TScriptEditor& w = newScriptWindow();
    w.Memo1->setPlainText(kInstallScript.join(QLatin1Char('\n')));
    onMessage = [&] { w.ToolButton11Click(); };
    w.RunScript();
    EXPECT_TRUE(readValue("Software\\QBTest", sj("名前")));
    EXPECT_FALSE(readValue("Software\\QBTest", "After"));
    EXPECT_TRUE(logLines(w).contains(QStringLiteral("ユーザーがスクリプトを停止しました")));
    // Stop is cleared for the next run.
    onMessage = nullptr;
    w.RunScript();
    EXPECT_TRUE(readValue("Software\\QBTest", "After"));
}

TEST_F(ScriptEditorTest, ClosingDuringARunWaitsForItsEndAndSetsReady) {
    TScriptEditor& w = newScriptWindow();
    QPointer<TScriptEditor> window = &w;
    w.Memo1->setPlainText(kInstallScript.join(QLatin1Char('\n')));
    form->setStatusPanel(2, QStringLiteral("something"));
    onMessage = [&] {
        w.ToolButton13Click();
        EXPECT_TRUE(window); // still there while the run holds it
    };
    w.RunScript();
    EXPECT_FALSE(readValue("Software\\QBTest", "After")); // closing stopped the run
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);
    EXPECT_EQ(form->statusPanel(2), QStringLiteral("レディ"));

    TScriptEditor& other = newScriptWindow();
    form->setStatusPanel(2, QStringLiteral("something"));
    other.ToolButton13Click();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(scriptWindows().empty());
    EXPECT_EQ(form->statusPanel(2), QStringLiteral("レディ"));
}

TEST_F(ScriptEditorTest, AnInputBoxWritesWhatTheUserEntersToTheScriptsLocation) {
    TScriptEditor& w = newScriptWindow();
    {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.OpenKey("Software\\QBBox", true));
        reg.WriteString("Name", "before");
    }
    w.Memo1->setPlainText(QStringLiteral("INSTBEGIN\nOpenKey(HKEY_CURRENT_USER\\Software\\QBBox,"
                                         "False)\nInputStringBox(HKEY_CURRENT_USER\\Software\\"
                                         "QBBox,Name)\nINSTEND"));
    form->Edit1 = QStringLiteral("HKEY_LOCAL_MACHINE");
    QString shownData, shownLocation;
    ValueDialog::setRunnerForTesting([&](ValueDialog& d) {
        auto& s = dynamic_cast<TStringEdit&>(d);
        shownData = s.Edit3->text();
        shownLocation = s.Edit2->text();
        s.Edit3->setText(QStringLiteral("after"));
        s.Button1Click();
        return static_cast<int>(QDialog::Accepted);
    });
    w.RunScript();
    EXPECT_EQ(shownData, QStringLiteral("before"));
    EXPECT_EQ(shownLocation, QStringLiteral("HKEY_CURRENT_USER\\Software\\QBBox"));
    EXPECT_EQ(readValue("Software\\QBBox", "Name"), std::string("after"));
    EXPECT_EQ(form->Edit1, QStringLiteral("HKEY_LOCAL_MACHINE")); // given back
    EXPECT_TRUE(
        logLines(w).contains(QStringLiteral("［処理］　文字列の編集ボックスを表示しました")));
}

TEST_F(ScriptEditorTest, TheChoiceDialogEnablesAndAnswersAsTheHeaderSays) {
    TScriptChoiceForm::setRunnerForTesting(nullptr);
    ScriptChoiceDialog request;
    request.caption = sj("題名");
    request.messageLines = {sj("一行目"), sj("二行目")};
    request.uninstallEnabled = true;
    TScriptChoiceForm f(request);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("題名"));
    EXPECT_EQ(f.Label1->text(), QStringLiteral("一行目\n二行目"));
    EXPECT_FALSE(f.Button1->isEnabled());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_TRUE(f.Button3->isEnabled());
    QTimer::singleShot(0, &f, [&] { f.Button2Click(); });
    EXPECT_EQ(TScriptChoiceForm::run(f), ScriptChoice::Uninstall);
    TScriptChoiceForm g(request);
    QTimer::singleShot(0, &g, [&] { g.reject(); }); // the close box
    EXPECT_EQ(TScriptChoiceForm::run(g), ScriptChoice::Cancel);
}

TEST_F(ScriptEditorTest, RunFromAnEditorWindowRunsTheFileBehindItAndCloses) {
    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    const fs::path file = writeScript("run.hvs", kInstallScript);
    QStringList captions;
    TScriptFileDialog::setChooserForTesting([&](const QString& caption) {
        captions << caption;
        return u(file);
    });
    QPointer<TScriptEditor> during;
    onMessage = [&] {
        during = scriptWindows().front();
        // The editor window stays in front while the script runs.
        EXPECT_EQ(form->findChild<QMdiArea*>()->activeSubWindow()->widget(), editor);
    };
    editorItem(*editor, QStringLiteral("ScriptRun"))->trigger();
    EXPECT_EQ(captions, QStringList{QStringLiteral("実行するスクリプトファイルの指定")});
    EXPECT_EQ(readValue("Software\\QBTest", "After"), std::string("x"));
    EXPECT_EQ(form->Label16, QStringLiteral("0"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(scriptWindows().empty());
    EXPECT_TRUE(messages.size() == 1 && !during);

    // スクリプトの編集 only opens the file; a later run keeps the window.
    editorItem(*editor, QStringLiteral("ScriptEdit"))->trigger();
    EXPECT_EQ(captions.back(), QStringLiteral("編集するスクリプトファイルの指定"));
    ASSERT_EQ(scriptWindows().size(), 1u);
    TScriptEditor& edited = *scriptWindows().front();
    EXPECT_EQ(edited.lines(), kInstallScript);
    EXPECT_EQ(edited.ListBox1->count(), 0);
    edited.RunScript();
    EXPECT_EQ(scriptWindows().size(), 1u);

    // スクリプトの新規作成 opens the template.
    editorItem(*editor, QStringLiteral("ScriptNew"))->trigger();
    ASSERT_EQ(scriptWindows().size(), 2u);
    EXPECT_EQ(scriptWindows().back()->lines(), TScriptEditor::scriptTemplate());
    // Cancelling the file dialog opens nothing.
    TScriptFileDialog::setChooserForTesting([](const QString&) { return QString(); });
    editorItem(*editor, QStringLiteral("ScriptRun"))->trigger();
    EXPECT_EQ(scriptWindows().size(), 2u);
    EXPECT_EQ(form->Label16, QStringLiteral("0"));
}

TEST_F(ScriptEditorTest, ARefusedRunFromAnEditorWindowLeavesNoCloseFlagBehind) {
    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    const fs::path file = writeScript("run.hvs", kInstallScript);
    TScriptFileDialog::setChooserForTesting([&](const QString&) { return u(file); });
    settings().writeBool("OPTION", "SCRIPT", true);
    editorItem(*editor, QStringLiteral("ScriptRun"))->trigger();
    EXPECT_EQ(form->Label16, QStringLiteral("0"));
    ASSERT_EQ(scriptWindows().size(), 1u); // the refused script stays to be read
    // Another window's run afterwards does not close it.
    settings().writeBool("OPTION", "SCRIPT", false);
    TScriptEditor& other = newScriptWindow();
    other.Memo1->setPlainText(kInstallScript.join(QLatin1Char('\n')));
    other.RunScript();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(scriptWindows().size(), 2u);
}

TEST_F(ScriptEditorTest, TheFramesScriptMenuOpensWindowsAndKeepsTheEditorItemsDisabled) {
    form->findAction(QStringLiteral("ScriptEditor"))->trigger();
    form->findAction(QStringLiteral("ScriptNew"))->trigger();
    EXPECT_EQ(scriptWindows().size(), 2u);
    EXPECT_FALSE(form->findAction(QStringLiteral("ScriptRun"))->isEnabled());
    EXPECT_FALSE(form->findAction(QStringLiteral("ScriptEdit"))->isEnabled());
}

TEST_F(ScriptEditorTest, ThePreviewShowsAnExistingFilesText) {
    const fs::path file = writeScript("p.hvs", L({"<TITLE>プレビュー", "INSTBEGIN"}));
    TScriptFileDialog d(nullptr, QStringLiteral("実行するスクリプトファイルの指定"));
    d.FileListChange(u(file));
    EXPECT_EQ(d.Memo1->toPlainText(), QStringLiteral("<TITLE>プレビュー\nINSTBEGIN"));
    d.FileListChange(u(folders.root() / "none.hvs"));
    EXPECT_TRUE(d.Memo1->toPlainText().isEmpty());
    d.FileListChange(u(folders.root()));
    EXPECT_TRUE(d.Memo1->toPlainText().isEmpty());
}

TEST(ScriptFileLines, LineEndsAndEncodings) {
    EXPECT_EQ(scriptLinesOf("a\r\nb\nc\rd\r\n"), (L({"a", "b", "c", "d"})));
    EXPECT_EQ(scriptLinesOf("a\r\n\r\n"), (L({"a", ""})));
    EXPECT_TRUE(scriptLinesOf("").isEmpty());
    EXPECT_EQ(scriptLinesOf(sj("日本語")), QStringList{QStringLiteral("日本語")});
    // UTF-8, as a Linux editor saves it, with or without its mark.
    EXPECT_EQ(scriptLinesOf("\xE6\x97\xA5\r\n"), QStringList{QStringLiteral("日")});
    EXPECT_EQ(scriptLinesOf("\xEF\xBB\xBF"
                            "ab"),
              QStringList{QStringLiteral("ab")});
    // Bytes that are neither show as U+FFFD.
    EXPECT_EQ(scriptLinesOf("a\x81"), QStringList{QStringLiteral("a\uFFFD")});
}

} // namespace
