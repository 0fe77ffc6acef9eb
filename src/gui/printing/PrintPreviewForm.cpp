#include "gui/printing/PrintPreviewForm.h"

#include "gui/printing/TextPrinter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace klv {
namespace {

// Grey around the page, as on a desk.
constexpr int kPagePadding = 12;

QToolButton* speedButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon,
                         const QString& text = {}) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    if (text.isEmpty()) {
        b->setIcon(icon);
    } else {
        b->setText(text);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    return b;
}

std::function<int(TPrintPreviewForm&)>& testRunner() {
    static std::function<int(TPrintPreviewForm&)> runner;
    return runner;
}

} // namespace

TPrintPreviewForm::TPrintPreviewForm(QWidget* parent, std::shared_ptr<const TextPrintJob> job,
                                     std::vector<RowPosition> pageStarts)
    : QDialog(parent), job_(std::move(job)), starts_(std::move(pageStarts)) {
    if (starts_.empty())
        starts_.push_back(RowPosition{});
    setObjectName(QStringLiteral("PrintPreview"));
    setWindowTitle(QStringLiteral(" 印刷プレビュー"));
    setModal(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    QStyle* s = style();
    SpeedButton1 = speedButton(this, "SpeedButton1", QStringLiteral("先頭ページへ移動"),
                               s->standardIcon(QStyle::SP_MediaSkipBackward));
    SpeedButton2 = speedButton(this, "SpeedButton2", QStringLiteral("ページを戻る"),
                               s->standardIcon(QStyle::SP_MediaSeekBackward));
    SpeedButton3 = speedButton(this, "SpeedButton3", QStringLiteral("次のページへ進む"),
                               s->standardIcon(QStyle::SP_MediaSeekForward));
    SpeedButton4 = speedButton(this, "SpeedButton4", QStringLiteral("最終ページへ移動"),
                               s->standardIcon(QStyle::SP_MediaSkipForward));
    SpeedButton5 =
        speedButton(this, "SpeedButton5", QStringLiteral("プレビュー幅を画面の縦幅にあわせる"), {},
                    QStringLiteral("縦幅"));
    SpeedButton6 =
        speedButton(this, "SpeedButton6", QStringLiteral("プレビュー幅を画面の横幅にあわせる"), {},
                    QStringLiteral("横幅"));
    SpeedButton7 =
        speedButton(this, "SpeedButton7", QStringLiteral("プレビュー幅を標準サイズへ戻す"), {},
                    QStringLiteral("標準"));
    for (QToolButton* b : {SpeedButton5, SpeedButton6, SpeedButton7})
        b->setCheckable(true);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setMinimumWidth(Label1->fontMetrics().horizontalAdvance(QStringLiteral("0000 / 0000")));
    Label1->setAlignment(Qt::AlignCenter);
    Button1 = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));

    auto* bar = new QHBoxLayout;
    bar->setSpacing(2);
    bar->addWidget(SpeedButton1);
    bar->addWidget(SpeedButton2);
    bar->addWidget(Label1);
    bar->addWidget(SpeedButton3);
    bar->addWidget(SpeedButton4);
    bar->addSpacing(16);
    bar->addWidget(SpeedButton5);
    bar->addWidget(SpeedButton6);
    bar->addWidget(SpeedButton7);
    bar->addStretch(1);
    bar->addWidget(Button1);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setAlignment(Qt::AlignCenter);
    ScrollBox1->setBackgroundRole(QPalette::Dark);
    ScrollBox1->setWidget(Image1);

    auto* v = new QVBoxLayout(this);
    v->addLayout(bar);
    v->addWidget(ScrollBox1, 1);

    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
    connect(SpeedButton6, &QToolButton::clicked, this, [this] { SpeedButton6Click(); });
    connect(SpeedButton7, &QToolButton::clicked, this, [this] { SpeedButton7Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    // A page in full on a usual screen.
    int height = 800;
    if (const QScreen* screen = this->screen())
        height = std::max(480, screen->availableGeometry().height() * 9 / 10);
    resize(height * 3 / 4, height);
    setZoom(Zoom::FitHeight);
    showPage(1);
}

TPrintPreviewForm::~TPrintPreviewForm() = default;

int TPrintPreviewForm::run(TPrintPreviewForm& form) {
    if (testRunner())
        return testRunner()(form);
    return form.exec();
}

void TPrintPreviewForm::setRunnerForTesting(std::function<int(TPrintPreviewForm&)> runner) {
    testRunner() = std::move(runner);
}

void TPrintPreviewForm::showPage(int page) {
    page_ = std::clamp(page, 1, pageCount());
    Label1->setText(QString::asprintf("%3d / %3d", page_, pageCount()));
    SpeedButton1->setEnabled(page_ > 1);
    SpeedButton2->setEnabled(page_ > 1);
    SpeedButton3->setEnabled(page_ < pageCount());
    SpeedButton4->setEnabled(page_ < pageCount());
    render();
    toTopLeft();
}

void TPrintPreviewForm::toTopLeft() {
    // A page is read from its top left.
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TPrintPreviewForm::setZoom(Zoom zoom) {
    zoom_ = zoom;
    SpeedButton5->setChecked(zoom == Zoom::FitHeight);
    SpeedButton6->setChecked(zoom == Zoom::FitWidth);
    SpeedButton7->setChecked(zoom == Zoom::Standard);
}

void TPrintPreviewForm::render() {
    const QSizeF paper = job_->paperSize();
    const QSize view = ScrollBox1->viewport()->size();
    switch (zoom_) {
    case Zoom::FitHeight:
        scale_ = (view.height() - 2.0 * kPagePadding) / paper.height();
        break;
    case Zoom::FitWidth:
        // The page will be taller than the view: leave room for the scroll bar.
        scale_ = (view.width() - 2.0 * kPagePadding -
                  ScrollBox1->verticalScrollBar()->sizeHint().width()) /
                 paper.width();
        break;
    case Zoom::Standard:
        scale_ = logicalDpiX() / job_->resolution();
        break;
    }
    scale_ = std::max(scale_, 0.01);
    PageLayout layout(job_->layoutParams(), starts_[static_cast<size_t>(page_ - 1)]);
    const QImage image = job_->pageImage(layout.nextPage(), page_, scale_);
    Image1->setPixmap(QPixmap::fromImage(image));
    Image1->resize(
        image.size().grownBy(QMargins(kPagePadding, kPagePadding, kPagePadding, kPagePadding)));
}

void TPrintPreviewForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (zoom_ != Zoom::Standard)
        render();
}

void TPrintPreviewForm::SpeedButton1Click() {
    showPage(1);
}

void TPrintPreviewForm::SpeedButton2Click() {
    showPage(page_ - 1);
}

void TPrintPreviewForm::SpeedButton3Click() {
    showPage(page_ + 1);
}

void TPrintPreviewForm::SpeedButton4Click() {
    showPage(pageCount());
}

void TPrintPreviewForm::SpeedButton5Click() {
    setZoom(Zoom::FitHeight);
    render();
    toTopLeft();
}

void TPrintPreviewForm::SpeedButton6Click() {
    setZoom(Zoom::FitWidth);
    render();
    toTopLeft();
}

void TPrintPreviewForm::SpeedButton7Click() {
    setZoom(Zoom::Standard);
    render();
    toTopLeft();
}

void TPrintPreviewForm::Button1Click() {
    accept();
}

} // namespace klv
