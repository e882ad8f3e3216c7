#include "office_process.h"

#include "hang_judge.h"
#include "office_log.h"
#include "profiles_and_sockets.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace office {

using Clock = std::chrono::steady_clock;

CallBounds& callBounds() {
    static CallBounds b;
    return b;
}

QByteArray& officeProgram() {
    static QByteArray p = QByteArrayLiteral(VELTRANE_LO_PROGRAM_DIR "/soffice.bin");
    return p;
}

static QString notInstalled(const QString& what) {
    return QStringLiteral("LibreOffice Writer is not installed (%1). On Debian, install the "
                          "package libreoffice-writer-nogui.")
        .arg(what);
}

static QString seconds(Millis m) {
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

// ---- test seams ----------------------------------------------------------------

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
                << seconds(bound) + QStringLiteral("; killed");
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
                              .arg(seconds(callBounds().idleFor)))
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
                .arg(seconds(mShared->hungAfter), member));
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

// ---- start ---------------------------------------------------------------------

struct OfficeProcess::Launch {
    QByteArray program;
    QList<QByteArray> args;
    QList<QByteArray> env;
    QByteArray pipeName;
    QString profileDir;
    QString logPath;
    UniqueFd log;
    int profileLock = -1;
    int restarts = 0;
    Clock::time_point deadline;
};

