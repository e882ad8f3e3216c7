#include "office_host.h"

#include "office_log.h"
#include "profiles_and_sockets.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <thread>

namespace office {

static std::atomic<bool> gHostStarted{false};
static std::mutex gHostMutex;
// Ended with the application object; in a program without one, kept to the
// very end: its worker may still run while static destructors do.
static OfficeHost* gHost = nullptr;

// The end of the office layer: the host retires its offices, the supervisor
// reaps them, then each thread is joined, the host's worker first (its calls
// are bounded by the supervisor). All while the UNO runtime is whole: the
// bridges' threads must be over before the runtime's own statics go.
static void endWithTheApplication() {
    OfficeHost* host = nullptr;
    {
        std::lock_guard lock(gHostMutex);
        host = gHost;
    }
    if (host)
        host->shutdown(Millis(5000), OfficeProcess::Ask::Signal);
    {
        std::lock_guard lock(gHostMutex);
        gHost = nullptr;
        gHostStarted = false;
    }
    delete host;
    Supervisor::end(Millis(2000));
}

OfficeHost& OfficeHost::instance() {
    std::lock_guard lock(gHostMutex);
    if (!gHost) {
        gHostStarted = true;
        if (QCoreApplication::instance())
            qAddPostRoutine(endWithTheApplication);
        // Sockets that offices of earlier, ended runs left behind.
        sweepOrphanedPipes();
        gHost = new OfficeHost;
    }
    return *gHost;
}

OfficeHost::~OfficeHost() {
    {
        std::lock_guard lock(mMutex);
        mWorkerEnding = true;
        mChanged.notify_all();
    }
    if (mWorker.joinable())
        mWorker.join();
}

bool OfficeHost::started() {
    return gHostStarted;
}

// ---- on the caller's thread -----------------------------------------------------

static QString endingError() {
    return QStringLiteral("LibreOffice Writer is not available: the program is ending");
}

std::shared_ptr<OfficeProcess> OfficeHost::take() {
    std::unique_lock lock(mMutex);
    for (;;) {
        if (mStopping)
            throw automation::Error(endingError());
        if (mIdle) {
            Hosted taken = std::exchange(mIdle, Hosted{});
            ++mSessions;
            pauseOrResume();
            lock.unlock();
            if (healthy(*taken.office)) {
                ++taken.record.sessionsServed;
                qCDebug(lcOffice) << "office" << taken.office->pid() << "taken for session"
                                  << taken.record.sessionsServed;
                lock.lock();
                lend(taken);
                return taken.office;
            }
            lock.lock();
            --mSessions;
            pauseOrResume();
            retireOutsideLock(std::move(taken.office), QStringLiteral("it no longer answered"),
                              lock);
            continue;
        }
        if (!mBusy)
            break;
        // The host's office is being started or warmed, and this waits for it.
        ++mWaiting;
        pauseOrResume();
        mChanged.wait(lock);
        --mWaiting;
        pauseOrResume();
    }
    ++mSessions;
    lock.unlock();
    Hosted started;
    try {
        started = Hosted{startOffice("no idle office"), Record{.sessionsServed = 1}};
    } catch (...) {
        lock.lock();
        --mSessions;
        mLastSessionEnd = std::chrono::steady_clock::now();
        mChanged.notify_all();
        throw;
    }
    lock.lock();
    lend(started);
    return started.office;
}

void OfficeHost::lend(const Hosted& hosted) {
    std::erase_if(mLent, [](const Lent& lent) { return lent.office.expired(); });
    mLent.push_back({hosted.office, hosted.record});
}

OfficeHost::Record OfficeHost::takeBack(const std::shared_ptr<OfficeProcess>& office) {
    // Compared by owner, not by lock(): a reference taken here could be the
    // last one, and end an office under the host's lock.
    const auto lent = std::find_if(mLent.begin(), mLent.end(), [&](const Lent& l) {
        return !l.office.owner_before(office) && !office.owner_before(l.office);
    });
    if (lent == mLent.end())
        return Record{};
    const Record record = lent->record;
    mLent.erase(lent);
    return record;
}

void OfficeHost::pauseOrResume() {
    if (!mReplacement)
        return;
    if (mSessions > 0 && mWaiting == 0 && !mStopping)
        mReplacement->pause();
    else
        mReplacement->resume();
}

bool OfficeHost::healthy(OfficeProcess& office) {
    if (!office.usable() || !office.running())
        return false;
    try {
        // One round trip: an office that died or hangs since it went idle
        // shows it here rather than in the session's first call.
        return !office.call(QStringLiteral("(probe)"), Bound::Probe, [&] {
            return office.desktop()->getComponents()->createEnumeration()->hasMoreElements();
        });
    } catch (const automation::Error& e) {
        qCWarning(lcOffice).noquote()
            << "idle office" << office.pid() << "failed its check:" << e.description();
        return false;
    }
}

void OfficeHost::giveBack(std::shared_ptr<OfficeProcess> office, const QString& replaceReason,
                          bool loadedWriter) {
    if (!office)
        return;
    std::unique_lock lock(mMutex);
    Record record = takeBack(office);
    --mSessions;
    mLastSessionEnd = std::chrono::steady_clock::now();
    pauseOrResume();
    mChanged.notify_all();
    if (!office->usable() || mStopping) {
        retireOutsideLock(std::move(office),
                          mStopping ? QStringLiteral("the program is ending")
                                    : QStringLiteral("it stopped working"),
                          lock);
        if (!mIdle)
            wantReplacement();
        return;
    }
    // Writer and its filters are loaded now: a warm-up would only hold up
    // the next session.
    if (loadedWriter)
        record.warm = true;
    QString why = replaceReason;
    if (why.isEmpty() && record.sessionsServed >= mRecycleAfter)
        why = QStringLiteral("it served %1 sessions").arg(record.sessionsServed);
    if (!why.isEmpty() && !record.replaceWhenReady) {
        qCInfo(lcOffice).noquote() << "office" << office->pid() << "to be replaced:" << why;
        record.replaceWhenReady = true;
    }
    qCDebug(lcOffice) << "office" << office->pid() << "returned idle";
    keepOrRetire(Hosted{std::move(office), record}, lock);
    // One waiting for its replacement serves on until that is warm and idle.
    if (mIdle && mIdle.record.replaceWhenReady)
        wantReplacement();
}

void OfficeHost::wantReplacement() {
    if (mStopping || mBusy)
        return;
    mReplaceWanted = true;
    ensureWorker();
    mChanged.notify_all();
}

// The host keeps one idle office, the one not waiting for its replacement;
// another (a second instance's, or the one replaced) goes.
void OfficeHost::keepOrRetire(Hosted hosted, std::unique_lock<std::mutex>& lock) {
    if (mIdle) {
        if (mIdle.record.replaceWhenReady && !hosted.record.replaceWhenReady)
            std::swap(mIdle, hosted);
        retireOutsideLock(std::move(hosted.office),
                          QStringLiteral("the host has another idle office"), lock);
        mChanged.notify_all();
        return;
    }
    mIdle = std::move(hosted);
    if (mWarmAll && !mIdle.record.warm && !mStopping) {
        mWarmWanted = true;
        ensureWorker();
    }
    mChanged.notify_all();
}

void OfficeHost::retireLater(std::shared_ptr<OfficeProcess> office, const QString& why) {
    qCInfo(lcOffice).noquote() << "office" << office->pid() << "retired:" << why;
    office->clearOwnTemp();
    if (!office->usable()) {
        office->retire(); // dead or hung: killed now, nothing to ask
        return;
    }
    std::lock_guard lock(mMutex);
    mRetiring.push_back(std::move(office));
    ensureWorker();
    mChanged.notify_all();
}

void OfficeHost::warmUp(WarmUp how) {
    std::lock_guard lock(mMutex);
    if (mStopping)
        return;
    mWarmUp = how;
    mWarmAll = true;
    mWarmWanted = true;
    ensureWorker();
    mChanged.notify_all();
}

std::shared_ptr<OfficeProcess> OfficeHost::startOffice(const char* why, bool replacing) {
    qCDebug(lcOffice) << "starting an office:" << why;
    std::shared_ptr<OfficeProcess> started;
    try {
        // Admitted under the host's lock, so a shutdown either refuses the
        // start or finds it and cuts it short.
        started = OfficeProcess::start(
            [this, replacing](const std::shared_ptr<OfficeProcess>& office) {
                std::lock_guard lock(mMutex);
                if (mStopping)
                    return false;
                mStarting.push_back(office);
                if (replacing) {
                    mReplacement = office;
                    pauseOrResume();
                }
                return true;
            },
            endingError());
    } catch (...) {
        std::lock_guard lock(mMutex);
        std::erase_if(mStarting, [](const auto& w) { return w.expired(); });
        throw;
    }
    std::lock_guard lock(mMutex);
    std::erase_if(mStarting, [&](const auto& w) { return w.expired() || w.lock() == started; });
    if (mStopping)
        started->cutShort(); // the caller fails its first call; nothing new is served
    return started;
}

void OfficeHost::retireOutsideLock(std::shared_ptr<OfficeProcess> office, const QString& why,
                                   std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    retireLater(std::move(office), why);
    lock.lock();
}

// ---- the worker --------------------------------------------------------------------

void OfficeHost::ensureWorker() {
    if (mWorker.joinable())
        return;
    mWorker = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "office-host");
        work();
    });
}

