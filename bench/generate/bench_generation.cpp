// Times generations, from the click to the preview painted, and the start-up to
// the main window shown, against a yardstick measured in the same run: a bare
// `soffice.bin --convert-to doc` of the template with a seeded profile.
//
// Every sample is a fresh run of the program, as a user has it: the main
// window, two seconds before the first click, then the following generations,
// then the preview closed. The bench starts itself again for each run.
//
// Usage: bench_generation [runs] [generations per run]   (default 5 and 5)
//        bench_generation --memory [generations]         (default 80)
//          resident memory and open files of the program and of its office, the
//          spread of the generations' times, and whether every document reads
//          as the first
// BENCH_RECYCLE_AFTER=N in the environment has the office replaced after N
// sessions rather than the program's 100, to see many replacements in a short run.

#include "app/mainwindow.h"
#include "bench_setup.h"
#include "common/files.h"
#include "common/heap.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"
#include "preview/previewwindow.h"
#include "process_probe.h"

#include "../seeded_profile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLibrary>
#include <QLoggingCategory>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Where a generation's time goes: every call into the word processor, timed
// by member name, through a thin proxy around the real plugin.
QMap<QString, double> gMemberMs;

// And the stages the program and the plugin time themselves (the template,
// the PDF, the raster, each copy of the picture, temp.bmp, the clipboard, the
// preview), which they log under "veltrane.stages" when it is switched on.
QMap<QString, double> gStageMs;
QtMessageHandler gPreviousHandler = nullptr;

// With --memory, what the office host did and when (on the bench's clock):
// its starts, replacements, retirements and exits, from any thread.
struct OfficeEvent {
    double at;
    QString text;
};
QElapsedTimer gBenchClock;
std::mutex gOfficeEventsMutex;
QList<OfficeEvent> gOfficeEvents;
bool gRecordOfficeEvents = false;

void collectStages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (gRecordOfficeEvents && context.category &&
        std::strncmp(context.category, "veltrane.office", 15) == 0) {
        {
            std::lock_guard lock(gOfficeEventsMutex);
            gOfficeEvents << OfficeEvent{static_cast<double>(gBenchClock.nsecsElapsed()) / 1e6,
                                         message};
        }
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
    }
    if (type == QtDebugMsg && context.category &&
        std::strcmp(context.category, "veltrane.stages") == 0) {
        // The office host's warm-ups pass some stages on a thread of their
        // own, outside any generation.
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            return;
        const qsizetype space = message.lastIndexOf(QLatin1Char(' '));
        gStageMs[message.left(space)] += message.mid(space + 1).toDouble();
        return;
    }
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

void timeStages(bool officeEvents = false) {
    gRecordOfficeEvents = officeEvents;
    gPreviousHandler = qInstallMessageHandler(collectStages);
    QLoggingCategory::setFilterRules(officeEvents ? QStringLiteral("veltrane.stages.debug=true\n"
                                                                   "veltrane.office*=true")
                                                  : QStringLiteral("veltrane.stages.debug=true"));
}

class TimingProxy : public automation::Dispatch {
  public:
    explicit TimingProxy(std::shared_ptr<automation::Dispatch> inner) : mInner(std::move(inner)) {}
    automation::Variant invoke(const QString& name, automation::CallKind kind,
                               const QList<automation::Variant>& args,
                               const QList<automation::NamedArg>& named) override {
        QElapsedTimer t;
        t.start();
        automation::Variant v = mInner->invoke(name, kind, args, named);
        gMemberMs[name] += static_cast<double>(t.nsecsElapsed()) / 1e6;
        return wrap(v);
    }
    QList<automation::Variant> enumerate() override {
        QList<automation::Variant> out;
        for (const auto& v : mInner->enumerate())
            out << wrap(v);
        return out;
    }

  private:
    static automation::Variant wrap(const automation::Variant& v) {
        if (v.type() != automation::VarType::Object || v.toObject().isNothing())
            return v;
        return automation::Variant(
            automation::Object(std::make_shared<TimingProxy>(v.toObject().dispatch())));
    }
    std::shared_ptr<automation::Dispatch> mInner;
};

// Registering a server of its own turns off the program's early warm-up of the
// plugin's, so this goes in only once the window has been shown.
void installTimingProxy(const QString& plugin) {
    using CreateFn = void (*)(std::shared_ptr<automation::Dispatch>*);
    static QLibrary lib(plugin); // the plugin stays loaded for the run anyway
    auto create = reinterpret_cast<CreateFn>(lib.resolve("veltrane_create_word_application"));
    if (!create)
        return;
    automation::registerServer(QStringLiteral("Word.Application"), [create] {
        QElapsedTimer t;
        t.start();
        std::shared_ptr<automation::Dispatch> app;
        create(&app);
        gMemberMs[QStringLiteral("(create)")] += static_cast<double>(t.nsecsElapsed()) / 1e6;
        return std::make_shared<TimingProxy>(app);
    });
}

