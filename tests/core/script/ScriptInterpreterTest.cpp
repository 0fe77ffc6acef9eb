// QB scripts run against a store of their own: header lines and the choice dialog, sections,
// comments, every command's action and log line, the argument forms, the end of a run in each
// case, and that a failing command leaves nothing of itself.
#include "core/script/ScriptInterpreter.h"
#include "core/script/ScriptCommands.h"
#include "core/script/ScriptHost.h"
#include "support/RegTestSupport.h"
#include "support/RegistryFixture.h"

#include <functional>
#include <gtest/gtest.h>

using namespace klv;

namespace {

using Lines = std::vector<std::string>;

// Answers the choice dialog, records everything else; texts are kept in UTF-8.
class FakeHost : public ScriptHost {
public:
    ScriptChoice answer = ScriptChoice::Install;
    bool stopInMessageBox = false;
    std::function<void(const ScriptValueBoxRequest&)> onBox;

    ScriptChoiceDialog dialog;
    Lines logged, keys, messages, errors;
    std::vector<ScriptValueBoxRequest> boxes;

    ScriptChoice choose(const ScriptChoiceDialog& d) override {
        dialog = d;
        return answer;
    }
    void log(const std::string& line) override { logged.push_back(cp932ToUtf8(line)); }
    void showKey(const std::string& path) override { keys.push_back(cp932ToUtf8(path)); }
    void valueBox(const ScriptValueBoxRequest& r) override {
        boxes.push_back(r);
        if (onBox)
            onBox(r);
    }
    void messageBox(const std::string& text) override {
        messages.push_back(cp932ToUtf8(text));
        if (stopInMessageBox)
            stop_ = true;
    }
    bool stopRequested() const override { return stop_; }
    void showError(const std::string& message) override { errors.push_back(cp932ToUtf8(message)); }

private:
    bool stop_ = false;
};

const std::string kStart = "［成功］　レジストリに接続しました - スクリプト開始";
const std::string kEnd = "［成功］　レジストリを解放しました - スクリプト終了";
const std::string kInstall = "インストール処理を実行します";

class ScriptTest : public test::RegistryFixture {
protected:
    FakeHost host;
    std::string showKeys = "";
    ScriptRunResult result;