bool OfficeHost::noWorkInFlight() const {
    return !mBusy && !mReplaceWanted && !mWarmWanted && mRetiring.empty() && !mRetiringNow;
}

void OfficeHost::work() {
    std::unique_lock lock(mMutex);
    for (;;) {
        mChanged.wait(lock, [&] { return !noWorkInFlight() || mWorkerEnding; });
        if (noWorkInFlight())
            return; // ending, its work done
        // A replacement first: a click may be waiting for it.
        if (mReplaceWanted) {
            replaceInBackground(lock);
        } else if (mWarmWanted) {
            warmInBackground(lock);
        } else {
            std::shared_ptr<OfficeProcess> office = std::move(mRetiring.front());
            mRetiring.pop_front();
            // Still work in flight while it is asked to end: a shutdown waits
            // for it, and cuts it short.
            mRetiringNow = office;
            // An office's exit takes the processor a while too.
            if (office->usable())
                waitForQuiet(lock);
            // No calls while the program ends: quick, and nothing to wait for.
            const auto ask = mStopping ? OfficeProcess::Ask::Signal : OfficeProcess::Ask::Call;
            lock.unlock();
            office->retire(ask);
            lock.lock();
            mRetiringNow.reset();
            lock.unlock();
            office.reset();
            lock.lock();
        }
        mChanged.notify_all();
    }
}

