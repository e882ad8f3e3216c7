#include "office_process.h"

#include "hang_judge.h"
#include "hold_points.h"
#include "office_log.h"

#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/wait.h>

namespace office {

using Clock = std::chrono::steady_clock;

CallBounds& callBounds() {
    static CallBounds b;
    return b;
}

QString secondsText(Millis m) {
    if (m.count() == 1000)
        return QStringLiteral("1 second");
    return (m.count() % 1000 == 0
                ? QString::number(m.count() / 1000)
                : QString::number(static_cast<double>(m.count()) / 1000.0, 'f', 1)) +
           QStringLiteral(" seconds");
}

Millis OfficeProcess::boundOf(Bound b) {
    switch (b) {
    case Bound::Lengthy:
        return callBounds().lengthy;
    case Bound::Probe:
        return callBounds().probe;
    case Bound::Ordinary:
        break;
    }
    return callBounds().ordinary;
}

// ---- ProcessAndBridge ----------------------------------------------------------

// A hand-over with no grace: the process group is killed at once.
constexpr Millis kKillNow{0};

// A process the supervisor reaps from now on; with no grace, killed first.
static void giveToSupervisor(pid_t pid, Millis grace, std::unique_ptr<ExitCleanup> cleanup) {
    if (grace == kKillNow)
        ::kill(-pid, SIGKILL);
    Supervisor::instance().adopt(pid, grace, std::move(cleanup));
}

bool OfficeProcess::ProcessAndBridge::beginSpawn() {
    std::lock_guard lock(mutex);
    if (handedOver)
        return false;
    spawning = true;
    return true;
}

bool OfficeProcess::ProcessAndBridge::spawned(pid_t p) {
    std::lock_guard lock(mutex);
    spawning = false;
    if (!handedOver) {
        pid = p;
        if (pauseWanted)
            stopNow(); // a session began while it was being started
        return p > 0;
    }
    // The bound ran out (or the program began to end) while the process was
    // being started: it goes the way its predecessor would have.
    if (p > 0)
        giveToSupervisor(p, kKillNow, std::move(cleanup));
    cleanup.reset();
    return false;
}

bool OfficeProcess::ProcessAndBridge::reapIfEnded(int* code) {
    // Under the lock, so that an alarm never sees the pid of a reaped process.
    std::lock_guard lock(mutex);
    if (handedOver || pid <= 0 || !childEnded(pid, code))
        return false;
    pid = -1;
    continueNow(); // only the bookkeeping, when it was paused: the process is gone
    return true;
}

static void signalGroup(pid_t pid, int sig) {
    // The group is the process's own once it has run its first instruction.
    if (::kill(-pid, sig) != 0)
        ::kill(pid, sig);
}

// Stopped by someone else (a debugger, a test): theirs to continue, not ours.
static bool stoppedAlready(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 &&
           (line[close + 2] == 'T' || line[close + 2] == 't');
}

void OfficeProcess::ProcessAndBridge::stopNow() {
    // A test's hold point may have just sent its stop, not yet taken effect.
    if (pausedNow || pauseSpent || handedOver || spawning || pid <= 0 || stoppedAlready(pid) ||
        heldOffice(Millis(0)) == pid)
        return;
    const Millis left = OfficeProcess::pauseBudget() - pausedFor;
    if (left <= Millis(0)) {
        pauseSpent = true;
        return;
    }
    signalGroup(pid, SIGSTOP);
    pausedNow = true;
    pausedSince = Clock::now();
    const uint64_t epoch = ++pauseEpoch;
    std::weak_ptr<ProcessAndBridge> weak = weak_from_this();
    Supervisor::instance().arm(left, [weak, epoch] {
        if (auto shared = weak.lock()) {
            std::lock_guard guard(shared->mutex);
            if (shared->pauseEpoch != epoch || !shared->pausedNow)
                return;
            qCDebug(lcOffice) << "office" << shared->pid << "paused long enough; resumed for good";
            shared->pauseSpent = true;
            shared->continueNow();
        }
    });
}

void OfficeProcess::ProcessAndBridge::continueNow() {
    if (!pausedNow)
        return;
    if (pid > 0 && !handedOver)
        signalGroup(pid, SIGCONT);
    pausedNow = false;
    ++pauseEpoch;
    pausedFor += std::chrono::duration_cast<Millis>(Clock::now() - pausedSince);
}

Millis OfficeProcess::pauseBudget() {
    return std::min({Millis(30000), callBounds().start / 4, callBounds().lengthy / 4});
}

void OfficeProcess::pause() {
    std::lock_guard lock(mShared->mutex);
    mShared->pauseWanted = true;
    mShared->stopNow();
}

void OfficeProcess::resume() {
    std::lock_guard lock(mShared->mutex);
    mShared->pauseWanted = false;
    mShared->continueNow();
}

pid_t OfficeProcess::ProcessAndBridge::livePid() {
    std::lock_guard lock(mutex);
    return handedOver ? -1 : pid;
}

void OfficeProcess::ProcessAndBridge::handOver(Millis grace) {
    std::lock_guard lock(mutex);
    if (handedOver)
        return;
    // Whatever ends it next (a signal, its own exit) needs it running.
    continueNow();
    handedOver = true;
    if (pid <= 0) {
        // Never started: only the profile lock to let go, unless a process
        // is being started right now with it (spawned() hands both over).
        if (!spawning)
            cleanup.reset();
        return;
    }
    giveToSupervisor(pid, grace, std::move(cleanup));
}

// A reference read under the shared lock, so it is used outside it.
template <class T> static Reference<T> underLock(std::mutex& mutex, const Reference<T>& ref) {
    std::lock_guard lock(mutex);
    return ref;
}

void OfficeProcess::ProcessAndBridge::disposeBridge() {
    if (const auto b = underLock(mutex, bridge); b.is()) {
        try {
            b->dispose();
        } catch (...) {
            // Already gone with the office; nothing left to release.
        }
    }
}

void OfficeProcess::ProcessAndBridge::closeConnection() {
    if (const auto c = underLock(mutex, connection); c.is()) {
        try {
            c->close();
        } catch (...) {
            // Closed already.
        }
    }
}

void OfficeProcess::ProcessAndBridge::abandon() {
    dead = true;
    handOver(kKillNow);
    disposeBridge();
}

uint64_t OfficeProcess::ProcessAndBridge::armWatchdog(Millis bound, const QString& what) {
    std::weak_ptr<ProcessAndBridge> weak = weak_from_this();
    return Supervisor::instance().arm(bound, [weak, bound, what] {
        if (auto shared = weak.lock()) {
            qCWarning(lcOffice).noquote()
                << "office" << shared->livePid() << "did not answer" << what << "within"
                << secondsText(bound) + QStringLiteral("; killed");
            shared->hungAfter = bound;
            shared->hung = true;
            shared->dead = true;
            shared->killAndLetBridgeFail();
        }
    });
}

// Killing the office closes its end of the pipe, so the bridge's own reader
// sees the end and fails the waiting call, as when an office dies. Disposing
// the bridge from this thread while that call still waits would race
// LibreOffice's thread pool (the waiting thread frees its queue as the
// disposal walks it). Where the office's end outlives it, closing our end
// after a grace has the same effect: the reader sees the end.
void OfficeProcess::ProcessAndBridge::killAndLetBridgeFail() {
    handOver(kKillNow);
    std::weak_ptr<ProcessAndBridge> weak = weak_from_this();
    const uint64_t id = Supervisor::instance().arm(callBounds().bridgeGrace, [weak] {
        if (auto shared = weak.lock()) {
            pid_t killed;
            {
                std::lock_guard lock(shared->mutex);
                killed = shared->pid;
            }
            qCWarning(lcOffice) << "office" << killed
                                << "was killed but its pipe stayed open; closed";
            shared->closeConnection();
        }
    });
    pipeCloseFallback = id;
}

void OfficeProcess::ProcessAndBridge::callOver() {
    if (const uint64_t id = pipeCloseFallback.exchange(0))
        Supervisor::instance().disarm(id);
}

// ---- Watch ---------------------------------------------------------------------

struct OfficeProcess::Pulse {
    Pulse(pid_t pid, const QString& call)
        : judge(pid, callBounds().stoppedFor, callBounds().idleFor), what(call) {}
    HangJudge judge;
    const QString what;
    std::atomic<bool> over{false};
    std::atomic<uint64_t> alarm{0};

