#include "gui/valueedit/BinaryEdit.h"

#include "core/registry/ValueText.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

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
    });
    connect(Button3, &QPushButton::clicked, this, [this] { EditMenu->popup(QCursor::pos()); });
    connect(HexEditor1, &THexEditor::stateChanged, this, [this] { showState(); });
    resize(620, 420);
}

void TBinaryEdit::setData(std::string_view bytes) {
    HexEditor1->load(bytes);
    HexEditor1->setFocus();
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
