// The registry printing dialog in both uses: the lines of the detailed form and of the
// registry-file form handed to the printing facility, the text file of the save form, its
// ranges, and cancel keeping what was gathered.
#include "gui/printing/RegPrintForm.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "gui/printing/TextPrintForm.h"
#include "support/WindowTest.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>

using namespace klv;
namespace fs = std::filesystem;

namespace {

class RegPrintFormTest : public test::WindowTest {
protected:
    RegPrintFormTest() {
        start();
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        EXPECT_TRUE(reg.OpenKey("\\Print\\Sub", true));
        reg.WriteInteger("Count", 255);
        reg.WriteString("", "x");
        reg.WriteString("Q", "a\"b\\c");
        reg.WriteExpandString("E", "%TEMP%\\x");
        reg.WriteMultiString("M", {"a", "b"});
        reg.WriteBinary("B", std::string_view());
        reg.WriteBinary("H", std::string_view("\x01\xAB", 2));
        reg.WriteString(sj("名前"), sj("値"));
        form->Edit1 = QStringLiteral("HKEY_CURRENT_USER\\Print");
        // The facility is answered here instead of a user; it records what it was given.
        TTextPrintForm::setRunnerForTesting([this](TTextPrintForm& f) {
            printed = f.lines();
            return 1;
        });
    }
    ~RegPrintFormTest() override { TTextPrintForm::setRunnerForTesting({}); }

    static std::string fileBytes(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    QStringList printed;
};

} // namespace

TEST_F(RegPrintFormTest, TheDetailedFormPrintsEveryKindOfValue) {
    TRegPrintForm d(*form, TRegPrintForm::Use::Print);
    EXPECT_EQ(d.windowTitle(), QStringLiteral(" レジストリの印刷"));
    EXPECT_EQ(d.GroupBox1->title(), QStringLiteral("印刷範囲"));
    EXPECT_EQ(d.Button1->text(), QStringLiteral("印刷(&P)"));
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("詳細印刷"));
    EXPECT_EQ(d.Edit1->text(), QStringLiteral("HKEY_CURRENT_USER\\Print"));
    d.Button1Click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    const QStringList expected{QString(), QStringLiteral("[HKEY_CURRENT_USER\\Print]"), QString(),
                               QStringLiteral("[HKEY_CURRENT_USER\\Print\\Sub]")};
    ASSERT_GE(printed.size(), 4);
    EXPECT_EQ(printed.mid(0, 4), expected);
    EXPECT_TRUE(printed.contains(QStringLiteral("Count=255 (0x000000FF)")));
    EXPECT_TRUE(printed.contains(QStringLiteral("@=\"x\"")));
    EXPECT_TRUE(printed.contains(QStringLiteral("Q=\"a\"b\\c\"")));
    EXPECT_TRUE(printed.contains(QStringLiteral("E=%TEMP%\\x")));
    EXPECT_TRUE(printed.contains(QStringLiteral("B=")));
    EXPECT_TRUE(printed.contains(QStringLiteral("H=01 AB ")));
    EXPECT_TRUE(printed.contains(QStringLiteral("名前=\"値\"")));
    const qsizetype m = printed.indexOf(QStringLiteral("M= (2行のマルチ文字列)"));
    ASSERT_GE(m, 0);
    EXPECT_EQ(printed.mid(m + 1, 2), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(d.lines(), printed);
}

TEST_F(RegPrintFormTest, RangesShowTheirOwnControlAndListTheirPart) {
    TRegPrintForm d(*form, TRegPrintForm::Use::Print);
    d.show();
    EXPECT_TRUE(d.Edit1->isVisible());
    EXPECT_FALSE(d.ComboBox2->isVisible());
    EXPECT_EQ(d.ComboBox2->count(), 5); // the NT family: no HKEY_DYN_DATA
    d.RadioButton3->setChecked(true);
    d.RangeClick();
    EXPECT_FALSE(d.Edit1->isVisible());
    EXPECT_FALSE(d.SpeedButton1->isVisible());
    EXPECT_TRUE(d.ComboBox2->isVisible());
    d.ComboBox2->setCurrentIndex(1); // HKEY_CURRENT_USER, with its own values first
    d.Button1Click();
    ASSERT_GE(printed.size(), 2);
    EXPECT_EQ(printed[1], QStringLiteral("[HKEY_CURRENT_USER\\]"));
    EXPECT_TRUE(printed.contains(QStringLiteral("[HKEY_CURRENT_USER\\Print\\Sub]")));
    EXPECT_FALSE(printed.contains(QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE]")));

    // Six roots on the frame: HKEY_DYN_DATA last.
    form->Label21 = QStringLiteral("5");
    TRegPrintForm six(*form, TRegPrintForm::Use::Print);
    EXPECT_EQ(six.ComboBox2->count(), 6);
    EXPECT_EQ(six.ComboBox2->itemText(5), QStringLiteral("HKEY_DYN_DATA"));

    // The whole registry: no line for the roots themselves.
    TRegPrintForm all(*form, TRegPrintForm::Use::Print);
    all.RadioButton1->setChecked(true);
    all.RangeClick();
    all.Button1Click();
    EXPECT_TRUE(printed.contains(QStringLiteral("[HKEY_CURRENT_USER\\Print]")));
    EXPECT_FALSE(printed.contains(QStringLiteral("[HKEY_CURRENT_USER\\]")));
}

TEST_F(RegPrintFormTest, AMissingKeyIsToldAndTheDialogStaysOpen) {
    TRegPrintForm d(*form, TRegPrintForm::Use::Print);
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\NotThere"));
    d.Button1Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("指定されたレジストリキーは存在しません。"));
    EXPECT_TRUE(printed.isEmpty());
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.Button1->isEnabled());
}

