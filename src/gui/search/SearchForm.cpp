#include "gui/search/SearchForm.h"

#include "core/platform/Encoding.h"
#include "core/platform/ErrorText.h"
#include "core/registry/Registry.h"
#include "core/search/TextMatcher.h"
#include "core/settings/SettingsFile.h"
#include "gui/browse/RegBrowse.h"
#include "gui/search/SearchResult.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/EventPump.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/KeyPathCheck.h"
#include "gui/widgets/TextBridge.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace klv {

namespace {

constexpr int kHistoryLimit = 10;

const char* const kRootOptionKeys[] = {"1", "2", "3", "4", "5", "6"};

QStringList toQStrings(const std::vector<std::string>& list) {
    QStringList out;
    for (const std::string& s : list)
        out << toQString(s);
    return out;
}

QToolButton* browseButton(QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setText(QStringLiteral("･･･"));
    b->setToolTip(QStringLiteral("レジストリの参照"));
    return b;
}

} // namespace

TSearchForm::TSearchForm(FrameHost& frame, bool replaceMode, QWidget* parent)
    : QDialog(parent), frame_(frame), replaceMode_(replaceMode),
      ntFamily_(frame.Label12 == QStringLiteral("1")) {
    setObjectName(QStringLiteral("SearchForm"));
    setWindowTitle(replaceMode ? QStringLiteral("置換") : QStringLiteral("検索"));
    setModal(true);

    auto* top = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    Label1 = new QLabel(QStringLiteral("検索する値(&N) : "), this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMinimumWidth(360);
    Label1->setBuddy(ComboBox1);
    Label2 = new QLabel(QStringLiteral("置換する値(&C) : "), this);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    Label2->setBuddy(ComboBox2);
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(ComboBox1, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(ComboBox2, 1, 1);
    fields->setColumnStretch(1, 1);
    Label2->setVisible(replaceMode);
    ComboBox2->setVisible(replaceMode);
    top->addLayout(fields);

    PageControl1 = new QTabWidget(this);
    TabSheet1 = buildScopePage();
    TabSheet2 = buildKeysPage();
    TabSheet3 = buildTargetPage();
    TabSheet4 = buildExclusionPage();
    PageControl1->addTab(TabSheet1, QStringLiteral("検索範囲"));
    PageControl1->addTab(TabSheet2, QStringLiteral("複数の検索範囲"));
    PageControl1->addTab(TabSheet3, QStringLiteral("検索対象"));
    PageControl1->addTab(TabSheet4, QStringLiteral("検索除外の指定"));
    PageControl1->setTabVisible(1, false);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) { updateHexBox(); });
    top->addWidget(PageControl1, 1);

    Label9 = new QLabel(this);
    Label9->setObjectName(QStringLiteral("Progress"));
    Label9->setTextFormat(Qt::PlainText);
    Label9->setMinimumWidth(200);
    top->addWidget(Label9);

    auto* buttons = new QHBoxLayout;
    Button1 = new QPushButton(QStringLiteral("検索(&F)"), this);
    Button2 = new QPushButton(QStringLiteral("検索をキャンセル(&C)"), this);
    Button3 = new QPushButton(QStringLiteral("閉じる(&E)"), this);
    Button1->setDefault(true);
    buttons->addStretch(1);
    for (QPushButton* b : {Button1, Button2, Button3})
        buttons->addWidget(b);
    top->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

    readSettings();
    if (replaceMode_) {
        // Replace mode changes one kind of text at a time: strings, to begin with.
        for (QToolButton* b : {ToolButton1, ToolButton2, ToolButton4})
            b->setChecked(false);
        ToolButton3->setChecked(true);
    }
    // The last-write filter exists on the NT family only, and so does no HKEY_DYN_DATA.
    if (ntFamily_) {
        RootBoxes[5]->setChecked(false);
        RootBoxes[5]->setEnabled(false);
        const QDateTime now = QDateTime::currentDateTime();
        DateTimePicker1->setDate(now.date());
        DateTimePicker2->setTime(now.time());
    } else {
        CheckBox11->setChecked(false);
        CheckBox11->setEnabled(false);
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{Label5, DateTimePicker1, Label6, DateTimePicker2,
                                         RadioButton4, RadioButton5, RadioButton6})
        w->setVisible(ntFamily_);
    updateHexBox();
    setRunning(false);
}

TSearchForm::~TSearchForm() = default;

