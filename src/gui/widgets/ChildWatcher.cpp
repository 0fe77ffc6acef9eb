#include "gui/widgets/ChildWatcher.h"

#include "core/regfiles/RegistryPrograms.h"
#include "gui/widgets/DialogService.h"

#include <QCoreApplication>

namespace klv {
namespace {
int watching = 0;
constexpr int kPollMilliseconds = 100;
} // namespace

void ChildWatcher::watch(ProcessRunner::Child child, QWidget* parent, const QString& what) {
    // Owned by the application: it outlives the window that started the child.
    new ChildWatcher(std::move(child), parent, what);
}

int ChildWatcher::active() {
    return watching;
}

ChildWatcher::ChildWatcher(ProcessRunner::Child child, QWidget* parent, QString what)
    : QObject(QCoreApplication::instance()), child_(std::move(child)), parent_(parent),
      what_(std::move(what)) {
    ++watching;
    connect(&timer_, &QTimer::timeout, this, &ChildWatcher::poll);
    timer_.start(kPollMilliseconds);
    QTimer::singleShot(0, this, &ChildWatcher::poll);
}

ChildWatcher::~ChildWatcher() {
    --watching;
}

void ChildWatcher::poll() {
    if (done_ || child_.running())
        return;
    done_ = true;
    timer_.stop();
    const QString text = failureText(child_.result(), what_);
    if (!text.isEmpty())
        showError(parent_.data(), text);
    deleteLater();
}

QString ChildWatcher::failureText(const ProcessRunner::Result& r, const QString& what) {
    const QString detail = QString::fromUtf8(r.errorText).trimmed();
    if (!r.started)
        return what + QStringLiteral(" を起動できません。\n\n") + detail;
    if (r.signal != 0)
        return what + QStringLiteral(" が異常終了しました（シグナル %1）。").arg(r.signal) +
               (detail.isEmpty() ? QString() : QStringLiteral("\n\n") + detail);
    if (r.exitCode == kKlovregDone || r.exitCode == kKlovregCancelled ||
        r.exitCode == kKlovregReported)
        return {};
    // Refused keys are shown by klovreg itself when it asked the user; a silent run names
    // them on stderr.
    if (r.exitCode == kKlovregRefused)
        return detail.isEmpty()
                   ? QString()
                   : what + QStringLiteral(" が一部のキーに書き込めませんでした。\n\n") + detail;
    if (detail.isEmpty())
        return what + QStringLiteral(" が終了コード %1 で終了しました。").arg(r.exitCode);
    return what + QStringLiteral(" がエラーを報告しました。\n\n") + detail;
}

} // namespace klv
