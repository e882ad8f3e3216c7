#pragma once
// Test seams of the office plugin. The plugin is loaded at run time, so a test
// looks these up in it by name (see resolve below). Only a plugin built with
// VELTRANE_OFFICE_TEST_HOOKS=ON has them.

#include <QLibrary>
#include <QString>

extern "C" {
// Points the plugin at another soffice.bin; nullptr restores the installed one.
void veltrane_office_testing_set_program(const char* path);
// Shortens the watchdog bounds, in milliseconds; 0 restores that bound's default.
void veltrane_office_testing_set_bounds(int startMs, int ordinaryMs, int lengthyMs);
// Shortens how a waiting call's office is judged hung (the pulse, the time
// stopped, the time without CPU time), in milliseconds; 0 restores the default.
void veltrane_office_testing_set_hang_judging(int pulseMs, int stoppedMs, int idleMs);
// The office process behind an application object (an automation::Dispatch*), or -1.
long veltrane_office_testing_process_id(void* application);
// Waits up to boundMs until every office that has quit or failed is reaped;
// returns 1 when none is left.
int veltrane_office_testing_wait_for_exits(int boundMs);
// Ends the host's idle office and waits up to boundMs for every exit; returns 1
// when none is left. The host starts a new office when next asked.
int veltrane_office_testing_end_host(int boundMs);
// How many sessions an office serves before the host replaces it; 0 restores the default.
void veltrane_office_testing_set_recycle_after(int sessions);
// Waits up to waitMs for the host's background work to finish; the idle
// office's process then, or -1 when there is none.
long veltrane_office_testing_idle_office(int waitMs);
// Calls hook with the office's process id inside every CopyAsPicture, while
// its call is under way; nullptr removes it.
void veltrane_office_testing_on_picture(void (*hook)(long officePid));
// Holds the thread that next reaches the named point of the office's paths:
// stalls it stallMs, or, with stallMs < 0, stops the office there (once), so
// that thread waits in its next call. nullptr clears the point. Points:
// "restart", "respawned", "bridge", "start-tail", "warm-up".
void veltrane_office_testing_hold_at(const char* point, int stallMs);
// The office stopped at the hold point, waiting up to waitMs for it; -1 if none.
long veltrane_office_testing_held_office(int waitMs);
// How many objects the idle office keeps for sessions, once the background
// work is done; -1 when no office is idle.
int veltrane_office_testing_kept_objects(int waitMs);
}

namespace office::testing {

// A seam function from the plugin at pluginPath, or nullptr.
template <class Fn> Fn* resolve(const QString& pluginPath, const char* name) {
    QLibrary lib(pluginPath);
    if (!lib.load())
        return nullptr;
    return reinterpret_cast<Fn*>(lib.resolve(name));
}

} // namespace office::testing