TSearchResult* TSearchForm::lastResult() const {
    return result_;
}

QWidget* TSearchForm::buildScopePage() {
    auto* page = new QWidget(this);
    auto* v = new QVBoxLayout(page);
    RadioButton1 = new QRadioButton(QStringLiteral("すべて検索(&A)"), page);
    RadioButton1->setChecked(true);
    v->addWidget(RadioButton1);
    auto* roots = new QGridLayout;
    roots->setContentsMargins(24, 0, 0, 0);
    for (int i = 0; i < kRootKeyCount; ++i) {
        RootBoxes[i] =
            new QCheckBox(QString::fromLatin1(
                              kRootKeys[static_cast<std::size_t>(i)].name.data(),
                              static_cast<int>(kRootKeys[static_cast<std::size_t>(i)].name.size())),
                          page);
        roots->addWidget(RootBoxes[i], i / 2, i % 2);
    }
    CheckBox7 = new QCheckBox(QStringLiteral("各ルートの \\Software キー以下のみを検索(&S)"), page);
    roots->addWidget(CheckBox7, 3, 0, 1, 2);
    v->addLayout(roots);
    RadioButton2 = new QRadioButton(QStringLiteral("指定したキー以下を検索(&H)"), page);
    v->addWidget(RadioButton2);
    auto* one = new QHBoxLayout;
    one->setContentsMargins(24, 0, 0, 0);
    Memo1 = new QPlainTextEdit(page);
    Memo1->setFixedHeight(Memo1->fontMetrics().lineSpacing() * 3 + 10);
    SpeedButton1 = browseButton(page);
    one->addWidget(Memo1, 1);
    one->addWidget(SpeedButton1, 0, Qt::AlignTop);
    v->addLayout(one);
    RadioButton3 = new QRadioButton(QStringLiteral("指定した複数のキー以下を検索(&W)"), page);
    v->addWidget(RadioButton3);
    v->addStretch(1);
    for (QRadioButton* r : {RadioButton1, RadioButton2, RadioButton3})
        connect(r, &QRadioButton::clicked, this, [this] { RadioButtonClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButtonClick(1); });
    return page;
}

QWidget* TSearchForm::buildKeysPage() {
    auto* page = new QWidget(this);
    auto* g = new QGridLayout(page);
    auto* label = new QLabel(QStringLiteral("検索するキーの追加(&K) : "), page);
    Edit1 = new QLineEdit(page);
    label->setBuddy(Edit1);
    SpeedButton2 = browseButton(page);
    Button4 = new QPushButton(QStringLiteral("検索範囲に追加(&A)"), page);
    auto* listLabel = new QLabel(QStringLiteral("検索範囲のリスト(&L) : "), page);
    ListBox1 = new QListWidget(page);
    listLabel->setBuddy(ListBox1);
    Button5 = new QPushButton(QStringLiteral("検索範囲から削除(&D)"), page);
    g->addWidget(label, 0, 0, 1, 3);
    g->addWidget(Edit1, 1, 0);
    g->addWidget(SpeedButton2, 1, 1);
    g->addWidget(Button4, 1, 2);
    g->addWidget(listLabel, 2, 0, 1, 3);
    g->addWidget(ListBox1, 3, 0, 1, 2);
    g->addWidget(Button5, 3, 2, Qt::AlignTop);
    g->setColumnStretch(0, 1);
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButtonClick(2); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    return page;
}

