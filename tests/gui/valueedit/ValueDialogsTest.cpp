// The value editor dialogs through their handlers: the DWORD fields, the OK procedure's
// results, name clashes, refused writes and texts the registry cannot hold.
#include "core/platform/DriveMap.h"
#include "core/platform/Folders.h"
#include "gui/valueedit/DwordEdit.h"
#include "gui/valueedit/PathAssistant.h"
#include "gui/valueedit/StringEdit.h"
#include "gui/widgets/TextBridge.h"
#include "support/WindowTest.h"

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace klv;

namespace {

class ValueDialogsTest : public test::WindowTest {
protected:
    TForm1& frame() {
        if (!form)
            start();
        form->Edit1 = QStringLiteral("HKEY_CURRENT_USER\\Edited");
        form->Label3 = QStringLiteral("NO");
        return *form;
    }
    static TRegistry& key(TRegistry& reg) {
        EXPECT_TRUE(reg.OpenKeyForReading("\\Edited"));
        return reg;
    }
};

} // namespace

TEST_F(ValueDialogsTest, TheDwordFieldsFollowTheActiveOneAndOkWritesTheLow32Bits) {
    TForm1& f = frame();
    TDwordEdit d(f);
    d.setUp(true, QStringLiteral("(新規値)"), true);
    EXPECT_TRUE(d.windowTitle().contains(QStringLiteral("新規作成")));
    d.setData(QStringLiteral("0"));
    d.activate(1);
    d.Edit4->setText(QStringLiteral("ffffffff"));
    d.FieldChange(d.Edit4);
    EXPECT_EQ(d.Edit3->text(), QStringLiteral("4294967295"));
    EXPECT_EQ(d.Edit4->text(), QStringLiteral("FFFFFFFF"));
    EXPECT_EQ(d.Edit5->text(), QString(32, QLatin1Char('1')));
    d.activate(0);
    d.Edit3->setText(QString());
    d.FieldChange(d.Edit3);
    EXPECT_EQ(d.Edit3->text(), QStringLiteral("0"));
    d.Edit3->setText(QStringLiteral("4294967297"));
    d.FieldChange(d.Edit3);
    d.Edit1->setText(QStringLiteral("n"));
    d.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("YES"));
    EXPECT_EQ(f.Label2, QStringLiteral("4294967297"));
    EXPECT_EQ(f.Label5, QStringLiteral("n"));
    EXPECT_EQ(f.Label9, QStringLiteral("00000001"));
    TRegistry reg;
    EXPECT_EQ(key(reg).ReadDword("n"), 1u);

    // The same name again in new mode: the box, "No", and nothing written.
    TDwordEdit again(f);
    again.setUp(true, QStringLiteral("n"), true);
    again.setData(QStringLiteral("5"));
    again.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("No"));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("新規作成の中止"));
    EXPECT_EQ(key(reg).ReadDword("n"), 1u);

    // Edit mode without a change writes the same and commits nothing.
    TDwordEdit same(f);
    same.setUp(false, QStringLiteral("n"), true);
    same.setData(QStringLiteral("1"));
    f.Label3 = QStringLiteral("NO");
    same.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("NO"));
}

TEST_F(ValueDialogsTest, ARefusedWriteOrAnUnstorableTextCommitsNothing) {
    TForm1& f = frame();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.CreateKey("\\Edited"));
        ASSERT_TRUE(reg.OpenKey("\\Edited", false));
        reg.WriteString("s", "old");
    }
    TStringEdit d(f);
    d.setUp(false, QStringLiteral("s"), true);
    d.setData(QStringLiteral("old"));
    d.Edit3->setText(QStringLiteral("絵文字 \U0001F600")); // CP932 cannot hold it
    d.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("NO"));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("エラー"));
    TRegistry reg;
    EXPECT_EQ(key(reg).ReadText("s"), "old");

    {
        TRegistry locked;
        ASSERT_TRUE(locked.OpenKey("\\Edited", false));
        locked.store().setAccess(*locked.CurrentKeyId(), KeyAccess::ReadOnly);
    }
    TStringEdit refused(f);
    refused.setUp(false, QStringLiteral("s"), true);
    refused.Edit3->setText(QStringLiteral("new"));
    refused.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("NO"));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("エラー"));
    EXPECT_EQ(key(reg).ReadText("s"), "old");

    TStringEdit readOnly(f);
    readOnly.setUp(false, QStringLiteral("s"), false);
    EXPECT_TRUE(readOnly.Button1->isHidden());
}

TEST_F(ValueDialogsTest, MultiAndExpandableStringsWriteWhatTheirFieldsShow) {
    TForm1& f = frame();
    TMultiStringEdit m(f);
    m.setUp(true, QStringLiteral("(新規値)"), true);
    m.setData(QString());
    m.Memo1->setPlainText(QStringLiteral("一\n二\n"));
    m.Button1Click();
    EXPECT_EQ(f.Label3, QStringLiteral("YES"));
    EXPECT_EQ(f.Memo1, QStringLiteral("一\r\n二\r\n"));
    TRegistry reg;
    std::vector<std::string> lines;
    key(reg).ReadMultiText(toCp932(QStringLiteral("(新規値)")).value(), lines);
    ASSERT_EQ(lines.size(), 2u);

    qputenv("KLOVANTE_TEST_VAR", "value");
    TExpandStringEdit x(f);
    x.setUp(false, QStringLiteral("p"), true);
    x.setData(QStringLiteral("%KLOVANTE_TEST_VAR%\\bin;%KLOVANTE_TEST_VAR%"));
    x.Button3Click();
    EXPECT_EQ(x.Edit4->text(), QStringLiteral("value\\bin;value"));
    x.setData(QStringLiteral("no variables"));
    x.Button3Click();
    EXPECT_EQ(x.Edit4->text(), QStringLiteral("no variables"));
    qunsetenv("KLOVANTE_TEST_VAR");
}

TEST_F(ValueDialogsTest, TheFullPathAssistantQuotesAndNumbersTheChosenFile) {
    TForm1& f = frame();
    const auto folder = DriveMap(systemFolder()).folder('C');
    ASSERT_TRUE(folder);
    const auto icon = *folder / "icons" / "app.ico";
    std::filesystem::create_directories(icon.parent_path());
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(icon.string()), "ICO"));
    TStringEdit::setAssistantRunnerForTesting([&](TPathAssistant& a) {
        a.selectFile(QString::fromStdString(icon.string()));
        a.showIconsOf(QString::fromStdString(icon.string()));
        EXPECT_GE(a.IconList->count(), 1);
        a.IconList->setCurrentRow(0);
        a.CheckBox1->setChecked(true);
        a.CheckBox2->setChecked(true);
        return true;
    });
    TStringEdit d(f);
    d.setUp(false, QStringLiteral("s"), true);
    d.setData(QStringLiteral("old"));
    d.Button3Click();
    TStringEdit::setAssistantRunnerForTesting({});
    EXPECT_EQ(d.Edit3->text(), QStringLiteral("\"C:\\icons\\app.ico\",0"));
}