    // Runs the UTF-8 lines and returns the log.
    Lines run(const Lines& utf8) {
        Lines lines;
        for (const std::string& l : utf8)
            lines.push_back(sj(l));
        host.logged.clear();
        result = runScript(lines, host, showKeys, store);
        return host.logged;
    }
    // An install section around the lines.
    Lines install(Lines body) {
        body.insert(body.begin(), "INSTBEGIN");
        body.push_back("INSTEND");
        return run(body);
    }
    std::optional<RawValue> value(int root, const char* key, const char* name) {
        const auto k = test::keyAt(*store, root, key);
        return k ? test::valueAt(*store, *k, name) : std::nullopt;
    }
    std::string text(int root, const char* key, const char* name) {
        const auto v = value(root, key, name);
        return v ? cp932ToUtf8(v->data) : "<missing>";
    }
    bool keyExists(int root, const char* key) { return test::keyAt(*store, root, key).has_value(); }
    void makeKey(RootHandle root, const std::string& path) {
        reg.RootKey(root);
        ASSERT_TRUE(reg.OpenKey(sj(path), true));
    }
};

TEST_F(ScriptTest, SectionsAndMarkers) {
    // Neither marker: only line 0 runs.
    EXPECT_EQ(run({"RootKey(HKEY_LOCAL_MACHINE)", "AppClose"}),
              (Lines{kInstall, kStart, "［成功］　現在のルートを HKEY_LOCAL_MACHINE に設定しました",
                     kEnd}));
    // INSTEND above INSTBEGIN: nothing runs.
    EXPECT_EQ(run({"<TITLE>t", "INSTEND", "AppClose", "INSTBEGIN", "AppClose"}),
              (Lines{kInstall, kStart, kEnd}));
    // The last markers count; the uninstall section has its own.
    const Lines script{"INSTBEGIN", "AppClose",  "INSTEND",    "UNINSTBEGIN", "CloseKey",
                       "UNINSTEND", "INSTBEGIN", "RootKey(x)", "INSTEND"};
    EXPECT_EQ(run(script),
              (Lines{kInstall, kStart, "［成功］　現在のルートを x に設定しました", kEnd}));
    host.answer = ScriptChoice::Uninstall;
    EXPECT_EQ(run(script), (Lines{"アンインストール処理を実行します", kStart,
                                  "［成功］　レジストリキーを閉じました", kEnd}));
    host.answer = ScriptChoice::Cancel;
    EXPECT_EQ(run(script), (Lines{"処理はキャンセルされました", kEnd}));
    EXPECT_TRUE(result.cancelled);
}

TEST_F(ScriptTest, HeaderLinesMakeTheDialog) {
    run({"AppClose"});
    EXPECT_EQ(cp932ToUtf8(host.dialog.caption), "レジストリの変更");
    ASSERT_EQ(host.dialog.messageLines.size(), 1u);
    EXPECT_EQ(cp932ToUtf8(host.dialog.messageLines[0]), "選択してください");
    EXPECT_FALSE(host.dialog.installEnabled);
    EXPECT_FALSE(host.dialog.uninstallEnabled);

    run({"<TITLE>古い", "<MESSAGE>Line one#13#10#13#10Line two", "INSTBEGIN", "<TITLE>新しい設定",
         "INSTEND", "<INSTDATA>YES", "<UNINSTDATA>yes", "x<TITLE>abc"});
    // The last line holding the tag wins, and its value starts at the tag's length.
    EXPECT_EQ(cp932ToUtf8(host.dialog.caption), ">abc");
    ASSERT_EQ(host.dialog.messageLines.size(), 2u);
    EXPECT_EQ(cp932ToUtf8(host.dialog.messageLines[0]), "Line one");
    EXPECT_EQ(cp932ToUtf8(host.dialog.messageLines[1]), "Line two");
    EXPECT_TRUE(host.dialog.installEnabled);
    EXPECT_FALSE(host.dialog.uninstallEnabled); // "YES" is case-sensitive

    run({"<TITLE>設定", "<TITLE>", "<MESSAGE>"});
    EXPECT_EQ(cp932ToUtf8(host.dialog.caption), "レジストリの変更");
    EXPECT_EQ(cp932ToUtf8(host.dialog.messageLines.at(0)), "選択してください");
}

TEST_F(ScriptTest, BackgroundSettingIsKeptBetweenRuns) {
    run({"AppClose"});
    EXPECT_EQ(showKeys, ""); // no line: unchanged
    run({"<BACKGROUND>NO"});
    EXPECT_EQ(showKeys, "0");
    run({"AppClose"});
    EXPECT_EQ(showKeys, "0");
    run({"<BACKGROUND>YES"});
    EXPECT_EQ(showKeys, "1");
}

TEST_F(ScriptTest, OpenKeyTextsAndShowKeys) {
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\X");
    EXPECT_EQ(
        install({"OpenKey(HKEY_CURRENT_USER\\Software\\X,False)",
                 "OpenKey(HKEY_CURRENT_USER\\Software\\Missing,False)",
                 "OpenKey(HKEY_CURRENT_USER\\Software\\X,true)"}),
        (Lines{kInstall, kStart,
               "［成功］　レジストリキーのアクセスに成功しました - HKEY_CURRENT_USER\\Software\\X",
               "［エラー］　レジストリキーのアクセスに失敗しました - HKEY_CURRENT_USER "
               "\\Software\\Missing",
               kEnd}));
    EXPECT_TRUE(host.keys.empty()); // background before any <BACKGROUND> line

    const Lines log = install({"<BACKGROUND>NO", "OpenKey(HKEY_LOCAL_MACHINE\\Software\\Y,true)",
                               "OpenKey(HKEY_LOCAL_MACHINE\\Software\\Y,True)"});
    EXPECT_EQ(log, (Lines{kInstall, kStart, "［処理］　該当キーを表示しました",
                          "［成功］　レジストリキーのアクセスに成功しました - "
                          "HKEY_LOCAL_MACHINE\\Software\\Y",
                          "［処理］　該当キーを表示しました", kEnd}));
    EXPECT_EQ(host.keys,
              (Lines{"HKEY_LOCAL_MACHINE\\Software\\Y", "HKEY_LOCAL_MACHINE\\Software\\Y"}));
    EXPECT_TRUE(keyExists(test::HKLM, "Software\\Y"));
    EXPECT_FALSE(keyExists(test::HKCU, "Software\\Y"));
}

TEST_F(ScriptTest, WritesTakeTheArgumentFormsAsWritten) {
    const Lines log = install({
        "OpenKey(HKEY_CURRENT_USER\\Software\\W,True)",
        "WriteString(Name,a,b)",
        "WriteString(Blank, a)",
        "WriteExpandString(Path,%WINDIR%\\x)",
        "WriteMultiString(M,a,,b)",
        "WriteInt16(Flags,ff)",
        "WriteInteger(N,4294967295)",
        "WriteInteger(Neg,-1)",
        "WriteInteger(Hex,$10)",
        "WriteBinary(B1,01 0A ff)",
        "WriteBinary(B2,010aFF)",
        "WriteBinary(Empty,)",
        "WriteString(日本語,データ)",
        "// WriteString(a,b)",
        "WriteString(Note,a//b)",
    });
    EXPECT_EQ(
        log,
        (Lines{kInstall, kStart,
               "［成功］　レジストリキーのアクセスに成功しました - HKEY_CURRENT_USER\\Software\\W",
               "［成功］　文字列を書き込みました - (値)Name (データ)a,b",
               "［成功］　文字列を書き込みました - (値)Blank (データ) a",
               "［成功］　拡張文字列を書き込みました - (値)Path (データ)%WINDIR%\\x",
               "［成功］　マルチ文字列を書き込みました - (値)M (データ)a,,b",
               "［成功］　数値を書き込みました - (値)Flags (データ)ff",
               "［成功］　数値を書き込みました - (値)N (データ)4294967295",
               "［成功］　数値を書き込みました - (値)Neg (データ)-1",
               "［成功］　数値を書き込みました - (値)Hex (データ)$10",
               "［成功］　バイナリを書き込みました - (値)B1 (データ)01 0A ff",
               "［成功］　バイナリを書き込みました - (値)B2 (データ)010aFF",
               "［成功］　バイナリを書き込みました - (値)Empty (データ)",
               "［成功］　文字列を書き込みました - (値)日本語 (データ)データ", kEnd}));
    const char* key = "Software\\W";
    EXPECT_EQ(text(test::HKCU, key, "Name"), std::string("a,b\0", 4));
    EXPECT_EQ(text(test::HKCU, key, "Blank"), std::string(" a\0", 3));
    EXPECT_EQ(value(test::HKCU, key, "Path")->type, REG_EXPAND_SZ);
    EXPECT_EQ(value(test::HKCU, key, "M")->data, std::string("a\0b\0\0", 5));
    EXPECT_EQ(value(test::HKCU, key, "Flags")->data, std::string("\xFF\0\0\0", 4));
    EXPECT_EQ(value(test::HKCU, key, "N")->data, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(value(test::HKCU, key, "Neg")->data, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(value(test::HKCU, key, "Hex")->data, std::string("\x10\0\0\0", 4));
    EXPECT_EQ(value(test::HKCU, key, "B1")->data, "\x01\x0A\xFF");
    EXPECT_EQ(value(test::HKCU, key, "B2")->data, "\x01\x0A\xFF");
    EXPECT_EQ(value(test::HKCU, key, "Empty")->data, "");
    EXPECT_EQ(value(test::HKCU, key, "Empty")->type, REG_BINARY);
    EXPECT_EQ(text(test::HKCU, key, "日本語"), std::string("データ\0", sizeof("データ")));
    EXPECT_FALSE(value(test::HKCU, key, "Note"));
    EXPECT_FALSE(value(test::HKCU, key, "a"));
    EXPECT_EQ(result.commandsApplied, 13u);
}

TEST_F(ScriptTest, ArgumentFormsAndConversions) {
    EXPECT_EQ(singleArgument("MessageBox(a,b)c)"), "a,b");
    EXPECT_EQ(singleArgument("MessageBox(abc"), "");  // no closing mark
    EXPECT_EQ(singleArgument("x)MessageBox(a)"), ""); // closing mark first
    EXPECT_EQ(singleArgument("abc)"), "abc");         // no opening mark: from the start
    EXPECT_EQ(firstArgument("W(n,d)"), "n");
    EXPECT_EQ(secondArgument("W(n,d,e)"), "d,e");
    EXPECT_EQ(secondArgument("W(n)x,d"), "");

    EXPECT_EQ(scriptHexBytes("01 0A ff"), scriptHexBytes("010aFF"));
    EXPECT_EQ(scriptHexBytes("a,b-c"), "\xAB"); // unpaired trailing digit dropped
    // The trail byte of "ア" (0x83 0x41) is not the digit A.
    EXPECT_EQ(scriptHexBytes(sj("ア") + "12"), "\x12");

    EXPECT_EQ(scriptNumber("4294967296"), 0u); // low 32 bits
    EXPECT_EQ(scriptNumber(" 5"), 5u);
    EXPECT_EQ(scriptNumber("$FFFFFFFFFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(scriptNumber("-9223372036854775808"), 0u);
    for (const char* bad :
         {"", "abc", "5 ", "$", "-", "9223372036854775808", "$1FFFFFFFFFFFFFFFF", "1.5"})
        EXPECT_THROW(scriptNumber(bad), ScriptNumberError) << bad;
}

TEST_F(ScriptTest, BadNumberEndsTheRunAfterTheEarlierChanges) {
    const Lines log = install({"OpenKey(HKEY_CURRENT_USER\\Software\\N,True)", "WriteInteger(A,1)",
                               "OpenKey(HKEY_CURRENT_USER\\Software\\N,True)",
                               "WriteInteger(N,abc)", "WriteInteger(After,2)"});
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2], "［エラー］　5 行目で中止しました - "
                                   "WriteInteger(N,abc)（それまでに 2 件の変更を適用しました）");
    EXPECT_EQ(log.back(), kEnd);
    EXPECT_EQ(host.errors, (Lines{"'abc' は数値ではありません"}));
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.failedLine, 4);
    EXPECT_EQ(result.commandsApplied, 2u); // opening an existing key changes nothing
    EXPECT_TRUE(value(test::HKCU, "Software\\N", "A"));
    EXPECT_FALSE(value(test::HKCU, "Software\\N", "N"));
    EXPECT_FALSE(value(test::HKCU, "Software\\N", "After"));

    install({"OpenKey(HKEY_CURRENT_USER\\Software\\N,True)", "WriteInt16(F,fg)"});
    EXPECT_EQ(host.errors.back(), "'$fg' は数値ではありません");
}

TEST_F(ScriptTest, WritesToReadOnlyOrUnopenedKeysEndTheRun) {
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\RO");
    store->setAccess(*reg.CurrentKeyId(), KeyAccess::ReadOnly);
    const Lines log =
        install({"OpenKey(HKEY_CURRENT_USER\\Software\\RO,False)", "WriteString(v,1)", "AppClose"});
    EXPECT_EQ(
        log[2],
        "［エラー］　レジストリキーのアクセスに失敗しました - HKEY_CURRENT_USER \\Software\\RO");
    EXPECT_EQ(log[3], "［エラー］　3 行目で中止しました - WriteString(v,1)（それまでに 0 "
                      "件の変更を適用しました）");
    EXPECT_EQ(log.size(), 5u); // AppClose never ran
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].rfind("'v' の設定に失敗しました", 0), 0u) << host.errors[0];