QWidget* TSearchForm::buildTargetPage() {
    auto* page = new QWidget(this);
    auto* v = new QVBoxLayout(page);
    auto* targets = new QHBoxLayout;
    const auto toggle = [&](const char* caption) {
        auto* b = new QToolButton(page);
        b->setText(QString::fromUtf8(caption));
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumWidth(110);
        targets->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, b] { ToolButtonClick(b); });
        return b;
    };
    ToolButton1 = toggle("キー(&K)");
    ToolButton2 = toggle("名前(&N)");
    ToolButton3 = toggle("文字列のデータ(&S)");
    ToolButton4 = toggle("数値のデータ(&D)");
    targets->addStretch(1);
    v->addLayout(targets);
    CheckBox8 = new QCheckBox(QStringLiteral("完全に一致するものだけを検索(&W)"), page);
    CheckBox9 = new QCheckBox(QStringLiteral("大文字・小文字の区別をしない(&R)"), page);
    CheckBox10 = new QCheckBox(QStringLiteral("16進数の数値を検索(&T)"), page);
    for (QCheckBox* c : {CheckBox8, CheckBox9, CheckBox10})
        v->addWidget(c);

    auto* filter = new QGroupBox(page);
    auto* g = new QGridLayout(filter);
    CheckBox11 = new QCheckBox(
        QStringLiteral("キーの最終書込日時を検索条件に追加する(&M) （XP/2000のみ）"), filter);
    Label5 = new QLabel(QStringLiteral("年月日(&Y) : "), filter);
    DateTimePicker1 = new QDateEdit(filter);
    DateTimePicker1->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    DateTimePicker1->setCalendarPopup(true);
    Label5->setBuddy(DateTimePicker1);
    Label6 = new QLabel(QStringLiteral("時間(&I) : "), filter);
    DateTimePicker2 = new QTimeEdit(filter);
    DateTimePicker2->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    Label6->setBuddy(DateTimePicker2);
    RadioButton4 = new QRadioButton(QStringLiteral("以前(&B)"), filter);
    RadioButton5 = new QRadioButton(QStringLiteral("と同じ(&J)"), filter);
    RadioButton6 = new QRadioButton(QStringLiteral("以後(&A)"), filter);
    RadioButton5->setChecked(true);
    g->addWidget(CheckBox11, 0, 0, 1, 5);
    g->addWidget(Label5, 1, 0);
    g->addWidget(DateTimePicker1, 1, 1);
    g->addWidget(Label6, 1, 2);
    g->addWidget(DateTimePicker2, 1, 3);
    auto* directions = new QHBoxLayout;
    for (QRadioButton* r : {RadioButton4, RadioButton5, RadioButton6})
        directions->addWidget(r);
    directions->addStretch(1);
    g->addLayout(directions, 2, 0, 1, 5);
    g->setColumnStretch(4, 1);
    v->addWidget(filter);
    v->addStretch(1);
    return page;
}

QWidget* TSearchForm::buildExclusionPage() {
    auto* page = new QWidget(this);
    auto* g = new QGridLayout(page);
    auto* label = new QLabel(QStringLiteral("検索から除外するキーの指定(&K) : "), page);
    Edit2 = new QLineEdit(page);
    label->setBuddy(Edit2);
    SpeedButton3 = browseButton(page);
    Button6 = new QPushButton(QStringLiteral("追加(&A)"), page);
    auto* listLabel = new QLabel(QStringLiteral("検索から除外するキー一覧(&L) : "), page);
    ListBox2 = new QListWidget(page);
    listLabel->setBuddy(ListBox2);
    Button7 = new QPushButton(QStringLiteral("削除(&D)"), page);
    g->addWidget(label, 0, 0, 1, 3);
    g->addWidget(Edit2, 1, 0);
    g->addWidget(SpeedButton3, 1, 1);
    g->addWidget(Button6, 1, 2);
    g->addWidget(listLabel, 2, 0, 1, 3);
    g->addWidget(ListBox2, 3, 0, 1, 2);
    g->addWidget(Button7, 3, 2, Qt::AlignTop);
    g->setColumnStretch(0, 1);
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButtonClick(3); });
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });
    return page;
}

// --- settings -----------------------------------------------------------------------------------

void TSearchForm::readSettings() {
    const SettingsFile& s = frame_.settings();
    ComboBox1->addItems(toQStrings(s.readList("SEARCH", "1", {}, kHistoryLimit)));
    ComboBox1->setCurrentIndex(-1);
    ComboBox2->addItems(toQStrings(s.readList("SEARCH", "2", {}, kHistoryLimit)));
    ComboBox2->setCurrentIndex(-1);
    ListBox2->addItems(toQStrings(s.readList("SEARCH", "3", {})));
    ToolButton1->setChecked(s.readBool("SEARCH_OP", "Key", true));
    ToolButton2->setChecked(s.readBool("SEARCH_OP", "Name", true));
    ToolButton3->setChecked(s.readBool("SEARCH_OP", "Str", true));
    ToolButton4->setChecked(s.readBool("SEARCH_OP", "Int", false));
    CheckBox8->setChecked(s.readBool("SEARCH_OP", "ACC", false));
    CheckBox9->setChecked(s.readBool("SEARCH_OP", "UPP", true));
    CheckBox10->setChecked(s.readBool("SEARCH_OP", "HEX", false));
    for (int i = 0; i < kRootKeyCount; ++i)
        RootBoxes[i]->setChecked(s.readBool("SEARCH_OP", kRootOptionKeys[i], true));
    if (ntFamily_)
        CheckBox11->setChecked(s.readBool("SEARCH_OP", "WRITE", false));
}

