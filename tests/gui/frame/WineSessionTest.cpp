// The program on a Wine prefix: the frame's save points write the prefix's files back, asking
// while Wine runs; another prefix opens in a new instance of the program.
#include "gui/frame/WineSession.h"
#include "core/registry/Registry.h"
#include "gui/editor/Regform.h"
#include "support/WindowTest.h"
#include "support/WineTestPrefix.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <filesystem>
#include <functional>

using namespace klv;
namespace fs = std::filesystem;

namespace {

const QString kAgain = QStringLiteral("\n\nもう一度確認しますか?");

// Lets a test act while a box is up (Wine ends while the user reads the question). A question
// the test did not expect is answered No, so that asking again and again ends.
class HookedDialogs : public test::FakeDialogs {
public:
    std::function<void()> beforeAnswer;
    MsgAnswer message(QWidget* parent, const QString& caption, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override {
        if (beforeAnswer)
            beforeAnswer();
        if (answers.empty() && buttons == MsgButtons::YesNo)
            answers.push_back(MsgAnswer::No);
        return FakeDialogs::message(parent, caption, text, icon, buttons);
    }
};

class WineSessionTest : public test::WindowTest {
protected:
    fs::path prefix = folders.root() / "prefix";
    fs::path servers = folders.root() / "servers";
    HookedDialogs hooked; // answers every box of the test

    WineSessionTest() {
        test::writeMinimalPrefix(prefix);
        setenv("KLOVANTE_WINE_SERVER_ROOT", servers.c_str(), 1);
    }
    ~WineSessionTest() override {
        WineSession::setLauncherForTesting(nullptr);
        form.reset();
        session.reset();
        unsetenv("KLOVANTE_WINE_SERVER_ROOT");
    }

    TForm1& startOnPrefix() {
        session = std::make_unique<WineSession>(prefix);
        return start();
    }
    // A value written through the registry layer, as an editor window writes it.
    static void change(const char* name) {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.OpenKey("Software\\Wine", true));
        reg.WriteString(name, "1");
    }
    static bool holds(const std::string& file, const char* name) {
        return file.find("\"" + std::string(name) + "\"=\"1\"") != std::string::npos;
    }
    std::string userReg() const { return test::fileBytes(prefix / "user.reg"); }
    static QString text(const fs::path& p) { return QString::fromStdString(p.string()); }

    std::unique_ptr<WineSession> session;
};

QMenu* registryMenu(TRegform& w) {
    for (QMenu* m : w.menus())
        if (m->objectName() == QStringLiteral("RegistryMenu"))
            return m;
    return nullptr;
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void closeWindows() {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

} // namespace

TEST_F(WineSessionTest, TheFrameShowsThePrefixAndOffersItsCommandsInEveryRegistryMenu) {
    TForm1& f = startOnPrefix();
    EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("Quimbo Registry Editor - Wine: ") +
                                           text(prefix)))
        << f.windowTitle().toStdString();
    QAction* open = f.findAction(QStringLiteral("WineOpen"));
    QAction* writeBack = f.findAction(QStringLiteral("WineWriteBack"));
    ASSERT_TRUE(open && writeBack);
    EXPECT_TRUE(open->isEnabled());
    EXPECT_TRUE(writeBack->isEnabled());

    // The editor window's menus replace the frame's: its registry menu carries the same items,
    // in their own group before "Exit".
    ASSERT_EQ(f.editorWindows().size(), 1u);
    QMenu* menu = registryMenu(*f.editorWindows().front());
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();
    qsizetype exit = -1;
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items[i]->objectName() == QStringLiteral("Exit"))
            exit = i;
    ASSERT_GE(exit, 4);
    EXPECT_TRUE(items[exit - 1]->isSeparator());
    EXPECT_EQ(items[exit - 2], writeBack);
    EXPECT_EQ(items[exit - 3], open);
    EXPECT_TRUE(items[exit - 4]->isSeparator());
    f.N1Click();
    ASSERT_EQ(f.editorWindows().size(), 2u);
    EXPECT_EQ(registryMenu(*f.editorWindows().front())->actions().count(open), 1);

    // The windows work on the prefix's registry, and opening it changed nothing there.
    TRegistry reg;
    reg.RootKey(HKEY_CURRENT_USER_H);
    EXPECT_TRUE(reg.KeyPresent("Software\\Wine\\Explorer"));
    EXPECT_TRUE(session->prefix().changedFiles().empty());
    EXPECT_TRUE(hooked.shown.empty());

    // Without a prefix the title is the program's and there is nothing to write back.
    form.reset();
    session.reset();
    Store::resetShared();
    EXPECT_EQ(environment("KLOVANTE_HOME"), folders.home().string());
    TForm1& plain = start();
    EXPECT_EQ(plain.windowTitle(), QStringLiteral("Quimbo Registry Editor"));
    EXPECT_FALSE(plain.findAction(QStringLiteral("WineWriteBack"))->isEnabled());
    EXPECT_TRUE(plain.findAction(QStringLiteral("WineOpen"))->isEnabled());
}

