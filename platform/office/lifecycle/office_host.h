#pragma once
// The office host: one office kept running and idle for the whole run, handed
// to each session in turn, warmed once in the background and replaced in the
// background when it died, hung, could not be cleaned or grew old.

#include "platform/office/lifecycle/office_process.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace office {

class OfficeHost {
  public:
    // Made on first use. With an application object, it ends with that: its
    // offices are retired and reaped, its worker and the supervisor's thread
    // joined, and both destroyed. Without one, kept to the program's end.
    static OfficeHost& instance();
    static bool started(); // whether instance() has been called since the host last ended
    ~OfficeHost();         // stops and joins the worker

    // An office for a session: the idle one when it still answers, else a
    // new one. Waits only for a start already under way when no office is
    // idle. Throws automation::Error when no office can start, or once the
    // host is stopping.
    std::shared_ptr<OfficeProcess> take();

    // A session is over. An office the session left clean goes back, idle;
    // one that died or hung is retired and replaced in the background. One
    // with a reason to be replaced (replaceReason) or old keeps serving until its replacement is
    // ready. loadedWriter: the session had Writer open, save or render
    // documents, so the office needs no warm-up.
    void giveBack(std::shared_ptr<OfficeProcess> office, const QString& replaceReason,
                  bool loadedWriter = false);

    // Loads what a generation needs (Writer, the Word filters, the PDF export)
    // in the idle office, in the background, by running how on it. Offices
    // started later for the host are warmed too.
    using WarmUp = void (*)(OfficeProcess& office);
    void warmUp(WarmUp how);

    // Stops the host: no office starts from now on, a start or warm-up under
    // way is cut short (its office killed), the idle office is retired (asked
    // as ask says), and this waits up to bound for the background work and
    // every exit. Returns true when nothing is left.
    bool shutdown(Millis bound, OfficeProcess::Ask ask = OfficeProcess::Ask::Call);
    // After a shutdown, lets the host start offices again (tests).
    void reopen();

    // Test seams: how many sessions an office serves before it is replaced,
    // and the idle office's process once the background work is done.
    void setRecycleAfter(int sessions);
    pid_t idleOffice(Millis wait);
    // The idle office itself, once the background work is done, or nothing.
    std::shared_ptr<OfficeProcess> idle(Millis wait);

  private:
    // What the host keeps about each of its offices, under its lock.
    struct Record {
        int sessionsServed = 0;
        bool warm = false;
        bool replaceWhenReady = false; // serves until its replacement is warm and idle
    };
    // One of the host's offices with its record; empty when office is null.
    struct Hosted {
        std::shared_ptr<OfficeProcess> office;
        Record record;
        explicit operator bool() const { return office != nullptr; }
    };
    // An office lent to a session, and its record until the office comes back.
    struct Lent {
        std::weak_ptr<OfficeProcess> office;
        Record record;
    };

    OfficeHost() = default;
    // Under the lock: a session is given an office, and gives it back (its
    // record, or a fresh one for an office the host never lent).
    void lend(const Hosted& hosted);
    Record takeBack(const std::shared_ptr<OfficeProcess>& office);
    void work();
    void ensureWorker();
    bool noWorkInFlight() const; // nothing for the worker to do or doing
    void replaceInBackground(std::unique_lock<std::mutex>& lock);
    void warmInBackground(std::unique_lock<std::mutex>& lock);
    void keepOrRetire(Hosted hosted, std::unique_lock<std::mutex>& lock);
    void wantReplacement();
    void retireLater(std::shared_ptr<OfficeProcess> office, const QString& why);
    // retireLater from under the host's lock, which it lets go meanwhile.
    void retireOutsideLock(std::shared_ptr<OfficeProcess> office, const QString& why,
                           std::unique_lock<std::mutex>& lock);
    bool healthy(OfficeProcess& office);
    std::shared_ptr<OfficeProcess> startOffice(const char* why, bool replacing = false);
    // The replacement is paused while sessions run on the office it replaces,
    // unless a caller waits for it.
    void pauseOrResume();
    // Until no session has run for a moment (or long enough has passed, or
    // the host stops): the worker's heavy work keeps out of the sessions' way.
    void waitForQuiet(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    Hosted mIdle;
    std::vector<Lent> mLent;
    std::deque<std::shared_ptr<OfficeProcess>> mRetiring;
    std::shared_ptr<OfficeProcess> mRetiringNow; // the worker is asking it to end
    // Offices being started, and the one being warmed: cut short on stopping.
    std::vector<std::weak_ptr<OfficeProcess>> mStarting;
    std::shared_ptr<OfficeProcess> mWarming;
    bool mBusy = false; // the worker is starting or warming the host's office
    int mSessions = 0;  // taken and not yet given back
    int mWaiting = 0;   // callers of take() waiting for the worker's office
    std::chrono::steady_clock::time_point mLastSessionEnd{};
    // Being started or warmed while the office it replaces still serves.
    std::shared_ptr<OfficeProcess> mReplacement;
    bool mReplaceWanted = false;
    bool mWarmWanted = false;
    bool mWarmAll = false; // the program asked for warm offices
    WarmUp mWarmUp = nullptr;
    bool mStopping = false;
    bool mWorkerEnding = false; // the host is being destroyed
    std::thread mWorker;
    int mRecycleAfter = 100; // sessions; offices leak a little with each
};

} // namespace office