    // Commands run in table order: CloseKey comes before WriteString on this line.
    install({"OpenKey(HKEY_CURRENT_USER\\Software\\C,True)", "WriteString(CloseKey,1)"});
    EXPECT_TRUE(result.failed);
    EXPECT_FALSE(value(test::HKCU, "Software\\C", "CloseKey"));
}

TEST_F(ScriptTest, DeleteKeyUsesTheRootItNames) {
    for (RootHandle r : {HKEY_CURRENT_USER_H, HKEY_LOCAL_MACHINE_H})
        makeKey(r, "\\Software\\X\\Sub");
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\Rel");
    const Lines log =
        install({"RootKey(HKEY_CURRENT_USER)", "DeleteKey(HKEY_LOCAL_MACHINE\\Software\\X)",
                 "DeleteKey(HKEY_NOWHERE\\Software\\X)", "DeleteKey(HKEY_USERS)",
                 "OpenKey(HKEY_CURRENT_USER\\Software,False)", "DeleteKey(Rel)", "DeleteKey(Rel)"});
    EXPECT_EQ(
        log,
        (Lines{kInstall, kStart, "［成功］　現在のルートを HKEY_CURRENT_USER に設定しました",
               "［成功］　キーを削除しました - Software\\X",
               "［エラー］　キーの削除に失敗しました - Software\\X",
               "［エラー］　キーの削除に失敗しました - ",
               "［成功］　レジストリキーのアクセスに成功しました - HKEY_CURRENT_USER\\Software",
               "［成功］　キーを削除しました - Rel", "［エラー］　キーの削除に失敗しました - Rel",
               kEnd}));
    EXPECT_FALSE(keyExists(test::HKLM, "Software\\X"));
    EXPECT_TRUE(keyExists(test::HKCU, "Software\\X\\Sub"));
    EXPECT_FALSE(keyExists(test::HKCU, "Software\\Rel"));
}