static QString logTail(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = f.size();
    f.seek(std::max<qint64>(0, size - 400));
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

static QString checkedProgramDir(const QByteArray& program) {
    const QFileInfo programInfo(QFile::decodeName(program));
    if (!programInfo.isFile() || !programInfo.isExecutable())
        throw automation::Error(
            notInstalled(programInfo.filePath() + QStringLiteral(" not found")));
    const QString programDir = programInfo.absolutePath();
    if (!QFileInfo::exists(programDir + QStringLiteral("/libswlo.so")))
        throw automation::Error(notInstalled(QStringLiteral("its Writer module is missing")));
    return programDir;
}

// The office's own temporary files stay in its profile, not in the program's
// TEMP; what a killed office left there goes now.
static QString freshPrivateTemp(const QString& profileDir) {
    const QString officeTemp = profileDir + QStringLiteral("/tmp");
    QDir(officeTemp).removeRecursively();
    QDir().mkpath(officeTemp);
    return officeTemp;
}

// The start alarm may fire at any moment here: the shared state decides, under its
// lock, whether the new process is ours or handed over at once, and the
// profile lock it inherits stays open until then.
void OfficeProcess::spawn(Launch& launch) {
    if (!mShared->beginSpawn())
        abandonInterrupted();
    pid_t pid = -1;
    QString failure;
    try {
        pid = Supervisor::instance().spawn(launch.program, launch.args, launch.log.get(),
                                           launch.profileLock, launch.env);
    } catch (const automation::Error& e) {
        failure = e.description();
    }
    if (launch.restarts > 0)
        holdAt("respawned", -1);
    if (!mShared->spawned(pid)) {
        if (!failure.isEmpty() && !mShared->hung && !mShared->stopping)
            abandonStart(failure);
        abandonInterrupted();
    }
}

[[noreturn]] void OfficeProcess::abandonInterrupted() {
    if (mShared->stopping)
        abandonStart(QStringLiteral("LibreOffice Writer was not started: the program is ending"));
    abandonStart(QStringLiteral("LibreOffice Writer did not start within %1")
                     .arg(seconds(callBounds().start)));
}

[[noreturn]] void OfficeProcess::abandonStart(const QString& why) {
    qCWarning(lcOffice).noquote() << "office did not start:" << why;
    mShared->abandon();
    throw automation::Error(why);
}

Reference<css::connection::XConnection> OfficeProcess::connectWhenListening(Launch& launch) {
    auto connector = css::connection::Connector::create(localContext());
    const rtl::OUString where =
        toOU(QStringLiteral("pipe,name=") + QString::fromLatin1(launch.pipeName));
    for (int attempt = 0;; ++attempt) {
        if (mShared->hung || mShared->stopping)
            abandonInterrupted();
        try {
            return connector->connect(where);
        } catch (const css::uno::Exception&) {
            // Not listening yet.
        }
        int code = 0;
        if (mShared->reapIfEnded(&code)) {
            // A profile's very first start sets it up and asks to be restarted.
            if (code == 81 && launch.restarts++ == 0 && Clock::now() < launch.deadline) {
                holdAt("restart", -1);
                spawn(launch);
                continue;
            }
            const QString tail = logTail(launch.logPath);
            abandonStart(QStringLiteral("LibreOffice Writer ended while starting (exit code %1)%2")
                             .arg(code)
                             .arg(tail.isEmpty() ? QString() : QStringLiteral(": ") + tail));
        }
        // Poll briskly at first: a warm start takes about a tenth of a second.
        std::this_thread::sleep_for(attempt < 200 ? Millis(4) : Millis(25));
    }
}

void OfficeProcess::openBridge(const Reference<css::connection::XConnection>& connection) {
    try {
        auto bridge = css::bridge::BridgeFactory::create(localContext())
                          ->createBridge(rtl::OUString(), "urp", connection, nullptr);
        {
            std::lock_guard lock(mShared->mutex);
            mShared->bridge.set(bridge, UNO_QUERY);
            mShared->connection = connection;
        }
        mContext.set(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        mDesktop = css::frame::Desktop::create(mContext);
    } catch (const css::uno::Exception&) {
        const QString detail = caughtUnoExceptionText();
        if (!mShared->hung && !mShared->stopping)
            abandonStart(QStringLiteral("Cannot connect to LibreOffice Writer: %1").arg(detail));
    }
    if (mShared->hung || mShared->stopping)
        abandonInterrupted();
}

void OfficeProcess::prepare(Launch& launch) {
    launch.program = officeProgram();
    const QString programDir = checkedProgramDir(launch.program);
    localContext();
    ProfileLease profile = leaseProfile(defaultProfileRoot(), installedOfficeVersion(programDir));
    launch.profileDir = profile.dir;
    launch.profileLock = profile.lock.get();
    auto cleanup = std::make_unique<ExitCleanup>();
    cleanup->profileLock = std::move(profile.lock);
    mPrivateTemp = freshPrivateTemp(profile.dir);
    const QByteArray tempPath = QFile::encodeName(mPrivateTemp);
    launch.env = {"TMPDIR=" + tempPath, "TMP=" + tempPath, "TEMP=" + tempPath};
    launch.logPath = profile.dir + QStringLiteral("/veltrane-office.log");
    launch.log.reset(::open(QFile::encodeName(launch.logPath).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    launch.pipeName = officePipeName();
    // Where the office's accept pipe will be, should it die before it is found.
    cleanup->sockets = {QStringLiteral("/tmp/OSL_PIPE_%1_%2")
                            .arg(::getuid())
                            .arg(QString::fromLatin1(launch.pipeName))};
    launch.args = {
        launch.program,
        "--headless",
        "--invisible",
        "--nologo",
        "--norestore",
        "--nodefault",
        "--nolockcheck",
        "--accept=pipe,name=" + launch.pipeName + ";urp;",
        "-env:UserInstallation=" + QUrl::fromLocalFile(profile.dir).toEncoded(),
    };
    launch.deadline = Clock::now() + callBounds().start;
    // The host may have cut the start short already; the lease then ends here.
    bool ours;
    {
        std::lock_guard lock(mShared->mutex);
        ours = !mShared->handedOver;
        if (ours)
            mShared->cleanup = std::move(cleanup);
    }
    if (!ours)
        abandonInterrupted();
}

std::shared_ptr<OfficeProcess> OfficeProcess::start(const Admit& admit, const QString& refusal) {
    QElapsedTimer timer;
    timer.start();
    std::shared_ptr<OfficeProcess> office(new OfficeProcess);
    if (admit && !admit(office))
        throw automation::Error(refusal);
    Launch launch;
    office->prepare(launch);
    office->spawn(launch);
    // The start-up as a whole is bounded too: a bridge handshake with an
    // office that hangs while starting would otherwise wait forever.
    const Watch startBound(office->mShared, callBounds().start, QStringLiteral("its start"),
                           Judge::BoundOnly);

    const auto connection = office->connectWhenListening(launch);
    holdAt("bridge", office->mShared->livePid());
    office->openBridge(connection);
    office->recordSockets(launch);
    qCInfo(lcOffice).noquote() << "office" << office->pid() << "started on profile"
                               << launch.profileDir << "in" << timer.elapsed() << "ms";
    return office;
}

// Still under the start's bound: the alarm may hand the cleanup to the
// supervisor at any moment, so they are touched only under the shared lock
// and only while still ours.
void OfficeProcess::recordSockets(const Launch& launch) {
    QStringList sockets = listeningSockets(pid());
    holdAt("start-tail", -1);
    {
        std::lock_guard lock(mShared->mutex);
        if (mShared->handedOver)
            sockets.clear();
        else {
            mShared->cleanup->sockets += sockets;
            mShared->cleanup->sockets.removeDuplicates();
            sockets = mShared->cleanup->sockets;
        }
    }
    if (sockets.isEmpty())
        abandonInterrupted();
    office::recordSockets(launch.profileDir, sockets);
    if (mShared->hung || mShared->stopping)
        abandonInterrupted();
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