TEST_F(WineSessionTest, TheCommandAsksWhileWineRunsAndWritesOnceItHasEnded) {
    TForm1& f = startOnPrefix();
    change("FromCommand");
    test::FakeWineServer server(servers, prefix);
    int asked = 0;
    hooked.beforeAnswer = [&] {
        if (++asked == 2)
            server.stop();
    };
    hooked.answers = {MsgAnswer::Yes, MsgAnswer::Yes};
    f.findAction(QStringLiteral("WineWriteBack"))->trigger();

    ASSERT_EQ(hooked.shown.size(), 2u); // asked, looked again while Wine ran, asked again
    for (const test::ShownMessage& m : hooked.shown) {
        EXPECT_EQ(m.icon, MsgIcon::Question);
        EXPECT_EQ(m.buttons, MsgButtons::YesNo);
        EXPECT_TRUE(m.text.contains(QStringLiteral("wineserver"))) << m.text.toStdString();
        EXPECT_TRUE(m.text.contains(QStringLiteral("次に書き戻すときに書き込まれます")));
        EXPECT_TRUE(m.text.endsWith(kAgain)) << m.text.toStdString();
    }
    EXPECT_TRUE(holds(userReg(), "FromCommand"));

    // Nothing left to write: nothing is shown.
    f.WineWriteBackClick();
    EXPECT_EQ(hooked.shown.size(), 2u);
}

TEST_F(WineSessionTest, AnsweringNoKeepsTheChangeInTheStoreForTheNextSavePoint) {
    TForm1& f = startOnPrefix();
    const std::string before = userReg();
    change("Kept");
    {
        test::FakeWineServer server(servers, prefix);
        hooked.answers = {MsgAnswer::No};
        f.WineWriteBackClick();
        ASSERT_EQ(hooked.shown.size(), 1u);
        EXPECT_EQ(userReg(), before);
        EXPECT_EQ(session->prefix().changedFiles(), std::vector<std::string>{"user.reg"});
    }
    // Wine has ended: the next save point writes without a word.
    f.WineWriteBackClick();
    EXPECT_EQ(hooked.shown.size(), 1u);
    EXPECT_TRUE(holds(userReg(), "Kept"));
    EXPECT_TRUE(session->prefix().changedFiles().empty());
}

TEST_F(WineSessionTest, ClosingAnEditorWindowWritesBack) {
    TForm1& f = startOnPrefix();
    const std::string system = test::fileBytes(prefix / "system.reg");
    change("FromEditor");
    f.editorWindows().front()->parentWidget()->close();
    closeWindows();
    EXPECT_TRUE(f.editorWindows().empty());
    EXPECT_TRUE(holds(userReg(), "FromEditor"));
    EXPECT_EQ(test::fileBytes(prefix / "system.reg"), system);
    EXPECT_TRUE(hooked.shown.empty());
}

