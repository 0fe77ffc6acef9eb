#include "gui/valueedit/BinaryEdit.h"

#include "core/platform/AtomicFile.h"
#include "core/registry/ValueText.h"
#include "core/settings/SettingsFile.h"
#include "gui/options/OptionsForm.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace klv {

TBinaryEdit::TBinaryEdit(FrameHost& form1, QWidget* parent)
    : ValueDialog(form1, EditedKind::Binary, QStringLiteral(" バイナリの編集"), parent) {
    setObjectName(QStringLiteral("BinaryEdit"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    HexEditor1 = new THexEditor(this);
    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    body()->addWidget(HexEditor1, 1);
    body()->addWidget(StatusBar1);
    Button3 = new QPushButton(QStringLiteral("編集メニュー"), this);
    body()->addWidget(Button3, 0, Qt::AlignLeft);

    EditMenu = new QMenu(this);
    QAction* undo = EditMenu->addAction(QStringLiteral("元に戻す(&U) : "));
    EditMenu->addSeparator();
    QAction* cut =
        EditMenu->addAction(QStringLiteral("切り取り(&T)"), this, [this] { CutClick(); });
    QAction* copy =
        EditMenu->addAction(QStringLiteral("コピー(&C)"), this, [this] { CopyClick(); });
    QAction* paste =
        EditMenu->addAction(QStringLiteral("貼り付け(&P)"), this, [this] { PasteClick(); });
    QAction* pasteText = EditMenu->addAction(QStringLiteral("テキストを貼り付け(&A)"), this,
                                             [this] { PasteTextClick(); });
    EditMenu->addSeparator();
    QAction* open = EditMenu->addAction(QStringLiteral("開く(&O)"), this, [this] { OpenClick(); });
    QMenu* save = EditMenu->addMenu(QStringLiteral("名前をつけて保存(&S)"));
    save->addAction(QStringLiteral("バイナリ(&B)"), this, [this] { SaveClick(false); });
    save->addAction(QStringLiteral("16進数テキスト(&X)"), this, [this] { SaveClick(true); });
    EditMenu->addSeparator();
    // The display settings of section BINARY, read again whenever the options dialog closes.
    const auto readDisplaySettings = [this] {
        SettingsFile& settings = form1_.settings();
        HexDisplay display;
        display.lineSize = settings.readInt("BINARY", "LINESIZE", 8);
        display.columnSize = settings.readInt("BINARY", "COLUMNSIZE", 1);
        display.decimalOffsets = settings.readInt("BINARY", "DISPLAY", 0) == 1;
        display.grid = settings.readInt("BINARY", "GRID", 0);
        display.lineCaret = settings.readInt("BINARY", "STYLE", 1) == 1;
        display.maskBlanks = settings.readBool("BINARY", "MASK", false);
        display.ansi = settings.readInt("BINARY", "TRANS", 0) == 0;
        HexEditor1->setDisplay(display);
        HexEditor1->setReadOnly(settings.readBool("BINARY", "READONLY", false));
    };
    EditMenu->addAction(QStringLiteral("表示オプション(&O)"), this, [this, readDisplaySettings] {
        TOptionsForm::run(form1_.settings().path(), TOptionsForm::Page::BinaryEditor, nullptr,
                          this);
        readDisplaySettings();
    });
    connect(undo, &QAction::triggered, this, [this] { HexEditor1->undo(); });
    connect(EditMenu, &QMenu::aboutToShow, this, [=, this] {
        const HexBuffer& b = HexEditor1->buffer();
        undo->setText(QStringLiteral("元に戻す(&U) : ") +
                      QString::fromStdString(b.undoDescription()));
        undo->setEnabled(b.canUndo());
        const bool selected = HexEditor1->selection().has_value();
        const bool clip = !QApplication::clipboard()->text().isEmpty();
        cut->setEnabled(selected && !HexEditor1->isReadOnly());
        copy->setEnabled(selected);
        paste->setEnabled(clip && !HexEditor1->isReadOnly());
        pasteText->setEnabled(clip && !HexEditor1->isReadOnly());
        open->setEnabled(!HexEditor1->isReadOnly());
    });
    connect(Button3, &QPushButton::clicked, this, [this] { EditMenu->popup(QCursor::pos()); });
    connect(HexEditor1, &THexEditor::stateChanged, this, [this] { showState(); });
    resize(620, 420);
    readDisplaySettings();
}

void TBinaryEdit::showEvent(QShowEvent* e) {
    // Where the last binary editor was left, brought onto the screen.
    if (const auto p = form1_.settings().readPlacement("BINARY", "FORM"); p && p->width > 100) {
        QRect r(p->x, p->y, p->width, p->height);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect avail = screen->availableGeometry();
            r.setSize(r.size().boundedTo(avail.size()));
            r.moveLeft(std::clamp(r.left(), avail.left(), avail.right() - r.width() + 1));
            r.moveTop(std::clamp(r.top(), avail.top(), avail.bottom() - r.height() + 1));
        }
        setGeometry(r);
    }
    ValueDialog::showEvent(e);
}

void TBinaryEdit::done(int result) {
    WindowPlacement p;
    const QRect r = geometry();
    p.show = isMaximized() ? 3 : 1;
    p.maxX = p.maxY = -1;
    p.x = r.x();
    p.y = r.y();
    p.width = r.width();
    p.height = r.height();
    try {
        form1_.settings().writePlacement("BINARY", "FORM", p);
    } catch (const std::exception&) {
        // A settings file that cannot be written costs the placement only.
    }
    ValueDialog::done(result);
}

void TBinaryEdit::OpenClick() {
    bool readOnly = false;
    const QString file = DialogService::instance().openFileName(
        this, QStringLiteral("ファイルの取り込み"), QString(),
        QStringLiteral("すべてのファイル (*.*)"), &readOnly);
    if (file.isEmpty())
        return;
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(file.toStdString());
    } catch (const FileError& e) {
        showError(this, toQString(e.what()));
        return;
    }
    if (!bytes) {
        showError(this, QStringLiteral("ファイルが存在しません。\r\n") + file);
        return;
    }
    // One undoable step: the old bytes go, the file's come.
    HexEditor1->setCursor(0);
    HexEditor1->eraseAll("ファイルの取り込み");
    HexEditor1->insertBytes(*bytes, "ファイルの取り込み");
    if (readOnly)
        HexEditor1->setReadOnly(true);
}

