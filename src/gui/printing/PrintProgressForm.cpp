#include "gui/printing/PrintProgressForm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace klv {
namespace {

// Short jobs finish before the window would appear.
constexpr int kShowAfterMs = 500;

std::function<void(TPrintProgressForm&)>& stepHook() {
    static std::function<void(TPrintProgressForm&)> hook;
    return hook;
}

} // namespace

TPrintProgressForm::TPrintProgressForm(QWidget* parent, const QString& doing)
    : QDialog(parent), pump_([this] {
          if (!isVisible() && started_.elapsed() >= kShowAfterMs)
              show();
      }) {
    setObjectName(QStringLiteral("PrintProgress"));
    setWindowTitle(QStringLiteral("印刷"));
    // The job's own window must not be used while it runs.
    setWindowModality(Qt::ApplicationModal);
    Label1 = new QLabel(QStringLiteral("しばらくお待ちください"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = new QLabel(doing, this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    Button1 = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(24, 16, 24, 16);
    v->addWidget(Label1);
    v->addWidget(Label2);
    v->addSpacing(8);
    v->addWidget(Button1, 0, Qt::AlignHCenter);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    started_.start();
}

bool TPrintProgressForm::step() {
    if (stepHook())
        stepHook()(*this);
    pump_();
    return !stop_;
}

void TPrintProgressForm::Button1Click() {
    stop_ = true;
}

void TPrintProgressForm::closeEvent(QCloseEvent* event) {
    // Closing the window is cancelling the job; the job itself closes it when it ends.
    Button1Click();
    event->ignore();
}

void TPrintProgressForm::reject() {
    Button1Click(); // Esc
}

void TPrintProgressForm::setStepHookForTesting(std::function<void(TPrintProgressForm&)> hook) {
    stepHook() = std::move(hook);
}

} // namespace klv
