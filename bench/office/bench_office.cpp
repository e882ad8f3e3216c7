// Times the office server against the cheapest thing LibreOffice can do with
// the same template: one bare, seeded soffice.bin --convert-to doc.
//
//   bench_office [runs]      (default 7; prints medians and ratios)

#include "common/errortrap.h"
#include "generate/generation.h"
#include "platform/automation/automation.h"
#include "platform/office/lifecycle/profiles_and_sockets.h"
#include "platform/ui/msgbox.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

using automation::NamedArg;
using automation::Object;
using automation::Variant;

namespace {

const char* const kPlaceholders[] = {"[EmployeeName]", "[Manager]",     "[Department]",
                                     "[Infraction]",   "[Improvement]", "[Consequences]",
                                     "[JobTitle]",     "[CurrentDate]", "[EmployeeID]"};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::vector<double> timeRuns(int runs, const std::function<void()>& once) {
    once(); // warm-up: first start of a profile, cold caches
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        once();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    return ms;
}

bool convertOnce(const QString& profile, const QString& outDir) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELTRANE_LO_PROGRAM_DIR "/soffice.bin"),
            {"--headless", "--invisible", "--nologo", "--norestore", "--nodefault", "--nolockcheck",
             "-env:UserInstallation=file://" + profile, "--convert-to", "doc", "--outdir", outDir,
             OFFICE_TEST_TEMPLATE});
    p.waitForFinished(120000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The program's filling instance: open read-only, nine placeholders in every
// story and every shape, save as .doc.
void fill(const Object& word, const QString& out) {
    const Object doc = word["Documents"]
                           .call("Open", {OFFICE_TEST_TEMPLATE}, {NamedArg{"ReadOnly", true}})
                           .toObject();
    common::ErrorTrap trap("bench fill");
    for (int i = 0; i < 9; ++i)
        generate::replaceInStories(trap, doc, kPlaceholders[i], QStringLiteral("value %1").arg(i));
    const Variant m = Variant::missing();
    for (const Variant& v : doc["Shapes"].items()) {
        const Object frame = v.toObject()["TextFrame"];
        if (!frame.get("HasText").toBool())
            continue;
        for (int i = 0; i < 9; ++i)
            frame["TextRange"]["Find"].call("Execute", {kPlaceholders[i], m, m, m, m, m, m, m, m,
                                                        QStringLiteral("value %1").arg(i),
                                                        Variant(int16_t(2))});
    }
    doc.call("SaveAs", {out});
    word.set("DisplayAlerts", false);
    doc.call("Close");
}

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// The yardstick on a profile of its own, seeded as the program seeds its offices'.
std::vector<double> yardstickRuns(const QTemporaryDir& scratch, int runs) {
    const QString profile = scratch.filePath("yardstick-profile");
    office::seedProfile(profile, office::installedOfficeVersion(VELTRANE_LO_PROGRAM_DIR));
    convertOnce(profile, scratch.path()); // sets the new profile up (exit code 81)
    return timeRuns(runs, [&] {
        if (!convertOnce(profile, scratch.path()))
            std::fprintf(stderr, "soffice.bin --convert-to failed\n");
    });
}

std::vector<double> createQuitRuns(int runs) {
    return timeRuns(runs, [] {
        Object word = automation::createObject("Word.Application");
        word.call("quit");
    });
}

// A step's times with and without the office's start and end around it.
struct Timed {
    std::vector<double> all, only;
};

Timed fillRuns(int runs, const QString& out) {
    Timed t;
    t.all = timeRuns(runs, [&] {
        Object word = automation::createObject("Word.Application");
        QElapsedTimer only;
        only.start();
        fill(word, out);
        t.only.push_back(msSince(only));
        word.call("quit");
    });
    t.only.erase(t.only.begin()); // the warm-up
    return t;
}

Timed pictureRuns(int runs, const QString& doc, QSize* pictureSize) {
    Timed t;
    t.all = timeRuns(runs, [&] {
        Object word = automation::createObject("Word.Application");
        QElapsedTimer only;
        only.start();
        const Object opened = word["Documents"].call("Open", {doc}).toObject();
        opened["Range"].call("CopyAsPicture");
        *pictureSize = QGuiApplication::clipboard()->image().size();
        t.only.push_back(msSince(only));
        word["ActiveDocument"].call("Close", {}, {NamedArg{"savechanges", Variant(int16_t(0))}});
        word.call("quit");
    });
    t.only.erase(t.only.begin()); // the warm-up
    return t;
}

void printTable(int runs, const std::vector<double>& yard, const std::vector<double>& createQuit,
                const Timed& fills, const Timed& pictures, QSize pictureSize) {
    const double y = median(yard);
    auto row = [&](const char* what, const std::vector<double>& ms) {
        std::printf("%-52s %8.1f ms  %5.2fx\n", what, median(ms), median(ms) / y);
    };
    std::printf("office benchmark, %d runs each, medians; ratio to the yardstick\n", runs);
    row("yardstick: soffice.bin --convert-to doc (seeded)", yard);
    row("create + quit", createQuit);
    row("open + replace nine placeholders + SaveAs", fills.only);
    row("  the same with create and quit", fills.all);
    row("open + CopyAsPicture", pictures.only);
    row("  the same with create, close and quit", pictures.all);
    std::printf("picture: %dx%d px\n", pictureSize.width(), pictureSize.height());
    std::printf("create + quit target: <= 0.80x; %s\n",
                median(createQuit) <= 0.8 * y ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // A step the program would report ends the run: no box waits for a person.
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& r) -> int {
        std::fprintf(stderr, "bench_office: %s\n", qPrintable(r.prompt));
        std::exit(2);
    });
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir scratch;
    // A private cache, so the user's profile pool is left alone.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(scratch.filePath("cache")));
    automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));

    const auto yard = yardstickRuns(scratch, runs);
    const auto createQuit = createQuitRuns(runs);
    const QString out = scratch.filePath("filled.doc");
    const Timed fills = fillRuns(runs, out);
    QSize pictureSize;
    const Timed pictures = pictureRuns(runs, out, &pictureSize);
    printTable(runs, yard, createQuit, fills, pictures, pictureSize);
    return 0;
}