    // Looks at the office after a pulse, and again after each until the call
    // is over; ends an office that will not answer as one that died.
    static void next(std::weak_ptr<ProcessAndBridge> weak, std::shared_ptr<Pulse> pulse) {
        pulse->alarm = Supervisor::instance().arm(callBounds().pulse, [weak, pulse] {
            const auto shared = weak.lock();
            if (pulse->over || !shared || shared->dead)
                return;
            if (shared->pausedNow) {
                // Stopped and idle on purpose: judged afresh once resumed.
                pulse->judge.forget();
                next(weak, pulse);
                return;
            }
            const HangJudge::Verdict verdict = pulse->judge.look(Clock::now());
            if (verdict == HangJudge::Verdict::Working) {
                next(weak, pulse);
                return;
            }
            if (verdict == HangJudge::Verdict::Gone)
                return; // the bridge fails the call by itself
            qCWarning(lcOffice).noquote()
                << "office" << shared->livePid()
                << (verdict == HangJudge::Verdict::Stopped
                        ? QStringLiteral("is stopped")
                        : QStringLiteral("used no CPU time for %1")
                              .arg(secondsText(callBounds().idleFor)))
                << "while" << pulse->what << "waited; judged hung and killed";
            shared->dead = true;
            shared->killAndLetBridgeFail();
        });
    }