void TBinaryEdit::SaveClick(bool asHexText) {
    const QString file = DialogService::instance().saveFileName(
        this, QStringLiteral("名前を付けて保存"), QString(),
        asHexText ? QStringLiteral("テキスト (*.txt)") : QStringLiteral("すべてのファイル (*.*)"));
    if (file.isEmpty())
        return;
    const std::string bytes = HexEditor1->buffer().all();
    try {
        writeFileAtomically(file.toStdString(), asHexText ? hexText(bytes) : bytes);
    } catch (const FileError&) {
        showError(this, QStringLiteral("ファイルに保存できませんでした。\r\n") + file);
    }
}

void TBinaryEdit::setData(std::string_view bytes) {
    HexEditor1->load(bytes);
    HexEditor1->setFocus();
}

void TBinaryEdit::setDataText(const QString& text) {
    setData(parseHexText(toCp932(text).value_or(std::string())));
}

// 位置, 選択, the modified mark, R, the mode and the size, as the status panels show them.
void TBinaryEdit::showState() {
    const HexBuffer& b = HexEditor1->buffer();
    QString text = QStringLiteral("位置 : %1").arg(HexEditor1->cursor());
    if (const auto sel = HexEditor1->selection())
        text += QStringLiteral("   選択 : %1 - %2").arg(sel->first).arg(sel->second);
    if (b.modified())
        text += QStringLiteral("   *");
    if (HexEditor1->isReadOnly())
        text += QStringLiteral("   R");
    text += HexEditor1->insertMode() ? QStringLiteral("   挿入") : QStringLiteral("   上書");
    text += QStringLiteral("   ｻｲｽﾞ : %1").arg(b.size());
    StatusBar1->setText(text);
}

void TBinaryEdit::CopyClick() {
    const auto sel = HexEditor1->selection();
    if (!sel)
        return;
    std::string hex;
    for (const char c : HexEditor1->buffer().bytes(sel->first, sel->second - sel->first + 1)) {
        static const char digits[] = "0123456789ABCDEF";
        hex.push_back(digits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(digits[static_cast<unsigned char>(c) & 15]);
    }
    QApplication::clipboard()->setText(QString::fromLatin1(hex));
}

void TBinaryEdit::CutClick() {
    CopyClick();
    HexEditor1->eraseSelection("切り取り");
}

void TBinaryEdit::PasteClick() {
    const auto text = toCp932(QApplication::clipboard()->text());
    if (text)
        HexEditor1->insertBytes(parseHexText(*text), "貼り付け");
}

void TBinaryEdit::PasteTextClick() {
    const auto text = toCp932(QApplication::clipboard()->text());
    if (text)
        HexEditor1->insertBytes(*text, "テキストの貼り付け");
}

std::optional<ValueEdit> TBinaryEdit::edit() {
    ValueEdit e;
    e.kind = EditedKind::Binary;
    e.bytes = HexEditor1->buffer().all();
    e.modified = HexEditor1->buffer().modified();
    return e;
}

void TBinaryEdit::fillResults(const ValueEdit&) {
    // The binary editor reports the name and where it wrote; the caller reads the bytes back.
    form1_.Label2 = Edit1->text();
    form1_.Label4 = form1_.Edit1;
}

} // namespace klv
