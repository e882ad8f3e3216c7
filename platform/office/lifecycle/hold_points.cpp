// The hold points tests use; compiled only into a plugin with test hooks.

#include "hold_points.h"

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace office {

namespace {
struct HoldPoint {
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray point;
    Millis stall{0};
    bool stopOffice = false;
    pid_t held = -1;
};
HoldPoint& holdPoint() {
    static HoldPoint h;
    return h;
}
} // namespace

void setHoldPoint(const QByteArray& point, Millis stall, bool stopOffice) {
    HoldPoint& h = holdPoint();
    std::lock_guard lock(h.mutex);
    h.point = point;
    h.stall = stall;
    h.stopOffice = stopOffice;
    h.held = -1;
}

void holdAt(const char* point, pid_t office) {
    HoldPoint& h = holdPoint();
    std::unique_lock lock(h.mutex);
    if (h.point.isEmpty() || h.point != point)
        return;
    if (h.stopOffice) {
        if (office <= 0)
            return;
        h.point.clear(); // once
        ::kill(office, SIGSTOP);
        h.held = office;
        h.changed.notify_all();
        return;
    }
    const Millis stall = h.stall;
    lock.unlock();
    std::this_thread::sleep_for(stall);
}

pid_t heldOffice(Millis wait) {
    HoldPoint& h = holdPoint();
    std::unique_lock lock(h.mutex);
    h.changed.wait_for(lock, wait, [&] { return h.held > 0; });
    return h.held;
}

} // namespace office
