#include "gui/options/OptionsForm.h"

#include "core/settings/OptionRules.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogButtons.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/HelpFile.h"
#include "gui/widgets/TextBridge.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace klv {
namespace {

const QString kResetCaption = QStringLiteral("初期化の確認");

QCheckBox* check(QWidget* parent, const char* caption, const char* name) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QComboBox* list(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    for (const char* item : items)
        box->addItem(QString::fromUtf8(item));
    return box;
}

// A labelled row of the binary page: label, list, and an optional unit after it.
void addListRow(QGridLayout* grid, int row, const char* caption, QComboBox* box,
                const char* unit = nullptr) {
    auto* label = new QLabel(QString::fromUtf8(caption));
    label->setBuddy(box);
    grid->addWidget(label, row, 0);
    grid->addWidget(box, row, 1);
    if (unit)
        grid->addWidget(new QLabel(QString::fromUtf8(unit)), row, 2);
}

// Selects the list entry whose text starts with the number; none when no entry does.
void selectSize(QComboBox* box, int size) {
    const QString prefix = QString::number(size) + QLatin1Char(' ');
    box->setCurrentIndex(-1);
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).startsWith(prefix))
            box->setCurrentIndex(i);
}

void selectIndex(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

} // namespace

TOptionsForm::TOptionsForm(const std::filesystem::path& settingsFile, Page page, QToolBar* toolBar,
                           QWidget* parent)
    : QDialog(parent), settings_(std::make_unique<SettingsFile>(settingsFile)), page_(page) {
    setWindowTitle(QStringLiteral("オプション設定"));
    setObjectName(QStringLiteral("OptionsForm"));
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(buildOptionPage(), QStringLiteral("オプション"));
    PageControl1->addTab(buildHolderPage(), QStringLiteral("バリューホルダー"));
    PageControl1->addTab(buildBinaryPage(), QStringLiteral("バイナリエディタ"));
    PageControl1->addTab(buildShortcutPage(), QStringLiteral("ショートカットキー"));
    PageControl1->addTab(buildToolbarPage(toolBar), QStringLiteral("ツールバー"));
    PageControl1->addTab(buildSetupPage(), QStringLiteral("セットアップ"));

    const OkCancelRow row = makeOkCancelRow(this);
    Button1 = row.ok;
    Button2 = row.cancel;
    Button3 = new QPushButton(QStringLiteral("ヘルプ(&H)"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button4 = new QPushButton(QStringLiteral("標準に戻す(&D)"), this);
    Button4->setObjectName(QStringLiteral("Button4"));
    row.layout->insertWidget(0, Button4);
    row.layout->addWidget(Button3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(row.layout);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    loadSettings();
    PageControl1->setCurrentIndex(0);
    resize(std::max(sizeHint().width(), 680), 500); // all six tabs in view
}

TOptionsForm::~TOptionsForm() = default;

bool TOptionsForm::run(const std::filesystem::path& settingsFile, Page page, QToolBar* toolBar,
                       QWidget* parent) {
    TOptionsForm form(settingsFile, page, toolBar, parent);
    return form.exec() == QDialog::Accepted;
}

QWidget* TOptionsForm::buildOptionPage() {
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral("設定"), page);
    auto* checks = new QVBoxLayout(group);
    CheckBox1 = check(group, "起動時にレジストリ編集画面を表示(&E)...", "CheckBox1");
    CheckBox2 = check(group, "前回終了時のレジストリキーにアクセスして起動(&A)...", "CheckBox2");
    CheckBox3 = check(group, "終了時の状態を保存(&S)", "CheckBox3");
    CheckBox4 = check(group, "常に読み取り専用で起動(&R)", "CheckBox4");
    CheckBox5 = check(group, "QB スクリプトの実行を禁止(&K)", "CheckBox5");
    CheckBox6 =
        check(group, "時間がかかるツリーの展開時に「アクセスしています」メッセージを表示(&M)",
              "CheckBox6");
    CheckBox7 = check(group,
                      "［レジストリの変更箇所の追跡］で再検証をする前に、データを保存するか否かを"
                      "問う(&Q)",
                      "CheckBox7");
    CheckBox8 = check(group, "ユーザー指定のレジストリキーアイコンを使用する(&Y)", "CheckBox8");
    for (QCheckBox* c :
         {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8})
        checks->addWidget(c);

    auto* history = new QGroupBox(QStringLiteral("履歴の最大保管数"), page);
    auto* grid = new QGridLayout(history);
    const std::array<const char*, 4> captions = {"お気に入り(&F)", "元に戻す(&U)",
                                                 "アクセス履歴(&T)", "アドレス(&D)"};
    std::array<QSpinBox**, 4> spins = {&SpinEdit1, &SpinEdit2, &SpinEdit3, &SpinEdit4};
    for (int i = 0; i < 4; ++i) {
        auto* spin = new QSpinBox(history);
        spin->setObjectName(QStringLiteral("SpinEdit%1").arg(i + 1));
        spin->setRange(0, kHistoryLimitMax);
        auto* label = new QLabel(QString::fromUtf8(captions[i]), history);
        label->setBuddy(spin);
        grid->addWidget(label, i / 2, (i % 2) * 2);
        grid->addWidget(spin, i / 2, (i % 2) * 2 + 1);
        *spins[i] = spin;
    }
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addWidget(history);
    layout->addStretch(1);
    return page;
}

QWidget* TOptionsForm::buildHolderPage() {
    auto* page = new QWidget;
    ComboBox1 = list(page, "ComboBox1", {"クリップボード互換", "保管目的"});
    auto* mode = new QLabel(QStringLiteral("動作モード(&M) : "), page);
    mode->setBuddy(ComboBox1);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(mode);
    modeRow->addWidget(ComboBox1);
    modeRow->addStretch(1);
    auto* group = new QGroupBox(QStringLiteral("記録項目の選択"), page);
    auto* checks = new QVBoxLayout(group);
    CheckBox9 = check(group, "保管日時(&T)", "CheckBox9");
    CheckBox10 = check(group, "保管場所(&A)", "CheckBox10");
    checks->addWidget(CheckBox9);
    checks->addWidget(CheckBox10);
    CheckBox11 = check(page, "バリューホルダーのデータを保存・復元する(&F)", "CheckBox11");
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(modeRow);
    layout->addWidget(group);
    layout->addWidget(CheckBox11);
    layout->addStretch(1);
    return page;
}

QWidget* TOptionsForm::buildBinaryPage() {
    auto* page = new QWidget;
    ComboBox2 = list(page, "ComboBox2", {"8 バイト", "16 バイト", "32 バイト", "64 バイト"});
    ComboBox3 = list(page, "ComboBox3", {"1 バイト", "2 バイト", "4 バイト"});
    ComboBox4 = list(page, "ComboBox4", {"□", "|", "＿"});
    ComboBox5 = list(page, "ComboBox5", {"16 進数", "10 進数", "8 進数"});
    ComboBox6 =
        list(page, "ComboBox6", {"Ansi", "DOS 8Bit", "ASCII 7Bit", "Mac", "IBM EBCDIC CP38"});
    auto* grid = new QGridLayout;
    addListRow(grid, 0, "ラインサイズ(&L) : ", ComboBox2, "／１行");
    addListRow(grid, 1, "カラム幅(&K) : ", ComboBox3, "／１カラム");
    addListRow(grid, 2, "カーソルの形状(&C) : ", ComboBox4);
    addListRow(grid, 3, "オフセットの表示(&O) : ", ComboBox5);
    addListRow(grid, 4, "文字列のフォーマット(&F) : ", ComboBox6);
    grid->setColumnStretch(3, 1);
    auto* group = new QGroupBox(QStringLiteral("表示"), page);
    auto* checks = new QVBoxLayout(group);
    CheckBox12 = check(group, "グリッド(&G)", "CheckBox12");
    CheckBox13 = check(group, "空白のマスク(&S)", "CheckBox13");
    CheckBox14 = check(group, "読みとり専用(&R)", "CheckBox14");
    checks->addWidget(CheckBox12);
    checks->addWidget(CheckBox13);
    checks->addWidget(CheckBox14);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(grid);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

void TOptionsForm::loadSettings() {
    const SettingsFile& s = *settings_;
    const std::array<QCheckBox*, 8> checks = {CheckBox1, CheckBox2, CheckBox3, CheckBox4,
                                              CheckBox5, CheckBox6, CheckBox7, CheckBox8};
    for (std::size_t i = 0; i < checks.size(); ++i)
        checks[i]->setChecked(
            s.readBool(kOptionChecks[i].section, kOptionChecks[i].key, kOptionChecks[i].def));
    const std::array<QSpinBox*, 4> spins = {SpinEdit1, SpinEdit2, SpinEdit3, SpinEdit4};
    for (std::size_t i = 0; i < spins.size(); ++i)
        spins[i]->setValue(
            s.readInt(kHistoryLimits[i].section, kHistoryLimits[i].key, kHistoryLimits[i].def));

    selectIndex(ComboBox1, s.readInt("VH", "MODE", 0));
    CheckBox9->setChecked(s.readBool("VH", "DATE", true));
    CheckBox10->setChecked(s.readBool("VH", "ADD", true));
    CheckBox11->setChecked(s.readBool("VH", "SAVE", true));

    selectSize(ComboBox2, s.readInt("BINARY", "LINESIZE", 8));
    selectSize(ComboBox3, s.readInt("BINARY", "COLUMNSIZE", 1));
    selectIndex(ComboBox4, s.readInt("BINARY", "STYLE", 1));
    selectIndex(ComboBox5, s.readInt("BINARY", "DISPLAY", 0));
    selectIndex(ComboBox6, s.readInt("BINARY", "TRANS", 0));
    CheckBox12->setChecked(s.readInt("BINARY", "GRID", 0) != 0);
    CheckBox13->setChecked(s.readBool("BINARY", "MASK", true));
    CheckBox14->setChecked(s.readBool("BINARY", "READONLY", false));

    CheckBox15->setChecked(s.readBool("OPTION", "SHORTCUT", false));
    CheckBox16->setChecked(s.readBool("OPTION", "TOOLBAR", false));
}

void TOptionsForm::Button1Click() {
    SettingsFile& s = *settings_;
    try {
        const std::array<QCheckBox*, 8> checks = {CheckBox1, CheckBox2, CheckBox3, CheckBox4,
                                                  CheckBox5, CheckBox6, CheckBox7, CheckBox8};
        for (std::size_t i = 0; i < checks.size(); ++i)
            s.writeBool(kOptionChecks[i].section, kOptionChecks[i].key, checks[i]->isChecked());
        const std::array<QSpinBox*, 4> spins = {SpinEdit1, SpinEdit2, SpinEdit3, SpinEdit4};
        for (std::size_t i = 0; i < spins.size(); ++i)
            s.writeInt(kHistoryLimits[i].section, kHistoryLimits[i].key, spins[i]->value());

        s.writeInt("VH", "MODE", ComboBox1->currentIndex());
        s.writeBool("VH", "DATE", CheckBox9->isChecked());
        s.writeBool("VH", "ADD", CheckBox10->isChecked());
        s.writeBool("VH", "SAVE", CheckBox11->isChecked());

        // A size list left without a selection keeps the value it could not show, rather than
        // writing an empty text that would read back as the default.
        if (ComboBox2->currentIndex() >= 0)
            s.writeInt("BINARY", "LINESIZE", ComboBox2->currentText().left(2).trimmed().toInt());
        if (ComboBox3->currentIndex() >= 0)
            s.writeInt("BINARY", "COLUMNSIZE", ComboBox3->currentText().left(1).toInt());
        s.writeInt("BINARY", "STYLE", ComboBox4->currentIndex());
        s.writeInt("BINARY", "DISPLAY", ComboBox5->currentIndex());
        s.writeInt("BINARY", "TRANS", ComboBox6->currentIndex());
        s.writeInt("BINARY", "GRID", CheckBox12->isChecked() ? 1 : 0);
        s.writeBool("BINARY", "MASK", CheckBox13->isChecked());
        s.writeBool("BINARY", "READONLY", CheckBox14->isChecked());

        s.writeBool("OPTION", "SHORTCUT", CheckBox15->isChecked());
        s.writeBool("OPTION", "TOOLBAR", CheckBox16->isChecked());
    } catch (const std::exception& e) {
        // The dialog stays open so that nothing the user set is lost.
        showError(this, toQString(e.what()));
        return;
    }
    accept();
}

void TOptionsForm::Button3Click() {
    static constexpr std::array<int, 6> topics = {34, 11, 30, 7, 87, 21};
    const int tab = PageControl1->currentIndex();
    if (tab >= 0 && tab < static_cast<int>(topics.size()))
        showHelpTopic(this, topics[static_cast<std::size_t>(tab)]);
}

void TOptionsForm::Button4Click() {
    try {
        switch (page_) {
        case Page::None:
            return;
        case Page::ValueHolder:
            if (askYesNo(this, kResetCaption,
                         QStringLiteral("［バリューホルダーの動作］の設定を破棄し、すべて標準値に"
                                        "戻します。よろしいですか。")))
                resetHolderPage();
            return;
        case Page::BinaryEditor:
            if (askYesNo(this, kResetCaption,
                         QStringLiteral("［バイナリエディタの表示］の設定を破棄し、すべて標準値に"
                                        "戻します。よろしいですか。")))
                resetBinaryPage();
            return;
        case Page::Shortcuts:
            if (askYesNo(this, kResetCaption,
                         QStringLiteral("ショートカットのカスタマイズ設定を破棄します。よろしいで"
                                        "すか。"))) {
                settings_->eraseSection("SHORTCUT");
                CheckBox15->setChecked(false);
                ListBox1Click();
            }
            return;
        case Page::Toolbar:
            if (askYesNo(
                    this, kResetCaption,
                    QStringLiteral("ツールバーのカスタマイズ設定を破棄します。よろしいですか。"))) {
                CheckBox16->setChecked(false);
                settings_->eraseSection("TOOLBAR");
            }
            return;
        }
    } catch (const std::exception& e) {
        showError(this, toQString(e.what()));
    }
}

void TOptionsForm::resetHolderPage() {
    ComboBox1->setCurrentIndex(0);
    CheckBox9->setChecked(true);
    CheckBox10->setChecked(true);
    CheckBox11->setChecked(true);
}

void TOptionsForm::resetBinaryPage() {
    ComboBox2->setCurrentIndex(0);
    ComboBox3->setCurrentIndex(0);
    ComboBox4->setCurrentIndex(1);
    ComboBox5->setCurrentIndex(0);
    ComboBox6->setCurrentIndex(0);
    CheckBox12->setChecked(false);
    CheckBox13->setChecked(true);
    CheckBox14->setChecked(false);
}

} // namespace klv
