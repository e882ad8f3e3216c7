#pragma once
// One running office: its soffice.bin process, the UNO bridge to it and the
// watchdog that bounds every call into it. Its start is in office_start.cpp.

#include "platform/automation/automation.h"
#include "platform/office/lifecycle/supervisor.h"
#include "platform/office/lifecycle/uno_support.h"

#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace office {

// How long a call may take before the office counts as hung. Tests shorten them.
struct CallBounds {
    // Start-up: a first start on a new profile restarts itself once and may
    // meet a cold disk cache on a busy machine.
    Millis start{60000};
    // A property read or write answers in milliseconds; thirty seconds is far
    // beyond any busy machine and still short enough for a person to wait.
    Millis ordinary{30000};
    // Opening, saving, replacing all, rendering and closing touch the whole
    // document; a long value or a slow disk can take a while.
    Millis lengthy{120000};
    // After terminate, the time an office gets to exit on its own.
    Millis exitGrace{10000};
    // The host's check that an idle office still answers, before handing it
    // out: an idle office answers at once, so a short wait is plenty.
    Millis probe{5000};
    // After the watchdog kills an office, the time its bridge gets to see the
    // pipe close and fail the waiting call on its own.
    Millis bridgeGrace{3000};
    // While a call waits, the office is looked at once a pulse: one stopped
    // for stoppedFor, or that used no CPU time at all for idleFor, will not
    // answer and is ended then, not at the call's bound.
    Millis pulse{1000};
    Millis stoppedFor{3000};
    Millis idleFor{10000};
};
CallBounds& callBounds();

// The soffice.bin to start; tests point it elsewhere.
QByteArray& officeProgram();

// A bound as messages give it: "1 second", "30 seconds", "2.5 seconds".
QString secondsText(Millis m);

enum class Bound { Ordinary, Lengthy, Probe };

class OfficeProcess {
  public:
    // Starts a new office with a profile of its own. admit sees the office
    // before its process is started and may refuse it (the start then fails
    // with refusal as its error); it can cut the start short later on.
    // Throws automation::Error.
    using Admit = std::function<bool(const std::shared_ptr<OfficeProcess>&)>;
    static std::shared_ptr<OfficeProcess> start(const Admit& admit = {},
                                                const QString& refusal = {});
    ~OfficeProcess(); // an office nobody retired is killed

    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // Runs fn, which talks to the office, under the watchdog. Any failure comes
    // out as an automation::Error naming member.
    template <class F> auto call(const QString& member, Bound bound, F&& fn) -> decltype(fn()) {
        ensureUsable(member);
        Watch watch(mShared, boundOf(bound), member);
        try {
            return fn();
        } catch (const automation::Error&) {
            throw;
        } catch (...) {
            rethrowAsError(member);
        }
    }

    // Fails with a clear Error once the office has died, hung or been retired.
    void ensureUsable(const QString& member) const;
    bool usable() const;
    // The process has not ended and is not stopped (no call made).
    bool running() const;

    // Asks the office to terminate and hands it to the supervisor, which kills
    // it after the grace. Never waits for the exit. Later calls fail.
    //   Call:       by a (bounded) terminate call.
    //   Signal:     by SIGTERM, while the program ends; the bridge is still
    //               let go, so its threads end before the UNO runtime does.
    //   SignalOnly: by SIGTERM alone, once the UNO runtime may be torn down.
    enum class Ask { Call, Signal, SignalOnly };
    void retire(Ask ask = Ask::Call);

    // The program is ending: the office is killed now, and whatever waits on
    // it (a start, a call) fails at once. Never waits.
    void cutShort();

    // A replacement office started or warmed while another one serves is
    // paused (stopped by SIGSTOP) while a session runs, so that it takes no
    // processor time from the session, and resumed when none does. Its calls
    // and its start simply wait meanwhile; a paused office is not judged hung.
    // Paused for a quarter of the calls' bounds in all (pauseBudget), it is
    // resumed for good, so a start or warm-up still ends well within them.
    // Never waits; an office not started yet is paused once it is.
    void pause();
    void resume();
    static Millis pauseBudget();

    // Removes what sessions and warm-ups leave in the office's own temporary
    // folder when a save or a warm-up fails part way.
    void clearOwnTemp() const;

    // Lets go of what keepUntilEnd kept, once no document of the session is open.
    void releaseKept();
    int keptCount();

    // Releasing the drawing layer's text objects (shape texts and their
    // paragraphs and cursors) over the bridge races the office's own work and
    // can corrupt its memory: a release arrives on another thread of the
    // office, outside its lock. Such objects are kept until the session's
    // documents are closed (releaseKept).
    void keepUntilEnd(const Reference<css::uno::XInterface>& object);

