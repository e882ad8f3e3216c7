// What a long document costs: one generation whose description runs over many
// pages, from the click to the preview painted. Prints the time, the picture's
// size and the process's peak memory before and after.
//
// Usage: bench_long_document [lines]   (default 1200; about 50 lines make a page)
// Run one size per process: the peak is the process's own high-water mark.
//
// 1650 lines, 33 pages of which the preview shows 10, on the shared 2-core
// build machine, runs alternated:
//   pages rendered at twice the screen's resolution:  7.9 to 9.2 s, picture
//     1434 x 19099 pixels (104.5 MiB), peak memory +308 MiB;
//   at the screen's resolution, as a picture too tall to be enlarged is:
//     6.2 to 7.4 s, 718 x 9562 pixels (26.2 MiB), peak memory +139 MiB.
// Most of the rest is the word processor laying out all 33 pages: filling
// (about 1.5 s), saving (1.5 s) and opening the saved document again (1.3 s).

#include "app/mainwindow.h"
#include "bench_setup.h"
#include "common/files.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"
#include "preview/previewwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// "VmHWM" (peak) or "VmRSS" (now) of this process, in MiB.
double memoryMiB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString status = QString::fromLatin1(f.readAll());
    const auto m =
        QRegularExpression(QLatin1String(field) + QStringLiteral(":\\s*(\\d+) kB")).match(status);
    return m.hasMatch() ? m.captured(1).toDouble() / 1024.0 : -1;
}

// The lines go into the three long fields in turn: one table cell that runs
// over a hundred pages takes the word processor minutes to save.
void fillLongFields(MainWindow* form, int lines) {
    QStringList text[3];
    for (int i = 1; i <= lines; ++i)
        text[(i - 1) * 3 / lines]
            << QStringLiteral("Line %1, long enough to fill a row of the form.").arg(i);
    for (int f = 0; f < 3; ++f)
        form->fields()[size_t(3 + f)]->SetText(text[f].join(QStringLiteral("\r\n")));
    QCoreApplication::processEvents();
}

// One click on "Start Creating Template", to the preview painted.
qint64 generate(MainWindow* form) {
    QElapsedTimer t;
    t.start();
    form->createButton->click();
    QCoreApplication::processEvents(); // the preview's set-up and first paint
    PreviewWindow::loaded()->repaint();
    return t.elapsed();
}

void report(int lines, qint64 ms, const QImage& pic, double peakBefore) {
    std::printf("description lines: %d\n", lines);
    std::printf("click to preview painted: %lld ms\n", static_cast<long long>(ms));
    std::printf("picture: %d x %d pixels, %.1f MiB\n", pic.width(), pic.height(),
                static_cast<double>(pic.sizeInBytes()) / 1048576.0);
    std::printf("peak memory: %.0f MiB before, %.0f MiB after (+%.0f); now %.0f MiB\n", peakBefore,
                memoryMiB("VmHWM"), memoryMiB("VmHWM") - peakBefore, memoryMiB("VmRSS"));
}

// The picture and the document kept where the environment asks, for a look;
// the program's saved copy removed.
void keepResults(const PreviewWindow* preview, const QImage& pic) {
    if (qEnvironmentVariableIsSet("BENCH_KEEP_PICTURE"))
        pic.save(qEnvironmentVariable("BENCH_KEEP_PICTURE"));
    if (qEnvironmentVariableIsSet("BENCH_KEEP_DOC"))
        QFile::copy(preview->mWordFile, qEnvironmentVariable("BENCH_KEEP_DOC"));
    common::deleteFileQuietly(preview->mWordFile);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir sandbox;
    prepareBenchEnvironment(sandbox);
    QApplication application(argc, argv);
    const int lines = argc > 1 ? std::max(1, atoi(argv[1])) : 1200;
    answerBenchBoxes();

    MainWindow* form = startProgram();
    if (!form)
        return 1;
    form->sampleButton->click();
    fillLongFields(form, lines);
    const double peakBefore = memoryMiB("VmHWM");
    const qint64 ms = generate(form);
    const PreviewWindow* preview = PreviewWindow::loaded();
    const QImage pic = preview->picture();
    report(lines, ms, pic, peakBefore);
    keepResults(preview, pic);
    return 0;
}
