#pragma once
// The pump of a long loop on the window thread: called often, it lets the windows process
// their events (and runs a progress display) only every few tens of milliseconds, so that the
// loop stays responsive without spending its time in the event loop.
#include <QElapsedTimer>
#include <functional>

namespace klv {

class EventPump {
public:
    explicit EventPump(std::function<void()> tick = {}, int intervalMs = 40);
    void operator()();

private:
    QElapsedTimer timer_;
    std::function<void()> tick_;
    int intervalMs_;
    unsigned calls_ = 0;
};

} // namespace klv