void TSearchForm::writeOptions() {
    SettingsFile& s = frame_.settings();
    std::vector<std::string> exclusions;
    for (int i = 0; i < ListBox2->count(); ++i)
        exclusions.push_back(toCp932(ListBox2->item(i)->text()).value_or(std::string()));
    s.writeList("SEARCH", "3", exclusions);
    s.writeBool("SEARCH_OP", "Key", ToolButton1->isChecked());
    s.writeBool("SEARCH_OP", "Name", ToolButton2->isChecked());
    s.writeBool("SEARCH_OP", "Str", ToolButton3->isChecked());
    s.writeBool("SEARCH_OP", "Int", ToolButton4->isChecked());
    s.writeBool("SEARCH_OP", "ACC", CheckBox8->isChecked());
    s.writeBool("SEARCH_OP", "UPP", CheckBox9->isChecked());
    s.writeBool("SEARCH_OP", "HEX", CheckBox10->isChecked());
    for (int i = 0; i < kRootKeyCount; ++i)
        s.writeBool("SEARCH_OP", kRootOptionKeys[i], RootBoxes[i]->isChecked());
    s.writeBool("SEARCH_OP", "WRITE", CheckBox11->isChecked());
}

// --- presets and small handlers -----------------------------------------------------------------

void TSearchForm::presetStartKey(const QString& keyPath) {
    RadioButton2->setChecked(true);
    Memo1->setPlainText(keyPath);
    RadioButtonClick();
}

void TSearchForm::presetSearchText(const QString& text) {
    ComboBox1->setEditText(text);
}

void TSearchForm::RadioButtonClick() {
    const bool several = RadioButton3->isChecked();
    PageControl1->setTabVisible(1, several);
    if (several)
        PageControl1->setCurrentWidget(TabSheet2);
}

void TSearchForm::ToolButtonClick(QToolButton* button) {
    // In replace mode the four targets are one group with at most one down.
    if (replaceMode_ && button->isChecked())
        for (QToolButton* b : {ToolButton1, ToolButton2, ToolButton3, ToolButton4})
            if (b != button)
                b->setChecked(false);
    updateHexBox();
}

void TSearchForm::updateHexBox() {
    CheckBox10->setEnabled(ToolButton4->isChecked());
}

void TSearchForm::SpeedButtonClick(int which) {
    frame_.Label11 = QStringLiteral("All");
    TRegBrowse::browse(frame_, this);
    const QString chosen = frame_.Label10;
    if (chosen.isEmpty())
        return;
    if (which == 1)
        Memo1->setPlainText(chosen);
    else if (which == 2)
        Edit1->setText(chosen);
    else
        Edit2->setText(chosen);
}

void TSearchForm::Button4Click() {
    const QString text = Edit1->text();
    if (keyPresentOrTell(this, text))
        ListBox1->addItem(text);
}

void TSearchForm::Button5Click() {
    if (QListWidgetItem* item = ListBox1->currentItem())
        delete item;
}

void TSearchForm::Button6Click() {
    if (!Edit2->text().isEmpty())
        ListBox2->addItem(Edit2->text());
}

void TSearchForm::Button7Click() {
    if (QListWidgetItem* item = ListBox2->currentItem())
        delete item;
}

void TSearchForm::setRunning(bool on) {
    running_ = on;
    Button1->setEnabled(!on);
    Button3->setEnabled(!on);
    Button2->setEnabled(on);
}

void TSearchForm::Button3Click() {
    reject(); // also when not shown (close() would skip the options)
}

void TSearchForm::done(int result) {
    // Closing while the walk runs stops it; the dialog closes once the walk has unwound.
    if (walking_) {
        Button2Click();
        closeRequested_ = true;
        return;
    }
    try {
        writeOptions();
    } catch (const std::exception&) {
        // A settings file that cannot be written costs the options only.
    }
    QDialog::done(result);
}

// --- the search ---------------------------------------------------------------------------------

