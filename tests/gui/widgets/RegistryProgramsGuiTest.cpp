// The registry programs as the windows run them: presence check, waited and shell runs, and
// klovreg's own questions through the dialog service.
#include "support/RegTestSupport.h"

#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "gui/widgets/ChildWatcher.h"
#include "gui/widgets/RegistryEditorCheck.h"
#include "gui/widgets/RegistryProgramRunner.h"
#include "gui/widgets/WaitCursor.h"
#include "klovreg/DialogKlovregUi.h"
#include "klovreg/KlovregCommand.h"
#include "support/FakeDialogs.h"
#include "support/TempFolders.h"

#include <QApplication>
#include <QCursor>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "test_widgets";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

// Processes events until `done` holds or five seconds have passed.
template <class F> bool waitUntil(F&& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RegistryProgramsTest : public ::testing::Test {
protected:
    RegistryProgramsTest() {
        ensureApplication();
        unsetenv("KLOVANTE_PLATFORM");
        Store::resetShared();
    }
    ~RegistryProgramsTest() override { Store::resetShared(); }

    // A stand-in registry program: a shell script in the system folder.
    void script(const char* name, const std::string& body) {
        const fs::path p = folders.windir() / name;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    std::vector<ShownMessage> errors() const {
        std::vector<ShownMessage> e;
        for (const ShownMessage& m : dialogs.shown)
            if (m.caption == QStringLiteral("エラー"))
                e.push_back(m);
        return e;
    }

    TempFolders folders;
    FakeDialogs dialogs;
};

TEST_F(RegistryProgramsTest, AMissingRegistryEditorGivesTheProgramsErrorBoxes) {
    EXPECT_FALSE(checkRegistryEditor(nullptr));
    EXPECT_FALSE(checkRegistryEditor(nullptr, RegistryEditorUse::Restore));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(
        dialogs.shown[0].text,
        QStringLiteral(
            "この機能を使用するためには、OS標準搭載のレジストリエディタ Regedit.exe が必要です。"));
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(dialogs.shown[1].text, QStringLiteral("キーの削除を復元するためには、OS標準搭載のレジ"
                                                    "ストリエディタ Regedit.exe が必要です。"));

    // A link that points nowhere counts as missing.
    fs::create_symlink(folders.root() / "gone" / "klovreg", folders.windir() / "Regedit.exe");
    EXPECT_FALSE(checkRegistryEditor(nullptr));
    EXPECT_EQ(dialogs.shown.size(), 3u);
}

TEST_F(RegistryProgramsTest, FirstStartLinksBothProgramsToKlovreg) {
    EXPECT_FALSE(ensureRegistryPrograms(folders.windir(), folders.root() / "no-klovreg"));
    EXPECT_FALSE(fs::exists(folders.windir() / "REGEDIT.EXE"));

    fs::create_symlink(folders.root() / "old" / "klovreg", folders.windir() / "REGEDIT.EXE");
    script("reg.exe", "exit 0"); // a program of the user's own stays
    EXPECT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    EXPECT_EQ(fs::read_symlink(folders.windir() / "REGEDIT.EXE"), fs::path(KLOVREG_PATH));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folders.windir() / "reg.exe")));
    EXPECT_FALSE(fs::exists(folders.windir() / "REG.EXE"));
    EXPECT_EQ(registryToolPath(folders.windir()), folders.windir() / "reg.exe");
    EXPECT_TRUE(checkRegistryEditor(nullptr));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH)); // nothing to do
}

