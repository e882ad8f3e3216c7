// Starting an office: its profile and private temporary folder, the process,
// the wait until it listens on its pipe, the UNO bridge to it and the sockets
// it leaves to tidy. All under the start's bound; the alarm may hand the
// process over at any moment, so every step checks whether it is still ours.

#include "office_process.h"

#include "hold_points.h"
#include "office_log.h"
#include "profiles_and_sockets.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace office {

using Clock = std::chrono::steady_clock;

QByteArray& officeProgram() {
    static QByteArray p = QByteArrayLiteral(VELTRANE_LO_PROGRAM_DIR "/soffice.bin");
    return p;
}

static QString notInstalled(const QString& what) {
    return QStringLiteral("LibreOffice Writer is not installed (%1). On Debian, install the "
                          "package libreoffice-writer-nogui.")
        .arg(what);
}

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
                     .arg(secondsText(callBounds().start)));
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

} // namespace office
