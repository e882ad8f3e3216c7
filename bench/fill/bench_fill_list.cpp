// Times a list of notices made from the command line against a yardstick
// measured in the same run: bare `soffice.bin --convert-to doc` conversions of
// the template, one office start each, with a seeded profile.
//
// Usage: bench_fill_list [rows]   (default 100)
// Prints the total for the yardstick and for --fill-list with --jobs 1 and 2,
// the time a notice, notices a second, and each total over the yardstick's.
// Half the conversions run before the lists and half after, so a machine
// that gets busier or quieter meanwhile weighs on both alike.
//
// Where node and npm are present, the same rows are also filled by npm
// carbone, a general-purpose report generator, into an ODT made from the
// same template: the ODT alone, and Word 97 through two LibreOffice workers
// and through one. carbone is installed on first use into
// ${XDG_CACHE_HOME:-~/.cache}/veltrane-bench/carbone.

#include "../seeded_profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const char* const kOffice = "/usr/lib/libreoffice/program/soffice.bin";

bool run(const QString& program, const QStringList& args, QString* err = nullptr) {
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(30 * 60 * 1000) && p.exitStatus() == QProcess::NormalExit &&
                    p.exitCode() == 0;
    if (err)
        *err = QString::fromLocal8Bit(p.readAllStandardError());
    return ok;
}

double secondsSince(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

QString csvField(QString v) {
    v.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

const QStringList kFacts{
    QStringLiteral("employeeName"), QStringLiteral("manager"),     QStringLiteral("department"),
    QStringLiteral("infraction"),   QStringLiteral("improvement"), QStringLiteral("consequences"),
    QStringLiteral("jobTitle"),     QStringLiteral("date"),        QStringLiteral("employeeId")};

// The nine facts of row i, in the order of kFacts.
QStringList facts(int i) {
    return {QStringLiteral("Employee %1").arg(i),
            QStringLiteral("Jordan Manager"),
            QStringLiteral("Customer Service"),
            QStringLiteral("Arrived late on three days.\nSecond line."),
            QStringLiteral("Arrive on time, every day."),
            QStringLiteral("A final written warning."),
            QStringLiteral("Agent"),
            QStringLiteral("2026-12-10"),
            QStringLiteral("E%1").arg(i)};
}

// Empty when antiword reads every fact of row i from the document and no
// placeholder or tag is left; otherwise what is wrong.
QString readsBack(const QString& doc, int i) {
    QProcess p;
    p.start(QStringLiteral("antiword"), {QStringLiteral("-w"), QStringLiteral("0"), doc});
    if (!p.waitForFinished(60 * 1000) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0)
        return QStringLiteral("antiword cannot read %1").arg(doc);
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString& fact : facts(i))
        for (const QString& line : fact.split(QLatin1Char('\n')))
            if (!text.contains(line))
                return QStringLiteral("%1 lacks \"%2\"").arg(doc, line);
    for (const char* left : {"[EmployeeName]", "[Infraction]", "{d."})
        if (text.contains(QLatin1String(left)))
            return QStringLiteral("%1 still holds %2").arg(doc, QLatin1String(left));
    return {};
}

// Ends every process whose command line holds mark, which carbone puts in the
// pipe name of each LibreOffice worker and of its Python bridge; the number
// that had to be ended.
int endMarked(const QByteArray& mark) {
    auto marked = [&] {
        QList<pid_t> pids;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString& entry : entries) {
            bool number = false;
            const pid_t pid = entry.toInt(&number);
            if (!number || pid == ::getpid())
                continue;
            QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains(mark))
                pids << pid;
        }
        return pids;
    };
    const QList<pid_t> found = marked();
    for (pid_t pid : found)
        ::kill(pid, SIGTERM);
    for (int tries = 0; tries < 50 && !marked().isEmpty(); ++tries)
        QThread::msleep(100);
    for (pid_t pid : marked())
        ::kill(pid, SIGKILL);
    return int(found.size());
}

