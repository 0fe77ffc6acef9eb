// The options dialog's shortcut, toolbar and set-up pages.
#include "gui/options/OptionsForm.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/DriveMap.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "core/settings/OptionRules.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <system_error>

namespace klv {
namespace {

enum ToolbarColumn { CaptionColumn, ShownColumn, NameColumn, PositionColumn };
const QString kShown = QStringLiteral("表示する");
const QString kHidden = QStringLiteral("表示しない");
const QString kProductName = QStringLiteral("Quimbo Registry Editor");

QPushButton* button(QWidget* parent, const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

void showMessage(QWidget* parent, const QString& text) {
    DialogService::instance().message(parent, QStringLiteral("情報"), text, MsgIcon::Information,
                                      MsgButtons::Ok);
}

std::filesystem::path pathOf(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

QWidget* TOptionsForm::buildShortcutPage() {
    auto* page = new QWidget;
    auto* intro = new QLabel(
        QStringLiteral("レジストリ編集画面のメニューのショートカットキーをカスタマイズすることが"
                       "できます。\nカスタマイズを有効にするには、下のチェックを ON にしてくださ"
                       "い。"),
        page);
    CheckBox15 =
        new QCheckBox(QStringLiteral("ショートカットキーをユーザーが指定する(&U)..."), page);
    CheckBox15->setObjectName(QStringLiteral("CheckBox15"));
    ListBox1 = new QListWidget(page);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    for (const ShortcutCommand& c : shortcutCommands())
        ListBox1->addItem(QString::fromStdString(c.keyName()));
    auto* listLabel = new QLabel(QStringLiteral("割り当てられる機能一覧(&L) : "), page);
    listLabel->setBuddy(ListBox1);
    HotKey1 = new QKeySequenceEdit(page);
    HotKey1->setObjectName(QStringLiteral("HotKey1"));
    if (auto* field = HotKey1->findChild<QLineEdit*>())
        field->setPlaceholderText(QString()); // its own hint is English
    auto* keyLabel = new QLabel(QStringLiteral("ショートカットキー(&K) : "), page);
    keyLabel->setBuddy(HotKey1);
    Button5 = button(page, QStringLiteral("<< 割り当て(&W)"), "Button5");
    Button5->setEnabled(false);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(keyLabel);
    keyRow->addWidget(HotKey1, 1);
    keyRow->addWidget(Button5);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(intro);
    layout->addWidget(CheckBox15);
    layout->addWidget(listLabel);
    layout->addWidget(ListBox1, 1);
    layout->addLayout(keyRow);
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] { ListBox1Click(); });
    // A hot key holds one key combination, as the menus show one.
    connect(HotKey1, &QKeySequenceEdit::editingFinished, this, [this] {
        const QKeySequence keys = HotKey1->keySequence();
        if (keys.count() > 1)
            HotKey1->setKeySequence(QKeySequence(keys[0]));
    });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    return page;
}

void TOptionsForm::ListBox1Click() {
    const int row = ListBox1->currentRow();
    Button5->setEnabled(row >= 0);
    if (row < 0) {
        HotKey1->clear();
        return;
    }
    const auto key = toCp932(ListBox1->item(row)->text());
    const std::string text = key ? settings_->readString("SHORTCUT", *key, "") : std::string();
    HotKey1->setKeySequence(QKeySequence::fromString(toQString(text), QKeySequence::PortableText));
}

void TOptionsForm::Button5Click() {
    const int row = ListBox1->currentRow();
    if (row < 0)
        return;
    const auto key = toCp932(ListBox1->item(row)->text());
    const QKeySequence keys = HotKey1->keySequence();
    const QString text =
        keys.isEmpty() ? QString() : QKeySequence(keys[0]).toString(QKeySequence::PortableText);
    const auto value = toCp932(text);
    if (!key || !value) {
        showError(this, unconvertibleTextMessage(key ? text : ListBox1->item(row)->text()));
        return;
    }
    try {
        settings_->writeString("SHORTCUT", *key, *value);
    } catch (const std::exception& e) {
        showError(this, toQString(e.what()));
    }
}

QWidget* TOptionsForm::buildToolbarPage(QToolBar* toolBar) {
    auto* page = new QWidget;
    auto* intro = new QLabel(
        QStringLiteral(
            "レジストリ編集画面のツールバーをカスタマイズすることができます。カスタマイズ"
            "を有効\nにするには、下のチェックを ON にしてください。"),
        page);
    CheckBox16 = new QCheckBox(QStringLiteral("ツールバーをユーザーが指定する(&T)..."), page);
    CheckBox16->setObjectName(QStringLiteral("CheckBox16"));
    ListView1 = new QTreeWidget(page);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels(
        {QStringLiteral("機能"), QStringLiteral("表示"), QString(), QString()});
    ListView1->setColumnHidden(NameColumn, true);
    ListView1->setColumnHidden(PositionColumn, true);
    ListView1->header()->setSectionResizeMode(CaptionColumn, QHeaderView::Stretch);
    ListView1->header()->setStretchLastSection(false);
    if (toolBar) {
        for (QAction* a : toolBar->actions()) {
            auto* item = new QTreeWidgetItem(ListView1);
            QWidget* w = toolBar->widgetForAction(a);
            item->setText(PositionColumn, QString::number(w ? w->x() : 0));
            if (a->isSeparator()) {
                item->setText(CaptionColumn, QStringLiteral("－　区切り　－"));
                continue;
            }
            // The caption without its accelerator, as a button shows it.
            item->setText(CaptionColumn, a->text()
                                             .remove(QRegularExpression(QStringLiteral("\\(&.\\)")))
                                             .remove(QLatin1Char('&')));
            item->setIcon(CaptionColumn, a->icon());
            item->setText(ShownColumn, a->isVisible() ? kShown : kHidden);
            item->setText(NameColumn, w ? w->objectName() : QString());
        }
    }
    if (ListView1->topLevelItemCount() > 0)
        ListView1->setCurrentItem(ListView1->topLevelItem(0));
    Button6 = button(page, QStringLiteral("上へ(&U)"), "Button6");
    Button7 = button(page, QStringLiteral("下へ(&W)"), "Button7");
    Button8 = button(page, QStringLiteral("表示する／しない"), "Button8");
    Button8->setToolTip(QStringLiteral("各ボタンの表示／非表示を切り替えます。直接、ダブルクリック"
                                       "しても切り替わります。"));
    Button9 = button(page, QStringLiteral("レイアウトの更新"), "Button9");
    Button9->setToolTip(
        QStringLiteral("ツールバーの設定を更新するために、このボタンを押してください"));
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Button6, Button7, Button8})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(Button9);
    auto* body = new QHBoxLayout;
    body->addWidget(ListView1, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(intro);
    layout->addWidget(CheckBox16);
    layout->addLayout(body, 1);
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });
    connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(); });
    connect(Button9, &QPushButton::clicked, this, [this] { Button9Click(); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ListView1DblClick(item); });
    return page;
}