// A moment without sessions: what a user takes to look at the preview, and
// far more than the gap between the two sessions of one notice.
constexpr std::chrono::milliseconds kQuiet{250};
// Sessions without a break (a list of notices filled in a row) do not put off
// the worker's work for longer than this.
constexpr std::chrono::seconds kQuietWaitMax{30};

void OfficeHost::waitForQuiet(std::unique_lock<std::mutex>& lock) {
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + kQuietWaitMax;
    for (;;) {
        const auto now = Clock::now();
        if (mStopping || mWorkerEnding || mWaiting > 0 || now >= giveUp)
            return;
        if (mSessions == 0 && now - mLastSessionEnd >= kQuiet)
            return;
        mChanged.wait_until(lock,
                            mSessions == 0 ? std::min(giveUp, mLastSessionEnd + kQuiet) : giveUp);
    }
}

// Make before break: the office it replaces (if any) serves on meanwhile.
// Starting and warming an office takes the processor for a second or two, so
// a replacement for one that still serves starts in a quiet moment and is
// paused while sessions run.
void OfficeHost::replaceInBackground(std::unique_lock<std::mutex>& lock) {
    // With no office left, the next session must not find none: at once.
    if (mIdle || mSessions > 0)
        waitForQuiet(lock); // still wanted meanwhile: the worker is not done
    mReplaceWanted = false;
    if (mStopping || (mIdle && !mIdle.record.replaceWhenReady))
        return;
    mBusy = true;
    const WarmUp warm = mWarmAll ? mWarmUp : nullptr;
    lock.unlock();
    std::shared_ptr<OfficeProcess> office;
    QString failure;
    QElapsedTimer t;
    t.start();
    try {
        office = startOffice("replacing the host's office", true);
        if (warm) {
            {
                std::lock_guard guard(mMutex);
                mWarming = office;
                if (mStopping)
                    office->cutShort();
            }
            warm(*office);
        }
    } catch (const automation::Error& e) {
        failure = e.description();
    }
    lock.lock();
    if (mReplacement) {
        mReplacement->resume();
        mReplacement.reset();
    }
    mWarming.reset();
    mBusy = false;
    if (!failure.isEmpty()) {
        // The office it was to replace serves on; the next session tries
        // again, or starts one itself when none is left.
        qCWarning(lcOffice).noquote() << "replacement office failed:" << failure;
        if (office)
            retireOutsideLock(std::move(office), QStringLiteral("its warm-up failed"), lock);
        return;
    }
    qCInfo(lcOffice) << "replacement office" << office->pid() << "ready in" << t.elapsed() << "ms";
    keepOrRetire(Hosted{std::move(office), Record{.warm = warm != nullptr}}, lock);
}

