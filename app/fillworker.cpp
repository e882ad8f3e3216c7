#include "fillworker.h"

#include "app/fillcommand.h"
#include "app/fillrun.h"
#include "common/programend.h"
#include "generate/wordcheck.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace app {

namespace fill {

QByteArray jsonLine(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

bool LineReader::fill() {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(mFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        mBuffer.append(buf, n);
        return true;
    }
}

bool LineReader::next(QByteArray& line) {
    const qsizetype end = mBuffer.indexOf('\n');
    if (end < 0)
        return false;
    line = mBuffer.left(end);
    mBuffer.remove(0, end + 1);
    return true;
}

// ---- the list's side ---------------------------------------------------------------

void Worker::closeInput() {
    if (toWorker >= 0)
        ::close(std::exchange(toWorker, -1));
}

void Worker::reap() {
    closeInput();
    if (fromWorker >= 0)
        ::close(std::exchange(fromWorker, -1));
    if (pid > 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
}

// Everything the worker needs is made before the fork; the child only moves
// its pipes into place and runs the program.
bool startWorker(Worker& w, const QString& templatePath, const QString& folder) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray tpl = QFile::encodeName(templatePath);
    const QByteArray dir = QFile::encodeName(folder);
    const char* argv[] = {program.constData(), "--fill-worker", tpl.constData(), dir.constData(),
                          nullptr};
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A worker whose list has gone away stops after its row.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        if (::dup2(in[0], 0) < 0 || ::dup2(out[1], 1) < 0)
            ::_exit(127);
        ::execv(program.constData(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        return false;
    }
    w.pid = pid;
    w.toWorker = in[1];
    w.fromWorker = out[0];
    w.reader = std::make_unique<LineReader>(out[0]);
    return true;
}

QByteArray jobLine(const Row& r, const QString& format, bool force) {
    QJsonArray facts;
    for (const QString& f : r.facts)
        facts.append(f);
    return jsonLine({{QStringLiteral("row"), r.number},
                     {QStringLiteral("format"), format},
                     {QStringLiteral("target"), r.target},
                     {QStringLiteral("force"), force},
                     {QStringLiteral("facts"), facts}});
}

// ---- the worker's side -------------------------------------------------------------

namespace {

// Makes the notice a job line asks for; the answer to it.
QJsonObject makeJob(generate::NoticeFiller& filler, const QString& folder, const QByteArray& line) {
    const QJsonObject job = QJsonDocument::fromJson(line).object();
    const int row = job.value(QStringLiteral("row")).toInt();
    const auto format = generate::noticeFormatNamed(job.value(QStringLiteral("format")).toString());
    const QJsonArray values = job.value(QStringLiteral("facts")).toArray();
    generate::Facts facts;
    for (std::size_t i = 0; i < facts.size(); ++i)
        facts[i] = values.at(qsizetype(i)).toString();
    QJsonObject result{{QStringLiteral("row"), row}};
    try {
        if (!format || values.size() != qsizetype(facts.size()))
            throw automation::Error(QStringLiteral("the list sent a row this worker cannot read"));
        makeNotice(filler, facts, *format,
                   folder + QStringLiteral("/row-%1.").arg(row) +
                       generate::noticeFormatName(*format),
                   job.value(QStringLiteral("target")).toString(),
                   job.value(QStringLiteral("force")).toBool());
    } catch (const automation::Error& e) {
        result.insert(QStringLiteral("error"), e.description());
    }
    return result;
}

} // namespace

} // namespace fill

int fillWorker(const QString& templatePath, const QString& folder) {
    using namespace fill;
    // The list stops its workers; a Ctrl+C meant for the list is not for them.
    StopSignals stopSignals(false);
    // What the window would show goes to the list, which says it once for all workers.
    QString fatal;
    ui::setMsgBoxHandler([&](const ui::MsgBoxRequest& request) {
        fatal += ui::displayText(request.prompt) + QLatin1Char('\n');
        return int(ui::vbOK);
    });
    struct ForgetHandler {
        ~ForgetHandler() { ui::setMsgBoxHandler({}); }
    } forgetHandler;
    generate::checkWordAvailable();
    if (common::programEnded()) {
        writeAll(1, jsonLine({{QStringLiteral("fatal"), fatal}}));
        return 1;
    }
    generate::NoticeFiller filler(templatePath);
    LineReader input(0);
    QByteArray line;
    while (!StopSignals::stopped()) {
        if (!input.next(line)) {
            if (!input.fill())
                break; // the list is done with this worker
            continue;
        }
        if (!writeAll(1, jsonLine(makeJob(filler, folder, line))))
            break;
    }
    return 0;
}

} // namespace app