void TOptionsForm::moveToolbarRow(int delta) {
    QTreeWidgetItem* item = ListView1->currentItem();
    if (!item)
        return;
    const int row = ListView1->indexOfTopLevelItem(item);
    const int target = row + delta;
    if (target < 0 || target >= ListView1->topLevelItemCount())
        return;
    ListView1->takeTopLevelItem(row);
    ListView1->insertTopLevelItem(target, item);
    ListView1->setCurrentItem(item);
}

void TOptionsForm::Button6Click() {
    moveToolbarRow(-1);
}
void TOptionsForm::Button7Click() {
    moveToolbarRow(1);
}
void TOptionsForm::Button8Click() {
    ListView1DblClick(ListView1->currentItem());
}

void TOptionsForm::ListView1DblClick(QTreeWidgetItem* item) {
    // A separator has nothing to show or hide.
    if (!item || item->text(ShownColumn).isEmpty())
        return;
    item->setText(ShownColumn, item->text(ShownColumn) == kShown ? kHidden : kShown);
}

void TOptionsForm::Button9Click() {
    const int count = ListView1->topLevelItemCount();
    std::vector<ToolbarRow> rows;
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        rows.push_back({item->text(ShownColumn).isEmpty(), item->text(ShownColumn) == kShown,
                        item->text(PositionColumn).toInt()});
    }
    layoutToolbarRows(rows);
    try {
        for (int i = 0; i < count; ++i) {
            QTreeWidgetItem* item = ListView1->topLevelItem(i);
            item->setText(PositionColumn,
                          QString::number(rows[static_cast<std::size_t>(i)].position));
            // Separators have no name and no key: the editor places them itself.
            const auto name = toCp932(item->text(NameColumn));
            if (rows[static_cast<std::size_t>(i)].separator || !name || name->empty())
                continue;
            settings_->writeInt("TOOLBAR", *name, rows[static_cast<std::size_t>(i)].position);
            settings_->writeBool("TOOLBAR", *name + "_E", rows[static_cast<std::size_t>(i)].shown);
        }
    } catch (const std::exception& e) {
        showError(this, toQString(e.what()));
    }
}