// BENCH_RECYCLE_AFTER, passed on to the plugin.
void recycleAsAsked() {
#ifdef VELTRANE_OFFICE_PLUGIN
    if (const int sessions = qEnvironmentVariableIntValue("BENCH_RECYCLE_AFTER"); sessions > 0) {
        QLibrary plugin(benchOfficePlugin());
        if (auto recycle = reinterpret_cast<void (*)(int)>(
                plugin.resolve("veltrane_office_testing_set_recycle_after")))
            recycle(sessions);
    }
#endif
}

double median(QList<double> v) {
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The value below which share (0..1) of the values lie, by the nearest rank.
double percentile(QList<double> v, double share) {
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = qsizetype(std::ceil(share * double(v.size())));
    return v[std::clamp<qsizetype>(rank - 1, 0, v.size() - 1)];
}

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double yardstick(const QString& dot, const QString& profile, const QString& out) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(
        QStringLiteral("/usr/lib/libreoffice/program/soffice.bin"),
        {QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
         QStringLiteral("--norestore"), QStringLiteral("--nolockcheck"),
         QStringLiteral("-env:UserInstallation=file://") + profile, QStringLiteral("--convert-to"),
         QStringLiteral("doc"), QStringLiteral("--outdir"), out, dot});
    p.waitForFinished(120000);
    return msSince(t);
}

// Lets the event loop run, as it does while a user reads or types.
void idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray listed(const QList<ProcessId>& processes) {
    QByteArray out;
    for (const ProcessId& p : processes)
        out += ' ' + QByteArray::number(p.pid) + ':' + QByteArray::number(p.started);
    return out;
}

QList<ProcessId> parseListed(const QList<QByteArray>& words) {
    QList<ProcessId> out;
    for (const QByteArray& w : words) {
        const QList<QByteArray> parts = w.split(':');
        if (parts.size() == 2)
            out << ProcessId{pid_t(parts[0].toInt()), parts[1].toULongLong()};
    }
    return out;
}

// One click on "Start Creating Template", to the preview painted; false when
// no preview of a saved document came up.
bool generate(MainWindow* form, double* ms) {
    QElapsedTimer t;
    t.start();
    form->createButton->click();
    QCoreApplication::processEvents(); // the preview's set-up and first paint
    PreviewWindow* preview = PreviewWindow::loaded();
    if (preview)
        preview->repaint();
    *ms = msSince(t);
    return preview && preview->isVisible() && QFile::exists(preview->mWordFile);
}

void back() {
    if (PreviewWindow* preview = PreviewWindow::loaded())
        preview->backButton->click();
    QCoreApplication::processEvents();
}

// ---- one fresh run, in a child process --------------------------------------------

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reports on stdout, a fact a line. With no generations it idles until killed.
int freshRun(int generations) {
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    answerBenchBoxes();
    QElapsedTimer t;
    t.start();
    MainWindow* form = startProgram();
    if (!form)
        return 1;
    say("shown " + QByteArray::number(msSince(t), 'f', 1));
    form->sampleButton->click();
    idle(2000);
    say("idle-offices" + listed(officesUnder(getpid())));
    if (generations == 0)
        return QApplication::exec();
    timeStages();
#ifdef VELTRANE_OFFICE_PLUGIN
    installTimingProxy(benchOfficePlugin());
#endif
    recycleAsAsked();
    for (int i = 0; i < generations; ++i) {
        if (i > 0)
            back();
        gMemberMs.clear();
        gStageMs.clear();
        double ms = 0;
        if (!generate(form, &ms)) {
            say("failed " + QByteArray::number(i));
            return 2;
        }
        say("generation " + QByteArray::number(ms, 'f', 1));
        for (auto it = gMemberMs.constBegin(); it != gMemberMs.constEnd(); ++it)
            say("member " + it.key().toUtf8() + ' ' + QByteArray::number(it.value(), 'f', 2));
        for (auto it = gStageMs.constBegin(); it != gStageMs.constEnd(); ++it)
            say("stage " + QByteArray::number(it.value(), 'f', 2) + ' ' + it.key().toUtf8());
    }
    say("end-offices" + listed(officesUnder(getpid())));
    // Ends as a user ends it: the preview window closed.
    QTimer::singleShot(0, [] { PreviewWindow::loaded()->close(); });
    return QApplication::exec();
}

// ---- the table, in the parent ---------------------------------------------------------

struct Run {
    double processToShown = -1;
    double createToShown = -1;
    QList<double> generations;
    QMap<QString, double> firstMembers, followingMembers;
    QMap<QString, double> firstStages, followingStages;
    QList<ProcessId> idleOffices, endOffices;
    QString failure;
};

