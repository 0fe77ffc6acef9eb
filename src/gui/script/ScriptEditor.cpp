#include "gui/script/ScriptEditor.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Folders.h"
#include "core/printing/PageSetup.h"
#include "core/script/ScriptHelp.h"
#include "gui/browse/RegBrowse.h"
#include "gui/printing/TextPrintForm.h"
#include "gui/script/ScriptFileDialog.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/HelpFile.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

namespace klv {

namespace {

struct CommandRow {
    const char* name;
    const char* description;
};

// The command list, in the order the user sees it. AppClose runs but is not offered here.
constexpr std::array<CommandRow, 20> kCommands{{
    {"RootKey", "ルートキーを特に指定したい場合に使います"},
    {"OpenKey", "指定のレジストリキーを開きます"},
    {"CloseKey", "開いているキーを閉じます"},
    {"CreateKey", "新しいキーを作成します"},
    {"WriteString", "文字列データを作成あるいは更新します"},
    {"WriteInteger", "数値データの作成あるいは更新を10進数を指定して行います"},
    {"WriteInt16", "数値データの作成あるいは更新を16進数を指定して行います"},
    {"WriteBinary", "バイナリデータを作成あるいは更新します"},
    {"WriteExpandString", "拡張文字列データを作成あるいは更新します"},
    {"WriteMultiString", "マルチ文字列データを作成あるいは更新します"},
    {"RenameValue", "値の名前を変更します"},
    {"DeleteKey", "キーと、そのキーに含まれる値すべてを削除します"},
    {"DeleteValue", "値を削除します"},
    {"DeleteAllValues", "指定したキーに含まれる値をすべて削除します"},
    {"MessageBox", "メッセージを表示します"},
    {"InputStringBox", "ユーザーに任意の文字列の入力を要求します"},
    {"InputIntegerBox", "ユーザーに任意の数値の入力を要求します"},
    {"InputBinaryBox", "ユーザーに任意のバイナリの入力を要求します"},
    {"InputMultiStringBox", "ユーザーに任意のマルチ文字列の入力を要求します"},
    {"InputExpandStringBox", "ユーザーに任意の拡張文字列の入力を要求します"},
}};

const QString kFileTypes =
    QStringLiteral("QB スクリプトファイル (*.HVS);;テキストファイル (*.txt)");

} // namespace

TScriptEditor::TScriptEditor(FrameHost& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    setObjectName(QStringLiteral("ScriptEditor"));
    setWindowTitle(QStringLiteral("QB スクリプトエディタ 1.0"));
    setWindowIcon(ImageLists::toolImage(ImageLists::ToolImage::ScriptEdit));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(buildToolBar());

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(2);
    topLayout->addWidget(buildHelpArea());
    Splitter1 = new QSplitter(Qt::Horizontal, top);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Memo1 = new QPlainTextEdit(Splitter1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(scriptTemplate().join(QLatin1Char('\n')));
    buildCommandList();
    Splitter1->addWidget(Memo1);
    Splitter1->addWidget(ListView1);
    Splitter1->setStretchFactor(0, 3);
    Splitter1->setStretchFactor(1, 2);
    topLayout->addWidget(Splitter1, 1);

    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->addWidget(top);
    Splitter2->addWidget(buildLogPanel());
    Splitter2->setStretchFactor(0, 3);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setChildrenCollapsible(false);
    layout->addWidget(Splitter2, 1);
    buildPopupMenu();
    showLog(false);
    resize(900, 600);
}

TScriptEditor::~TScriptEditor() = default;

const QStringList& TScriptEditor::scriptTemplate() {
    static const QStringList lines{QStringLiteral("<TITLE>"),
                                   QStringLiteral("<MESSAGE>"),
                                   QStringLiteral("<INSTDATA>YES"),
                                   QStringLiteral("<UNINSTDATA>NO"),
                                   QStringLiteral("<BACKGROUND>YES"),
                                   QString(),
                                   QString(),
                                   QStringLiteral("INSTBEGIN"),
                                   QString(),
                                   QStringLiteral("INSTEND"),
                                   QString(),
                                   QString(),
                                   QStringLiteral("UNINSTBEGIN"),
                                   QString(),
                                   QStringLiteral("UNINSTEND")};
    return lines;
}

QString TScriptEditor::helpDatabasePath() {
    for (const auto& folder : {programFolder(), executableFolder()})
        if (const auto file = findNoCase(folder, "SCRIPT_DB.DAT"))
            return QString::fromStdString(file->string());
    return {};
}

// --- building ---------------------------------------------------------------------------------

QToolBar* TScriptEditor::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    const auto add = [this](const QIcon& icon, const QString& hint, int number,
                            void (TScriptEditor::*handler)()) {
        QAction* a = ToolBar1->addAction(icon, hint);
        a->setObjectName(QStringLiteral("ToolButton%1").arg(number));
        a->setToolTip(hint);
        a->setStatusTip(hint);
        connect(a, &QAction::triggered, this,
                [this, handler] { runGuarded(this, [&] { (this->*handler)(); }); });
        return a;
    };
    using T = ImageLists::ToolImage;
    const auto tool = [](T id) { return ImageLists::toolImage(id); };
    ToolButton1 =
        add(tool(T::NewWindow), QStringLiteral("新規作成"), 1, &TScriptEditor::ToolButton1Click);
    ToolButton2 = add(tool(T::Import), QStringLiteral("開く"), 2, &TScriptEditor::ToolButton2Click);
    ToolButton3 =
        add(tool(T::Save), QStringLiteral("名前を付けて保存"), 3, &TScriptEditor::ToolButton3Click);
    ToolButton4 = add(tool(T::Print), QStringLiteral("印刷"), 4, &TScriptEditor::ToolButton4Click);
    ToolBar1->addSeparator();
    ToolButton5 = add(ImageLists::sharedImage(ImageLists::ImgUndo), QStringLiteral("元に戻す"), 5,
                      &TScriptEditor::ToolButton5Click);
    ToolButton6 =
        add(tool(T::Cut), QStringLiteral("切り取り"), 6, &TScriptEditor::ToolButton6Click);
    ToolButton7 = add(tool(T::Copy), QStringLiteral("コピー"), 7, &TScriptEditor::ToolButton7Click);
    ToolButton8 =
        add(tool(T::Paste), QStringLiteral("貼り付け"), 8, &TScriptEditor::ToolButton8Click);
    ToolButton9 = add(tool(T::CopyKeyName), QStringLiteral("レジストリキーの参照と貼り付け"), 9,
                      &TScriptEditor::ToolButton9Click);
    ToolBar1->addSeparator();
    ToolButton10 = add(tool(T::ScriptRun), QStringLiteral("スクリプトの実行"), 10,
                       &TScriptEditor::ToolButton10Click);
    ToolButton11 = add(tool(T::Stop), QStringLiteral("スクリプトの停止"), 11,
                       &TScriptEditor::ToolButton11Click);
    ToolBar1->addSeparator();
    ToolButton12 = add(tool(T::Help), QStringLiteral("スクリプト リファレンス"), 12,
                       &TScriptEditor::ToolButton12Click);
    ToolButton13 =
        add(tool(T::CloseWindow), QStringLiteral("閉じる"), 13, &TScriptEditor::ToolButton13Click);
    ToolButton11->setEnabled(false);
    return ToolBar1;
}

QWidget* TScriptEditor::buildHelpArea() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto* grid = new QVBoxLayout(panel);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->setSpacing(2);
    const auto row = [&](const QString& caption, const char* label, const char* edit, QLabel*& l,
                         QLineEdit*& e) {
        auto* h = new QHBoxLayout;
        l = new QLabel(caption, panel);
        l->setObjectName(QString::fromLatin1(label));
        l->setMinimumWidth(130);
        e = new QLineEdit(panel);
        e->setObjectName(QString::fromLatin1(edit));
        e->setReadOnly(true);
        h->addWidget(l);
        h->addWidget(e, 1);
        grid->addLayout(h);
    };
    row(QStringLiteral("パラメータの指定 : "), "Label1", "Edit1", Label1, Edit1);
    row(QStringLiteral("記述例 : "), "Label2", "Edit2", Label2, Edit2);
    Label3 = new QLabel(panel);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextFormat(Qt::PlainText);
    Label3->setAutoFillBackground(true);
    Label3->setStyleSheet(
        QStringLiteral("QLabel { background: #003399; color: white; padding: 3px; }"));
    Label3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(Label3);
    return panel;
}