QWidget* TOptionsForm::buildSetupPage() {
    auto* page = new QWidget;
    auto* heading = new QLabel(
        QStringLiteral("Welcome to \"") + kProductName + QStringLiteral("\" Setup"), page);
    QFont big = heading->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    heading->setFont(big);
    auto* text =
        new QLabel(QStringLiteral("起動に便利なショートカットの作成を行います。必要であれば"
                                  "、下の該当ボタンを押してください。"),
                   page);
    text->setWordWrap(true);
    Button10 =
        button(page,
               QStringLiteral("スタートメニューに Quimbo Registry Editor のショートカットグル"
                              "ープを作成"),
               "Button10");
    Button11 = button(page, QStringLiteral("デスクトップ上にショートカットを作成"), "Button11");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addSpacing(12);
    layout->addWidget(Button10);
    layout->addWidget(Button11);
    layout->addStretch(1);
    connect(Button10, &QPushButton::clicked, this, [this] { Button10Click(); });
    connect(Button11, &QPushButton::clicked, this, [this] { Button11Click(); });
    return page;
}

std::filesystem::path TOptionsForm::shellFolder(const char* valueName) const {
    try {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        if (!reg.OpenKeyForReading(
                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"))
            return {};
        if (!reg.ValuePresent(valueName))
            return {};
        const std::string windowsPath = reg.ReadText(valueName);
        return DriveMap(systemFolder()).toLinuxPath(windowsPath).value_or(std::filesystem::path());
    } catch (const std::exception&) {
        return {}; // unreadable: no folder, which the caller reports as a failure
    }
}

bool TOptionsForm::writeLauncher(const std::filesystem::path& file, const std::string& text) {
    try {
        writeFileAtomically(file, text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TOptionsForm::Button10Click() {
    const std::filesystem::path programs = shellFolder("Programs");
    std::error_code ec;
    // The Programs folder itself may not have been made yet on this disk; the group folder
    // must be new.
    const bool made = !programs.empty() &&
                      (std::filesystem::create_directories(programs, ec), !ec) &&
                      std::filesystem::create_directory(programs / pathOf(kProductName), ec) && !ec;
    if (!made) {
        showMessage(
            this, QStringLiteral("グループの作成に失敗しました。フォルダが作成できませんでした。"));
        return;
    }
    const std::filesystem::path group = programs / pathOf(kProductName);
    const QString program = QCoreApplication::applicationFilePath();
    const bool programOk =
        writeLauncher(group / pathOf(kProductName + QStringLiteral(".desktop")),
                      programLauncherText(utf8Of(kProductName), pathOf(program), group));
    showMessage(this, programOk
                          ? QStringLiteral("実行ファイルのショートカットの作成に成功しました。")
                          : QStringLiteral("実行ファイルのショートカットの作成に失敗しました。"));
    std::filesystem::path help = pathOf(program);
    help.replace_extension(".HLP");
    const QString helpName = kProductName + QStringLiteral(" ヘルプ");
    const bool helpOk = writeLauncher(group / pathOf(helpName + QStringLiteral(".desktop")),
                                      fileLauncherText(utf8Of(helpName), help));
    showMessage(this, helpOk
                          ? QStringLiteral("ヘルプファイルのショートカットの作成に成功しました。")
                          : QStringLiteral("ヘルプファイルのショートカットの作成に失敗しました。"));
}

void TOptionsForm::Button11Click() {
    const std::filesystem::path desktop = shellFolder("Desktop");
    std::error_code ec;
    bool ok = !desktop.empty() && (std::filesystem::create_directories(desktop, ec), !ec);
    if (ok)
        ok =
            writeLauncher(desktop / "Quimbo RegEditor.desktop",
                          programLauncherText("Quimbo RegEditor",
                                              pathOf(QCoreApplication::applicationFilePath()), {}));
    showMessage(this, ok ? QStringLiteral("実行ファイルのショートカットの作成に成功しました。")
                         : QStringLiteral("実行ファイルのショートカットの作成に失敗しました。"));
}

} // namespace klv