TEST_F(ScriptTest, FailingCommandsLeaveNothingHalfDone) {
    // A tree with a read-only key deep inside: deleting it fails and deletes nothing.
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\T\\A");
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\T\\B\\Locked");
    store->setAccess(*reg.CurrentKeyId(), KeyAccess::ReadOnly);
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\V");
    reg.WriteString("a", "1");
    reg.WriteString("b", "2");
    reg.CloseKey();
    const auto before = test::dumpStore(*store, 6);
    const std::string longName(300, 'k');
    const Lines log =
        install({"DeleteKey(\\Software\\T)",
                 "OpenKey(HKEY_CURRENT_USER\\Software\\New\\Deeper\\" + longName + ",True)",
                 "CreateKey(\\Software\\New2\\" + longName + ")"});
    EXPECT_EQ(log[2], "［エラー］　キーの削除に失敗しました - \\Software\\T");
    EXPECT_EQ(log[3].rfind("［エラー］　レジストリキーのアクセスに失敗しました", 0), 0u);
    EXPECT_EQ(log[4].rfind("［エラー］　キーの新規作成に失敗しました", 0), 0u);
    EXPECT_EQ(test::dumpStore(*store, 6), before);
    EXPECT_FALSE(result.failed); // these failures are logged and the run goes on
    EXPECT_EQ(result.commandsApplied, 0u);

    // DeleteAllValues reports in sorted order and deletes every value or none.
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\V");
    reg.WriteString("C", "3");
    reg.CloseKey();
    EXPECT_EQ(
        install({"OpenKey(HKEY_CURRENT_USER\\Software\\V,False)", "DeleteAllValues()"}),
        (Lines{kInstall, kStart,
               "［成功］　レジストリキーのアクセスに成功しました - HKEY_CURRENT_USER\\Software\\V",
               "［成功］　値を削除しました - a", "［成功］　値を削除しました - b",
               "［成功］　値を削除しました - C", kEnd}));
    EXPECT_FALSE(value(test::HKCU, "Software\\V", "a"));
    EXPECT_FALSE(value(test::HKCU, "Software\\V", "C"));

    // A name CP932 cannot hold lists as "〓" and cannot be deleted by that name: all stay.
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\V");
    reg.WriteString("x", "1");
    reg.WriteRaw(RawValue{StoredName{utf8ToUtf16("한"), true}, REG_SZ, std::string("\0", 1)});
    reg.CloseKey();
    const auto kept = test::dumpStore(*store, 6);
    const Lines failed =
        install({"OpenKey(HKEY_CURRENT_USER\\Software\\V,False)", "DeleteAllValues()"});
    EXPECT_EQ(failed.at(3), "［エラー］　値の削除に失敗しました - x");
    EXPECT_EQ(failed.at(4), "［エラー］　値の削除に失敗しました - 〓");
    EXPECT_EQ(test::dumpStore(*store, 6), kept);
}

