#pragma once
// Test seams: named points on the office's paths where a test holds the thread
// that reaches them, to make a rare interleaving happen every time. Each point
// either stalls that thread for a while or stops (SIGSTOP) the office there,
// once, so the thread's next call into it waits. Only a plugin built with its
// test hooks has them; in any other a point is nothing.

#include "platform/office/lifecycle/supervisor.h"

#include <QByteArray>

#include <sys/types.h>

namespace office {

#ifdef VELTRANE_OFFICE_TEST_HOOKS
void setHoldPoint(const QByteArray& point, Millis stall, bool stopOffice);
void holdAt(const char* point, pid_t office);
// The office stopped at the hold point, once one was; -1 when none within wait.
pid_t heldOffice(Millis wait);
#else
inline void holdAt(const char* /*point*/, pid_t /*office*/) {}
inline pid_t heldOffice(Millis /*wait*/) {
    return -1;
}
#endif

} // namespace office