    void stop() {
        over = true;
        // A look under way may arm one more; that one sees over and ends.
        for (uint64_t id = alarm; id != 0;) {
            Supervisor::instance().disarm(id);
            const uint64_t now = alarm;
            id = now != id ? now : 0;
        }
    }
};

OfficeProcess::Watch::Watch(std::shared_ptr<ProcessAndBridge> shared, Millis bound,
                            const QString& what, Judge judge)
    : mShared(std::move(shared)), mId(mShared->armWatchdog(bound, what)) {
    if (judge != Judge::Hangs)
        return;
    if (const pid_t pid = mShared->livePid(); pid > 0) {
        mPulse = std::make_shared<Pulse>(pid, what);
        Pulse::next(mShared, mPulse);
    }
}

OfficeProcess::Watch::~Watch() {
    if (mPulse)
        mPulse->stop();
    // Waits for an expiry already under way, so a call that returned is
    // never followed by its office being killed for it.
    Supervisor::instance().disarm(mId);
    mShared->callOver();
}

// ---- errors --------------------------------------------------------------------

void OfficeProcess::ensureUsable(const QString& member) const {
    if (mShared->hung)
        throw automation::Error(QStringLiteral("LibreOffice Writer stopped answering and was "
                                               "ended; %1 is no longer available")
                                    .arg(member));
    if (mShared->dead || mShared->retired)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer is no longer running; %1 is no longer available")
                .arg(member));
}

void OfficeProcess::rethrowAsError(const QString& member) {
    QString detail;
    bool disposed = false;
    try {
        throw;
    } catch (const css::lang::DisposedException&) {
        disposed = true;
        detail = caughtUnoExceptionText();
    } catch (const css::uno::Exception&) {
        detail = caughtUnoExceptionText();
    } catch (const std::exception& e) {
        detail = QString::fromLocal8Bit(e.what());
    } catch (...) {
        detail = QStringLiteral("unknown failure");
    }
    if (mShared->hung)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer did not answer within %1 (%2) and was ended")
                .arg(secondsText(mShared->hungAfter), member));
    if (disposed || !running()) {
        qCWarning(lcOffice).noquote()
            << "office" << mShared->livePid() << "stopped working during" << member;
        mShared->abandon();
        throw automation::Error(QStringLiteral("LibreOffice Writer stopped working during %1 (%2)")
                                    .arg(member, detail));
    }
    throw automation::Error(QStringLiteral("%1 failed: %2").arg(member, detail));
}

