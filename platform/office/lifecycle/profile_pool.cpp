#include "profiles_and_sockets.h"

#include "office_log.h"
#include "platform/automation/automation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace office {

static QString readSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(4 << 20));
}

QString installedOfficeVersion(const QString& programDir) {
    // bootstraprc names the product with its version ("LibreOffice 7.4").
    static const QRegularExpression productKey(QStringLiteral("^ProductKey=.*?(\\d+\\.\\d+)"),
                                               QRegularExpression::MultilineOption);
    auto m = productKey.match(readSmallFile(programDir + QStringLiteral("/bootstraprc")));
    if (m.hasMatch())
        return m.captured(1);
    // Otherwise the shared configuration carries it.
    static const QRegularExpression setupVersion(
        QStringLiteral("oor:name=\"ooSetupVersion\"[^>]*>\\s*<value>(\\d+\\.\\d+)"));
    m = setupVersion.match(
        readSmallFile(QDir::cleanPath(programDir + QStringLiteral("/../share/registry/main.xcd"))));
    return m.hasMatch() ? m.captured(1) : QString();
}

static QString xcuItem(const char* path, const char* prop, const QString& value) {
    return QStringLiteral("<item oor:path=\"%1\"><prop oor:name=\"%2\" oor:op=\"fuse\"><value>%3"
                          "</value></prop></item>\n")
        .arg(QLatin1String(path), QLatin1String(prop), value);
}

// Sets one property in the file's text, keeping everything else. Returns
// whether the text changed.
static bool setXcuValue(QString& xcu, const char* path, const char* prop, const QString& value) {
    const QRegularExpression existing(
        QStringLiteral("(<item oor:path=\"%1\"><prop oor:name=\"%2\"[^>]*>\\s*<value>)([^<]*)"
                       "(</value>)")
            .arg(QRegularExpression::escape(QLatin1String(path)),
                 QRegularExpression::escape(QLatin1String(prop))));
    const auto m = existing.match(xcu);
    if (m.hasMatch()) {
        if (m.captured(2) == value)
            return false;
        xcu.replace(m.capturedStart(2), m.capturedLength(2), value);
        return true;
    }
    const qsizetype end = xcu.lastIndexOf(QStringLiteral("</oor:items>"));
    if (end < 0) {
        xcu = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                             "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n") +
              xcuItem(path, prop, value) + QStringLiteral("</oor:items>\n");
    } else {
        xcu.insert(end, xcuItem(path, prop, value));
    }
    return true;
}

bool seedProfile(const QString& profileDir, const QString& version) {
    const QString userDir = profileDir + QStringLiteral("/user");
    if (!QDir().mkpath(userDir))
        return false;
    const QString path = userDir + QStringLiteral("/registrymodifications.xcu");
    QString xcu = readSmallFile(path);
    bool changed = false;
    // Without a version nothing is known to seed; the office still starts, only slower.
    if (!version.isEmpty())
        changed |= setXcuValue(xcu, "/org.openoffice.Setup/Product", "ooSetupLastVersion", version);
    // The documents are the program's private files: an office killed while
    // holding one must not leave lock files beside it.
    const char* misc = "/org.openoffice.Office.Common/Misc";
    changed |= setXcuValue(xcu, misc, "UseLocking", QStringLiteral("false"));
    changed |= setXcuValue(xcu, misc, "UseDocumentSystemFileLocking", QStringLiteral("false"));
    changed |= setXcuValue(xcu, misc, "UseDocumentOOoLockFile", QStringLiteral("false"));
    // A template is untrusted: the Word macros in it are neither loaded nor
    // kept, so none of them reaches the saved document.
    const char* vba = "/org.openoffice.Office.Writer/Filter/Import/VBA";
    for (const char* prop : {"Load", "Save", "Executable"})
        changed |= setXcuValue(xcu, vba, prop, QStringLiteral("false"));
    if (!changed)
        return true;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(xcu.toUtf8());
    return out.commit();
}