void TScriptEditor::buildCommandList() {
    ListView1 = new QTreeWidget(Splitter1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({QStringLiteral("スクリプト"), QStringLiteral("説明")});
    ListView1->setRootIsDecorated(false);
    ListView1->setSortingEnabled(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setUniformRowHeights(true);
    for (const CommandRow& c : kCommands)
        new QTreeWidgetItem(ListView1,
                            {QString::fromLatin1(c.name), QString::fromUtf8(c.description)});
    ListView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ListView1->header()->setStretchLastSection(true);
    // A click and a key that moves the row both land here.
    connect(ListView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ListView1Change(item); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ListView1DblClick(item); });
}

QWidget* TScriptEditor::buildLogPanel() {
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* v = new QVBoxLayout(Panel2);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    auto* head = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral(" 動作検証リスト"), Panel2);
    head->addWidget(caption, 1);
    SpeedButton1 = new QToolButton(Panel2);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("×"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setToolTip(QStringLiteral("動作検証リストを閉じる"));
    SpeedButton1->setStatusTip(QStringLiteral("動作検証リストを閉じる"));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    head->addWidget(SpeedButton1);
    v->addLayout(head);
    ListBox1 = new QListWidget(Panel2);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    v->addWidget(ListBox1, 1);
    return Panel2;
}

void TScriptEditor::buildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const auto item = [this](const QString& caption, const char* name, void (TScriptEditor::*h)()) {
        addMenuItem(PopupMenu1, caption, QString::fromLatin1(name), {},
                    [this, h] { (this->*h)(); });
    };
    item(QStringLiteral("元に戻す(&U)"), "Undo1", &TScriptEditor::ToolButton5Click);
    PopupMenu1->addSeparator();
    item(QStringLiteral("切り取り(&T)"), "Cut1", &TScriptEditor::ToolButton6Click);
    item(QStringLiteral("コピー(&C)"), "Copy1", &TScriptEditor::ToolButton7Click);
    item(QStringLiteral("貼り付け(&P)"), "Paste1", &TScriptEditor::ToolButton8Click);
    item(QStringLiteral("レジストリキーの参照(&K)"), "Browse1", &TScriptEditor::ToolButton9Click);
    PopupMenu1->addSeparator();
    item(QStringLiteral("すべて選択(&A)"), "SelectAll1", &TScriptEditor::SelectAll1Click);
    PopupMenu1->addSeparator();
    item(QStringLiteral("スクリプトの実行(&R)"), "Run1", &TScriptEditor::ToolButton10Click);
    item(QStringLiteral("スクリプトに名前をつけて保存(&S)"), "Save1",
         &TScriptEditor::ToolButton3Click);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Memo1->mapToGlobal(at)); });
}