TEST_F(ScriptTest, ValueBoxesShowWhatTheOpenKeyHolds) {
    makeKey(HKEY_CURRENT_USER_H, "\\Software\\Box");
    reg.WriteString("s", "text");
    reg.WriteInteger("n", 4000000000u);
    reg.WriteMultiString("m", {"x", "y"});
    reg.WriteBinary("b", std::string("\x00\x7F", 2));
    reg.WriteBinary("empty", std::string());
    reg.CloseKey();
    host.onBox = [&](const ScriptValueBoxRequest& r) {
        if (r.kind == ScriptValueBox::String) { // the box writes on OK itself
            TRegistry own(store);
            ASSERT_TRUE(own.OpenKey("\\Software\\Box", false));
            own.WriteString(r.name, "edited");
        }
    };
    const std::string at = "HKEY_CURRENT_USER\\Software\\Box";
    const Lines log =
        install({"OpenKey(" + at + ",False)", "InputStringBox(" + at + ",s)",
                 "InputIntegerBox(" + at + ",n)", "InputMultiStringBox(" + at + ",m)",
                 "InputBinaryBox(" + at + ",b)", "InputBinaryBox(" + at + ",empty)", "AppClose"});
    ASSERT_EQ(host.boxes.size(), 4u);
    EXPECT_EQ(host.boxes[0].location, at);
    EXPECT_EQ(host.boxes[0].text, "text");
    EXPECT_EQ(host.boxes[1].number, 4000000000u);
    EXPECT_EQ(host.boxes[2].items, (Lines{"x", "y"}));
    EXPECT_EQ(host.boxes[3].bytes, std::string("\x00\x7F", 2));
    // The empty binary value ends the run there, without a line of its own.
    EXPECT_EQ(log,
              (Lines{kInstall, kStart, "［成功］　レジストリキーのアクセスに成功しました - " + at,
                     "［処理］　文字列の編集ボックスを表示しました",
                     "［処理］　数値の編集ボックスを表示しました",
                     "［処理］　マルチ文字列の編集ボックスを表示しました",
                     "［処理］　バイナリの編集ボックスを表示しました", kEnd}));
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.commandsApplied, 1u);
    EXPECT_EQ(text(test::HKCU, "Software\\Box", "s"), std::string("edited\0", 7));

    // A missing number cannot be shown: the run ends with the layer's error.
    install({"OpenKey(" + at + ",False)", "InputIntegerBox(" + at + ",nothing)", "AppClose"});
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(host.errors.size(), 1u);
}

