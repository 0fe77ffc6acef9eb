#include "gui/printing/RegPrintForm.h"

#include "core/listing/DetailedListing.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/ErrorText.h"
#include "core/printing/PageSetup.h"
#include "core/registry/RootKeys.h"
#include "gui/browse/RegBrowse.h"
#include "gui/printing/TextPrintForm.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/EventPump.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/RegistryProgramRunner.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/WaitCursor.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

namespace klv {
namespace {

const QString kRegistryFileForm = QStringLiteral("レジストリスクリプト形式で印刷");
const QString kDetailedForm = QStringLiteral("詳細印刷");

// The lines of a registry file as the registry editor wrote it: UTF-16 after a byte-order
// mark, else the system code page.
QStringList regFileLines(const std::string& bytes) {
    QString text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                                  static_cast<qsizetype>((bytes.size() - 2) / 2));
    else
        text = toQString(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList listingLines(const std::string& text) {
    QStringList lines = toQString(text).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

TRegPrintForm::TRegPrintForm(FrameHost& form1, Use use, QWidget* parent)
    : QDialog(parent), form1_(form1), use_(use) {
    const bool save = use == Use::Save;
    setObjectName(QStringLiteral("RegPrintForm"));
    setWindowTitle(save ? QStringLiteral(" レジストリデータを詳細なテキストで書き出し")
                        : QStringLiteral(" レジストリの印刷"));
    setModal(true);

    auto* formLabel = new QLabel(QStringLiteral("印刷処理(&O) : "), this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({kRegistryFileForm, kDetailedForm});
    ComboBox1->setCurrentIndex(1);
    formLabel->setBuddy(ComboBox1);
    auto* formRow = new QHBoxLayout;
    formRow->addWidget(formLabel);
    formRow->addWidget(ComboBox1, 1);
    // Saving is always the detailed form.
    if (save) {
        formLabel->hide();
        ComboBox1->hide();
    }

    GroupBox1 = new QGroupBox(save ? QStringLiteral("保存範囲") : QStringLiteral("印刷範囲"), this);
    RadioButton1 = new QRadioButton(QStringLiteral("すべて(&A)"), GroupBox1);
    RadioButton2 = new QRadioButton(QStringLiteral("選択した部分(&E)"), GroupBox1);
    RadioButton3 = new QRadioButton(QStringLiteral("選択したルートキー以下(&R)"), GroupBox1);
    auto* ranges = new QButtonGroup(this);
    ranges->addButton(RadioButton1);
    ranges->addButton(RadioButton2);
    ranges->addButton(RadioButton3);
    RadioButton2->setChecked(true);

    Label2 = new QLabel(QStringLiteral("範囲指定 : "), GroupBox1);
    Edit1 = new QLineEdit(form1_.Edit1, GroupBox1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(360);
    SpeedButton1 = new QToolButton(GroupBox1);
    SpeedButton1->setText(QStringLiteral("..."));
    SpeedButton1->setToolTip(QStringLiteral("レジストリの参照"));
    ComboBox2 = new QComboBox(GroupBox1);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (int i = 0; i < std::min(form1_.rootCount(), kRootKeyCount); ++i)
        ComboBox2->addItem(toQString(kRootKeys[static_cast<std::size_t>(i)].name));
    ComboBox2->setCurrentIndex(0);

    auto* radios = new QHBoxLayout;
    radios->addWidget(RadioButton1);
    radios->addWidget(RadioButton2);
    radios->addWidget(RadioButton3);
    radios->addStretch(1);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(Label2);
    rangeRow->addWidget(Edit1, 1);
    rangeRow->addWidget(SpeedButton1);
    rangeRow->addWidget(ComboBox2, 1);
    auto* group = new QVBoxLayout(GroupBox1);
    group->addLayout(radios);
    group->addLayout(rangeRow);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* waitLabel =
        new QLabel(QStringLiteral("印刷の準備をしていますので、しばらくお待ちください..."), Panel1);
    Label3 = new QLabel(QStringLiteral("レジストリスクリプト形式で書き出しています"), Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    // A long key path must not widen the dialog.
    Label3->setMinimumWidth(1);
    Label3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Button3 = new QPushButton(QStringLiteral("キャンセル(&C)"), Panel1);
    Button3->setObjectName(QStringLiteral("Button3"));
    auto* panel = new QGridLayout(Panel1);
    panel->addWidget(waitLabel, 0, 0);
    panel->addWidget(Label3, 1, 0);
    panel->addWidget(Button3, 0, 1, 2, 1, Qt::AlignVCenter);
    panel->setColumnStretch(0, 1);
    QSizePolicy keep = Panel1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    Panel1->setSizePolicy(keep);
    Panel1->hide();

    Button1 = new QPushButton(save ? QStringLiteral("保存(&S)") : QStringLiteral("印刷(&P)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* main = new QVBoxLayout(this);
    main->addLayout(formRow);
    main->addWidget(GroupBox1);
    main->addWidget(Panel1);
    main->addLayout(buttons);

    connect(ranges, &QButtonGroup::buttonClicked, this, [this] { RangeClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    RangeClick();
}

TRegPrintForm::~TRegPrintForm() = default;

void TRegPrintForm::run(FrameHost& form1, Use use, QWidget* parent) {
    TRegPrintForm dialog(form1, use, parent);
    dialog.exec();
}

bool TRegPrintForm::detailedForm() const {
    return use_ == Use::Save || ComboBox1->currentIndex() == 1;
}

void TRegPrintForm::RangeClick() {
    const bool key = RadioButton2->isChecked();
    Edit1->setVisible(key);
    SpeedButton1->setVisible(key);
    ComboBox2->setVisible(RadioButton3->isChecked());
    Label2->setVisible(!RadioButton1->isChecked());
}

void TRegPrintForm::SpeedButton1Click() {
    form1_.Label11 = QStringLiteral("All");
    TRegBrowse::browse(form1_, this);
    if (!form1_.Label10.isEmpty())
        Edit1->setText(form1_.Label10);
}

void TRegPrintForm::setBusy(bool busy) {
    busy_ = busy;
    Panel1->setVisible(busy);
    Button1->setEnabled(!busy);
    Button2->setEnabled(!busy);
    GroupBox1->setEnabled(!busy);
    ComboBox1->setEnabled(!busy);
}

void TRegPrintForm::Button3Click() {
    stop_ = true;
}

void TRegPrintForm::Button2Click() {
    if (!busy_)
        reject();
}

void TRegPrintForm::reject() {
    // Escape while the lines are being built is the panel's cancel, not a close.
    if (busy_)
        stop_ = true;
    else
        QDialog::reject();
}

std::optional<QStringList> TRegPrintForm::registryFileLines() {
    tempFolder_ = std::make_unique<QTemporaryDir>();
    if (!tempFolder_->isValid()) {
        showError(this, QStringLiteral("一時フォルダを作成できません。\n\n") +
                            tempFolder_->errorString());
        return std::nullopt;
    }
    // A folder of our own: a fixed name in the shared temporary folder could be a link that
    // someone else planted.
    const QString file = tempFolder_->filePath(QStringLiteral("reprint.reg"));
    QStringList arguments{QStringLiteral("/E"), file};
    if (RadioButton2->isChecked())
        arguments << Edit1->text();
    else if (RadioButton3->isChecked())
        arguments << ComboBox2->currentText();
    Label3->setText(QStringLiteral("レジストリスクリプト形式で書き出しています"));
    const ProcessRunner::Result r = RegistryProgramRunner::runEditorWaited(arguments);
    const std::optional<std::string> bytes =
        readFileBytes(std::filesystem::path(file.toStdString()));
    if (!bytes) {
        QString text = QStringLiteral("ファイルを読み込めません。\n\n") + file;
        if (!r.errorText.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(r.errorText).trimmed();
        showError(this, text);
        return std::nullopt;
    }
    return regFileLines(*bytes);
}

std::optional<Listing> TRegPrintForm::detailedListing() {
    ListingRequest request;
    if (RadioButton1->isChecked()) {
        request.range = ListingRange::All;
    } else if (RadioButton3->isChecked()) {
        request.range = ListingRange::Root;
        request.rootIndex = ComboBox2->currentIndex();
    } else {
        const std::optional<std::string> path = toCp932(Edit1->text());
        if (!path) {
            showError(this, unconvertibleTextMessage(Edit1->text()));
            return std::nullopt;
        }
        request.range = ListingRange::Key;
        request.keyPathText = *path;
    }
    ListingCallbacks callbacks;
    QString shown;
    callbacks.progress = [this, &shown](const std::string& keyPath) { shown = toQString(keyPath); };
    EventPump pump([this, &shown] { Label3->setText(shown); });
    callbacks.pump = [&pump] { pump(); };
    callbacks.stop = &stop_;
    Listing listing;
    try {
        listing = buildListing(request, callbacks);
    } catch (const std::exception& e) {
        showError(this, toQString(describeError(e)));
        return std::nullopt;
    }
    if (listing.error) {
        showError(this, toQString(*listing.error));
        return std::nullopt;
    }
    // A key that is not there would print an empty page without a word.
    if (request.range == ListingRange::Key && listing.lines == 0 && !listing.stopped) {
        showError(this, QStringLiteral("指定されたレジストリキーは存在しません。"));
        return std::nullopt;
    }
    return listing;
}

void TRegPrintForm::Button1Click() {
    if (busy_)
        return;
    stop_ = false;
    setBusy(true);
    // The panel shows before the work starts, and its cancel works from the first key on.
    QCoreApplication::processEvents();
    std::optional<Listing> listing;
    std::optional<QStringList> lines;
    if (detailedForm()) {
        listing = detailedListing();
        if (listing)
            lines = listingLines(listing->text);
    } else {
        lines = registryFileLines();
    }
    setBusy(false);
    if (!lines)
        return;
    lines_ = *lines;
    hide();
    if (use_ == Use::Save) {
        saveListing(*listing);
    } else {
        TTextPrintForm printer(parentWidget(), lines_, PageSetup{});
        TTextPrintForm::run(printer);
    }
    accept();
}

void TRegPrintForm::saveListing(const Listing& listing) {
    // A file that cannot be written asks again: the listing may have taken long to build.
    for (;;) {
        const QString file =
            withDefaultExtension(DialogService::instance().saveFileName(
                                     this, QStringLiteral("テキストとして保存"), QString(),
                                     QStringLiteral("テキストファイル (*.txt)")),
                                 QStringLiteral("TXT"));
        if (file.isEmpty())
            return;
        try {
            writeFileAtomically(std::filesystem::path(file.toStdString()), listing.text);
            return;
        } catch (const std::exception& e) {
            showError(this, toQString(describeError(e)));
        }
    }
}

} // namespace klv
