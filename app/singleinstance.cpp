#include "singleinstance.h"

#include "app/files.h"

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
#include <cstdio>
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
// but is not listening yet (it claims first, then listens).
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

// A folder only this user can enter: the session's runtime folder, else one
// of ours in the system's temporary folder. Never the temporary folder TEMP
// names, which a second start must not touch.
QString privateRuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    const QByteArray own =
        QFile::encodeName(QDir::tempPath() + QStringLiteral("/veltrane-%1-run").arg(::getuid()));
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
    QString temp = QDir::cleanPath(QFileInfo(TempFolderName()).absoluteFilePath());
    const QFileInfo info(temp);
    if (info.exists())
        temp = info.canonicalFilePath();
    const QByteArray key = QByteArray::number(::getuid()) + '\n' + QFile::encodeName(temp);
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("veltrane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.left(16)));
}

// The running program's side: holds the claim (a lock that ends with the
// process, whatever way it ends) and answers later starts.
class Claim : public QObject {
  public:
    Claim(int lockFd, QObject* parent) : QObject(parent), mLock(lockFd) {}
    ~Claim() override {
        delete mServer; // removes the socket before the lock goes
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
    QPointer<QLocalServer> mServer;
};

// Takes the claim when nobody holds it: the lock's descriptor, or -1.
int takeClaim(const QString& lockPath, bool* heldElsewhere) {
    *heldElsewhere = false;
    const int fd = ::open(QFile::encodeName(lockPath).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcInstance, "cannot open %s: %s", qPrintable(lockPath), std::strerror(errno));
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    *heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return -1;
}

enum class Asked { Shown, NotListening, NoAnswer };

Asked askRunningProgram(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return Asked::NotListening;
    socket.write(kRequest.data(), kRequest.size());
    socket.waitForBytesWritten(1000);
    QDeadlineTimer deadline(kAnswerMs);
    while (!socket.canReadLine() && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    return socket.canReadLine() && socket.readLine(64) == kAnswer ? Asked::Shown : Asked::NoAnswer;
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
            (new Claim(lock, QCoreApplication::instance()))->listen(socketPath);
            return std::nullopt;
        }
        if (!heldElsewhere)
            return std::nullopt; // the claim cannot be kept: run unchecked, as before
        switch (askRunningProgram(socketPath)) {
        case Asked::Shown:
            return 0;
        case Asked::NoAnswer:
            // It has the request and will answer when its work allows.
            qCInfo(lcInstance, "Veltrane is already running and busy; it will come to the "
                               "front when it is done");
            return 0;
        case Asked::NotListening:
            break;
        }
        if (finding.hasExpired()) {
            std::fprintf(stderr,
                         "veltrane: Veltrane is already running for this user but does not "
                         "answer (%s); close it before starting it again.\n",
                         QFile::encodeName(socketPath).constData());
            return 1;
        }
        // It has just claimed and is not listening yet, or it has just ended.
        QThread::msleep(50);
    }
}

} // namespace app