bool TSearchForm::validate() {
    if (RadioButton1->isChecked()) {
        bool any = false;
        for (QCheckBox* c : RootBoxes)
            any = any || (c->isChecked() && c->isEnabled());
        if (!any) {
            showError(this, QStringLiteral("検索範囲が指定されていません。少なくとも１つ以上ルート"
                                           "を指定してください。"));
            return false;
        }
    }
    if ((RadioButton2->isChecked() && Memo1->toPlainText().isEmpty()) ||
        (RadioButton3->isChecked() && ListBox1->count() == 0)) {
        showError(this,
                  QStringLiteral("検索範囲が指定されていません。検索するキーを指定してください。"));
        return false;
    }
    if (!ToolButton1->isChecked() && !ToolButton2->isChecked() && !ToolButton3->isChecked() &&
        !ToolButton4->isChecked()) {
        showError(this, QStringLiteral("検索対象が指定されていません。少なくとも１つ以上、検索対象"
                                       "を指定してください。"));
        return false;
    }
    return true;
}

std::optional<SearchRequest> TSearchForm::readRequest() {
    SearchRequest r;
    const auto convert = [this](const QString& text, std::string& out) {
        const auto cp = toCp932(text);
        if (!cp) {
            showError(this, unconvertibleTextMessage(text));
            return false;
        }
        out = *cp;
        return true;
    };
    if (!convert(ComboBox1->currentText(), r.text) ||
        !convert(replaceMode_ ? ComboBox2->currentText() : QString(), r.replacement) ||
        !convert(Memo1->toPlainText(), r.startKey))
        return std::nullopt;
    r.replaceMode = replaceMode_;
    r.scope = RadioButton1->isChecked()   ? SearchScope::AllRoots
              : RadioButton2->isChecked() ? SearchScope::OneKey
                                          : SearchScope::SeveralKeys;
    for (int i = 0; i < kRootKeyCount; ++i)
        r.roots[static_cast<std::size_t>(i)] =
            RootBoxes[i]->isChecked() && RootBoxes[i]->isEnabled();
    r.softwareOnly = CheckBox7->isChecked();
    for (int i = 0; i < ListBox1->count(); ++i)
        if (!convert(ListBox1->item(i)->text(), r.startKeys.emplace_back()))
            return std::nullopt;
    for (int i = 0; i < ListBox2->count(); ++i)
        if (!convert(ListBox2->item(i)->text(), r.exclusions.emplace_back()))
            return std::nullopt;
    r.keys = ToolButton1->isChecked();
    r.names = ToolButton2->isChecked();
    r.strings = ToolButton3->isChecked();
    r.numbers = ToolButton4->isChecked();
    r.wholeMatch = CheckBox8->isChecked();
    r.ignoreCase = CheckBox9->isChecked();
    return r;
}

void TSearchForm::pushHistory(QComboBox* box, const QString& text) {
    box->insertItem(0, text);
    while (box->count() > kHistoryLimit)
        box->removeItem(box->count() - 1);
    box->setCurrentIndex(0);
}

TSearchResult* TSearchForm::openResults(const SearchRequest& request) {
    QString caption;
    if (request.text.empty()) {
        caption = QStringLiteral("すべての検索結果");
    } else {
        caption = toQString(request.text) + QStringLiteral(" の検索結果");
        if (request.wholeMatch)
            caption += QStringLiteral(" < 完全一致 >");
        if (request.ignoreCase)
            caption += QStringLiteral(" < 大文字・小文字の区別なし >");
    }
    auto* w = new TSearchResult(frame_, request);
    w->setWindowTitle(caption);
    frame_.addChildWindow(w);
    w->setAnimationRunning(true);
    w->setProgressLines(QStringLiteral("レジストリを検索しています..."), QString());
    return w;
}