void OfficeHost::warmInBackground(std::unique_lock<std::mutex>& lock) {
    mWarmWanted = false;
    if (mStopping || !mIdle || mIdle.record.warm)
        return;
    Hosted hosted = std::exchange(mIdle, Hosted{});
    const std::shared_ptr<OfficeProcess>& office = hosted.office;
    mWarming = office;
    mBusy = true;
    const WarmUp warm = mWarmUp;
    lock.unlock();
    QElapsedTimer t;
    t.start();
    QString failure;
    try {
        warm(*office);
        qCInfo(lcOffice) << "office" << office->pid() << "warmed in" << t.elapsed() << "ms";
    } catch (const automation::Error& e) {
        failure = e.description();
    }
    lock.lock();
    mWarming.reset();
    mBusy = false;
    if (failure.isEmpty()) {
        hosted.record.warm = true;
        keepOrRetire(std::move(hosted), lock);
        return;
    }
    qCWarning(lcOffice).noquote() << "warming office" << office->pid() << "failed:" << failure;
    retireOutsideLock(std::move(hosted.office), QStringLiteral("its warm-up failed"), lock);
    if (!mIdle)
        wantReplacement();
}

// ---- ending -------------------------------------------------------------------------

bool OfficeHost::shutdown(Millis bound, OfficeProcess::Ask ask) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(mMutex);
    mStopping = true;
    pauseOrResume();
    mWarmWanted = false;
    mReplaceWanted = false;
    // What the worker waits on is killed, so its call fails at once and it
    // puts the office down: the runtime is never torn down under a call.
    for (const std::weak_ptr<OfficeProcess>& starting : mStarting)
        if (const auto office = starting.lock())
            office->cutShort();
    if (mWarming)
        mWarming->cutShort();
    if (mRetiringNow)
        mRetiringNow->cutShort();
    mChanged.notify_all();
    mChanged.wait_until(lock, deadline, [&] { return noWorkInFlight(); });
    if (!noWorkInFlight())
        qCWarning(lcOffice) << "the office host's background work did not end in time";
    std::shared_ptr<OfficeProcess> office = std::exchange(mIdle, Hosted{}).office;
    lock.unlock();
    if (office) {
        qCInfo(lcOffice) << "office" << office->pid() << "ends with the program";
        office->clearOwnTemp();
        office->retire(ask);
        if (ask == OfficeProcess::Ask::SignalOnly) {
            // Kept, never released: releasing its references would call into a
            // UNO runtime that may already be torn down.
            new std::shared_ptr<OfficeProcess>(std::move(office));
        }
        office.reset();
    }
    const auto left =
        std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
    return Supervisor::instance().drain(std::max(left, Millis(100)));
}

void OfficeHost::reopen() {
    std::lock_guard lock(mMutex);
    mStopping = false;
}

void OfficeHost::setRecycleAfter(int sessions) {
    std::lock_guard lock(mMutex);
    mRecycleAfter = sessions > 0 ? sessions : 100;
}

pid_t OfficeHost::idleOffice(Millis wait) {
    const auto office = idle(wait);
    return office ? office->pid() : -1;
}

std::shared_ptr<OfficeProcess> OfficeHost::idle(Millis wait) {
    std::unique_lock lock(mMutex);
    mChanged.wait_for(lock, wait, [&] { return noWorkInFlight() && mIdle; });
    return mIdle.office;
}

} // namespace office
