#include "gui/widgets/EventPump.h"

#include <QApplication>

namespace klv {

EventPump::EventPump(std::function<void()> tick, int intervalMs)
    : tick_(std::move(tick)), intervalMs_(intervalMs) {
    timer_.start();
}

void EventPump::operator()() {
    // Reading the clock costs little, but not nothing: look at it every few calls.
    if (++calls_ % 16 != 0 || timer_.elapsed() < intervalMs_)
        return;
    if (tick_)
        tick_();
    QApplication::processEvents();
    timer_.restart();
}

} // namespace klv