TEST_F(ScriptTest, StopDuringMessageBoxEndsAfterThatCommand) {
    host.stopInMessageBox = true;
    const Lines log = install({"OpenKey(HKEY_CURRENT_USER\\Software\\S,True)",
                               "MessageBox(止めますか)", "WriteString(after,1)"});
    EXPECT_EQ(host.messages, (Lines{"止めますか"}));
    EXPECT_EQ(
        log,
        (Lines{kInstall, kStart,
               "［成功］　レジストリキーのアクセスに成功しました - HKEY_CURRENT_USER\\Software\\S",
               "［処理］　メッセージボックスを表示しました",
               "［報告］　3 行目で停止しました - MessageBox(止めますか)（それまでに 1 "
               "件の変更を適用しました）",
               "ユーザーがスクリプトを停止しました", kEnd}));
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(value(test::HKCU, "Software\\S", "after"));
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(ScriptTest, RefusalTexts) {
    EXPECT_EQ(
        cp932ToUtf8(scriptRefusal(true, true).value()),
        "スクリプトの実行は禁止されています。\n\n禁止を解除するためには、オプションから設定し直"
        "してください。");
    EXPECT_EQ(
        cp932ToUtf8(scriptRefusal(false, false).value()),
        "スクリプトの実行は禁止されています。\n\n禁止を解除するためには、読みとり専用を解除して"
        "ください。");
    EXPECT_EQ(scriptRefusal(true, false), scriptRefusal(true, true));
    EXPECT_FALSE(scriptRefusal(false, true));
}

TEST_F(ScriptTest, UninstallUndoesInstall) {
    makeKey(HKEY_LOCAL_MACHINE_H, "\\Software\\Vendor");
    reg.WriteString("Keep", "yes");
    makeKey(HKEY_CURRENT_USER_H, "\\Control Panel\\Desktop");
    reg.WriteString("Wallpaper", "none");
    reg.CloseKey();
    const auto before = test::dumpStore(*store, 6);
    const Lines script{
        "<TITLE>ツールの設定",
        "<MESSAGE>ツールの設定を変更します#13#10よろしいですか",
        "<INSTDATA>YES",
        "<UNINSTDATA>YES",
        "<BACKGROUND>YES",
        "INSTBEGIN",
        "// install the tool's keys",
        "OpenKey(HKEY_LOCAL_MACHINE\\Software\\Vendor\\Tool,True)",
        "WriteString(InstallDir,C:\\Program Files\\Tool)",
        "WriteExpandString(Temp,%TEMP%\\tool)",
        "WriteInteger(Version,$0102)",
        "WriteInt16(Flags,8001)",
        "WriteMultiString(Plugins,a.dll,b.dll)",
        "WriteBinary(Key,DE AD BE EF)",
        "CreateKey(Options\\Advanced)",
        "OpenKey(HKEY_CURRENT_USER\\Control Panel\\Desktop,False)",
        "WriteString(ToolWallpaper,tool.bmp)",
        "RenameValue(ToolWallpaper,ToolBackground)",
        "CloseKey",
        "MessageBox(インストールしました)",
        "INSTEND",
        "UNINSTBEGIN",
        "DeleteKey(HKEY_LOCAL_MACHINE\\Software\\Vendor\\Tool)",
        "OpenKey(HKEY_CURRENT_USER\\Control Panel\\Desktop,False)",
        "DeleteValue(ToolBackground)",
        "UNINSTEND",
    };
    run(script);
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.commandsApplied, 10u);
    EXPECT_TRUE(keyExists(test::HKLM, "Software\\Vendor\\Tool\\Options\\Advanced"));
    EXPECT_EQ(value(test::HKLM, "Software\\Vendor\\Tool", "Version")->data,
              std::string("\x02\x01\0\0", 4));
    EXPECT_EQ(text(test::HKCU, "Control Panel\\Desktop", "ToolBackground"),
              std::string("tool.bmp\0", 9));
    EXPECT_NE(test::dumpStore(*store, 6), before);
    host.answer = ScriptChoice::Uninstall;
    const Lines log = run(script);
    EXPECT_EQ(log.at(2), "［成功］　キーを削除しました - Software\\Vendor\\Tool");
    EXPECT_EQ(log.at(4), "［成功］　値を削除しました - ToolBackground");
    EXPECT_EQ(test::dumpStore(*store, 6), before);
}

} // namespace