// Closing the frame closes every window first and writes back once; a refusal the user does
// not retry does not keep the program open.
TEST_F(WineSessionTest, ExitWritesBackOnceAndARefusalDoesNotBlockIt) {
    TForm1& f = startOnPrefix();
    f.N1Click();
    ASSERT_EQ(f.editorWindows().size(), 2u);
    const std::string before = userReg();
    change("AtExit");
    {
        test::FakeWineServer server(servers, prefix);
        hooked.answers = {MsgAnswer::No};
        f.ExitClick();
        closeWindows();
    }
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(hooked.shown.size(), 1u);
    EXPECT_TRUE(hooked.shown[0].text.contains(QStringLiteral("--write-back")));
    EXPECT_TRUE(hooked.shown[0].text.endsWith(kAgain));
    EXPECT_EQ(userReg(), before);

    // The next run on the prefix writes it back when it ends.
    form.reset();
    TForm1& again = start();
    again.ExitClick();
    closeWindows();
    EXPECT_FALSE(again.isVisible());
    EXPECT_EQ(hooked.shown.size(), 1u);
    EXPECT_TRUE(holds(userReg(), "AtExit"));
}

TEST_F(WineSessionTest, OpenPrefixStartsANewInstanceOrRefusesAFolderWithoutSystemReg) {
    TForm1& f = startOnPrefix();
    struct Launch {
        QString program;
        QStringList arguments;
        QProcessEnvironment environment;
    };
    std::vector<Launch> launched;
    bool starts = true;
    WineSession::setLauncherForTesting(
        [&](const QString& p, const QStringList& a, const QProcessEnvironment& e) {
            launched.push_back({p, a, e});
            return starts;
        });

    const fs::path plain = folders.root() / "plain";
    fs::create_directories(plain);
    hooked.folders = {text(plain)};
    f.findAction(QStringLiteral("WineOpen"))->trigger();
    EXPECT_EQ(hooked.asked.back(), QStringLiteral("Wine プレフィックスを開く"));
    EXPECT_TRUE(launched.empty());
    ASSERT_EQ(hooked.shown.size(), 1u);
    EXPECT_EQ(hooked.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(
        hooked.shown[0].text,
        text(plain) +
            QStringLiteral(" は Wine のプレフィックスではありません（system.reg がありません）"));

    f.WineOpenClick(); // cancelled
    EXPECT_TRUE(launched.empty());
    EXPECT_EQ(hooked.shown.size(), 1u);

    // The new instance makes its prefix folder below the user's own program folder, not below
    // the prefix this one has open.
    const fs::path other = folders.root() / "other";
    test::writeMinimalPrefix(other);
    hooked.folders = {text(other)};
    f.WineOpenClick();
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].program, QCoreApplication::applicationFilePath());
    EXPECT_EQ(launched[0].arguments, (QStringList{QStringLiteral("--wine-prefix"), text(other)}));
    EXPECT_EQ(launched[0].environment.value(QStringLiteral("KLOVANTE_HOME")), text(folders.home()));
    EXPECT_EQ(launched[0].environment.value(QStringLiteral("KLOVANTE_WINDIR")),
              text(folders.windir()));
    EXPECT_EQ(hooked.shown.size(), 1u);

    starts = false;
    hooked.folders = {text(other)};
    f.WineOpenClick();
    ASSERT_EQ(hooked.shown.size(), 2u);
    EXPECT_EQ(hooked.shown[1].icon, MsgIcon::Error);
}

TEST_F(WineSessionTest, OpeningSaysWhatWentWrongAndWhatItFound) {
    const fs::path plain = folders.root() / "plain";
    fs::create_directories(plain);
    EXPECT_EQ(WineSession::open(text(plain)), nullptr);
    ASSERT_EQ(hooked.shown.size(), 1u);
    EXPECT_TRUE(hooked.shown[0].text.contains(QStringLiteral("system.reg がありません")));
    EXPECT_EQ(WineSession::current(), nullptr);
    EXPECT_EQ(environment("KLOVANTE_HOME"), folders.home().string());

    // A change not written back to a file that Wine rewrote meanwhile is kept aside, and the
    // next opening says where.
    session = WineSession::open(text(prefix));
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(WineSession::current(), session.get());
    EXPECT_TRUE(session->notesText().isEmpty());
    change("Unsaved");
    session.reset();
    Store::resetShared();
    std::ofstream(prefix / "user.reg", std::ios::app) << "\n[Software\\\\Wine\\\\New] 1700000000\n";
    session = WineSession::open(text(prefix));
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->notesText().contains(QStringLiteral("user.reg")))
        << session->notesText().toStdString();
    EXPECT_TRUE(session->notesText().contains(QStringLiteral(".unsaved")));
    EXPECT_EQ(hooked.shown.size(), 1u);
}
