#include "fillrun.h"

#include "common/files.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace app::fill {

namespace {
Q_LOGGING_CATEGORY(lcFillCommand, "veltrane.fill", QtWarningMsg)
} // namespace

void say(FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// ---- what the runs share -----------------------------------------------------------

PrivateFolder::PrivateFolder() {
    QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/veltrane-fill-XXXXXX"));
    if (char* made = ::mkdtemp(name.data()))
        mPath = QFile::decodeName(made);
    else
        mError = QString::fromLocal8Bit(std::strerror(errno));
}

PrivateFolder::~PrivateFolder() {
    if (!mPath.isEmpty() && !QDir(mPath).removeRecursively())
        qCWarning(lcFillCommand, "could not remove %s", qPrintable(mPath));
}

void messagesToTerminal() {
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& request) {
        say(stderr, ui::displayText(request.prompt) + QLatin1Char('\n'));
        return int(ui::vbOK);
    });
}

QString writeTemplate(const QString& folder) {
    try {
        const QByteArray bytes = generate::templateBytes();
        const QString path = folder + QStringLiteral("/template.dot");
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            out.write(bytes) != bytes.size() || !out.flush())
            throw automation::Error(
                QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return path;
    } catch (const automation::Error& e) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(e.description()));
        return QString();
    }
}

QString existsMessage(const QString& path) {
    return QStringLiteral("%1 already exists; add --force to replace it").arg(path);
}

void makeNotice(generate::NoticeFiller& filler, const generate::Facts& facts,
                generate::NoticeFormat format, const QString& staged, const QString& target,
                bool force) {
    if (!force && common::nameTaken(target))
        throw automation::Error(existsMessage(target));
    struct RemoveStaged {
        const QString& path;
        ~RemoveStaged() { common::deleteFileQuietly(path); }
    } removeStaged{staged};
    filler.fill(facts, format, staged);
    if (!force && common::nameTaken(target)) // made by someone else meanwhile
        throw automation::Error(existsMessage(target));
    common::copyFileWhole(staged, target);
}

} // namespace app::fill
