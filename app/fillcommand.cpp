#include "fillcommand.h"

#include "app/csv.h"
#include "common/files.h"
#include "common/programend.h"
#include "generate/template.h"
#include "generate/wordcheck.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace app {

namespace {

Q_LOGGING_CATEGORY(lcFillCommand, "veltrane.fill", QtWarningMsg)

using generate::Facts;
using generate::NoticeFormat;

void say(FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// ---- signals ---------------------------------------------------------------------

volatile sig_atomic_t gSignal = 0;
int gWakeFd = -1; // written to on a signal, so a wait for workers wakes up

extern "C" void onStopSignal(int sig) {
    if (gSignal == 0)
        gSignal = sig;
    if (gWakeFd >= 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t w = ::write(gWakeFd, "!", 1);
        errno = saved;
    }
}

// SIGINT and SIGTERM ask for a clean stop while it lives: the work under way
// is finished or dropped whole, never left half done. Calls under way are
// restarted, not broken off.
class StopSignals {
  public:
    explicit StopSignals(bool catchInterrupt = true) {
        gSignal = 0;
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGTERM, &sa, &mOldTerm);
        if (!catchInterrupt)
            sa.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &sa, &mOldInt);
    }
    ~StopSignals() {
        ::sigaction(SIGTERM, &mOldTerm, nullptr);
        ::sigaction(SIGINT, &mOldInt, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool stopped() { return gSignal != 0; }
    static int status() { return 128 + gSignal; }

  private:
    struct sigaction mOldTerm {};
    struct sigaction mOldInt {};
};

// ---- what the runs share -----------------------------------------------------------

// A folder of this run's own under the system's temporary folder, so nothing
// is shared with a window that runs meanwhile; removed with everything in it.
class PrivateFolder {
  public:
    PrivateFolder() {
        QByteArray name =
            QFile::encodeName(QDir::tempPath() + QStringLiteral("/veltrane-fill-XXXXXX"));
        if (char* made = ::mkdtemp(name.data()))
            mPath = QFile::decodeName(made);
        else
            mError = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~PrivateFolder() {
        if (!mPath.isEmpty() && !QDir(mPath).removeRecursively())
            qCWarning(lcFillCommand, "could not remove %s", qPrintable(mPath));
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    QString path() const { return mPath; }
    QString error() const { return mError; }

  private:
    QString mPath;
    QString mError;
};

// What the window shows in a message box is said on standard error here.
void messagesToTerminal() {
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& request) {
        say(stderr, ui::displayText(request.prompt) + QLatin1Char('\n'));
        return int(ui::vbOK);
    });
}

// The template the window would use (the organisation's own first), written
// once into the run's folder; "" after saying why it cannot be.
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

// Makes the notice apart, then puts it in place with the saving routine of the
// window, so the target is whole or untouched. Throws automation::Error.
void makeNotice(generate::NoticeFiller& filler, const Facts& facts, NoticeFormat format,
                const QString& staged, const QString& target, bool force) {
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

// "line 3, column 14" of a byte offset into text.
QString lineAndColumn(const QByteArray& text, qsizetype offset) {
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    const QByteArray before = text.left(offset);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    return QStringLiteral("line %1, column %2")
        .arg(before.count('\n') + 1)
        .arg(QString::fromUtf8(before.mid(lineStart)).size() + 1);
}

QString factNameList() {
    QStringList names;
    for (const char* n : generate::kFactNames)
        names << QLatin1String(n);
    return names.join(QStringLiteral(", "));
}

int factIndex(const QString& name) {
    for (std::size_t i = 0; i < generate::kFactNames.size(); ++i)
        if (name == QLatin1String(generate::kFactNames[i]))
            return int(i);
    return -1;
}

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

// Lines read from a descriptor as they come.
class LineReader {
  public:
    explicit LineReader(int fd) : mFd(fd) {}
    // Reads what is there (blocking once); false at the end or on an error.
    bool fill() {
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
    bool next(QByteArray& line) {
        const qsizetype end = mBuffer.indexOf('\n');
        if (end < 0)
            return false;
        line = mBuffer.left(end);
        mBuffer.remove(0, end + 1);
        return true;
    }

  private:
    int mFd;
    QByteArray mBuffer;
};

// ---- the list's parts --------------------------------------------------------------

struct Row {
    int number = 0; // as the spreadsheet counts (the header is row 1)
    Facts facts;
    QString target;
    QString problem; // why it cannot be made at all
};

// One worker process: its own office, rows in through its standard input,
// results out through its standard output.
struct Worker {
    pid_t pid = -1;
    int toWorker = -1;
    int fromWorker = -1;
    std::unique_ptr<LineReader> reader;
    int row = -1; // the index of the row it is making, or -1
    bool ended = false;

    void closeInput() {
        if (toWorker >= 0)
            ::close(std::exchange(toWorker, -1));
    }
    void reap() {
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
};

// Starts the program again as a worker. Everything it needs is made before
// the fork; the child only moves its pipes into place and runs the program.
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

// The progress line on a terminal, or one line per row elsewhere.
class Progress {
  public:
    explicit Progress(int total) : mTotal(total), mTerminal(::isatty(2) == 1) { mClock.start(); }

    void row(const Row& r, const QString& failure) {
        ++mDone;
        clearLine();
        if (!failure.isEmpty())
            say(stderr, QStringLiteral("row %1: not made: %2\n").arg(r.number).arg(failure));
        else if (!mTerminal)
            say(stderr, QStringLiteral("row %1: made %2\n").arg(r.number).arg(r.target));
        if (mTerminal)
            draw();
    }

    void finish(int made, int failed) {
        clearLine();
        say(stderr, QStringLiteral("made %1, failed %2, %3 seconds\n")
                        .arg(made)
                        .arg(failed)
                        .arg(seconds(), 0, 'f', 1));
    }

    double seconds() const { return double(mClock.nsecsElapsed()) / 1e9; }

  private:
    void clearLine() {
        if (mTerminal && mShown)
            say(stderr, QStringLiteral("\r\033[K"));
        mShown = false;
    }
    void draw() {
        const double s = seconds();
        const double rate = s > 0 ? mDone / s : 0;
        QString line = QStringLiteral("%1 of %2 notices").arg(mDone).arg(mTotal);
        if (rate > 0)
            line += QStringLiteral(", %1 a second, about %2 s left")
                        .arg(rate, 0, 'f', 1)
                        .arg(qRound((mTotal - mDone) / rate));
        say(stderr, line);
        mShown = true;
    }

    int mTotal;
    int mDone = 0;
    bool mTerminal;
    bool mShown = false;
    QElapsedTimer mClock;
};

// Reads the list and its header; "" or why it cannot serve.
QString readRows(const QString& file, const QString& outputDir, const QString& suffix,
                 std::vector<Row>& rows) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(file, in.errorString());
    const CsvTable table = readCsv(in.readAll());
    if (!table.error.isEmpty())
        return QStringLiteral("%1: %2").arg(file, table.error);
    if (table.records.isEmpty())
        return QStringLiteral("%1 is empty; its first row names the columns: %2")
            .arg(file, factNameList());
    const QStringList header = table.records.first().fields;
    std::array<int, 9> column;
    column.fill(-1);
    for (qsizetype c = 0; c < header.size(); ++c) {
        const int index = factIndex(header[c]);
        if (index < 0)
            return QStringLiteral("%1: unknown column '%2' (the columns are %3)")
                .arg(file, header[c], factNameList());
        if (column[std::size_t(index)] >= 0)
            return QStringLiteral("%1: the column '%2' appears twice").arg(file, header[c]);
        column[std::size_t(index)] = int(c);
    }
    for (std::size_t i = 0; i < column.size(); ++i)
        if (column[i] < 0)
            return QStringLiteral("%1: the column '%2' is missing")
                .arg(file, QLatin1String(generate::kFactNames[i]));

    QSet<QString> taken;
    for (qsizetype r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        Row row;
        row.number = record.number;
        if (record.fields.size() != header.size()) {
            row.problem = QStringLiteral("it has %1 fields where the header has %2 (line %3)")
                              .arg(record.fields.size())
                              .arg(header.size())
                              .arg(record.line);
        } else {
            for (std::size_t i = 0; i < column.size(); ++i)
                row.facts[i] = record.fields[column[i]];
            row.target =
                outputDir + QLatin1Char('/') + noticeFileName(row.facts, row.number, suffix, taken);
        }
        rows.push_back(std::move(row));
    }
    return QString();
}

// Characters some file system refuses in a name.
bool unsafeInName(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || QStringView(u"/\\:*?\"<>|").contains(c) ||
           c.category() == QChar::Other_Format || u == 0x2028 || u == 0x2029;
}

// Cuts text to at most maxBytes of UTF-8, never inside a character.
QString cutToBytes(const QString& text, qsizetype maxBytes) {
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype b = text.mid(i, len).toUtf8().size();
        if (bytes + b > maxBytes)
            break;
        out += text.mid(i, len);
        bytes += b;
        i += len;
    }
    return out;
}

} // namespace

// ---- the parts, one by one ----------------------------------------------------------

std::optional<Facts> factsFromJson(const QByteArray& json, QString& why) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        why =
            QStringLiteral("%1 at %2").arg(error.errorString(), lineAndColumn(json, error.offset));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        why = QStringLiteral("the facts must be one JSON object with the keys %1")
                  .arg(factNameList());
        return std::nullopt;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (factIndex(it.key()) < 0) {
            why = QStringLiteral("unknown key \"%1\" (the keys are %2)")
                      .arg(it.key(), factNameList());
            return std::nullopt;
        }
    }
    Facts facts;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const QString key = QLatin1String(generate::kFactNames[i]);
        const auto it = object.find(key);
        if (it == object.end()) {
            why = QStringLiteral("the key \"%1\" is missing").arg(key);
            return std::nullopt;
        }
        if (!it->isString()) {
            why =
                QStringLiteral("the value of \"%1\" is not a string (write it in quotes)").arg(key);
            return std::nullopt;
        }
        facts[i] = it->toString();
    }
    return facts;
}