    pid_t pid() const;
    // The office's own temporary folder, inside its profile.
    QString privateTemp() const { return mPrivateTemp; }
    Reference<css::uno::XComponentContext> context() const { return mContext; }
    Reference<css::frame::XDesktop2> desktop() const { return mDesktop; }

  private:
    OfficeProcess() = default;
    struct Launch;

    // The office's process and the UNO bridge to it, with the state that
    // guards them: shared with the watchdog alarm, which may outlive a call
    // but never the process.
    struct ProcessAndBridge : std::enable_shared_from_this<ProcessAndBridge> {
        std::mutex mutex;
        pid_t pid = -1;
        std::unique_ptr<ExitCleanup> cleanup = std::make_unique<ExitCleanup>();
        bool handedOver = false; // the supervisor reaps it now
        Reference<css::lang::XComponent> bridge;
        Reference<css::connection::XConnection> connection;
        std::atomic<bool> hung{false};
        std::atomic<bool> dead{false};
        std::atomic<bool> retired{false};
        std::atomic<bool> stopping{false}; // cut short as the program ends
        bool spawning = false;             // a process is being started for it right now
        Millis hungAfter{0};
        // Pausing (pause()), under the mutex but for pausedNow, which the
        // hang judging reads.
        bool pauseWanted = false;
        bool pauseSpent = false; // its budget used up: never paused again
        std::atomic<bool> pausedNow{false};
        std::chrono::steady_clock::time_point pausedSince{};
        Millis pausedFor{0};     // in all, before pausedSince
        uint64_t pauseEpoch = 0; // tells an alarm of an earlier pause from this one's

        // Stops or continues the process's group (or the process, before it
        // has one), under the mutex; stopping arms the alarm that ends the
        // pause once the budget is spent.
        void stopNow();
        void continueNow();

        // A process is about to be started; false once handed over.
        bool beginSpawn();
        // The process started (or not, p <= 0). False when it was handed
        // over meanwhile: the new process is killed and handed over too.
        bool spawned(pid_t p);
        // The process ended while still ours: reaped, its exit code in *code.
        bool reapIfEnded(int* code);
        pid_t livePid(); // -1 once handed over
        // Lets the supervisor reap the process and tidy what it leaves, after
        // grace to exit on its own; with no grace its group is killed now.
        void handOver(Millis grace);
        void disposeBridge();
        void closeConnection();
        // The office is of no more use: marked dead, killed and handed over,
        // its bridge let go.
        void abandon();
        // Unless disarmed within bound, the office counts as hung (what it did
        // not answer is logged) and is killed (killAndLetBridgeFail).
        uint64_t armWatchdog(Millis bound, const QString& what);
        // The watchdog's blow: kill now, and close this end of the pipe only
        // if the bridge has not failed the waiting call by itself within the grace.
        void killAndLetBridgeFail();
        void callOver(); // the call is over: no late disposal
        // The alarm that closes this end of the pipe should the bridge not
        // fail the call by itself; 0 when none is armed.
        std::atomic<uint64_t> pipeCloseFallback{0};
    };

    // While a call waits: the office looked at once a pulse (HangJudge).
    struct Pulse;

    // One bound call (or the start): the watchdog armed for its length. A
    // call's office is watched meanwhile too; a starting office is not (it
    // waits on its own start-up, with a bound of its own).
    enum class Judge { Hangs, BoundOnly };
    class Watch {
      public:
        Watch(std::shared_ptr<ProcessAndBridge> shared, Millis bound, const QString& what,
              Judge judge = Judge::Hangs);
        ~Watch();

      private:
        std::shared_ptr<ProcessAndBridge> mShared;
        uint64_t mId;
        std::shared_ptr<Pulse> mPulse;
    };

    static Millis boundOf(Bound b);

    [[noreturn]] void rethrowAsError(const QString& member);
    void prepare(Launch& launch);
    void spawn(Launch& launch);
    Reference<css::connection::XConnection> connectWhenListening(Launch& launch);
    void openBridge(const Reference<css::connection::XConnection>& connection);
    [[noreturn]] void abandonStart(const QString& why);
    [[noreturn]] void abandonInterrupted();
    void recordSockets(const Launch& launch);

    std::shared_ptr<ProcessAndBridge> mShared = std::make_shared<ProcessAndBridge>();
    QString mPrivateTemp;
    Reference<css::uno::XComponentContext> mContext;
    Reference<css::frame::XDesktop2> mDesktop;
    std::mutex mKeptMutex;
    std::vector<Reference<css::uno::XInterface>> mKept;
};

} // namespace office