void TSearchForm::Button1Click() {
    if (running_ || walking_ || !validate())
        return;
    std::optional<SearchRequest> request = readRequest();
    if (!request)
        return;
    setRunning(true);
    pushHistory(ComboBox1, ComboBox1->currentText());
    if (request->numbers && CheckBox10->isChecked()) {
        // Hexadecimal numbers are searched as their decimal texts, shown in the fields.
        for (auto [text, box] :
             {std::pair{&request->text, ComboBox1}, std::pair{&request->replacement, ComboBox2}}) {
            if (box == ComboBox2 && text->empty())
                continue;
            const auto decimal = hexToDecimalText(*text);
            if (!decimal) {
                showError(this, toQString(notANumberText("$" + *text)));
                setRunning(false);
                return;
            }
            *text = *decimal;
            box->setEditText(toQString(*decimal));
        }
    }
    if (!request->replacement.empty())
        pushHistory(ComboBox2, toQString(request->replacement));
    try {
        std::vector<std::string> history;
        for (int i = 0; i < ComboBox1->count(); ++i)
            history.push_back(toCp932(ComboBox1->itemText(i)).value_or(std::string()));
        frame_.settings().writeList("SEARCH", "1", history);
        history.clear();
        for (int i = 0; i < ComboBox2->count(); ++i)
            history.push_back(toCp932(ComboBox2->itemText(i)).value_or(std::string()));
        frame_.settings().writeList("SEARCH", "2", history);
    } catch (const std::exception&) {
        // The histories are a convenience; the search goes on without them.
    }

    result_ = openResults(*request);
    stop_ = false;
    std::vector<SearchHit> batch;
    std::string location;
    std::uint64_t keys = 0;
    const auto flush = [&] {
        if (result_ && !batch.empty())
            result_->appendHits(std::move(batch));
        batch.clear();
    };
    EventPump pump([&] {
        flush();
        const QString where = toQString(location);
        frame_.setStatusPanel(2, QStringLiteral("ｽｷｬﾝしています: ") + where);
        if (result_)
            result_->setProgressLines(QStringLiteral("レジストリを検索しています..."), where);
        Label9->setText(QStringLiteral("%L1 キー : ").arg(keys) + where);
    });
    SearchCallbacks cb;
    cb.hit = [&](SearchHit&& h) { batch.push_back(std::move(h)); };
    cb.scanning = [&](const std::string& at, std::uint64_t walked) {
        location = at;
        keys = walked;
    };
    cb.pump = [&] {
        pump();
        // A results window closed meanwhile ends the search: there is nowhere to show it.
        if (!result_)
            stop_ = true;
    };
    cb.stop = &stop_;
    SearchOutcome outcome;
    walking_ = true;
    try {
        outcome = SearchEngine(*request).run(cb);
        walking_ = false;
    } catch (const std::exception& e) {
        walking_ = false;
        flush();
        setRunning(false);
        if (result_)
            result_->hideProgressBand();
        showError(this, toQString(describeError(e)));
        return;
    }
    flush();
    finishSearch(outcome);
    if (closeRequested_)
        reject();
}

void TSearchForm::finishSearch(const SearchOutcome& outcome) {
    Label9->setText(QStringLiteral("%L1 キー").arg(outcome.keys));
    if (outcome.reopenFailed) {
        // The rows found so far stay; the dialog returns to idle rather than hanging on.
        setRunning(false);
        if (result_) {
            result_->setAnimationRunning(false);
            result_->hideProgressBand();
        }
        showError(this, toQString(reopenErrorText(*outcome.reopenFailed)));
        return;
    }
    frame_.setStatusPanel(2, QString());
    if (result_) {
        result_->setAnimationRunning(false);
        result_->setProgressLines(
            QStringLiteral("検索が終了しました"),
            QStringLiteral("検索条件に一致したものは以下の通りです。ダブルクリックすると該当"
                           "ツリーに移動できます。"));
        result_->hideProgressBand();
    }
    setRunning(false);
    Label1->setText(QStringLiteral("検索結果を検査していますので、しばらくお待ちください。"));
    std::size_t count = 0;
    if (result_) {
        std::vector<SearchHit>& rows = result_->rows();
        if (ntFamily_ && CheckBox11->isChecked()) {
            const QDateTime moment(DateTimePicker1->date(), DateTimePicker2->time());
            const std::string text =
                moment.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")).toStdString();
            filterByLastWrite(rows, text,
                              RadioButton4->isChecked()   ? LastWriteFilter::Before
                              : RadioButton5->isChecked() ? LastWriteFilter::Same
                                                          : LastWriteFilter::After);
        } else {
            for (SearchHit& h : rows)
                h.checked = true;
        }
        result_->rowsChanged();
        count = rows.size();
    }
    if (!closeRequested_ &&
        DialogService::instance().message(
            this, QStringLiteral("検索終了"),
            QString::number(count) +
                QStringLiteral(" 件ヒットして検索が終了しました。検索の条件設定画面を閉じますか。"),
            MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes)
        reject();
}

void TSearchForm::Button2Click() {
    stop_ = true;
    frame_.setStatusPanel(2, QStringLiteral("スキャンを中止しました..."));
    if (result_)
        result_->setProgressLines(QStringLiteral("検索をユーザーが中止しました..."), QString());
    setRunning(false);
}

} // namespace klv