QString noticeFileName(const Facts& facts, int row, const QString& suffix, QSet<QString>& taken) {
    QString stem;
    for (const QString& part : {facts[8], facts[0]}) {
        QString clean;
        for (const QChar c : part)
            clean += unsafeInName(c) ? QChar(u'_') : c;
        clean = clean.simplified();
        if (!clean.isEmpty())
            stem += (stem.isEmpty() ? QString() : QStringLiteral(" ")) + clean;
    }
    // No hidden file, and nothing Windows would drop from the end.
    while (stem.startsWith(QLatin1Char('.')) || stem.startsWith(QLatin1Char(' ')))
        stem.remove(0, 1);
    while (stem.endsWith(QLatin1Char('.')) || stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    static const QStringList reserved{QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    const QString upper = stem.toUpper();
    if (reserved.contains(upper) ||
        (upper.size() == 4 &&
         (upper.startsWith(QLatin1String("COM")) || upper.startsWith(QLatin1String("LPT"))) &&
         upper[3].isDigit()))
        stem.prepend(QLatin1Char('_'));
    if (stem.isEmpty())
        stem = QStringLiteral("row %1").arg(row);
    const QString ext = QLatin1Char('.') + suffix;
    for (int n = 1;; ++n) {
        const QString counter = n == 1 ? QString() : QStringLiteral(" (%1)").arg(n);
        // The name as a whole within 255 bytes, the number and the extension kept.
        QString cut = cutToBytes(stem, 255 - (counter + ext).toUtf8().size());
        while (cut.endsWith(QLatin1Char(' ')) || cut.endsWith(QLatin1Char('.')))
            cut.chop(1);
        if (cut.isEmpty())
            cut = QStringLiteral("row %1").arg(row);
        const QString name = cut + counter + ext;
        if (!taken.contains(name.toCaseFolded())) {
            taken.insert(name.toCaseFolded());
            return name;
        }
    }
}

int fillOne(const FillOptions& options) {
    const auto format = generate::noticeFormatNamed(QFileInfo(options.output).suffix());
    if (!format) {
        say(stderr, QStringLiteral("veltrane: %1: the name must end in .doc, .pdf, .docx or .odt; "
                                   "try 'veltrane --help'\n")
                        .arg(options.output));
        return 2;
    }
    QFile in;
    const bool fromInput = options.facts == QLatin1String("-");
    const bool opened = fromInput ? in.open(stdin, QIODevice::ReadOnly)
                                  : (in.setFileName(options.facts), in.open(QIODevice::ReadOnly));
    const QString factsName = fromInput ? QStringLiteral("standard input") : options.facts;
    if (!opened) {
        say(stderr,
            QStringLiteral("veltrane: cannot read %1: %2\n").arg(factsName, in.errorString()));
        return 2;
    }
    QString why;
    const auto facts = factsFromJson(in.readAll(), why);
    if (!facts) {
        say(stderr, QStringLiteral("veltrane: %1: %2\n").arg(factsName, why));
        return 2;
    }
    if (!options.force && common::nameTaken(options.output)) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(existsMessage(options.output)));
        return 1;
    }

    messagesToTerminal();
    StopSignals stopSignals;
    PrivateFolder folder;
    if (folder.path().isEmpty()) {
        say(stderr, QStringLiteral("veltrane: cannot make a temporary folder in %1: %2\n")
                        .arg(QDir::tempPath(), folder.error()));
        return 1;
    }
    const QString templatePath = writeTemplate(folder.path());
    if (templatePath.isEmpty())
        return 1;
    // The window's own start-up check, with its words when no office starts.
    generate::checkWordAvailable();
    if (common::programEnded())
        return 1;
    if (StopSignals::stopped())
        return StopSignals::status();
    try {
        generate::NoticeFiller filler(templatePath);
        makeNotice(filler, *facts, *format,
                   folder.path() + QStringLiteral("/notice.") + generate::noticeFormatName(*format),
                   options.output, options.force);
    } catch (const automation::Error& e) {
        say(stderr, QStringLiteral("veltrane: the notice was not made: %1\n").arg(e.description()));
        return StopSignals::stopped() ? StopSignals::status() : 1;
    }
    return StopSignals::stopped() ? StopSignals::status() : 0;
}

