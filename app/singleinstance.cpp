#include "singleinstance.h"

#include "common/files.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

Q_LOGGING_CATEGORY(lcInstance, "veltrane.instance", QtInfoMsg)

constexpr QByteArrayView kRequest = "show\n";
constexpr QByteArrayView kAnswer = "shown\n";
// How long a later start looks for a running program that holds the claim
// but is not listening: it claims first, then listens, and stops listening
// as it begins to end, some seconds before it lets go of the claim.
constexpr int kFindMs = 10000;
// How long it waits for the answer. A program busy with a generation answers
// once that is done; the request is queued meanwhile, so waiting longer would
// gain nothing.
constexpr int kAnswerMs = 5000;
// A caller that connects and says nothing is let go after this.
constexpr int kRequestMs = 5000;

bool isPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// A folder only this user can enter, one per user whatever the environment:
// a start with XDG_RUNTIME_DIR or TMPDIR and one without (sudo -u, env -i, a
// launcher that drops them) must meet at the same claim. Never the temporary
// folder TEMP names, which a second start must not touch.
QString privateRuntimeFolder() {
    const QByteArray own = "/tmp/veltrane-" + QByteArray::number(::getuid()) + "-run";
    ::mkdir(own.constData(), 0700);
    if (isPrivateFolder(own))
        return QFile::decodeName(own);
    qCWarning(lcInstance,
              "%s is not a private folder of this user: starts are not checked for "
              "a program already running",
              own.constData());
    return QString();
}

// What two copies would share: the user and the temporary folder.
QString claimName() {
    QString temp = QDir::cleanPath(QFileInfo(common::tempFolderName()).absoluteFilePath());
    const QFileInfo info(temp);
    if (info.exists())
        temp = info.canonicalFilePath();
    const QByteArray key = QByteArray::number(::getuid()) + '\n' + QFile::encodeName(temp);
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("veltrane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.left(16)));
}

// The running program's side: holds the claim (a lock that ends with the
// process, whatever way it ends) and answers later starts until the program
// begins to end.
class Claim : public QObject {
  public:
    Claim(int lockFd, const QString& lockPath, QObject* parent)
        : QObject(parent), mLock(lockFd), mLockPath(lockPath) {
        // The event loop is over: from here on nothing answers, and the
        // office may take seconds to end. A later start must find nobody
        // listening and wait for the lock, not talk to a program that is going.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &Claim::stopAnswering);
    }
    ~Claim() override {
        stopAnswering();
        // Removed while still held: a start that opened it meanwhile finds
        // it gone once it has the lock, and opens the path again.
        ::unlink(QFile::encodeName(mLockPath).constData());
        ::close(mLock);
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    void listen(const QString& socketPath) {
        // Holding the lock, any socket there is a leftover of an ended program.
        QLocalServer::removeServer(socketPath);
        mServer = new QLocalServer(this);
        mServer->setSocketOptions(QLocalServer::UserAccessOption);
        if (!mServer->listen(socketPath)) {
            qCWarning(lcInstance).noquote()
                << "cannot answer later starts at" << socketPath << mServer->errorString();
            return;
        }
        connect(mServer, &QLocalServer::newConnection, this, &Claim::answer);
        qCDebug(lcInstance).noquote() << "answering later starts at" << socketPath;
    }

    // Closes the socket (and every call on it not answered yet); the lock stays.
    void stopAnswering() {
        if (!mServer)
            return;
        delete mServer;
        qCDebug(lcInstance) << "no longer answering later starts: the program is ending";
    }

  private:
    void answer() {
        while (QLocalSocket* caller = mServer->nextPendingConnection()) {
            connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
            QTimer::singleShot(kRequestMs, caller, [caller] { caller->abort(); });
            connect(caller, &QLocalSocket::readyRead, caller, [caller] {
                if (!caller->canReadLine()) {
                    if (caller->bytesAvailable() > 64)
                        caller->abort();
                    return;
                }
                if (caller->readLine(64) != kRequest) {
                    caller->abort();
                    return;
                }
                bringForward();
                caller->write(kAnswer.data(), kAnswer.size());
                caller->disconnectFromServer();
            });
        }
    }

    static void bringForward() {
        QWidget* w = windowToBringForward();
        if (!w) {
            qCDebug(lcInstance) << "a later start asked for the window; none is shown yet";
            return;
        }
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        w->show();
        w->raise();
        w->activateWindow();
        qCDebug(lcInstance).noquote()
            << "a later start brought" << w->objectName() << "to the front";
    }

    int mLock;
    QString mLockPath;
    QPointer<QLocalServer> mServer;
};

QPointer<Claim> gClaim;

// Takes the claim when nobody holds it: the lock's descriptor, or -1.
int takeClaim(const QString& lockPath, bool* heldElsewhere) {
    *heldElsewhere = false;
    const QByteArray path = QFile::encodeName(lockPath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcInstance, "cannot open %s: %s", path.constData(), std::strerror(errno));
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // An ending program removes the file before it lets go of the lock:
        // a lock on a file no longer at the path is no claim.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        *heldElsewhere = true;
        ::close(fd);
        return -1;
    }
    *heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return -1;
}

// A generation keeps template.dot and temp.bmp in TEMP only while it runs.
// Holding the claim at start-up, no program of ours is running on this TEMP,
// so any there are what a killed run left: used as they are, they would make
// the next notice from a stale template, or preview a stale picture.
void clearWhatAKilledRunLeft() {
    const QString temp = common::tempFolderName();
    for (const QString& name : {QStringLiteral("template.dot"), QStringLiteral("temp.bmp")}) {
        const QString path = temp + QLatin1Char('/') + name;
        // A file or a link (a folder of that name is left alone).
        if (::unlink(QFile::encodeName(path).constData()) == 0)
            qCInfo(lcInstance).noquote() << "removed" << path << "that an ended run left behind";
    }
}

void holdClaim(int lock, const QString& lockPath, const QString& socketPath) {
    gClaim = new Claim(lock, lockPath, QCoreApplication::instance());
    gClaim->listen(socketPath);
}

// Run without the claim (another program held it to the end of the wait):
// take it as soon as that program has gone, so later starts find this one.
void keepTryingForTheClaim(const QString& lockPath, const QString& socketPath) {
    auto* retry = new QTimer(QCoreApplication::instance());
    QObject::connect(retry, &QTimer::timeout, retry, [=] {
        bool heldElsewhere = false;
        const int lock = takeClaim(lockPath, &heldElsewhere);
        if (lock < 0 && heldElsewhere)
            return;
        retry->deleteLater();
        if (lock >= 0)
            holdClaim(lock, lockPath, socketPath);
    });
    retry->start(1000);
}

// Busy: connected and asked, but no answer in time (the request stays
// queued). Gone: nobody listens, or the call was closed unanswered, as a
// program that is ending does.
enum class Asked { Shown, Gone, Busy };

Asked askRunningProgram(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return Asked::Gone;
    socket.write(kRequest.data(), kRequest.size());
    socket.waitForBytesWritten(1000);
    QDeadlineTimer deadline(kAnswerMs);
    while (!socket.canReadLine() && !deadline.hasExpired() &&
           socket.state() == QLocalSocket::ConnectedState) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    if (socket.canReadLine())
        return socket.readLine(64) == kAnswer ? Asked::Shown : Asked::Gone;
    return socket.state() == QLocalSocket::ConnectedState ? Asked::Busy : Asked::Gone;
}

} // namespace

