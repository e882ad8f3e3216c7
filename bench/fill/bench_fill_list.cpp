// Times a list of notices made from the command line against a yardstick
// measured in the same run: bare `soffice.bin --convert-to doc` conversions of
// the template, one office start each, with a seeded profile.
//
// Usage: bench_fill_list [rows]   (default 100)
// Prints the total for the yardstick and for --fill-list with --jobs 1 and 2,
// the time a notice, notices a second, and each total over the yardstick's.
// Half the conversions run before the lists and half after, so a machine
// that gets busier or quieter meanwhile weighs on both alike.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

const char* const kOffice = "/usr/lib/libreoffice/program/soffice.bin";

QString officeVersion() {
    QFile f(QStringLiteral("/usr/lib/libreoffice/program/bootstraprc"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const auto m = QRegularExpression(QStringLiteral("ProductKey=.*?(\\d+\\.\\d+)"))
                       .match(QString::fromUtf8(f.readAll()));
    return m.hasMatch() ? m.captured(1) : QString();
}

// A profile that skips the first-start graphics test, as the program's do.
void seed(const QString& profile) {
    QDir().mkpath(profile + QStringLiteral("/user"));
    QFile f(profile + QStringLiteral("/user/registrymodifications.xcu"));
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items "
                "xmlns:oor=\"http://openoffice.org/2001/registry\" "
                "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<item "
                "oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                "oor:op=\"fuse\"><value>%1</value></prop></item>\n</oor:items>\n")
                .arg(officeVersion())
                .toUtf8());
}

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100;
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

    QStringList lines{QStringLiteral("employeeName,manager,department,infraction,improvement,"
                                     "consequences,jobTitle,date,employeeId")};
    for (int i = 0; i < rows; ++i)
        lines << QStringList{csvField(QStringLiteral("Employee %1").arg(i)),
                             csvField(QStringLiteral("Jordan Manager")),
                             csvField(QStringLiteral("Customer Service")),
                             csvField(QStringLiteral("Arrived late on three days.\nSecond line.")),
                             csvField(QStringLiteral("Arrive on time, every day.")),
                             csvField(QStringLiteral("A final written warning.")),
                             csvField(QStringLiteral("Agent")),
                             csvField(QStringLiteral("2026-12-10")),
                             csvField(QStringLiteral("E%1").arg(i))}
                     .join(QLatin1Char(','));
    const QString list = root + QStringLiteral("/list.csv");
    QFile csv(list);
    if (!csv.open(QIODevice::WriteOnly) || csv.write(lines.join(QLatin1Char('\n')).toUtf8()) < 0)
        return 1;
    csv.close();

    // The yardstick: one bare conversion after another.
    const QString profile = root + QStringLiteral("/yardstick-profile");
    seed(profile);
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
    yardstick += convert(rows - rows / 2);

    std::printf("%d rows; LibreOffice %s; %d cores\n", rows, qPrintable(officeVersion()),
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
    return 0;
}