namespace {

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Makes path a folder, with its parents; empty when it is one we may write
// into, else why not.
QString makeWritableFolder(const QString& path) {
    const QStringList parts = QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'));
    QString sofar;
    for (const QString& part : parts) {
        sofar += part.isEmpty() && sofar.isEmpty() ? QString() : QLatin1Char('/') + part;
        if (sofar.isEmpty())
            continue;
        const QByteArray p = QFile::encodeName(sofar);
        if (::mkdir(p.constData(), 0700) == 0)
            continue;
        const int err = errno;
        struct stat st {};
        if (::stat(p.constData(), &st) != 0)
            return QStringLiteral("%1: %2").arg(sofar, errnoText(err));
        if (!S_ISDIR(st.st_mode))
            return QStringLiteral("%1 is not a folder").arg(sofar);
    }
    if (::access(QFile::encodeName(path).constData(), W_OK | X_OK) != 0)
        return errnoText(errno);
    return QString();
}

// Makes path a folder of this user's alone, or accepts one that already is;
// empty when it is, else why not. A folder someone else made, or that others
// may write into, is never taken: what is in it could be theirs.
QString makePrivateFolder(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
        return errnoText(errno);
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0)
        return errnoText(errno);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("it is not a folder");
    if (st.st_uid != ::getuid())
        return QStringLiteral("it belongs to another user");
    if ((st.st_mode & 022) != 0)
        return QStringLiteral("other users may write into it");
    if ((st.st_mode & 077) != 0 && ::chmod(p.constData(), 0700) != 0)
        return errnoText(errno);
    return QString();
}

} // namespace

QString defaultProfileRoot() {
    QStringList refused;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty()) {
        const QString root = cache + QStringLiteral("/veltrane/office-profiles");
        const QString why = makeWritableFolder(root);
        if (why.isEmpty())
            return root;
        refused << QStringLiteral("%1 (%2)").arg(root, why);
    }
    // The user's cache cannot hold the profiles: a private folder in the
    // system's temporary folder can, for as long as it lasts.
    const QString base = QDir::tempPath() + QStringLiteral("/veltrane-cache-%1").arg(::getuid());
    QString why = makePrivateFolder(base);
    const QString root = base + QStringLiteral("/office-profiles");
    if (why.isEmpty())
        why = makeWritableFolder(root);
    if (why.isEmpty()) {
        if (!refused.isEmpty())
            qCWarning(lcOffice).noquote()
                << "office profiles are kept in" << root << "instead of" << refused.join(", ");
        return root;
    }
    refused << QStringLiteral("%1 (%2)").arg(base, why);
    const QString message = QStringLiteral("No folder for the office profiles can be written: %1")
                                .arg(refused.join("; "));
    qCWarning(lcOffice).noquote() << message;
    throw automation::Error(message);
}

ProfileLease leaseProfile(const QString& root, const QString& version, int poolSize) {
    if (!QDir().mkpath(root))
        throw automation::Error(
            QStringLiteral("Cannot create the office profile folder %1").arg(root));
    QFile::setPermissions(root,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (int slot = 0; slot < poolSize; ++slot) {
        const QString dir = root + QLatin1Char('/') + QString::number(slot);
        if (!QDir().mkpath(dir))
            continue;
        const QByteArray lockPath = QFile::encodeName(dir + QStringLiteral("/veltrane.lock"));
        UniqueFd lock(::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!lock.valid() || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // another live office is using this one
        if (!seedProfile(dir, version))
            throw automation::Error(QStringLiteral("Cannot prepare the office profile %1: %2")
                                        .arg(dir, QString::fromLocal8Bit(std::strerror(errno))));
        // No live office of ours uses the profile now; what a killed one left goes.
        removeStaleSockets(recordedSockets(dir));
        return ProfileLease{dir, std::move(lock)};
    }
    throw automation::Error(
        QStringLiteral("All %1 office profiles under %2 are in use by running offices")
            .arg(poolSize)
            .arg(root));
}

} // namespace office
