#include "office_session.h"

#include "office_parts.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

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

// ---- Link ----------------------------------------------------------------------

void OfficeSession::Link::killAndHandOver() {
    std::lock_guard lock(mutex);
    if (handedOver || pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    handedOver = true;
    Supervisor::instance().adopt(pid, Millis(0), lockFd);
}

void OfficeSession::Link::handOver(Millis grace) {
    std::lock_guard lock(mutex);
    if (handedOver || pid <= 0)
        return;
    handedOver = true;
    Supervisor::instance().adopt(pid, grace, lockFd);
}

void OfficeSession::Link::disposeBridge() {
    Reference<css::lang::XComponent> b;
    {
        std::lock_guard lock(mutex);
        b = bridge;
    }
    if (!b.is())
        return;
    try {
        b->dispose();
    } catch (...) {
        // Already gone with the office; nothing left to release.
    }
}

// ---- Watch ---------------------------------------------------------------------

OfficeSession::Watch::Watch(OfficeSession& s, Bound b) {
    const Millis bound = b == Bound::Lengthy ? callBounds().lengthy : callBounds().ordinary;
    std::weak_ptr<Link> weak = s.mLink;
    mId = Supervisor::instance().arm(bound, [weak, bound] {
        if (auto link = weak.lock()) {
            link->hungAfter = bound;
            link->hung = true;
            link->dead = true;
            // Killing first frees the pipe at once; disposing the bridge then
            // wakes the call that is waiting for an answer that will never come.
            link->killAndHandOver();
            link->disposeBridge();
        }
    });
}

OfficeSession::Watch::~Watch() {
    Supervisor::instance().disarm(mId);
}

// ---- errors --------------------------------------------------------------------

static QString seconds(Millis m) {
    if (m.count() == 1000)
        return QStringLiteral("1 second");
    return (m.count() % 1000 == 0 ? QString::number(m.count() / 1000)
                                  : QString::number(m.count() / 1000.0, 'f', 1)) +
           QStringLiteral(" seconds");
}

void OfficeSession::ensureUsable(const QString& member) const {
    if (mQuit)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer has already quit; %1 is no longer available")
                .arg(member));
    if (mLink->hung)
        throw automation::Error(QStringLiteral("LibreOffice Writer stopped answering and was "
                                               "ended; %1 is no longer available")
                                    .arg(member));
    if (mLink->dead)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer is no longer running; %1 is no longer available")
                .arg(member));
}

void OfficeSession::rethrowAsError(const QString& member) {
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
    if (mLink->hung)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer did not answer within %1 (%2) and was ended")
                .arg(seconds(mLink->hungAfter), member));
    bool ended = false;
    {
        std::lock_guard lock(mLink->mutex);
        if (!mLink->handedOver && mLink->pid > 0) {
            siginfo_t info{};
            ended = ::waitid(P_PID, mLink->pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                    info.si_pid == mLink->pid;
        }
    }
    if (disposed || ended) {
        mLink->dead = true;
        mLink->killAndHandOver();
        mLink->disposeBridge();
        throw automation::Error(QStringLiteral("LibreOffice Writer stopped working during %1 (%2)")
                                    .arg(member, detail));
    }
    throw automation::Error(QStringLiteral("%1 failed: %2").arg(member, detail));
}

// ---- start ---------------------------------------------------------------------

