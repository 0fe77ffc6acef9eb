#pragma once
// The small window of a long printing or preview job: "しばらくお待ちください", what is being
// done, and a cancel button. It shows itself only once the job has run for a moment.
#include "gui/widgets/EventPump.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

class QLabel;
class QPushButton;

namespace klv {

class TPrintProgressForm : public QDialog {
    Q_OBJECT
public:
    // `doing`: "印刷中" or "プレビューを作成中".
    TPrintProgressForm(QWidget* parent, const QString& doing);

    // Called between steps of the job: shows the window when the job takes long and lets the
    // windows work. False once cancelled.
    bool step();
    bool cancelled() const { return stop_; }
    // The job's stop flag.
    const bool* stopFlag() const { return &stop_; }

    QLabel* Label1 = nullptr;       // しばらくお待ちください
    QLabel* Label2 = nullptr;       // what is being done
    QPushButton* Button1 = nullptr; // キャンセル(&C)

    void Button1Click();

    // Tests act from here on every step (pressing cancel, say); nullptr turns it off.
    static void setStepHookForTesting(std::function<void(TPrintProgressForm&)> hook);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    bool stop_ = false;
    QElapsedTimer started_;
    EventPump pump_;
};

} // namespace klv
