#include "gui/regfiles/RegExportForm.h"

#include "core/platform/DriveMap.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/regfiles/ExportTarget.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/RootKeys.h"
#include "core/settings/SettingsFile.h"
#include "gui/browse/RegBrowse.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/HelpFile.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/RegistryEditorCheck.h"
#include "gui/widgets/RegistryProgramRunner.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace fs = std::filesystem;

namespace klv {
namespace {

constexpr int kWindowsPathRole = Qt::UserRole;
constexpr int kLinuxPathRole = Qt::UserRole + 1;
constexpr int kLoadedRole = Qt::UserRole + 2;

const QString kErrorCaption = QStringLiteral("エラー");

constexpr QDir::Filters kFolders = QDir::Dirs | QDir::NoDotAndDotDot;

bool hasSubfolders(const QString& linuxPath) {
    return QDirIterator(linuxPath, kFolders).hasNext();
}

// The folder part of a file name as typed ("C:\Work\" of "C:\Work\x.reg"); empty for a bare
// name.
QString folderPart(const QString& fileName) {
    const qsizetype cut =
        std::max(fileName.lastIndexOf(QLatin1Char('\\')), fileName.lastIndexOf(QLatin1Char(':')));
    return cut < 0 ? QString() : fileName.left(cut + 1);
}

std::optional<fs::path> linuxFolder(const std::string& windowsFolder) {
    const auto path = DriveMap(systemFolder()).toLinuxPath(windowsFolder);
    std::error_code ec;
    if (!path || !fs::is_directory(*path, ec))
        return std::nullopt;
    return path;
}

} // namespace

TRegExportForm::TRegExportForm(FrameHost& form1, const QString& keyPath, QWidget* parent)
    : QDialog(parent), form1_(form1) {
    setObjectName(QStringLiteral("RegExportForm"));
    setWindowTitle(QStringLiteral("レジストリの書き出し"));
    setModal(true);
    buildControls(keyPath);
    readHistory();

    unicodeOffered_ = unicodeFormOffered();
    RadioButton2->setEnabled(unicodeOffered_);
    (unicodeOffered_ ? RadioButton2 : RadioButton1)->setChecked(true);

    DriveMap drives(systemFolder());
    for (const char letter : drives.drives()) {
        if (const auto folder = drives.folder(letter))
            addFolderNode(nullptr, QStringLiteral("%1:\\").arg(QLatin1Char(letter)),
                          QString::fromStdString(folder->string()));
    }
    RadioButtonClick();
}

TRegExportForm::~TRegExportForm() = default;

void TRegExportForm::run(FrameHost& form1, QWidget* parent, const QString& keyPath) {
    TRegExportForm dialog(form1, keyPath, parent);
    dialog.exec();
}

void TRegExportForm::buildControls(const QString& keyPath) {
    Label1 = new QLabel(
        QStringLiteral(
            "レジストリの任意部分、あるいはすべてをレジストリファイルとして保存できます。"
            "バックアップ用途など\nに有用です。保存場所とファイル名を指定して、"
            "［書き出し］ボタンを押してください。"),
        this);

    auto* fileLabel = new QLabel(QStringLiteral("ファイル名あるいはフルパス(&F) : "), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    fileLabel->setBuddy(Edit1);
    auto* folderLabel = new QLabel(QStringLiteral("保存するフォルダ(&O) : "), this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMinimumContentsLength(28);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    folderLabel->setBuddy(ComboBox1);
    Button3 = new QPushButton(QStringLiteral("フォルダ名を履歴に追加(&A)"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button4 = new QPushButton(QStringLiteral("フォルダ名履歴をクリア(&R)"), this);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button3->setAutoDefault(false);
    Button4->setAutoDefault(false);

    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setMinimumSize(240, 200);
    Label4 = new QLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    // A deep folder must not widen the dialog.
    Label4->setMinimumWidth(1);
    Label4->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    GroupBox1 = new QGroupBox(QStringLiteral("書き出す形式"), this);
    RadioButton1 =
        new QRadioButton(QStringLiteral("REGEDIT4 （Win95/98/Me/NT4.0）形式 (&4)"), GroupBox1);
    RadioButton2 =
        new QRadioButton(QStringLiteral("Unicode 形式 (Windows 2000/XP) (&W)"), GroupBox1);
    auto* formats = new QVBoxLayout(GroupBox1);
    formats->addWidget(RadioButton1);
    formats->addWidget(RadioButton2);
    CheckBox1 =
        new QCheckBox(QStringLiteral("拡張子をテキスト形式（*.TXT）として保存する(&T)"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));

    GroupBox2 = new QGroupBox(QStringLiteral("書き出し範囲"), this);
    RadioButton3 = new QRadioButton(QStringLiteral("すべてのレジストリ(&L)"), GroupBox2);
    RadioButton4 = new QRadioButton(QStringLiteral("ルートキーのエントリをすべて(&N)"), GroupBox2);
    RadioButton5 = new QRadioButton(QStringLiteral("指定した部分以下のエントリ(&T)"), GroupBox2);
    auto* scopes = new QButtonGroup(this);
    for (QRadioButton* r : {RadioButton3, RadioButton4, RadioButton5})
        scopes->addButton(r);
    RadioButton5->setChecked(true);
    ComboBox2 = new QComboBox(GroupBox2);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (int i = 0; i < std::min(form1_.rootCount(), kRootKeyCount); ++i)
        ComboBox2->addItem(toQString(kRootKeys[static_cast<std::size_t>(i)].name));
    ComboBox2->setCurrentIndex(0);
    Edit2 = new QLineEdit(keyPath, GroupBox2);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    SpeedButton1 = new QToolButton(GroupBox2);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("..."));
    SpeedButton1->setToolTip(QStringLiteral("レジストリの参照"));
    auto* scope = new QGridLayout(GroupBox2);
    scope->addWidget(RadioButton3, 0, 0, 1, 3);
    scope->addWidget(RadioButton4, 1, 0);
    scope->addWidget(ComboBox2, 1, 1, 1, 2);
    scope->addWidget(RadioButton5, 2, 0, 1, 3);
    scope->addWidget(Edit2, 3, 0, 1, 2);
    scope->addWidget(SpeedButton1, 3, 2);
    scope->setColumnStretch(1, 1);

    Button1 = new QPushButton(QStringLiteral("書き出し(&S)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    QFont bold = Button1->font();
    bold.setBold(true);
    Button1->setFont(bold);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button5 = new QPushButton(QStringLiteral("ヘルプ(&H)"), this);
    Button5->setObjectName(QStringLiteral("Button5"));
    Button2->setAutoDefault(false);
    Button5->setAutoDefault(false);

    auto* history = new QHBoxLayout;
    history->addWidget(Button3);
    history->addWidget(Button4);
    history->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(fileLabel);
    left->addWidget(Edit1);
    left->addWidget(folderLabel);
    left->addWidget(ComboBox1);
    left->addLayout(history);
    left->addWidget(GroupBox1);
    left->addWidget(CheckBox1);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(TreeView1, 1);
    right->addWidget(Label4);
    auto* middle = new QHBoxLayout;
    middle->addLayout(left, 1);
    middle->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button5);
    auto* main = new QVBoxLayout(this);
    main->addWidget(Label1);
    main->addLayout(middle, 1);
    main->addWidget(GroupBox2);
    main->addLayout(buttons);

    connect(scopes, &QButtonGroup::buttonClicked, this, [this] { RadioButtonClick(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(ComboBox1, &QComboBox::editTextChanged, this, [this] { ComboBox1Change(); });
    connect(TreeView1, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* n) { runGuarded(this, [&] { TreeView1Expanding(n); }); });
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* n, QTreeWidgetItem*) {
                if (n)
                    TreeView1Change(n);
            });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
}

bool TRegExportForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(e);
}

void TRegExportForm::FormActivate() {
    // The program may have come back (or gone) while the user was elsewhere.
    Button1->setEnabled(editorCheck_.present(this));
}

// --- folder history -----------------------------------------------------------------------------

void TRegExportForm::readHistory() {
    for (const std::string& folder : form1_.settings().readList("REG_SAVE", "FOLDER"))
        ComboBox1->addItem(toQString(folder));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
}

void TRegExportForm::writeHistory() {
    std::vector<std::string> folders;
    for (int i = 0; i < ComboBox1->count(); ++i)
        folders.push_back(toCp932(ComboBox1->itemText(i)).value_or(std::string()));
    try {
        form1_.settings().writeList("REG_SAVE", "FOLDER", folders);
    } catch (const std::exception& e) {
        showError(this, toQString(describeError(e)));
    }
}

void TRegExportForm::Button3Click() {
    const QString folder = ComboBox1->currentText();
    if (folder.isEmpty())
        return;
    if (!toCp932(folder)) {
        showError(this, unconvertibleTextMessage(folder));
        return;
    }
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->insertItem(0, folder);
    ComboBox1->setEditText(folder);
    writeHistory();
}

void TRegExportForm::Button4Click() {
    if (DialogService::instance().message(
            this, QStringLiteral("削除の確認"),
            QStringLiteral("フォルダの履歴をすべて削除します。よろしいですか。"), MsgIcon::Warning,
            MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const QString typed = ComboBox1->currentText();
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    ComboBox1->setEditText(typed);
    writeHistory();
}

// --- folder tree --------------------------------------------------------------------------------

void TRegExportForm::addFolderNode(QTreeWidgetItem* parent, const QString& name,
                                   const QString& linuxPath) {
    auto* n = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    n->setText(0, name);
    n->setIcon(0, style()->standardIcon(parent ? QStyle::SP_DirIcon : QStyle::SP_DriveHDIcon));
    QString windowsPath = name;
    if (parent) {
        windowsPath = parent->data(0, kWindowsPathRole).toString();
        if (!windowsPath.endsWith(QLatin1Char('\\')))
            windowsPath += QLatin1Char('\\');
        windowsPath += name;
    }
    n->setData(0, kWindowsPathRole, windowsPath);
    n->setData(0, kLinuxPathRole, linuxPath);
    n->setChildIndicatorPolicy(hasSubfolders(linuxPath)
                                   ? QTreeWidgetItem::ShowIndicator
                                   : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TRegExportForm::TreeView1Expanding(QTreeWidgetItem* node) {
    if (node->data(0, kLoadedRole).toBool())
        return;
    node->setData(0, kLoadedRole, true);
    const QDir folder(node->data(0, kLinuxPathRole).toString());
    for (const QString& name : folder.entryList(kFolders, QDir::Name | QDir::IgnoreCase))
        addFolderNode(node, name, folder.filePath(name));
    if (node->childCount() == 0)
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TRegExportForm::TreeView1Change(QTreeWidgetItem* node) {
    const QString folder = node->data(0, kWindowsPathRole).toString();
    Label4->setText(folder);
    if (syncing_)
        return;
    syncing_ = true;
    ComboBox1->setEditText(folder);
    syncing_ = false;
}

std::optional<fs::path> TRegExportForm::existingFolder(const QString& windowsFolder) const {
    const auto cp932 = toCp932(windowsFolder);
    if (!cp932 || cp932->empty())
        return std::nullopt;
    return linuxFolder(*cp932);
}

QTreeWidgetItem* TRegExportForm::folderNode(const QString& windowsFolder) {
    const auto folder = existingFolder(windowsFolder);
    if (!folder)
        return nullptr;
    const QChar letter = windowsFolder.at(0).toUpper();
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < TreeView1->topLevelItemCount() && !node; ++i) {
        if (TreeView1->topLevelItem(i)->text(0).at(0) == letter)
            node = TreeView1->topLevelItem(i);
    }
    if (!node)
        return nullptr;
    // The drive map found each name without regard to case: the names below are those on disk.
    const fs::path below = folder->lexically_relative(
        fs::path(node->data(0, kLinuxPathRole).toString().toStdString()));
    for (const fs::path& part : below) {
        if (part == ".")
            continue;
        TreeView1Expanding(node);
        const QString name = QString::fromStdString(part.string());
        QTreeWidgetItem* child = nullptr;
        for (int i = 0; i < node->childCount() && !child; ++i) {
            if (node->child(i)->text(0) == name)
                child = node->child(i);
        }
        if (!child)
            return nullptr; // hidden, or reached through a link from elsewhere
        node = child;
    }
    return node;
}

void TRegExportForm::showFolderInTree(const QString& windowsFolder) {
    QTreeWidgetItem* node = folderNode(windowsFolder);
    if (!node)
        return;
    syncing_ = true;
    TreeView1->setCurrentItem(node);
    TreeView1->scrollToItem(node);
    syncing_ = false;
}

void TRegExportForm::ComboBox1Change() {
    if (!syncing_)
        showFolderInTree(ComboBox1->currentText());
}

void TRegExportForm::Edit1Change() {
    const QString folder = folderPart(Edit1->text());
    if (!folder.isEmpty())
        showFolderInTree(folder);
}

// --- scope and buttons --------------------------------------------------------------------------

void TRegExportForm::RadioButtonClick() {
    ComboBox2->setEnabled(RadioButton4->isChecked());
    Edit2->setEnabled(RadioButton5->isChecked());
    SpeedButton1->setEnabled(RadioButton5->isChecked());
}

void TRegExportForm::SpeedButton1Click() {
    form1_.Label11 = QStringLiteral("All");
    TRegBrowse::browse(form1_, this);
    if (!form1_.Label10.isEmpty())
        Edit2->setText(form1_.Label10);
}

void TRegExportForm::Button1Click() {
    if (!Button1->isEnabled())
        return;
    exportFile();
    accept();
}

void TRegExportForm::exportFile() {
    const auto name = toCp932(Edit1->text());
    if (!name) {
        showError(this, unconvertibleTextMessage(Edit1->text()));
        return;
    }
    const QString folderText = ComboBox1->currentText();
    const auto folder = toCp932(folderText);
    const ExportTarget target =
        exportTarget(*name, folder.value_or(std::string()), CheckBox1->isChecked(),
                     [](const std::string& f) { return linuxFolder(f).has_value(); });
    if (!target.fileName.empty())
        Edit1->setText(toQString(target.fileName));
    if (target.error) {
        if (*target.error == ExportNameError::NoFolder && !folder) {
            showError(this, unconvertibleTextMessage(folderText));
            return;
        }
        DialogService::instance().message(this, kErrorCaption,
                                          toQString(exportNameErrorText(*target.error)),
                                          MsgIcon::Warning, MsgButtons::Ok);
        return;
    }

    ExportScope scope = ExportScope::Key;
    QString keyText = Edit2->text();
    if (RadioButton3->isChecked()) {
        scope = ExportScope::Everything;
        keyText.clear();
    } else if (RadioButton4->isChecked()) {
        scope = ExportScope::Root;
        keyText = ComboBox2->currentText();
    }
    const auto key = toCp932(keyText);
    if (!key) {
        showError(this, unconvertibleTextMessage(keyText));
        return;
    }
    const ExporterCommand command =
        exporterCommand(unicodeOffered_, RadioButton1->isChecked(), scope, *key, target.target);
    QStringList arguments;
    for (const std::string& a : command.arguments)
        arguments << toQString(a);
    // The program resolves the drive path itself. A failure shows over the window below, as
    // this dialog is gone by then.
    RegistryProgramRunner::runShell(parentWidget(),
                                    command.consoleTool ? RegistryProgramRunner::Program::Tool
                                                        : RegistryProgramRunner::Program::Editor,
                                    arguments);
}

void TRegExportForm::Button2Click() {
    reject();
}

void TRegExportForm::Button5Click() {
    showHelpTopic(this, 101);
}

} // namespace klv