int fillWorker(const QString& templatePath, const QString& folder) {
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
        const QJsonObject job = QJsonDocument::fromJson(line).object();
        const int row = job.value(QStringLiteral("row")).toInt();
        const auto format =
            generate::noticeFormatNamed(job.value(QStringLiteral("format")).toString());
        const QJsonArray values = job.value(QStringLiteral("facts")).toArray();
        Facts facts;
        for (std::size_t i = 0; i < facts.size(); ++i)
            facts[i] = values.at(qsizetype(i)).toString();
        QJsonObject result{{QStringLiteral("row"), row}};
        try {
            if (!format || values.size() != qsizetype(facts.size()))
                throw automation::Error(
                    QStringLiteral("the list sent a row this worker cannot read"));
            makeNotice(filler, facts, *format,
                       folder + QStringLiteral("/row-%1.").arg(row) +
                           generate::noticeFormatName(*format),
                       job.value(QStringLiteral("target")).toString(),
                       job.value(QStringLiteral("force")).toBool());
        } catch (const automation::Error& e) {
            result.insert(QStringLiteral("error"), e.description());
        }
        if (!writeAll(1, jsonLine(result)))
            break;
    }
    return 0;
}

int fillList(const FillOptions& options) {
    const QString suffix = generate::noticeFormatName(options.format);
    const QString outputDir = QDir(options.outputDir).absolutePath();
    std::vector<Row> rows;
    if (const QString why = readRows(options.list, outputDir, suffix, rows); !why.isEmpty()) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(why));
        return 2;
    }
    if (!QDir().mkpath(outputDir)) {
        say(stderr, QStringLiteral("veltrane: cannot make the folder %1\n").arg(outputDir));
        return 1;
    }

    messagesToTerminal();
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        say(stderr,
            QStringLiteral("veltrane: %1\n").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    gWakeFd = wake[1];
    struct CloseWake {
        int* fds;
        ~CloseWake() {
            gWakeFd = -1;
            ::close(fds[0]);
            ::close(fds[1]);
        }
    } closeWake{wake};
    StopSignals stopSignals;
    // A worker that has died must not take the list with it when it is written to.
    struct IgnoreBrokenPipes {
        struct sigaction old {};
        IgnoreBrokenPipes() {
            struct sigaction sa {};
            sa.sa_handler = SIG_IGN;
            sigemptyset(&sa.sa_mask);
            ::sigaction(SIGPIPE, &sa, &old);
        }
        ~IgnoreBrokenPipes() { ::sigaction(SIGPIPE, &old, nullptr); }
    } ignoreBrokenPipes;
    Progress progress(int(rows.size()));
    int made = 0, failed = 0;
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].problem.isEmpty()) {
            pending.push_back(i);
        } else {
            ++failed;
            progress.row(rows[i], rows[i].problem);
        }
    }
    std::reverse(pending.begin(), pending.end()); // taken from the back, first row first

    PrivateFolder folder;
    QString templatePath;
    if (!pending.empty()) {
        if (folder.path().isEmpty()) {
            say(stderr, QStringLiteral("veltrane: cannot make a temporary folder in %1: %2\n")
                            .arg(QDir::tempPath(), folder.error()));
            return 1;
        }
        templatePath = writeTemplate(folder.path());
        if (templatePath.isEmpty())
            return 1;
    }

    int jobs = options.jobs > 0 ? options.jobs : std::min(QThread::idealThreadCount(), 4);
    jobs = std::max(1, std::min<int>(jobs, int(pending.size())));
    std::vector<Worker> workers(pending.empty() ? 0 : std::size_t(jobs));
    for (Worker& w : workers)
        if (!startWorker(w, templatePath, folder.path()))
            w.ended = true;

    auto send = [&](Worker& w) {
        if (pending.empty() || StopSignals::stopped() || w.ended) {
            w.closeInput();
            return;
        }
        const std::size_t index = pending.back();
        pending.pop_back();
        const Row& r = rows[index];
        QJsonArray facts;
        for (const QString& f : r.facts)
            facts.append(f);
        w.row = int(index);
        if (!writeAll(w.toWorker, jsonLine({{QStringLiteral("row"), r.number},
                                            {QStringLiteral("format"), suffix},
                                            {QStringLiteral("target"), r.target},
                                            {QStringLiteral("force"), options.force},
                                            {QStringLiteral("facts"), facts}}))) {
            pending.push_back(index);
            w.row = -1;
            w.closeInput();
        }
    };
    for (Worker& w : workers)
        send(w);

    QString fatal;
    bool stopping = false;
    for (;;) {
        if (StopSignals::stopped() && !stopping) {
            stopping = true;
            for (Worker& w : workers)
                if (w.row < 0)
                    w.closeInput();
        }
        std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
        std::vector<Worker*> polled;
        for (Worker& w : workers)
            if (!w.ended && w.fromWorker >= 0) {
                fds.push_back({w.fromWorker, POLLIN, 0});
                polled.push_back(&w);
            }
        if (polled.empty())
            break;
        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        for (std::size_t k = 0; k < polled.size(); ++k) {
            if (!(fds[k + 1].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Worker& w = *polled[k];
            const bool open = w.reader->fill();
            QByteArray line;
            while (w.reader->next(line)) {
                const QJsonObject result = QJsonDocument::fromJson(line).object();
                if (result.contains(QStringLiteral("fatal"))) {
                    if (fatal.isEmpty()) {
                        fatal = result.value(QStringLiteral("fatal")).toString();
                        say(stderr, fatal);
                    }
                    continue;
                }
                if (w.row < 0)
                    continue;
                const Row& r = rows[std::size_t(w.row)];
                const QString error = result.value(QStringLiteral("error")).toString();
                (error.isEmpty() ? made : failed)++;
                progress.row(r, error);
                w.row = -1;
                send(w);
            }
            if (!open) {
                if (w.row >= 0) {
                    ++failed;
                    progress.row(rows[std::size_t(w.row)],
                                 QStringLiteral("the worker making it ended unexpectedly"));
                    w.row = -1;
                }
                w.ended = true;
                w.reap();
            }
        }
        // The workers still going take up what another left.
        for (Worker& w : workers)
            if (!w.ended && w.row < 0 && w.toWorker >= 0)
                send(w);
    }
    for (Worker& w : workers)
        w.reap();
    if (StopSignals::stopped()) {
        progress.finish(made, failed);
        say(stderr, QStringLiteral("stopped: %1 rows were not made\n").arg(pending.size()));
        return StopSignals::status();
    }
    for (std::size_t index : pending) {
        ++failed;
        progress.row(rows[index], !fatal.isEmpty()
                                      ? QStringLiteral("no word processor could be started")
                                      : QStringLiteral("no worker was left to make it"));
    }
    progress.finish(made, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace app