// A run of its own TEMP and settings, so nothing carries over but what a
// user's next run would keep (the office profiles in the cache folder).
QProcessEnvironment runEnvironment(const QString& dir) {
    QDir().mkpath(dir + QStringLiteral("/tmp"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TEMP"), dir + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    return env;
}

bool readLine(QProcess& p, QByteArray* line) {
    while (!p.canReadLine())
        if (!p.waitForReadyRead(300000))
            return false;
    *line = p.readLine().trimmed();
    return true;
}

void startChild(QProcess& p, const QString& dir, int generations) {
    p.setProcessEnvironment(runEnvironment(dir));
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--fresh-run"), QString::number(generations)});
}

Run freshRunInChild(const QString& dir, int generations) {
    Run run;
    QProcess p;
    QElapsedTimer t;
    t.start();
    startChild(p, dir, generations);
    QByteArray line;
    while (readLine(p, &line)) {
        const QList<QByteArray> w = line.split(' ');
        if (w[0] == "shown") {
            run.processToShown = msSince(t);
            run.createToShown = w.value(1).toDouble();
        } else if (w[0] == "idle-offices") {
            run.idleOffices = parseListed(w.mid(1));
        } else if (w[0] == "generation") {
            run.generations << w.value(1).toDouble();
        } else if (w[0] == "member" && w.size() == 3) {
            auto& members = run.generations.size() == 1 ? run.firstMembers : run.followingMembers;
            members[QString::fromUtf8(w[1])] += w[2].toDouble();
        } else if (w[0] == "stage" && w.size() >= 3) {
            auto& stages = run.generations.size() == 1 ? run.firstStages : run.followingStages;
            stages[QString::fromUtf8(w.mid(2).join(' '))] += w[1].toDouble();
        } else if (w[0] == "end-offices") {
            run.endOffices = parseListed(w.mid(1));
        } else if (w[0] == "failed") {
            run.failure = QStringLiteral("generation %1 failed").arg(w.value(1).toInt() + 1);
        }
    }
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(60000))
        run.failure = QStringLiteral("the program did not end");
    else if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        run.failure += QStringLiteral(" (exit %1)").arg(p.exitCode());
    return run;
}

// Milliseconds until none of the processes is left, polling up to bound; -1
// when some are still there at the bound.
double goneWithin(const QList<ProcessId>& processes, int boundMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (std::none_of(processes.begin(), processes.end(), alive))
            return msSince(t);
        if (t.elapsed() > boundMs)
            return -1;
        QThread::msleep(10);
    }
}