bool OfficeProcess::usable() const {
    return !mShared->hung && !mShared->dead && !mShared->retired;
}

bool OfficeProcess::running() const {
    std::lock_guard lock(mShared->mutex);
    if (mShared->handedOver || mShared->pid <= 0)
        return false;
    siginfo_t info{};
    // Looked at without reaping; the supervisor reaps it when it goes.
    if (::waitid(P_PID, mShared->pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == mShared->pid)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(mShared->pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const char state = close > 0 && line.size() > close + 2 ? line[close + 2] : '?';
    if (state == 'T' && mShared->pausedNow)
        return true; // paused by the host, not stopped by anyone else
    return state != 'T' && state != 't' && state != 'Z';
}

void OfficeProcess::releaseKept() {
    std::vector<Reference<css::uno::XInterface>> kept;
    {
        std::lock_guard lock(mKeptMutex);
        kept.swap(mKept);
    }
    kept.clear(); // outside the lock: each release may go over the bridge
}

int OfficeProcess::keptCount() {
    std::lock_guard lock(mKeptMutex);
    return int(mKept.size());
}

void OfficeProcess::clearOwnTemp() const {
    QDir temp(mPrivateTemp);
    for (const QString& partial :
         temp.entryList({QStringLiteral("saving-*")}, QDir::Files | QDir::Hidden))
        temp.remove(partial);
    QDir(mPrivateTemp + QStringLiteral("/warm-up")).removeRecursively();
}

void OfficeProcess::keepUntilEnd(const Reference<css::uno::XInterface>& object) {
    if (!object.is())
        return;
    std::lock_guard lock(mKeptMutex);
    mKept.push_back(object);
}

pid_t OfficeProcess::pid() const {
    std::lock_guard lock(mShared->mutex);
    return mShared->pid;
}

// ---- end -----------------------------------------------------------------------

void OfficeProcess::retire(Ask ask) {
    if (mShared->retired.exchange(true))
        return;
    const pid_t pid = this->pid();
    if (!running())
        mShared->dead = true; // stopped or gone: nothing to ask
    if (!mShared->dead && ask != Ask::Call) {
        // No calls while the program ends: quick, and the runtime may be going.
        ::kill(-pid, SIGTERM);
    } else if (!mShared->dead && !mShared->hung && mDesktop.is()) {
        holdAt("retire", pid);
        const Watch watch(mShared, callBounds().ordinary, QStringLiteral("terminate"));
        try {
            mDesktop->terminate();
        } catch (const css::uno::Exception&) {
            // An office that drops the bridge while terminating has done what was asked.
        }
    }
    // The process exits on its own in a few hundredths of a second; the
    // supervisor reaps it, and kills it if it lingers past the grace.
    mShared->handOver(mShared->dead ? Millis(0) : callBounds().exitGrace);
    if (ask == Ask::SignalOnly)
        return; // the bridge is left alone: the runtime may be gone already
    mShared->disposeBridge();
    mDesktop.clear();
    mContext.clear();
    // With the bridge gone these releases stay on this side.
    std::lock_guard lock(mKeptMutex);
    mKept.clear();
    qCDebug(lcOffice) << "office" << pid << "retired";
}

void OfficeProcess::cutShort() {
    if (mShared->stopping.exchange(true))
        return;
    qCInfo(lcOffice) << "office" << pid() << "cut short: the program is ending";
    mShared->dead = true;
    mShared->killAndLetBridgeFail();
}

OfficeProcess::~OfficeProcess() {
    mShared->abandon();
}

} // namespace office