TEST_F(RegPrintFormTest, CancelWhileListingPrintsTheLinesGatheredSoFar) {
    TRegistry reg;
    reg.RootKey(HKEY_CURRENT_USER_H);
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(reg.OpenKey("\\Many\\K" + std::to_string(i), true));
        reg.WriteInteger("v", i);
    }
    TRegPrintForm d(*form, TRegPrintForm::Use::Print);
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Many"));
    d.show();
    // Pressed from the event loop while the lines are built, as a user would.
    bool panelShown = false;
    QTimer::singleShot(0, &d, [&] {
        panelShown = d.Panel1->isVisible();
        d.Button3Click();
    });
    d.Button1Click();
    EXPECT_TRUE(panelShown);
    EXPECT_FALSE(d.Panel1->isVisible());
    ASSERT_FALSE(printed.isEmpty());
    EXPECT_EQ(printed[1], QStringLiteral("[HKEY_CURRENT_USER\\Many]"));
    EXPECT_LT(printed.size(), 100);
}

TEST_F(RegPrintFormTest, TheRegistryFileFormPrintsWhatTheRegistryEditorExported) {
    ASSERT_TRUE(ensureRegistryPrograms(systemFolder(), KLOVREG_PATH));
    TRegPrintForm d(*form, TRegPrintForm::Use::Print);
    d.ComboBox1->setCurrentIndex(0);
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Print\\Sub"));
    d.Button1Click();
    ASSERT_FALSE(printed.isEmpty())
        << (dialogs.shown.empty() ? QString() : dialogs.shown[0].text).toStdString();
    EXPECT_EQ(printed[0], QStringLiteral("Windows Registry Editor Version 5.00"));
    EXPECT_TRUE(printed.contains(QStringLiteral("[HKEY_CURRENT_USER\\Print\\Sub]")));
    EXPECT_TRUE(printed.contains(QStringLiteral("\"名前\"=\"値\"")));
    EXPECT_TRUE(printed.contains(QStringLiteral("\"Count\"=dword:000000ff")));
}

TEST_F(RegPrintFormTest, TheSaveFormWritesTheListingAsText) {
    TRegPrintForm d(*form, TRegPrintForm::Use::Save);
    EXPECT_EQ(d.windowTitle(), QStringLiteral(" レジストリデータを詳細なテキストで書き出し"));
    EXPECT_EQ(d.GroupBox1->title(), QStringLiteral("保存範囲"));
    EXPECT_EQ(d.Button1->text(), QStringLiteral("保存(&S)"));
    d.show();
    EXPECT_FALSE(d.ComboBox1->isVisible());
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Print\\Sub"));
    const fs::path file = folders.home() / "listing";
    dialogs.fileNames.push_back(QString::fromStdString(file.string()));
    d.Button1Click();
    EXPECT_TRUE(printed.isEmpty()); // saved, not printed
    const std::string text = fileBytes(folders.home() / "listing.TXT");
    EXPECT_EQ(text.substr(0, 33), "\r\n[HKEY_CURRENT_USER\\Print\\Sub]\r\n");
    EXPECT_NE(text.find("M= (" + sj("2行のマルチ文字列") + ")\r\na\r\nb\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(text.find(sj("名前=\"値\"\r\n")), std::string::npos);

    // A file that cannot be written is told and asked again; cancel then ends it.
    TRegPrintForm again(*form, TRegPrintForm::Use::Save);
    dialogs.fileNames.push_back(QStringLiteral("/nonexistent-folder/x.txt"));
    dialogs.shown.clear();
    again.Button1Click();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(again.result(), QDialog::Accepted);
}
