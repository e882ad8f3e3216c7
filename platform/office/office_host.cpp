#include "office_host.h"

#include "office_log.h"
#include "office_parts.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <thread>

namespace office {

static std::atomic<bool> gHostStarted{false};

OfficeHost& OfficeHost::instance() {
    // Never destroyed: its worker may still run while static destructors do.
    static OfficeHost* host = [] {
        gHostStarted = true;
        // The office goes when the application object does, while the UNO
        // runtime is whole: its bridge's threads must be over before the
        // runtime's own statics are destroyed.
        if (QCoreApplication::instance())
            qAddPostRoutine(
                [] { OfficeHost::instance().shutdown(Millis(5000), OfficeProcess::Ask::Signal); });
        // Sockets that offices of earlier, ended runs left behind.
        sweepOrphanedPipes();
        return new OfficeHost;
    }();
    return *host;
}

bool OfficeHost::started() {
    return gHostStarted;
}

// ---- on the caller's thread -----------------------------------------------------

std::shared_ptr<OfficeProcess> OfficeHost::take() {
    std::unique_lock lock(mMutex);
    for (;;) {
        if (mIdle) {
            std::shared_ptr<OfficeProcess> office = std::move(mIdle);
            lock.unlock();
            if (healthy(*office)) {
                ++office->sessionsServed;
                qCDebug(lcOffice) << "office" << office->pid() << "taken for session"
                                  << office->sessionsServed;
                return office;
            }
            retireLater(std::move(office), QStringLiteral("it no longer answered"));
            lock.lock();
            continue;
        }
        if (!mBusy)
            break;
        mChanged.wait(lock); // the host's office is being started or warmed
    }
    lock.unlock();
    std::shared_ptr<OfficeProcess> office = startOffice("no idle office");
    office->sessionsServed = 1;
    return office;
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

void OfficeHost::giveBack(std::shared_ptr<OfficeProcess> office, const QString& doubt) {
    if (!office)
        return;
    std::unique_lock lock(mMutex);
    QString why = doubt;
    if (why.isEmpty() && !office->usable())
        why = QStringLiteral("it stopped working");
    if (why.isEmpty() && office->sessionsServed >= mRecycleAfter)
        why = QStringLiteral("it served %1 sessions").arg(office->sessionsServed);
    if (why.isEmpty()) {
        qCDebug(lcOffice) << "office" << office->pid() << "returned idle";
        keepOrRetire(std::move(office), lock);
        return;
    }
    lock.unlock();
    retireLater(std::move(office), why);
    lock.lock();
    if (!mIdle) {
        mReplaceWanted = true;
        ensureWorker();
        mChanged.notify_all();
    }
}

// The host keeps one idle office; another (a second instance's) goes.
void OfficeHost::keepOrRetire(std::shared_ptr<OfficeProcess> office,
                              std::unique_lock<std::mutex>& lock) {
    if (mIdle) {
        lock.unlock();
        retireLater(std::move(office), QStringLiteral("the host already has an idle office"));
        lock.lock();
        return;
    }
    mIdle = std::move(office);
    if (mWarmAll && !mIdle->warm) {
        mWarmWanted = true;
        ensureWorker();
    }
    mChanged.notify_all();
}

void OfficeHost::retireLater(std::shared_ptr<OfficeProcess> office, const QString& why) {
    qCInfo(lcOffice).noquote() << "office" << office->pid() << "replaced:" << why;
    if (!office->usable()) {
        office->retire(); // dead or hung: killed now, nothing to ask
        return;
    }
    std::lock_guard lock(mMutex);
    mRetiring.push_back(std::move(office));
    ensureWorker();
    mChanged.notify_all();
}

void OfficeHost::warmUp() {
    std::lock_guard lock(mMutex);
    mWarmAll = true;
    mWarmWanted = true;
    ensureWorker();
    mChanged.notify_all();
}

std::shared_ptr<OfficeProcess> OfficeHost::startOffice(const char* why) {
    qCDebug(lcOffice) << "starting an office:" << why;
    return OfficeProcess::start();
}

// ---- the worker --------------------------------------------------------------------

void OfficeHost::ensureWorker() {
    if (mWorkerStarted)
        return;
    mWorkerStarted = true;
    std::thread([this] { work(); }).detach();
}

bool OfficeHost::quiet() const {
    return !mBusy && !mReplaceWanted && !mWarmWanted && mRetiring.empty();
}

void OfficeHost::work() {
    std::unique_lock lock(mMutex);
    for (;;) {
        mChanged.wait(lock, [&] { return !quiet(); });
        // A replacement first: a click may be waiting for it.
        if (mReplaceWanted) {
            replaceInBackground(lock);
        } else if (mWarmWanted) {
            warmInBackground(lock);
        } else {
            std::shared_ptr<OfficeProcess> office = std::move(mRetiring.front());
            mRetiring.pop_front();
            lock.unlock();
            office->retire(); // asks it to terminate; the supervisor reaps it
            office.reset();
            lock.lock();
        }
        mChanged.notify_all();
    }
}

void OfficeHost::replaceInBackground(std::unique_lock<std::mutex>& lock) {
    mReplaceWanted = false;
    if (mIdle)
        return;
    mBusy = true;
    const bool warm = mWarmAll;
    lock.unlock();
    std::shared_ptr<OfficeProcess> office;
    try {
        office = startOffice("replacing the host's office");
        if (warm)
            warmOffice(*office);
    } catch (const automation::Error& e) {
        // The next session starts one itself and reports what goes wrong.
        qCWarning(lcOffice).noquote() << "replacement office failed:" << e.description();
        if (office)
            office->retire();
        office.reset();
    }
    lock.lock();
    mBusy = false;
    if (office)
        keepOrRetire(std::move(office), lock);
}

void OfficeHost::warmInBackground(std::unique_lock<std::mutex>& lock) {
    mWarmWanted = false;
    if (!mIdle || mIdle->warm)
        return;
    std::shared_ptr<OfficeProcess> office = std::move(mIdle);
    mBusy = true;
    lock.unlock();
    QElapsedTimer t;
    t.start();
    QString failure;
    try {
        warmOffice(*office);
        qCInfo(lcOffice) << "office" << office->pid() << "warmed in" << t.elapsed() << "ms";
    } catch (const automation::Error& e) {
        failure = e.description();
    }
    lock.lock();
    mBusy = false;
    if (failure.isEmpty()) {
        keepOrRetire(std::move(office), lock);
        return;
    }
    qCWarning(lcOffice).noquote() << "warming office" << office->pid() << "failed:" << failure;
    lock.unlock();
    retireLater(std::move(office), QStringLiteral("its warm-up failed"));
    lock.lock();
    mReplaceWanted = true;
}

// ---- ending -------------------------------------------------------------------------

bool OfficeHost::shutdown(Millis bound, OfficeProcess::Ask ask) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(mMutex);
    mWarmWanted = false;
    mReplaceWanted = false;
    mChanged.wait_until(lock, deadline, [&] { return quiet(); });
    std::shared_ptr<OfficeProcess> office = std::move(mIdle);
    lock.unlock();
    if (office) {
        qCInfo(lcOffice) << "office" << office->pid() << "ends with the program";
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

void OfficeHost::setRecycleAfter(int sessions) {
    std::lock_guard lock(mMutex);
    mRecycleAfter = sessions > 0 ? sessions : 100;
}

pid_t OfficeHost::idleOffice(Millis wait) {
    std::unique_lock lock(mMutex);
    mChanged.wait_for(lock, wait, [&] { return quiet() && mIdle; });
    return mIdle ? mIdle->pid() : -1;
}

} // namespace office