TEST_F(RegistryProgramsTest, TheWaitedRunKeepsTheProgramResponsiveUnderTheHourglass) {
    script("REGEDIT.EXE", "sleep 0.4\nprintf '%s|' \"$@\" > args.txt\npwd >> args.txt");
    bool fired = false;
    Qt::CursorShape during = Qt::ArrowCursor;
    QTimer::singleShot(50, [&] {
        fired = true;
        if (const QCursor* c = QApplication::overrideCursor())
            during = c->shape();
    });
    const ProcessRunner::Result r = RegistryProgramRunner::runEditorWaited(
        {QStringLiteral("/E"), QStringLiteral("/home/u/Undo\\20240102030405.reg"),
         QStringLiteral("HKEY_CURRENT_USER\\表 ソ")});
    EXPECT_TRUE(fired) << "no event was processed while the child ran";
    EXPECT_EQ(during, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(read(folders.windir() / "args.txt"),
              "/E|/home/u/Undo\\20240102030405.reg|HKEY_CURRENT_USER\\表 ソ|" +
                  fs::canonical(folders.windir()).string() + "\n");
}

TEST_F(RegistryProgramsTest, TheHourglassIsRestoredOnEveryWayOut) {
    try {
        const WaitCursor hourglass;
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        throw std::runtime_error("out");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // A registry editor that cannot start: the run ends at once, cursor restored.
    const ProcessRunner::Result r =
        RegistryProgramRunner::runEditorWaited({QStringLiteral("/S"), QStringLiteral("x.reg")});
    EXPECT_FALSE(r.started);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(RegistryProgramsTest, AShellRunReturnsAtOnceAndAFailingChildIsNotSilent) {
    script("REG.EXE", "sleep 0.3\necho 'klovreg: 書き出せません' >&2\nexit 1");
    const auto t0 = std::chrono::steady_clock::now();
    RegistryProgramRunner::runShell(nullptr, RegistryProgramRunner::Program::Tool,
                                    {QStringLiteral("EXPORT"), QStringLiteral("HKEY_CURRENT_USER"),
                                     QStringLiteral("a.reg"), QStringLiteral("/nt4")});
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dialogs.shown.empty());
    ASSERT_TRUE(waitUntil([] { return ChildWatcher::active() == 0; }));
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_TRUE(errors()[0].text.contains(QStringLiteral("Reg がエラーを報告しました。")));
    EXPECT_TRUE(errors()[0].text.contains(QStringLiteral("klovreg: 書き出せません")));

    // Done, declined by the user, or already reported: nothing more to say.
    for (const char* body : {"exit 0", "exit 4", "echo shown >&2; exit 5"}) {
        script("REGEDIT.EXE", body);
        RegistryProgramRunner::runShell(nullptr, RegistryProgramRunner::Program::Editor,
                                        {QStringLiteral("x.reg")});
        ASSERT_TRUE(waitUntil([] { return ChildWatcher::active() == 0; }));
        EXPECT_EQ(errors().size(), 1u) << body;
    }
    script("REGEDIT.EXE", "kill -9 $$");
    RegistryProgramRunner::runShell(nullptr, RegistryProgramRunner::Program::Editor, {});
    ASSERT_TRUE(waitUntil([] { return ChildWatcher::active() == 0; }));
    ASSERT_EQ(errors().size(), 2u);
    EXPECT_TRUE(errors()[1].text.contains(QStringLiteral("シグナル 9")));
    fs::remove(folders.windir() / "REGEDIT.EXE");
    RegistryProgramRunner::runShell(nullptr, RegistryProgramRunner::Program::Editor, {});
    ASSERT_TRUE(waitUntil([] { return ChildWatcher::active() == 0; }));
    ASSERT_EQ(errors().size(), 3u);
    EXPECT_TRUE(errors()[2].text.startsWith(QStringLiteral("Regedit.exe を起動できません。")));
}

TEST_F(RegistryProgramsTest, KlovregRunsAsTheRegistryEditorOfTheSystemFolder) {
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    fs::create_directories(folders.home() / "UNDO");
    const QString undo = QString::fromStdString(folders.home().string()) +
                         QStringLiteral("/Undo\\20240102030405.reg");
    const ProcessRunner::Result r = RegistryProgramRunner::runEditorWaited(
        {QStringLiteral("/E"), undo, QStringLiteral("HKEY_CURRENT_USER\\Software\\サンプル")});
    ASSERT_TRUE(r.succeeded()) << r.errorText;
    const std::string exported = read(folders.home() / "UNDO" / "20240102030405.reg");
    EXPECT_EQ(exported.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(exported.find(le("[HKEY_CURRENT_USER\\Software\\サンプル\\表計算ソフト\\設定]")),
              std::string::npos);

    const QString out = QString::fromStdString((folders.root() / "k.reg").string());
    RegistryProgramRunner::runShell(nullptr, RegistryProgramRunner::Program::Tool,
                                    {QStringLiteral("EXPORT"),
                                     QStringLiteral("HKEY_CURRENT_USER\\Software\\サンプル"), out,
                                     QStringLiteral("/nt4")});
    ASSERT_TRUE(waitUntil([] { return ChildWatcher::active() == 0; }));
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(read(folders.root() / "k.reg").substr(0, 10), "REGEDIT4\r\n");
}

// A key name holding a quote, blanks and Japanese text reaches klovreg whole: the key itself is
// exported, never its sibling "ab".
TEST_F(RegistryProgramsTest, KeyNamesReachTheRegistryProgramAsTheyAre) {
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    {
        TRegistry reg(Store::open(folders.storeFile()));
        ASSERT_TRUE(reg.OpenKey(sj("\\Software\\a\"b c 表"), true));
        reg.WriteString("mark", "quoted");
        ASSERT_TRUE(reg.OpenKey("\\Software\\ab", true));
        reg.WriteString("mark", "sibling");
    }
    const QString file = QString::fromStdString((folders.root() / "q.reg").string());
    const ProcessRunner::Result r = RegistryProgramRunner::runEditorWaited(
        {QStringLiteral("/E"), file, QStringLiteral("HKEY_CURRENT_USER\\Software\\a\"b c 表")});
    ASSERT_TRUE(r.succeeded()) << r.errorText;
    const std::string exported = read(folders.root() / "q.reg");
    EXPECT_NE(exported.find(le("[HKEY_CURRENT_USER\\Software\\a\"b c 表]")), std::string::npos);
    EXPECT_NE(exported.find(le("\"quoted\"")), std::string::npos);
    EXPECT_EQ(exported.find(le("sibling")), std::string::npos);
}

TEST_F(RegistryProgramsTest, AnOpenedFileIsImportedOnlyAfterTheUserAgrees) {
    const fs::path good = folders.root() / "good.reg";
    const fs::path bad = folders.root() / "bad.reg";
    std::ofstream(good, std::ios::binary)
        << cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\Agreed]\r\n");
    std::ofstream(bad, std::ios::binary)
        << cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\Bad]\r\n@=x\r\n");
    KlovregSetup setup;
    setup.systemFolder = folders.windir();
    std::string err;
    setup.out = [](std::string_view) {};
    setup.err = [&](std::string_view t) { err += t; };
    DialogKlovregUi ui;
    const QString caption = QStringLiteral("レジストリ エディタ");

    dialogs.answers = {MsgAnswer::No};
    EXPECT_EQ(KlovregCommand({good.string()}).run(setup, ui), kKlovregCancelled);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, caption);
    EXPECT_EQ(dialogs.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(
        dialogs.shown[0].text.startsWith(QString::fromStdString(good.string()) +
                                         QStringLiteral(" の情報をレジストリに追加しますか？")));
    auto store = Store::open(folders.storeFile());
    EXPECT_FALSE(keyAt(*store, HKCU, "Agreed"));

    dialogs.answers = {MsgAnswer::Yes};
    EXPECT_EQ(KlovregCommand({good.string()}).run(setup, ui), kKlovregDone);
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].icon, MsgIcon::Information);
    EXPECT_TRUE(dialogs.shown[2].text.endsWith(
        QStringLiteral(" の情報は正常にレジストリに入力されました。")));
    store->refresh();
    EXPECT_TRUE(keyAt(*store, HKCU, "Agreed"));

    dialogs.answers = {MsgAnswer::Yes};
    EXPECT_EQ(KlovregCommand({bad.string()}).run(setup, ui), kKlovregReported);
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(dialogs.shown[4].icon, MsgIcon::Error);
    EXPECT_TRUE(dialogs.shown[4].text.contains(QStringLiteral("（3 行目）")));
    EXPECT_TRUE(err.empty()) << err;
    store->refresh();
    EXPECT_FALSE(keyAt(*store, HKCU, "Bad"));

    // Keys that may not be written are named in the result box; the rest is imported.
    const fs::path part = folders.root() / "part.reg";
    std::ofstream(part, std::ios::binary)
        << cp932File("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\r\n"
                     "\"x\"=\"1\"\r\n[HKEY_CURRENT_USER\\Partly]\r\n");
    dialogs.answers = {MsgAnswer::Yes};
    EXPECT_EQ(KlovregCommand({part.string()}).run(setup, ui), kKlovregRefused);
    ASSERT_EQ(dialogs.shown.size(), 7u);
    EXPECT_EQ(dialogs.shown[6].icon, MsgIcon::Error);
    EXPECT_TRUE(dialogs.shown[6].text.contains(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum（3 行目）")))
        << dialogs.shown[6].text.toStdString();
    EXPECT_TRUE(err.empty()) << err;
    store->refresh();
    EXPECT_TRUE(keyAt(*store, HKCU, "Partly"));
}

} // namespace

namespace {

// What a watched child's end shows: nothing for the ends klovreg reported itself, the keys it
// could not write for a silent partial import, its error text otherwise.
TEST(ChildWatcherText, ShowsWhatTheUserHasNotSeenYet) {
    ProcessRunner::Result r;
    r.started = r.finished = true;
    const QString what = QStringLiteral("REGEDIT.EXE");
    for (int shown : {kKlovregDone, kKlovregCancelled, kKlovregReported}) {
        r.exitCode = shown;
        EXPECT_TRUE(ChildWatcher::failureText(r, what).isEmpty()) << shown;
    }
    r.exitCode = kKlovregRefused;
    EXPECT_TRUE(ChildWatcher::failureText(r, what).isEmpty()); // the result box was shown
    r.errorText = "klovreg: a.reg: HKEY_LOCAL_MACHINE\\RO（4 行目）: x\n";
    EXPECT_TRUE(ChildWatcher::failureText(r, what).contains(QStringLiteral("RO（4 行目）")));
    r.exitCode = kKlovregFailed;
    EXPECT_TRUE(ChildWatcher::failureText(r, what).startsWith(what));
}

} // namespace
