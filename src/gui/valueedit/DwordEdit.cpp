#include "gui/valueedit/DwordEdit.h"

#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace klv {

TDwordEdit::TDwordEdit(FrameHost& form1, QWidget* parent)
    : ValueDialog(form1, EditedKind::Integer, QStringLiteral(" 数値の編集"), parent) {
    setObjectName(QStringLiteral("DwordEdit"));
    body()->addWidget(new QLabel(QStringLiteral("値のデータ : "), this));
    auto* grid = new QGridLayout;
    const struct {
        const char* label;
        const char* pattern;
        int length;
    } fields[] = {{"10進数(&D) : ", "[0-9]*", 10},
                  {"16進数(&H) :", "[0-9A-Fa-f]*", 8},
                  {"2進数(&B) :", "[01]*", 32}};
    QLineEdit** edits[] = {&Edit3, &Edit4, &Edit5};
    QRadioButton** radios[] = {&RadioButton1, &RadioButton2, &RadioButton3};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(fields[i].label), this);
        auto* field = new QLineEdit(QStringLiteral("0"), this);
        field->setObjectName(QStringLiteral("Edit%1").arg(i + 3));
        field->setMaxLength(fields[i].length);
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QString::fromLatin1(fields[i].pattern)), field));
        field->setMinimumWidth(260);
        grid->addWidget(radio, i, 0);
        grid->addWidget(field, i, 1);
        *edits[i] = field;
        *radios[i] = radio;
        connect(radio, &QRadioButton::clicked, this, [this, i] { activate(i); });
        connect(field, &QLineEdit::textEdited, this, [this, field] {
            edited_ = true;
            FieldChange(field);
        });
        field->installEventFilter(this);
    }
    body()->addLayout(grid);
    activate(0);
    setFixedSize(sizeHint());
}

void TDwordEdit::setData(const QString& decimal) {
    given_ = decimal;
    Edit3->setText(decimal);
    FieldChange(Edit3);
    Edit3->setFocus();
}

void TDwordEdit::setDataText(const QString& text) {
    setData(text.section(QLatin1Char(' '), 0, 0));
}

void TDwordEdit::activate(int index) {
    QRadioButton* radios[] = {RadioButton1, RadioButton2, RadioButton3};
    QLineEdit* fields[] = {Edit3, Edit4, Edit5};
    for (int i = 0; i < 3; ++i) {
        radios[i]->setChecked(i == index);
        fields[i]->setReadOnly(i != index);
        fields[i]->setStyleSheet(
            i == index ? QStringLiteral("QLineEdit { background: #FFFFE0; }")
                       : QStringLiteral("QLineEdit { background: palette(window); }"));
    }
    fields[index]->setFocus();
}

// An emptied field shows 0; the active field's value goes to the other two.
void TDwordEdit::FieldChange(QLineEdit* field) {
    if (updating_)
        return;
    updating_ = true;
    if (field->text().isEmpty())
        field->setText(QStringLiteral("0"));
    const std::string text = field->text().toStdString();
    DwordForms f = field == Edit3   ? dwordFromDecimal(text)
                   : field == Edit4 ? dwordFromHex(text)
                                    : dwordFromBinary(text);
    if (field != Edit3)
        Edit3->setText(QString::fromStdString(f.decimal));
    if (field != Edit4)
        Edit4->setText(QString::fromStdString(f.hex));
    else
        Edit4->setText(Edit4->text().toUpper());
    if (field != Edit5)
        Edit5->setText(QString::fromStdString(f.binary));
    updating_ = false;
}

// Clicking a field makes it the active one, as its radio button does.
bool TDwordEdit::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress) {
        const QLineEdit* fields[] = {Edit3, Edit4, Edit5};
        for (int i = 0; i < 3; ++i)
            if (watched == fields[i])
                activate(i);
    }
    return ValueDialog::eventFilter(watched, e);
}

std::optional<ValueEdit> TDwordEdit::edit() {
    ValueEdit e;
    e.kind = EditedKind::Integer;
    e.text = Edit3->text().toStdString();
    e.modified = edited_ || Edit3->text() != given_;
    return e;
}

void TDwordEdit::fillResults(const ValueEdit&) {
    form1_.Label9 = Edit4->text();
}

} // namespace klv
