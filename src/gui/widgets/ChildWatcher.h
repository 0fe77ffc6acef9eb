#pragma once
// Watches a child started by a shell run without waiting for it: the program goes on, and
// when the child ends with a failure its error text is shown in an error box. Deletes itself
// once the child has ended.
#include "core/platform/ProcessRunner.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace klv {

class ChildWatcher : public QObject {
    Q_OBJECT
public:
    // `what` names the program in messages.
    static void watch(ProcessRunner::Child child, QWidget* parent, const QString& what);
    // Watchers still waiting for their child (tests wait for none).
    static int active();

    // The message for a child that failed; empty when its end is no failure (done, declined
    // by the user, or already reported by the child itself).
    static QString failureText(const ProcessRunner::Result& result, const QString& what);

private:
    ChildWatcher(ProcessRunner::Child child, QWidget* parent, QString what);
    ~ChildWatcher() override;
    void poll();

    ProcessRunner::Child child_;
    QPointer<QWidget> parent_;
    QString what_;
    QTimer timer_;
    bool done_ = false;
};

} // namespace klv