void TScriptEditor::showLog(bool on) {
    Panel2->setVisible(on);
}

// --- text and files ---------------------------------------------------------------------------

QStringList TScriptEditor::lines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

bool TScriptEditor::loadFile(const QString& path) {
    try {
        Memo1->setPlainText(readScriptFile(path).join(QLatin1Char('\n')));
        return true;
    } catch (const FileError& e) {
        klv::showError(this, toQString(e.what()));
        return false;
    }
}

bool TScriptEditor::saveFile(const QString& path) {
    std::string bytes;
    for (const QString& line : lines()) {
        const std::optional<std::string> cp = toCp932(line);
        if (!cp) {
            klv::showError(this, unconvertibleTextMessage(line));
            return false;
        }
        bytes += *cp;
        bytes += "\r\n";
    }
    try {
        writeFileAtomically(path.toStdString(), bytes);
        return true;
    } catch (const FileError& e) {
        klv::showError(this, toQString(e.what()));
        return false;
    }
}

void TScriptEditor::ToolButton1Click() {
    frame_.ScriptEditorClick();
}

void TScriptEditor::ToolButton2Click() {
    const QString file = DialogService::instance().openFileName(
        this, QStringLiteral("スクリプトファイルを開く"), QString(), kFileTypes);
    if (!file.isEmpty())
        loadFile(file);
}