static QString logTail(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = f.size();
    f.seek(std::max<qint64>(0, size - 400));
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

std::shared_ptr<OfficeSession> OfficeSession::start() {
    const QByteArray program = officeProgram();
    const QFileInfo programInfo(QFile::decodeName(program));
    if (!programInfo.isFile() || !programInfo.isExecutable())
        throw automation::Error(
            notInstalled(programInfo.filePath() + QStringLiteral(" not found")));
    const QString programDir = programInfo.absolutePath();
    if (!QFileInfo::exists(programDir + QStringLiteral("/libswlo.so")))
        throw automation::Error(notInstalled(QStringLiteral("its Writer module is missing")));

    Reference<css::uno::XComponentContext> local = localContext();

    std::shared_ptr<OfficeSession> session(new OfficeSession);
    const ProfileLease profile =
        leaseProfile(defaultProfileRoot(), installedOfficeVersion(programDir));
    session->mLink->lockFd = profile.lockFd;

    // The office's own temporary files stay in its profile, not in the
    // program's TEMP; what a killed office left there goes now.
    const QString officeTemp = profile.dir + QStringLiteral("/tmp");
    QDir(officeTemp).removeRecursively();
    QDir().mkpath(officeTemp);
    const QByteArray tempPath = QFile::encodeName(officeTemp);
    const QList<QByteArray> env = {"TMPDIR=" + tempPath, "TMP=" + tempPath, "TEMP=" + tempPath};

    const QString logPath = profile.dir + QStringLiteral("/veltrane-office.log");
    const int logFd = ::open(QFile::encodeName(logPath).constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

    static std::atomic<unsigned> counter{0};
    const QByteArray pipeName = QByteArrayLiteral("veltrane-office-") +
                                QByteArray::number(::getpid()) + '-' +
                                QByteArray::number(++counter) + '-' +
                                QByteArray::number(QRandomGenerator::global()->generate(), 16);
    const QList<QByteArray> args = {
        program,
        "--headless",
        "--invisible",
        "--nologo",
        "--norestore",
        "--nodefault",
        "--nolockcheck",
        "--accept=pipe,name=" + pipeName + ";urp;",
        "-env:UserInstallation=" + QUrl::fromLocalFile(profile.dir).toEncoded(),
    };

    // Until the session owns a live process, a failure here must leave nothing behind.
    auto fail = [&](const QString& why) -> automation::Error {
        session->mLink->dead = true;
        session->mLink->killAndHandOver();
        session->mLink->disposeBridge();
        if (session->mLink->pid <= 0)
            ::close(profile.lockFd);
        session->mLink->lockFd = -1;
        if (logFd >= 0)
            ::close(logFd);
        return automation::Error(why);
    };

    const auto startedAt = Clock::now();
    const auto deadline = startedAt + callBounds().start;
    int restarts = 0;
    try {
        session->mLink->pid =
            Supervisor::instance().spawn(program, args, logFd, profile.lockFd, env);
    } catch (const automation::Error& e) {
        throw fail(e.description());
    }

    // The start-up as a whole is bounded too: a bridge handshake with an office
    // that hangs while starting would otherwise wait forever.
    std::weak_ptr<Link> weak = session->mLink;
    const uint64_t alarm = Supervisor::instance().arm(callBounds().start, [weak] {
        if (auto link = weak.lock()) {
            link->hung = true;
            link->killAndHandOver();
            link->disposeBridge();
        }
    });
    struct Disarm {
        uint64_t id;
        ~Disarm() { Supervisor::instance().disarm(id); }
    } disarm{alarm};

    auto connector = css::connection::Connector::create(local);
    const rtl::OUString where = toOU(QStringLiteral("pipe,name=") + QString::fromLatin1(pipeName));
    Reference<css::connection::XConnection> connection;
    for (int attempt = 0;; ++attempt) {
        if (session->mLink->hung)
            throw fail(QStringLiteral("LibreOffice Writer did not start within %1")
                           .arg(seconds(callBounds().start)));
        try {
            connection = connector->connect(where);
            break;
        } catch (const css::uno::Exception&) {
            // Not listening yet.
        }
        int code = 0;
        pid_t pid;
        {
            std::lock_guard lock(session->mLink->mutex);
            pid = session->mLink->handedOver ? -1 : session->mLink->pid;
        }
        if (pid > 0 && childEnded(pid, &code)) {
            // A profile's very first start sets it up and asks to be restarted.
            if (code == 81 && restarts++ == 0 && Clock::now() < deadline) {
                try {
                    const pid_t again =
                        Supervisor::instance().spawn(program, args, logFd, profile.lockFd, env);
                    std::lock_guard lock(session->mLink->mutex);
                    session->mLink->pid = again;
                } catch (const automation::Error& e) {
                    session->mLink->pid = -1;
                    throw fail(e.description());
                }
                continue;
            }
            session->mLink->pid = -1;
            const QString tail = logTail(logPath);
            throw fail(QStringLiteral("LibreOffice Writer ended while starting (exit code %1)%2")
                           .arg(code)
                           .arg(tail.isEmpty() ? QString() : QStringLiteral(": ") + tail));
        }
        // Poll briskly at first: a warm start takes about a tenth of a second.
        std::this_thread::sleep_for(attempt < 200 ? Millis(4) : Millis(25));
    }

    try {
        auto bridge = css::bridge::BridgeFactory::create(local)->createBridge(
            rtl::OUString(), "urp", connection, nullptr);
        {
            std::lock_guard lock(session->mLink->mutex);
            session->mLink->bridge.set(bridge, UNO_QUERY);
        }
        session->mContext.set(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        session->mDesktop = css::frame::Desktop::create(session->mContext);
    } catch (const css::uno::Exception&) {
        const QString detail = caughtUnoExceptionText();
        if (session->mLink->hung)
            throw fail(QStringLiteral("LibreOffice Writer did not start within %1")
                           .arg(seconds(callBounds().start)));
        throw fail(QStringLiteral("Cannot connect to LibreOffice Writer: %1").arg(detail));
    }
    if (session->mLink->hung)
        throw fail(QStringLiteral("LibreOffice Writer did not start within %1")
                       .arg(seconds(callBounds().start)));
    if (logFd >= 0)
        ::close(logFd);
    return session;
}

void OfficeSession::keepUntilEnd(const Reference<css::uno::XInterface>& object) {
    if (!object.is())
        return;
    std::lock_guard lock(mKeptMutex);
    mKept.push_back(object);
}

pid_t OfficeSession::pid() const {
    std::lock_guard lock(mLink->mutex);
    return mLink->pid;
}

// ---- end -----------------------------------------------------------------------

void OfficeSession::end(bool polite) {
    // A session that failed before its office was connected has nothing to close.
    if (polite && !mLink->dead && mDesktop.is()) {
        Watch watch(*this, Bound::Ordinary);
        try {
            // Whatever is still open goes without saving, as when alerts are off.
            Reference<css::container::XEnumerationAccess> components = mDesktop->getComponents();
            Reference<css::container::XEnumeration> it = components->createEnumeration();
            while (it->hasMoreElements()) {
                Reference<css::util::XCloseable> doc(it->nextElement(), UNO_QUERY);
                if (doc.is()) {
                    try {
                        doc->close(true);
                    } catch (const css::uno::Exception&) {
                        // Vetoed or already closing: terminate deals with it.
                    }
                }
            }
            mDesktop->terminate();
        } catch (const css::uno::Exception&) {
            // An office that drops the bridge while terminating has done what was asked.
        }
    }
    mQuit = true;
    // The process exits on its own in a few hundredths of a second; the
    // supervisor reaps it, and kills it if it lingers past the grace. Quitting
    // waits for that, so no office outlives the instance that was asked to quit.
    const pid_t pid = this->pid();
    mLink->handOver(mLink->dead ? Millis(0) : callBounds().exitGrace);
    mLink->disposeBridge();
    if (pid > 0)
        Supervisor::instance().waitReaped(pid, callBounds().exitGrace + Millis(3000));
    mDesktop.clear();
    mContext.clear();
    // With the bridge gone these releases stay on this side.
    std::lock_guard lock(mKeptMutex);
    mKept.clear();
}

void OfficeSession::quit() {
    ensureUsable(QStringLiteral("quit"));
    end(true);
}

OfficeSession::~OfficeSession() {
    if (!mQuit)
        end(true);
}

} // namespace office