// npm carbone, run by node, on the same rows and the same template.
class Peer {
  public:
    // Empty when carbone can run; otherwise why it cannot.
    QString prepare(const QString& cache, const QString& root, const QString& office,
                    const QString& odt) {
        node_ = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node_.isEmpty())
            node_ = QStandardPaths::findExecutable(QStringLiteral("nodejs"));
        const QString npm = QStandardPaths::findExecutable(QStringLiteral("npm"));
        if (node_.isEmpty() || npm.isEmpty())
            return QStringLiteral("node or npm is not installed");
        if (QStandardPaths::findExecutable(QStringLiteral("antiword")).isEmpty())
            return QStringLiteral("antiword, which checks its notices, is not installed");
        // carbone talks to its workers through a Python that has the uno module
        // and finds both on PATH.
        QString python;
        QStringList candidates{QStringLiteral("/usr/bin/python3")};
        candidates << QStandardPaths::findExecutable(QStringLiteral("python3"));
        for (const QString& c : candidates)
            if (!c.isEmpty() && run(c, {QStringLiteral("-c"), QStringLiteral("import uno")})) {
                python = c;
                break;
            }
        if (python.isEmpty())
            return QStringLiteral("no python3 has the uno module (python3-uno)");

        const QString modules = cache + QStringLiteral("/node_modules");
        if (!QFile::exists(modules + QStringLiteral("/carbone/package.json"))) {
            std::printf("installing npm carbone into %s\n", qPrintable(cache));
            std::fflush(stdout);
            QDir().mkpath(cache);
            QString err;
            if (!run(npm,
                     {QStringLiteral("install"), QStringLiteral("--prefix"), cache,
                      QStringLiteral("--no-audit"), QStringLiteral("--no-fund"),
                      QStringLiteral("--loglevel=error"), QStringLiteral("carbone@3")},
                     &err))
                return QStringLiteral("npm install carbone failed: %1").arg(err.trimmed());
        }
        QFile package(modules + QStringLiteral("/carbone/package.json"));
        if (package.open(QIODevice::ReadOnly))
            version_ = QJsonDocument::fromJson(package.readAll())
                           .object()
                           .value(QStringLiteral("version"))
                           .toString();

        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("NODE_PATH"), modules);
        env_.insert(QStringLiteral("PATH"), QFileInfo(office).path() + QLatin1Char(':') +
                                                QFileInfo(python).path() + QLatin1Char(':') +
                                                env_.value(QStringLiteral("PATH")));
        root_ = root;
        template_ = root + QStringLiteral("/carbone-template.odt");
        QString err;
        if (!node({QStringLiteral("tags"), odt, template_}, &err))
            return QStringLiteral("cannot make its template: %1").arg(err.trimmed());
        return {};
    }

    struct Run {
        double seconds = 0;      // the renders, workers already started
        double startSeconds = 0; // starting and connecting the workers
        int made = 0;
        QString outDir;
    };

    // Renders rowsJson in format (odt or doc) with that many workers.
    std::optional<Run> fill(const QString& rowsJson, const QString& format, int factories,
                            QString* err) {
        ++runs_;
        Run r;
        r.outDir = root_ + QStringLiteral("/carbone-out-%1").arg(runs_);
        const QString work = root_ + QStringLiteral("/carbone-work-%1").arg(runs_);
        QString out;
        if (!node({QStringLiteral("fill"), template_, rowsJson, r.outDir, format,
                   QString::number(factories), work, QString::fromLatin1(mark().chopped(1))},
                  err, &out))
            return std::nullopt;
        const QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).object();
        r.seconds = o.value(QStringLiteral("seconds")).toDouble();
        r.startSeconds = o.value(QStringLiteral("startSeconds")).toDouble();
        r.made = o.value(QStringLiteral("made")).toInt();
        return r;
    }

    QString version() const { return version_; }

    // Begins the pipe name of every process carbone starts in this run; the
    // script is given it without the separator, which carbone adds.
    QByteArray mark() const {
        return QByteArrayLiteral("vbench") + QByteArray::number(qint64(::getpid())) + '_';
    }

  private:
    bool node(const QStringList& args, QString* err, QString* out = nullptr) {
        QProcess p;
        p.setProcessEnvironment(env_);
        // The script ends carbone's workers on SIGTERM, also when the bench dies.
        p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        p.start(node_, QStringList{QStringLiteral(VELTRANE_CARBONE_SCRIPT)} + args);
        const bool finished = p.waitForFinished(20 * 60 * 1000);
        if (!finished) {
            p.kill();
            p.waitForFinished();
        }
        const int left = endMarked(mark());
        if (left > 0)
            std::fprintf(stderr, "carbone left %d processes running; they were ended\n", left);
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError()).right(2000);
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString node_;
    QString version_;
    QString root_;
    QString template_;
    QProcessEnvironment env_;
    int runs_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100;
    // carbone's install outlives the run, in the user's own cache.
    const QString userCache = qEnvironmentVariableIsEmpty("XDG_CACHE_HOME")
                                  ? QDir::homePath() + QStringLiteral("/.cache")
                                  : qEnvironmentVariable("XDG_CACHE_HOME");
    QTemporaryDir sandbox;
    const QString root = sandbox.path();
    // The program's profiles, settings and temporary files are the bench's own.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("TEMP", QFile::encodeName(root + QStringLiteral("/tmp")));
    QDir().mkpath(root + QStringLiteral("/tmp"));
    const QString program = QStringLiteral(VELTRANE_PROGRAM);
    const QString dot = root + QStringLiteral("/template.dot");
    if (!run(program, {QStringLiteral("--write-template"), dot})) {
        std::fprintf(stderr, "cannot write the template\n");
        return 1;
    }

    QStringList lines{kFacts.join(QLatin1Char(','))};
    QJsonArray objects;
    for (int i = 0; i < rows; ++i) {
        const QStringList values = facts(i);
        QStringList fields;
        QJsonObject o;
        for (qsizetype k = 0; k < kFacts.size(); ++k) {
            fields << csvField(values[k]);
            o.insert(kFacts[k], values[k]);
        }
        lines << fields.join(QLatin1Char(','));
        objects << o;
    }
    const QString list = root + QStringLiteral("/list.csv");
    QFile csv(list);
    if (!csv.open(QIODevice::WriteOnly) || csv.write(lines.join(QLatin1Char('\n')).toUtf8()) < 0)
        return 1;
    csv.close();
    const QString rowsJson = root + QStringLiteral("/rows.json");
    QFile json(rowsJson);
    if (!json.open(QIODevice::WriteOnly) || json.write(QJsonDocument(objects).toJson()) < 0)
        return 1;
    json.close();

    // The yardstick: one bare conversion after another.
    const QString profile = root + QStringLiteral("/yardstick-profile");
    bench::seedProfile(profile);
    const QString converted = root + QStringLiteral("/converted");
    run(QString::fromLatin1(kOffice), // the first start of a profile restarts itself once
        {QStringLiteral("--headless"), QStringLiteral("--terminate_after_init"),
         QStringLiteral("-env:UserInstallation=file://") + profile});
    auto convert = [&](int count) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i)
            run(QString::fromLatin1(kOffice),
                {QStringLiteral("--headless"), QStringLiteral("--invisible"),
                 QStringLiteral("--nologo"), QStringLiteral("--norestore"),
                 QStringLiteral("--nolockcheck"),
                 QStringLiteral("-env:UserInstallation=file://") + profile,
                 QStringLiteral("--convert-to"), QStringLiteral("doc"), QStringLiteral("--outdir"),
                 converted, dot});
        return secondsSince(clock);
    };

    // carbone fills an ODT: the same template, converted, its placeholders
    // turned into carbone's tags.
    Peer peer;
    QString peerWhy;
    {
        const QString odtDir = root + QStringLiteral("/odt");
        run(QString::fromLatin1(kOffice),
            {QStringLiteral("--headless"), QStringLiteral("--invisible"),
             QStringLiteral("--nologo"), QStringLiteral("--norestore"),
             QStringLiteral("--nolockcheck"),
             QStringLiteral("-env:UserInstallation=file://") + profile,
             QStringLiteral("--convert-to"), QStringLiteral("odt"), QStringLiteral("--outdir"),
             odtDir, dot});
        const QString odt = odtDir + QStringLiteral("/template.odt");
        peerWhy = QFile::exists(odt)
                      ? peer.prepare(userCache + QStringLiteral("/veltrane-bench/carbone"), root,
                                     QString::fromLatin1(kOffice), odt)
                      : QStringLiteral("the template could not be converted to ODT");
    }

    double yardstick = convert(rows / 2);

    struct Result {
        int jobs;
        double seconds;
    };
    QList<Result> results;
    QElapsedTimer t;
    for (int jobs : {1, 2}) {
        const QString out = root + QStringLiteral("/out-%1").arg(jobs);
        QString err;
        t.start();
        const bool ok = run(program,
                            {QStringLiteral("--fill-list"), list, QStringLiteral("--output-dir"),
                             out, QStringLiteral("--jobs"), QString::number(jobs)},
                            &err);
        const double s = secondsSince(t);
        const qsizetype made = QDir(out).entryList(QDir::Files).size();
        if (!ok || made != rows) {
            std::fprintf(stderr, "--jobs %d made %lld of %d notices:\n%s", jobs,
                         static_cast<long long>(made), rows, qPrintable(err.right(2000)));
            return 1;
        }
        results << Result{jobs, s};
    }

    struct PeerResult {
        QString what;
        Peer::Run run;
    };
    QList<PeerResult> peerResults;
    if (peerWhy.isEmpty()) {
        const struct {
            const char* what;
            const char* format;
            int factories;
        } peerRuns[] = {{"carbone ODT alone, no LibreOffice", "odt", 0},
                        {"carbone .doc, factories: 2", "doc", 2},
                        {"carbone .doc, factories: 1", "doc", 1}};
        for (const auto& p : peerRuns) {
            QString err;
            const auto r = peer.fill(rowsJson, QString::fromLatin1(p.format), p.factories, &err);
            if (!r || r->made != rows) {
                peerWhy = QStringLiteral("%1 made %2 of %3 notices: %4")
                              .arg(QLatin1String(p.what))
                              .arg(r ? r->made : 0)
                              .arg(rows)
                              .arg(err);
                break;
            }
            peerResults << PeerResult{QLatin1String(p.what), *r};
        }
    }
    // Both programs' Word notices must hold the same facts for the figures to
    // compare like with like.
    const int probe = rows / 2;
    if (const QString wrong =
            readsBack(root + QStringLiteral("/out-2/E%1 Employee %1.doc").arg(probe), probe);
        !wrong.isEmpty()) {
        std::fprintf(stderr, "veltrane's notice: %s\n", qPrintable(wrong));
        return 1;
    }
    if (peerWhy.isEmpty())
        for (const PeerResult& p : peerResults)
            if (p.what.contains(QLatin1String(".doc"))) {
                peerWhy = readsBack(p.run.outDir + QStringLiteral("/E%1.doc").arg(probe), probe);
                if (!peerWhy.isEmpty()) {
                    peerWhy.prepend(QStringLiteral("its notice does not read back: "));
                    break;
                }
            }

    yardstick += convert(rows - rows / 2);

    std::printf("%d rows; LibreOffice %s; %d cores\n", rows, qPrintable(bench::officeVersion()),
                QThread::idealThreadCount());
    std::printf("  %-40s %8s %10s %11s %6s\n", "", "total s", "ms/notice", "notices/s", "ratio");
    auto row = [&](const char* what, double s, const char* target) {
        std::printf("  %-40s %8.1f %10.0f %11.2f %6.3f  %s\n", what, s, 1000.0 * s / rows, rows / s,
                    s / yardstick, target);
    };
    row("yardstick: soffice --convert-to doc", yardstick, "");
    for (const Result& r : results)
        row(r.jobs == 1 ? "veltrane --fill-list --jobs 1" : "veltrane --fill-list --jobs 2",
            r.seconds, r.jobs == 2 ? "(target <= 0.15)" : "");
    if (!peerWhy.isEmpty()) {
        std::printf("  carbone left out: %s\n", qPrintable(peerWhy));
        return 0;
    }
    for (const PeerResult& p : peerResults)
        row(qPrintable(p.what), p.run.seconds, "");
    std::printf("  veltrane: the whole command, its offices' start included.\n"
                "  carbone %s: timed in node from the first render to the last file written;\n"
                "  its LibreOffice workers were started beforehand, not counted: ",
                qPrintable(peer.version()));
    for (qsizetype i = 1; i < peerResults.size(); ++i)
        std::printf("%s%.1f s with %s", i > 1 ? ", " : "", peerResults[i].run.startSeconds,
                    qPrintable(peerResults[i].what.section(QStringLiteral(": "), 1)));
    std::printf(".\n  Notice %d of both programs' .doc lists reads back with antiword, every "
                "fact there.\n",
                probe);
    return 0;
}
