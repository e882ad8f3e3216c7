// The seams tests use to make hangs quick, hold threads at rare moments and
// see the office's processes. Built only into a plugin for tests
// (VELTRANE_OFFICE_TEST_HOOKS); the plugin the program ships exports none.

#include "platform/office/office_testing.h"

#include "platform/office/lifecycle/hold_points.h"
#include "platform/office/lifecycle/office_host.h"
#include "platform/office/wordmodel/copy_picture.h"
#include "platform/office/wordmodel/word_model.h"

#include <algorithm>

#define VELTRANE_EXPORT extern "C" __attribute__((visibility("default")))

VELTRANE_EXPORT void veltrane_office_testing_set_program(const char* path) {
    office::officeProgram() =
        path ? QByteArray(path) : QByteArrayLiteral(VELTRANE_LO_PROGRAM_DIR "/soffice.bin");
}

namespace {
// A bound of 0 or less is the program's own.
office::Millis orDefault(int ms, office::Millis programs) {
    return ms > 0 ? office::Millis(ms) : programs;
}
} // namespace

VELTRANE_EXPORT void veltrane_office_testing_set_bounds(int startMs, int ordinaryMs,
                                                        int lengthyMs) {
    const office::CallBounds defaults;
    office::CallBounds& b = office::callBounds();
    b.start = orDefault(startMs, defaults.start);
    b.ordinary = orDefault(ordinaryMs, defaults.ordinary);
    b.lengthy = orDefault(lengthyMs, defaults.lengthy);
}

VELTRANE_EXPORT void veltrane_office_testing_set_hang_judging(int pulseMs, int stoppedMs,
                                                              int idleMs) {
    const office::CallBounds defaults;
    office::CallBounds& b = office::callBounds();
    b.pulse = orDefault(pulseMs, defaults.pulse);
    b.stoppedFor = orDefault(stoppedMs, defaults.stoppedFor);
    b.idleFor = orDefault(idleMs, defaults.idleFor);
}

VELTRANE_EXPORT long veltrane_office_testing_process_id(void* application) {
    return office::applicationProcessId(static_cast<automation::Dispatch*>(application));
}

VELTRANE_EXPORT int veltrane_office_testing_wait_for_exits(int boundMs) {
    return office::Supervisor::instance().drain(office::Millis(boundMs)) ? 1 : 0;
}

VELTRANE_EXPORT int veltrane_office_testing_end_host(int boundMs) {
    office::OfficeHost& host = office::OfficeHost::instance();
    const bool ended = host.shutdown(office::Millis(boundMs));
    host.reopen();
    return ended ? 1 : 0;
}

VELTRANE_EXPORT void veltrane_office_testing_hold_at(const char* point, int stallMs) {
    office::setHoldPoint(point ? QByteArray(point) : QByteArray(),
                         office::Millis(std::max(stallMs, 0)), stallMs < 0);
}

VELTRANE_EXPORT long veltrane_office_testing_held_office(int waitMs) {
    return office::heldOffice(office::Millis(waitMs));
}

VELTRANE_EXPORT int veltrane_office_testing_kept_objects(int waitMs) {
    const auto idle = office::OfficeHost::instance().idle(office::Millis(waitMs));
    return idle ? idle->keptCount() : -1;
}

VELTRANE_EXPORT void veltrane_office_testing_set_recycle_after(int sessions) {
    office::OfficeHost::instance().setRecycleAfter(sessions);
}

VELTRANE_EXPORT long veltrane_office_testing_idle_office(int waitMs) {
    return office::OfficeHost::instance().idleOffice(office::Millis(waitMs));
}

VELTRANE_EXPORT void veltrane_office_testing_on_picture(void (*hook)(long officePid)) {
    office::setPictureHook(hook);
}