void TScriptEditor::ToolButton3Click() {
    const QString file = withDefaultExtension(
        DialogService::instance().saveFileName(this, QStringLiteral("スクリプトファイルの保存"),
                                               QString(), kFileTypes),
        QStringLiteral("hvs"));
    if (!file.isEmpty())
        saveFile(file);
}

void TScriptEditor::ToolButton4Click() {
    PageSetup setup;
    setup.headerPosition = PrintPosition::None;
    setup.footerPosition = PrintPosition::None;
    setup.columns = 1;
    setup.columnSpacing = 4;
    setup.lineNumbers = false;
    setup.marginLeft = setup.marginRight = setup.marginTop = setup.marginBottom = 10;
    TTextPrintForm form(this, lines(), setup);
    TTextPrintForm::run(form);
}

// --- editing ----------------------------------------------------------------------------------

void TScriptEditor::ToolButton5Click() {
    Memo1->undo();
}

void TScriptEditor::ToolButton6Click() {
    Memo1->cut();
}

void TScriptEditor::ToolButton7Click() {
    Memo1->copy();
}

void TScriptEditor::ToolButton8Click() {
    Memo1->paste();
}

void TScriptEditor::SelectAll1Click() {
    Memo1->selectAll();
}

void TScriptEditor::ToolButton9Click() {
    frame_.Label11 = QStringLiteral("All");
    TRegBrowse::browse(frame_, this);
    if (!frame_.Label10.isEmpty())
        Memo1->insertPlainText(frame_.Label10);
    Memo1->setFocus();
}

void TScriptEditor::ListView1Change(QTreeWidgetItem* item) {
    if (!item)
        return;
    const QString name = item->text(0);
    QString parameters, example;
    const QString db = helpDatabasePath();
    if (!db.isEmpty()) {
        const ScriptHelp help = readScriptHelp(db.toStdString(), name.toStdString());
        parameters = toQString(help.parameters);
        example = toQString(help.example);
    }
    Edit1->setText(name + parameters);
    Edit1->setCursorPosition(0);
    Edit2->setText(name + example);
    Edit2->setCursorPosition(0);
    Label3->setText(QStringLiteral("　") + name + QStringLiteral("　 ") + item->text(1));
}

void TScriptEditor::ListView1DblClick(QTreeWidgetItem* item) {
    if (!item)
        return;
    Memo1->textCursor().insertText(item->text(0) + QLatin1Char('\n'));
    Memo1->setFocus();
}

// --- help and closing -------------------------------------------------------------------------

void TScriptEditor::ToolButton12Click() {
    showHelpTopic(this, 96);
}

void TScriptEditor::SpeedButton1Click() {
    showLog(false);
}

void TScriptEditor::ToolButton13Click() {
    closeWindow();
}

void TScriptEditor::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TScriptEditor::closeEvent(QCloseEvent* event) {
    // A run below holds this window (waiting in its message box): stop it, close afterwards.
    if (running_) {
        stop_ = true;
        closeRequested_ = true;
        event->ignore();
        return;
    }
    frame_.setStatusPanel(2, QStringLiteral("レディ"));
    QWidget::closeEvent(event);
}

} // namespace klv