QWidget* windowToBringForward() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    QWidget* shown = nullptr;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        const Qt::WindowType type = w->windowType();
        if (!w->isVisible() || w->parentWidget() || type == Qt::Popup || type == Qt::ToolTip)
            continue;
        if (w->isActiveWindow())
            return w;
        if (!shown)
            shown = w;
    }
    return shown;
}

QString singleInstanceSocketPath() {
    const QString folder = privateRuntimeFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + claimName();
}

std::optional<int> handOverToRunningProgram() {
    const QString socketPath = singleInstanceSocketPath();
    if (socketPath.isEmpty())
        return std::nullopt;
    const QString lockPath = socketPath + QStringLiteral(".lock");
    QDeadlineTimer finding(kFindMs);
    for (;;) {
        bool heldElsewhere = false;
        const int lock = takeClaim(lockPath, &heldElsewhere);
        if (lock >= 0) {
            clearWhatAKilledRunLeft();
            holdClaim(lock, lockPath, socketPath);
            return std::nullopt;
        }
        if (!heldElsewhere)
            return std::nullopt; // the claim cannot be kept: run unchecked, as before
        switch (askRunningProgram(socketPath)) {
        case Asked::Shown:
            return 0;
        case Asked::Busy:
            // It has the request and will answer when its work allows.
            qCInfo(lcInstance, "Veltrane is already running and busy; it will come to the "
                               "front when it is done");
            return 0;
        case Asked::Gone:
            break;
        }
        if (finding.hasExpired()) {
            qCWarning(lcInstance,
                      "a program that does not answer holds %s; running all the same, and "
                      "taking the claim once it has gone",
                      QFile::encodeName(lockPath).constData());
            keepTryingForTheClaim(lockPath, socketPath);
            return std::nullopt;
        }
        // It has just claimed and is not listening yet, or it is ending.
        QThread::msleep(50);
    }
}

void stopAnsweringLaterStarts() {
    if (gClaim)
        gClaim->stopAnswering();
}

} // namespace app