QStringList leftIn(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// The program killed with SIGKILL while it idles with its office: what is left.
double officesAfterKill(const QString& dir, int* offices) {
    QProcess p;
    startChild(p, dir, 0);
    QByteArray line;
    QList<ProcessId> seen;
    while (readLine(p, &line))
        if (line.startsWith("idle-offices")) {
            seen = parseListed(line.split(' ').mid(1));
            break;
        }
    *offices = int(seen.size());
    const pid_t program = pid_t(p.processId());
    if (program > 0) // 0 would be our own process group
        ::kill(program, SIGKILL);
    p.waitForFinished(10000);
    return goneWithin(seen, 10000);
}

QString gone(double ms) {
    return ms < 0 ? QStringLiteral("STILL THERE 10 s later")
                  : QStringLiteral("none, %1 ms after the program was gone").arg(ms, 0, 'f', 0);
}

// Everything the table is made of, gathered run by run.
struct Totals {
    QList<double> yard, process, create, first, following;
    QMap<QString, double> firstMembers, followingMembers;
    QMap<QString, double> firstStages, followingStages;
    QStringList problems;
    QStringList idleCounts; // office processes of each run while it idles
    QStringList slow;       // following generations over 1.5 times their run's median
    int tempLeft = 0;
    double slowestExit = 0; // -1 once an office outlived its program
};

// The template as a file, for the yardstick to convert.
QString writeTemplate(const QTemporaryDir& sandbox) {
    const QString dot = sandbox.path() + QStringLiteral("/template.dot");
    QFile f(dot);
    f.open(QIODevice::WriteOnly);
    f.write(generate::loadResData(101, QStringLiteral("CUSTOM")));
    return dot;
}

void addMembers(QMap<QString, double>& into, const QMap<QString, double>& from) {
    for (auto it = from.constBegin(); it != from.constEnd(); ++it)
        into[it.key()] += it.value();
}

// One run's times, and what it left behind once the program had ended.
void addRun(Totals& t, int i, const QString& dir, const Run& run) {
    t.process << run.processToShown;
    t.create << run.createToShown;
    t.first << run.generations.first();
    t.following << run.generations.mid(1);
    const double runMedian = median(run.generations.mid(1));
    for (qsizetype g = 1; g < run.generations.size(); ++g)
        if (run.generations[g] > 1.5 * runMedian)
            t.slow << QStringLiteral("run %1 #%2: %3 ms")
                          .arg(i)
                          .arg(g + 1)
                          .arg(run.generations[g], 0, 'f', 0);
    addMembers(t.firstMembers, run.firstMembers);
    addMembers(t.followingMembers, run.followingMembers);
    addMembers(t.firstStages, run.firstStages);
    addMembers(t.followingStages, run.followingStages);
    t.idleCounts << QString::number(run.idleOffices.size());
    const double exit = goneWithin(run.idleOffices + run.endOffices, 10000);
    if (exit < 0)
        t.problems << QStringLiteral("run %1: an office outlived the program").arg(i);
    t.slowestExit = exit < 0 || t.slowestExit < 0 ? -1 : std::max(t.slowestExit, exit);
    t.tempLeft += !leftIn(dir + QStringLiteral("/tmp")).isEmpty();
    if (!leftIn(dir + QStringLiteral("/tmp")).isEmpty())
        t.problems << QStringLiteral("run %1 left in TEMP: %2")
                          .arg(i)
                          .arg(leftIn(dir + QStringLiteral("/tmp")).join(QLatin1Char(' ')));
}

// Each run after a yardstick of its own, so both see the same machine load.
Totals measureRuns(const QTemporaryDir& sandbox, const QString& dot, const QString& profile,
                   const QString& out, int runs, int generations) {
    Totals t;
    for (int i = 1; i <= runs; ++i) {
        t.yard << yardstick(dot, profile, out);
        const QString dir = sandbox.path() + QStringLiteral("/run-%1").arg(i);
        const Run run = freshRunInChild(dir, generations);
        if (!run.failure.isEmpty())
            t.problems << QStringLiteral("run %1: %2").arg(i).arg(run.failure);
        if (!run.generations.isEmpty())
            addRun(t, i, dir, run);
    }
    return t;
}

void printTimes(const Totals& t, int runs, int generations) {
    const double y = median(t.yard);
    const auto row = [y](const char* what, const QList<double>& v, const char* target) {
        std::printf("  %-44s %7.0f ms  %5.2f  %s\n", what, median(v), median(v) / y, target);
    };
    std::printf("%d fresh program runs, %d generations each; LibreOffice %s\n", runs, generations,
                qPrintable(bench::officeVersion()));
    std::printf("  %-44s %10s  %5s\n", "", "median", "ratio");
    row("yardstick: soffice --convert-to doc, seeded", t.yard, "");
    row("start-up: process start to main window", t.process, "(target <= 1.2)");
    row("start-up: main window created to shown", t.create, "");
    row("1st generation, click 2 s after the window", t.first, "(target <= 1.2, stretch <= 1.0)");
    row("following generations, click to painted", t.following, "(target <= 1.2, stretch <= 1.0)");
    const QList<double>& f = t.following;
    std::printf("following generations (%d): median %.0f ms, 95th percentile %.0f ms, maximum "
                "%.0f ms; over 1.5 times their run's median: %d\n",
                int(f.size()), median(f), percentile(f, 0.95),
                f.isEmpty() ? 0.0 : *std::max_element(f.begin(), f.end()), int(t.slow.size()));
    for (const QString& s : t.slow)
        std::printf("  slow: %s\n", qPrintable(s));
}

void printMembers(const Totals& t) {
    std::printf("time per generation in word-processor calls, by member (mean ms):\n");
    std::printf("  %-20s %8s %10s\n", "", "1st", "following");
    QStringList names = t.firstMembers.keys() + t.followingMembers.keys();
    names.removeDuplicates();
    std::sort(names.begin(), names.end());
    const double firstCount = double(t.first.size());
    const double followingCount = std::max<double>(1, double(t.following.size()));
    for (const QString& name : names) {
        const double a = t.firstMembers.value(name) / firstCount;
        const double b = t.followingMembers.value(name) / followingCount;
        if (a >= 1.0 || b >= 1.0)
            std::printf("  %-20s %8.0f %10.0f\n", qPrintable(name), a, b);
    }
}

// The stages in the order a generation passes them, and whether the program
// times each outside the word processor's calls (the plugin's all fall
// inside CopyAsPicture).
struct Stage {
    const char* name;
    bool program;
};
const Stage kStageOrder[] = {
    {"template lookup and check", true},
    {"template.dot written", true},
    {"clipboard emptied", false},
    {"PDF export", false},
    {"PDF read back", false},
    {"page rasterised", false},
    {"page content found", false},
    {"pages trimmed and stacked", false},
    {"clipboard written", false},
    {"clipboard read", true},
    {"temp.bmp written", true},
    {"temp.bmp read", true},
    {"picture handed to the preview", true},
    {"preview shown", true},
    {"preview set-up", true},
    {"picture box painted", true},
};

void printStages(const Totals& t) {
    std::printf("time per generation in each stage, (mean ms; PDF, raster, stacking and the\n"
                "clipboard's writing fall inside CopyAsPicture above):\n");
    std::printf("  %-32s %8s %10s\n", "", "1st", "following");
    QStringList names;
    for (const Stage& stage : kStageOrder)
        names << QString::fromLatin1(stage.name);
    for (const QString& n : t.firstStages.keys() + t.followingStages.keys())
        if (!names.contains(n))
            names << n;
    const double firstCount = double(t.first.size());
    const double followingCount = std::max<double>(1, double(t.following.size()));
    double firstSum = 0, followingSum = 0;
    for (const QString& name : names) {
        if (!t.firstStages.contains(name) && !t.followingStages.contains(name))
            continue;
        const double a = t.firstStages.value(name) / firstCount;
        const double b = t.followingStages.value(name) / followingCount;
        firstSum += a;
        followingSum += b;
        std::printf("  %-32s %8.1f %10.1f\n", qPrintable(name), a, b);
    }
    std::printf("  %-32s %8.1f %10.1f\n", "(all stages)", firstSum, followingSum);
}

void printLeftovers(const Totals& t, int killedOffices, double afterKill) {
    std::printf("office processes while the program idles, run by run: %s\n",
                qPrintable(t.idleCounts.join(QLatin1Char(' '))));
    std::printf("offices after the program ended normally: %s\n", qPrintable(gone(t.slowestExit)));
    std::printf("offices after kill -9 of the idle program (it had %d): %s\n", killedOffices,
                qPrintable(gone(afterKill)));
    std::printf("TEMP after the program ended: %s\n",
                t.tempLeft ? "files left (see below)" : "empty in every run");
    for (const QString& p : t.problems)
        std::printf("PROBLEM %s\n", qPrintable(p));
}

int table(const QTemporaryDir& sandbox, int runs, int generations) {
    const QString dot = writeTemplate(sandbox);
    const QString profile = sandbox.path() + QStringLiteral("/yardstick-profile");
    const QString out = sandbox.path() + QStringLiteral("/out");
    bench::seedProfile(profile);
    yardstick(dot, profile, out); // first start of the profile
    // A first run of its own: the program's office profiles seeded, once per user.
    freshRunInChild(sandbox.path() + QStringLiteral("/run-0"), 1);

    const Totals t = measureRuns(sandbox, dot, profile, out, runs, generations);
    if (t.first.isEmpty()) {
        std::fprintf(stderr, "no generation succeeded: %s\n", qPrintable(t.problems.join("; ")));
        return 1;
    }
    int killedOffices = 0;
    const double afterKill =
        officesAfterKill(sandbox.path() + QStringLiteral("/run-killed"), &killedOffices);
    printTimes(t, runs, generations);
    printMembers(t);
    printStages(t);
    printLeftovers(t, killedOffices, afterKill);
    return t.problems.isEmpty() && afterKill >= 0 ? 0 : 1;
}

// The text antiword reads from a .doc.
// Started by posix_spawn, whose child shares this process's memory until its
// exec: a fork (as QProcess makes) would leave every page of the program
// copy-on-write, and the next generation would take a page fault on each
// page it writes to, which no user's program ever pays.
QString antiwordText(const QString& doc) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return QString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const QByteArray file = QFile::encodeName(doc);
    char program[] = "antiword";
    char* argv[] = {program, const_cast<char*>(file.constData()), nullptr};
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; !failed && (n = ::read(out[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            text.append(buffer, n);
        else if (errno != EINTR)
            break;
    ::close(out[0]);
    if (!failed)
        ::waitpid(pid, nullptr, 0);
    return QString::fromUtf8(text);
}

// ---- memory, in this process ----------------------------------------------------------

// Program and office at one moment. The allocator's figures tell memory in use
// from memory freed but still held by malloc, which counts in the resident set.
void memoryRow(int generations) {
    const struct mallinfo2 heap = mallinfo2();
    std::printf("  %5d %9.1f %7.1f %7.1f %5d", generations, residentMiB(getpid()),
                double(heap.uordblks + heap.hblkhd) / 1048576.0,
                double(heap.arena + heap.hblkhd) / 1048576.0, openFiles(getpid()));
    const QList<ProcessId> offices = officesUnder(getpid());
    for (const ProcessId& o : offices)
        std::printf("   %7d %8.1f %5d", int(o.pid), residentMiB(o.pid), openFiles(o.pid));
    if (offices.isEmpty())
        std::printf("   (no office)");
    std::printf("\n");
    std::fflush(stdout);
}

// CPU time in clock ticks: the machine's, busy and in all, and one process's
// (all its threads).
struct MachineTicks {
    qulonglong busy = 0, total = 0;
};

MachineTicks machineTicks() {
    QFile f(QStringLiteral("/proc/stat"));
    MachineTicks t;
    if (!f.open(QIODevice::ReadOnly))
        return t;
    const QList<QByteArray> fields = f.readLine().simplified().split(' ');
    for (qsizetype i = 1; i < fields.size() && i <= 8; ++i) {
        const qulonglong v = fields[i].toULongLong();
        t.total += v;
        if (i != 4 && i != 5) // idle, iowait
            t.busy += v;
    }
    return t;
}

QList<QByteArray> statFields(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = f.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

qulonglong processTicks(pid_t pid) {
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 12 ? fields[11].toULongLong() + fields[12].toULongLong() : 0;
}

// This program's page faults so far, minor and major.
std::pair<qulonglong, qulonglong> ownFaults() {
    const QList<QByteArray> fields = statFields(getpid());
    return fields.size() > 9 ? std::pair{fields[7].toULongLong(), fields[9].toULongLong()}
                             : std::pair<qulonglong, qulonglong>{0, 0};
}

// How often the GUI thread was made to give way to another, so far.
qulonglong ownInvoluntarySwitches() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("nonvoluntary_ctxt_switches:"))
            return line.mid(27).trimmed().toULongLong();
    return 0;
}

// Where the machine's CPU went at one moment: all of it, this program, its offices.
struct CpuSnapshot {
    MachineTicks machine;
    qulonglong ours = 0;
    QMap<pid_t, qulonglong> offices;
    std::pair<qulonglong, qulonglong> faults;
    qulonglong preempted = 0;
};

CpuSnapshot cpuSnapshot() {
    CpuSnapshot c;
    for (const ProcessId& o : officesUnder(getpid()))
        c.offices[o.pid] = processTicks(o.pid);
    c.machine = machineTicks();
    c.ours = processTicks(getpid());
    c.faults = ownFaults();
    c.preempted = ownInvoluntarySwitches();
    return c;
}

// One generation as the --memory run saw it.
struct Generation {
    double ms = 0;
    double startedAt = 0; // on the bench's clock
    QMap<QString, double> stages, members;
    double busyShare = 0;                         // of the machine's two (or more) cores
    double oursMs = 0, officesMs = 0, restMs = 0; // CPU time over the generation
    qulonglong minorFaults = 0, majorFaults = 0, preempted = 0;
};

// The part of a generation in no call and no stage: the event loop's own work.
double unaccounted(const Generation& g) {
    double timed = 0;
    for (const double v : g.members)
        timed += v;
    for (const Stage& stage : kStageOrder)
        if (stage.program)
            timed += g.stages.value(QString::fromLatin1(stage.name));
    return g.ms - timed;
}

void account(Generation& g, const CpuSnapshot& before, const CpuSnapshot& after) {
    const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    const double total = double(after.machine.total - before.machine.total);
    const double busy = double(after.machine.busy - before.machine.busy);
    g.busyShare = total > 0 ? busy / total : 0;
    g.oursMs = double(after.ours - before.ours) * msPerTick;
    for (auto it = after.offices.constBegin(); it != after.offices.constEnd(); ++it)
        g.officesMs += double(it.value() - before.offices.value(it.key(), 0)) * msPerTick;
    g.restMs = std::max(0.0, busy * msPerTick - g.oursMs - g.officesMs);
    g.minorFaults = after.faults.first - before.faults.first;
    g.majorFaults = after.faults.second - before.faults.second;
    g.preempted = after.preempted - before.preempted;
}

// Replacements of the host's office on the bench's clock: from the start of
// the new office to its old one reaped (or to now, when not yet).
struct Replacement {
    double started = 0, ready = -1, oldGone = -1;
};

QList<Replacement> replacements(const QList<OfficeEvent>& events) {
    QList<Replacement> out;
    QString retiredPid;
    for (const OfficeEvent& e : events) {
        if (e.text.startsWith(QLatin1String("starting an office: replacing"))) {
            out << Replacement{e.at};
        } else if (!out.isEmpty() && e.text.startsWith(QLatin1String("replacement office"))) {
            out.last().ready = e.at;
        } else if (!out.isEmpty() && out.last().ready >= 0 && retiredPid.isEmpty() &&
                   out.last().oldGone < 0 &&
                   e.text.contains(QLatin1String("retired: the host has another idle office"))) {
            retiredPid = e.text.section(QLatin1Char(' '), 1, 1);
        } else if (!retiredPid.isEmpty() &&
                   e.text.startsWith(QLatin1String("office ") + retiredPid +
                                     QLatin1String(" reaped"))) {
            out.last().oldGone = e.at;
            retiredPid.clear();
        }
    }
    return out;
}

QString overMedians(const QMap<QString, double>& these, const QList<Generation>& all, bool stages) {
    QStringList parts;
    for (auto it = these.constBegin(); it != these.constEnd(); ++it) {
        QList<double> values;
        for (const Generation& g : all)
            values << (stages ? g.stages : g.members).value(it.key());
        const double m = median(values);
        if (it.value() - m >= 5.0)
            parts << QStringLiteral("%1 %2 (median %3)")
                         .arg(it.key())
                         .arg(it.value(), 0, 'f', 0)
                         .arg(m, 0, 'f', 0);
    }
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral("; "));
}

// Each generation over 1.5 times the median: its stages and calls that took
// longer than usual, where the CPU went meanwhile, and what the office host did.
// Where a generation right after a pause spends its extra time: the stages
// and calls whose medians differ from the back-to-back ones by 2 ms or more,
// and the page faults.
void printPauseCost(const QList<Generation>& after, const QList<Generation>& backToBack) {
    if (after.isEmpty() || backToBack.isEmpty())
        return;
    const auto medianOf = [](const QList<Generation>& gs, auto value) {
        QList<double> v;
        for (const Generation& g : gs)
            v << value(g);
        return median(v);
    };
    const auto differences = [&](auto map) {
        QSet<QString> names;
        for (const Generation& g : after + backToBack)
            for (const QString& name : map(g).keys())
                names.insert(name);
        QStringList sorted(names.begin(), names.end());
        sorted.sort();
        QString text;
        for (const QString& name : sorted) {
            const auto of = [&](const Generation& g) { return map(g).value(name); };
            const double a = medianOf(after, of), b = medianOf(backToBack, of);
            if (std::abs(a - b) >= 2)
                text += QStringLiteral(" %1 %2 (%3)").arg(name).arg(a, 0, 'f', 0).arg(b, 0, 'f', 0);
        }
        return text.isEmpty() ? QStringLiteral(" none") : text;
    };
    std::printf("  after a pause (back to back), medians in ms:\n    stages:%s\n    calls:%s\n",
                qPrintable(differences([](const Generation& g) { return g.stages; })),
                qPrintable(differences([](const Generation& g) { return g.members; })));
    std::printf("    page faults: %.0f (%.0f)\n",
                medianOf(after, [](const Generation& g) { return double(g.minorFaults); }),
                medianOf(backToBack, [](const Generation& g) { return double(g.minorFaults); }));
}

void printSlow(const QList<Generation>& all, double m) {
    QList<OfficeEvent> events;
    {
        std::lock_guard lock(gOfficeEventsMutex);
        events = gOfficeEvents;
    }
    const QList<Replacement> reps = replacements(events);
    QList<double> rest, busy, outside, minor, major, preempted;
    for (const Generation& g : all.mid(1)) {
        rest << g.restMs;
        busy << g.busyShare * 100;
        outside << unaccounted(g);
        minor << double(g.minorFaults);
        major << double(g.majorFaults);
        preempted << double(g.preempted);
    }
    std::printf("office replacements: %d; per generation, medians: machine busy %.0f%%, CPU "
                "of other programs %.0f ms, time in no call and no stage %.0f ms, page faults "
                "%.0f minor and %.0f major, GUI thread preempted %.0f times\n",
                int(reps.size()), median(busy), median(rest), median(outside), median(minor),
                median(major), median(preempted));
    int duringReplacement = 0, slow = 0;
    for (qsizetype i = 1; i < all.size(); ++i) {
        const Generation& g = all[i];
        if (g.ms <= 1.5 * m)
            continue;
        ++slow;
        const double from = g.startedAt, to = g.startedAt + g.ms;
        QString replacing = QStringLiteral("no");
        for (const Replacement& r : reps) {
            const double end = r.oldGone >= 0 ? r.oldGone : r.ready >= 0 ? r.ready : to;
            if (r.started < to && end > from) {
                replacing = QStringLiteral("yes (new office started %1 ms before the click, "
                                           "ready %2, old one gone %3)")
                                .arg(from - r.started, 0, 'f', 0)
                                .arg(r.ready >= 0 ? QStringLiteral("%1 ms before the click")
                                                        .arg(from - r.ready, 0, 'f', 0)
                                                  : QStringLiteral("later"))
                                .arg(r.oldGone >= 0 ? QStringLiteral("%1 ms before the click")
                                                          .arg(from - r.oldGone, 0, 'f', 0)
                                                    : QStringLiteral("later"));
                ++duringReplacement;
                break;
            }
        }
        std::printf("  slow: #%d %.0f ms; CPU meanwhile: machine %.0f%% busy, this program "
                    "%.0f ms, its offices %.0f ms, other programs %.0f ms\n",
                    int(i + 1), g.ms, g.busyShare * 100, g.oursMs, g.officesMs, g.restMs);
        std::printf("        page faults %llu minor and %llu major, GUI thread preempted %llu "
                    "times\n",
                    g.minorFaults, g.majorFaults, g.preempted);
        std::printf("        office replacement under way: %s\n", qPrintable(replacing));
        std::printf("        stages over their median by 5 ms or more: %s\n",
                    qPrintable(overMedians(g.stages, all, true)));
        std::printf("        calls over their median by 5 ms or more: %s\n",
                    qPrintable(overMedians(g.members, all, false)));
        std::printf("        in no call and no stage: %.0f ms\n", unaccounted(g));
        for (const OfficeEvent& e : events)
            if (e.at >= from - 2000 && e.at <= to && !e.text.contains(QLatin1String("session")) &&
                !e.text.contains(QLatin1String("returned idle")))
                std::printf("        %+6.0f ms  %s\n", e.at - from, qPrintable(e.text));
    }
    std::printf("slow generations while an office replacement was under way: %d of %d\n",
                duringReplacement, slow);
}

int memory(int generations) {
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    answerBenchBoxes();
    MainWindow* form = startProgram();
    if (!form)
        return 1;
    form->sampleButton->click();
    idle(2000);
    gBenchClock.start();
    timeStages(true);
#ifdef VELTRANE_OFFICE_PLUGIN
    installTimingProxy(benchOfficePlugin());
#endif
    recycleAsAsked();
    std::printf("resident memory (MiB) and open files, at the main window after N generations\n");
    std::printf("  %5s %9s %7s %7s %5s   %7s %8s %5s\n", "", "program", "malloc", "malloc", "",
                "office", "office", "");
    std::printf("  %5s %9s %7s %7s %5s   %7s %8s %5s\n", "N", "resident", "in use", "held", "fds",
                "pid", "resident", "fds");
    memoryRow(0);
    QList<double> times, afterPause, backToBack;
    QList<Generation> seen, seenAfterPause, seenBackToBack;
    bool paused = true;
    QString firstText;
    int differing = 0;
    for (int n = 1; n <= generations; ++n) {
        gMemberMs.clear();
        gStageMs.clear();
        const CpuSnapshot before = cpuSnapshot();
        Generation g;
        g.startedAt = msSince(gBenchClock);
        if (!generate(form, &g.ms)) {
            std::fprintf(stderr, "generation %d failed\n", n);
            return 1;
        }
        account(g, before, cpuSnapshot());
        g.stages = gStageMs;
        g.members = gMemberMs;
        seen << g;
        times << g.ms;
        if (n > 1) {
            (paused ? afterPause : backToBack) << g.ms;
            (paused ? seenAfterPause : seenBackToBack) << g;
        }
        paused = false;
        // Every document must read as the first did (outside the timed part).
        const QString text = antiwordText(PreviewWindow::loaded()->mWordFile);
        if (n == 1)
            firstText = text;
        else if (text != firstText)
            ++differing;
        back();
        if (n == 1 || n == 2 || n % 10 == 0 || n == generations) {
            // A user's pause: the host's background work settles, and it is
            // longer than the half second after which freed memory goes back
            // to the system, as every pause of a user's is.
            idle(750);
            memoryRow(n);
            paused = true;
        }
    }
    const QList<double> following = times.mid(1);
    const double m = median(following);
    const auto over =
        std::count_if(following.begin(), following.end(), [m](double t) { return t > 1.5 * m; });
    std::printf("generations after the first (%d), click to painted: median %.0f ms, 95th "
                "percentile %.0f ms, maximum %.0f ms; over 1.5 times the median: %d\n",
                int(following.size()), m, percentile(following, 0.95),
                following.isEmpty() ? 0.0 : *std::max_element(following.begin(), following.end()),
                int(over));
    // A user looks at each preview longer than the pause; what the one after
    // a pause costs is what a user waits every time.
    std::printf("median right after a pause (%d): %.0f ms; back to back (%d): %.0f ms\n",
                int(afterPause.size()), median(afterPause), int(backToBack.size()),
                median(backToBack));
    printPauseCost(seenAfterPause, seenBackToBack);
    printSlow(seen, m);
    std::printf("documents that read differently from the first (antiword): %d%s\n", differing,
                firstText.trimmed().isEmpty() ? " (the first read as empty: antiword missing?)"
                                              : "");
    return differing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The heap the program has (BENCH_PLAIN_HEAP=1: the one it had before).
    if (qEnvironmentVariableIsEmpty("BENCH_PLAIN_HEAP"))
        common::restartWithHugePageHeap(argv);
    common::useOneHeapForAllThreads();
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const auto number = [&args](qsizetype i, int fallback) {
        return std::max(args.size() > i ? args[i].toInt() : fallback, 0);
    };
    // A fresh run keeps the TEMP and settings its parent gave it.
    if (args.value(0) == QLatin1String("--fresh-run"))
        return freshRun(number(1, 1));
    QTemporaryDir sandbox;
    prepareBenchEnvironment(sandbox);
    if (args.value(0) == QLatin1String("--memory"))
        return memory(std::max(1, number(1, 80)));
    return table(sandbox, std::max(1, number(0, 5)), std::max(1, number(1, 5)));
}
