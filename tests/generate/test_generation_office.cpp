// The whole road of one generation with the real LibreOffice, and the
// produced document read back by independent readers (antiword, catdoc).

#include "app/mainwindow.h"
#include "common/files.h"
#include "common/programend.h"
#include "common/shell.h"
#include "platform/automation/automation.h"
#include "platform/office/office_testing.h"
#include "platform/office/wordmodel/picture_and_text.h"
#include "preview/previewwindow.h"
#include "tests/support/childprocess.h"
#include "tests/support/doctools.h"
#include "tests/support/testenv.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMimeData>
#include <QPointer>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

struct PreviewWindowProbe {
    static float zoom(const PreviewWindow* f) { return f->mZoom; }
    static QSize image(const PreviewWindow* f) { return {f->mImageWidth, f->mImageHeight}; }
    static bool setUpDue(const PreviewWindow* f) { return f->mFirstActivate; }
};

namespace {

QStringList tempDocs() {
    return QDir(common::tempFolder()).entryList({QStringLiteral("*")}, QDir::Files);
}

// Text as antiword and catdoc see it; folded() folds runs of white space.
QString antiword(const QString& doc) {
    return testsupport::antiwordText(doc);
}
QString catdoc(const QString& doc) {
    return testsupport::catdocText(doc);
}
QString folded(QString s) {
    return s.simplified();
}

// How often an ASCII text stands in the file's raw bytes, as 8-bit or UTF-16 text.
int rawCount(const QString& path, const QByteArray& ascii) {
    const QByteArray bytes = testsupport::readFile(path);
    QByteArray wide;
    for (char c : ascii)
        wide.append(c).append('\0');
    return int(bytes.count(ascii) + bytes.count(wide));
}

// Office processes that are children of this test.
QList<int> officeChildren() {
    QList<int> out;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool ok = false;
        const int n = pid.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(n));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString s = QString::fromLatin1(stat.readAll());
        const qsizetype close = s.lastIndexOf(QLatin1Char(')'));
        const QString comm =
            s.mid(s.indexOf(QLatin1Char('(')) + 1, close - s.indexOf(QLatin1Char('(')) - 1);
        const QStringList rest = s.mid(close + 2).split(QLatin1Char(' '));
        if (rest.size() > 1 && rest[1].toInt() == ::getpid() &&
            comm.startsWith(QStringLiteral("soffice")) && rest[0] != QStringLiteral("Z"))
            out << n;
    }
    return out;
}

// This process's resident memory.
double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> pages = statm.readAll().split(' ');
    return pages.size() > 1
               ? double(pages[1].toLongLong()) * double(::sysconf(_SC_PAGESIZE)) / 1048576.0
               : -1;
}

void restoreTmpdir(const QByteArray& saved) {
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
}

int darkPixels(const QImage& pic) {
    int dark = 0;
    for (int y = 0; y < pic.height(); y += 2)
        for (int x = 0; x < pic.width(); x += 2)
            dark += qGray(pic.pixel(x, y)) < 128;
    return dark;
}

// Between generations only the host's idle office runs; one that was
// replaced gets a moment to exit.
bool onlyTheIdleOffice() {
    for (int i = 0; i < 200; ++i) {
        if (officeChildren().size() <= 1)
            return true;
        QTest::qWait(50);
    }
    return false;
}

// What the office must never leave beside the program's files.
QStringList officeLitter() {
    return QDir(common::tempFolder())
        .entryList({QStringLiteral(".~lock.*"), QStringLiteral("lu*.tmp")},
                   QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class GenerationOfficeTest : public QObject {
    Q_OBJECT
    QPointer<MainWindow> form;

    QString generateOnce(MsgBoxRecorder& boxes) {
        for (const QString& f : tempDocs())
            QFile::remove(common::tempPath(f));
        form->show();
        form->createButton->click();
        if (!boxes.seen.isEmpty())
            return QString();
        const QStringList docs = tempDocs();
        if (docs.size() != 1)
            qWarning() << "temporary folder holds" << docs;
        return docs.size() == 1 ? common::tempPath(docs[0]) : QString();
    }

  private slots:
    void initTestCase() {
        automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
        common::setAppPathForTests(testsupport::sandboxRoot());
        MsgBoxRecorder boxes;
        form = MainWindow::create();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!common::programEnded());
        QVERIFY(onlyTheIdleOffice()); // the start-up check leaves the office idle
    }

    void sampleDataFillsEveryPlaceholder() {
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        const QString doc = generateOnce(boxes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        QVERIFY(
            QRegularExpression(QStringLiteral("/amerrow[1-9]{8}\\.doc$")).match(doc).hasMatch());
        QVERIFY(!QFile::exists(common::tempPath(QStringLiteral("template.dot"))));
        QVERIFY(!QFile::exists(common::tempPath(QStringLiteral("temp.bmp"))));

        const QString text = folded(antiword(doc));
        for (int i = 0; i < 9; ++i)
            QVERIFY2(text.contains(folded(form->fields()[size_t(i)]->Text())),
                     qPrintable(form->fields()[size_t(i)]->Text() + " not in: " + text));
        for (auto* field : form->fields())
            QVERIFY2(!text.contains(field->Tag, Qt::CaseInsensitive), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Employee Warning Notice")));
        const QString cat = folded(catdoc(doc));
        QVERIFY(cat.contains(QStringLiteral("Keyboard wasn't plugged in during work hours.")));

        // What generation must leave alone: the ten check boxes, the logo picture
        // and the company-name text box.
        QCOMPARE(rawCount(doc, "FORMCHECKBOX"), 10);
        QVERIFY(rawCount(doc, "\x89PNG") >= 1);
        QVERIFY2(cat.contains(QStringLiteral("Company Name")) || rawCount(doc, "Company Name") >= 1,
                 qPrintable(cat));
        QVERIFY(!cat.contains(QStringLiteral("[EmployeeName]")));

        // The preview shows a picture of the page, and the main window is hidden.
        PreviewWindow* preview = PreviewWindow::loaded();
        QVERIFY(preview && preview->isVisible());
        QVERIFY(!form->isVisible());
        const QImage pic = preview->picture();
        QVERIFY(!pic.isNull());
        QVERIFY(pic.width() > 500 && pic.height() > 500);
        int dark = 0;
        for (int y = 0; y < pic.height(); y += 4)
            for (int x = 0; x < pic.width(); x += 4)
                dark += qGray(pic.pixel(x, y)) < 128;
        QVERIFY(dark > 100);
        QVERIFY(!form->mBusy);
        QVERIFY(onlyTheIdleOffice());
    }

    // The program's own notice must fit the preview's caps at natural size, or
    // every zoom step back to 1.0 falls back and the natural view never returns.
    void theSampleNoticeZoomsBackToNaturalSize() {
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        const QString doc = generateOnce(boxes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        PreviewWindow* preview = PreviewWindow::loaded();
        QVERIFY(preview && preview->isVisible());
        QTRY_VERIFY(!PreviewWindowProbe::setUpDue(preview)); // the activation's set-up has run
        const QSize natural = PreviewWindowProbe::image(preview);
        qInfo("sample notice at natural size: %d x %d twips", natural.width(), natural.height());
        auto shown = [&] { return QSize(preview->viewer->Width(), preview->viewer->Height()); };
        QCOMPARE(PreviewWindowProbe::zoom(preview), 1.0f);
        const QImage atNatural = preview->viewer->Image();

        QTest::mouseClick(preview->zoomOutButton, Qt::LeftButton); // Zoom Out
        QCOMPARE(PreviewWindowProbe::zoom(preview), 0.75f);
        QCOMPARE(shown(),
                 QSize(int(float(natural.width()) * 0.75f), int(float(natural.height()) * 0.75f)));
        QTest::mouseClick(preview->zoomInButton, Qt::LeftButton); // Zoom In
        QCOMPARE(PreviewWindowProbe::zoom(preview), 1.0f);
        QCOMPARE(shown(), natural);
        // The page painted again at its natural size (the same picture, give or take
        // the smoothing of a repaint).
        const QImage again = preview->viewer->Image();
        QCOMPARE(again.size(), atNatural.size());
        const int dark = darkPixels(atNatural);
        QVERIFY2(dark > 1000 && qAbs(darkPixels(again) - dark) < dark / 50,
                 qPrintable(QStringLiteral("%1 then %2").arg(dark).arg(darkPixels(again))));
        // Clear of the caps, not just under them.
        QVERIFY2(natural.width() < 11400 && natural.height() <= 12900,
                 qPrintable(QStringLiteral("%1 x %2").arg(natural.width()).arg(natural.height())));
        QTest::mouseClick(preview->zoomInButton, Qt::LeftButton); // 1.25 is beyond the height cap
        QCOMPARE(PreviewWindowProbe::zoom(preview), 1.0f);
        QCOMPARE(boxes.prompts(), QStringList());

        // With both bars at their ends, at natural size and zoomed out, the
        // notice's last line and last letter are in view, and the notice never
        // touches the viewport's edges.
        const QRect ink = office::pageContentBox(preview->unzoomed->Picture());
        const double twipsPerPixel =
            1440.0 / qRound(preview->unzoomed->Picture().dotsPerMeterX() * 0.0254);
        for (int outSteps = 0; outSteps < 2; ++outSteps) {
            const double zoom = PreviewWindowProbe::zoom(preview);
            preview->hScroll->setValue(preview->hScroll->maximum());
            preview->vScroll->setValue(preview->vScroll->maximum());
            const double right = (ink.right() + 1) * twipsPerPixel * zoom;
            const double bottom = (ink.bottom() + 1) * twipsPerPixel * zoom;
            const double shownRight =
                -double(preview->viewer->Left()) + preview->viewport->ScaleWidth();
            const double shownBottom =
                -double(preview->viewer->Top()) + preview->viewport->ScaleHeight();
            QVERIFY2(right < shownRight && bottom < shownBottom,
                     qPrintable(QStringLiteral("zoom %1: ink to %2 x %3, shown to %4 x %5")
                                    .arg(zoom)
                                    .arg(right)
                                    .arg(bottom)
                                    .arg(shownRight)
                                    .arg(shownBottom)));
            QVERIFY(ink.left() * twipsPerPixel * zoom >= 60 &&
                    ink.top() * twipsPerPixel * zoom >= 60);
            QTest::mouseClick(preview->zoomOutButton, Qt::LeftButton); // Zoom Out
        }
    }

    // A word of each script a workplace writes: the page the preview is made from
    // draws every one with a real glyph, never with a missing-glyph box. The same
    // check run with only the Latin fonts visible must find the boxes, or it
    // proves nothing.
    void everyScriptIsDrawnWithRealGlyphs() {
        const QStringList words{"Smith", "Иванов", "Παπαδόπουλος", "محمد",   "כהן",
                                "शर्मा",  "王伟",   "やまだ",       "김민준", "😀👍"};
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        form->field(entry::Fact::EmployeeName)->SetText(words.mid(0, 3).join(' '));
        form->field(entry::Fact::Manager)->SetText(words.mid(3, 2).join(' '));
        form->field(entry::Fact::Department)->SetText(words[5]);
        form->field(entry::Fact::Infraction)->SetText(words.mid(6, 3).join(' '));
        form->field(entry::Fact::Consequences)->SetText(words[9]);
        const QString doc = generateOnce(boxes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        QVERIFY(PreviewWindow::loaded() && PreviewWindow::loaded()->isVisible());

        const auto checkGlyphs = [&](const QString& fontconfigFile) {
            testsupport::ChildProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (!fontconfigFile.isEmpty())
                env.insert(QStringLiteral("FONTCONFIG_FILE"), fontconfigFile);
            p.setEnvironment(env);
            p.setMergedChannels(true);
            p.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(VELTRANE_SOURCE_DIR "/tests/generate/check_glyphs.py"), doc});
            if (!p.waitForFinished(180000))
                p.kill();
            p.waitForFinished(10000);
            return std::pair(p.exitCode(), QString::fromUtf8(p.readAll()));
        };
        const auto [code, report] = checkGlyphs(QString());
        qInfo().noquote() << report;
        QCOMPARE(code, 0);

        // Every font file rejected but the Liberation fonts (a rejected folder would
        // hide its subfolders' accepted files too, so files are matched by name).
        const QString latinOnly = testsupport::writeFile(
            testsupport::sandboxRoot() + QStringLiteral("/latin-only.conf"),
            "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
            " <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n"
            " <selectfont>\n"
            "  <acceptfont><glob>/usr/share/fonts/truetype/liberation*</glob></acceptfont>\n"
            "  <rejectfont><glob>*.ttf</glob><glob>*.ttc</glob><glob>*.otf</glob>"
            "<glob>*.pf[ab]</glob><glob>*.pcf.gz</glob></rejectfont>\n"
            " </selectfont>\n</fontconfig>\n");
        const auto [hiddenCode, hiddenReport] = checkGlyphs(latinOnly);
        QVERIFY2(hiddenCode == 1 && hiddenReport.contains(QStringLiteral("missing-glyph box")),
                 qPrintable(hiddenReport));
    }

    // The windows draw with Qt's own font matching: each script has a font there too.
    void everyScriptHasAFontOnScreen() {
        for (const auto ws :
             {QFontDatabase::Latin, QFontDatabase::Cyrillic, QFontDatabase::Greek,
              QFontDatabase::Arabic, QFontDatabase::Hebrew, QFontDatabase::Devanagari,
              QFontDatabase::SimplifiedChinese, QFontDatabase::Japanese, QFontDatabase::Korean})
            QVERIFY2(!QFontDatabase::families(ws).isEmpty(),
                     qPrintable(QFontDatabase::writingSystemName(ws)));
        const QStringList families = QFontDatabase::families();
        QVERIFY(std::any_of(families.begin(), families.end(), [](const QString& family) {
            return QFontMetrics(QFont(family)).inFontUcs4(0x1F44D); // thumbs up
        }));
    }

    void anyTextArrivesAsTyped() {
        MsgBoxRecorder boxes;
        form->field(entry::Fact::EmployeeName)
            ->SetText(QStringLiteral("$1 & \\ ( ) [x] 山田太郎 مرحبا 😀"));
        form->field(entry::Fact::Infraction)->SetText(QStringLiteral("first line\r\nsecond line"));
        form->field(entry::Fact::Manager)->SetText(QStringLiteral("x[JobTitle]x"));
        form->field(entry::Fact::JobTitle)->SetText(QStringLiteral("Clerk"));
        form->field(entry::Fact::Improvement)->SetText(QString());
        const QString doc = generateOnce(boxes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        const QString cat = catdoc(doc);
        QVERIFY2(cat.contains(QStringLiteral("$1 & \\ ( ) [x] 山田太郎 مرحبا")), qPrintable(cat));
        // A line break inside the cell, not a new paragraph with a blank line.
        QVERIFY2(QRegularExpression(QStringLiteral("first line\\n\\s*second line"))
                     .match(cat)
                     .hasMatch(),
                 qPrintable(cat));
        QVERIFY(!cat.contains(QStringLiteral("first line\n\nsecond line")));
        const QString text = folded(antiword(doc));
        QVERIFY(text.contains(QStringLiteral("xClerkx"))); // a later placeholder is replaced again
        QVERIFY(!text.contains(QStringLiteral("[Improvement]")));
        QVERIFY(!text.contains(QStringLiteral("[JobTitle]")));
    }

    void aLongDocumentsPreviewSaysWhereItEnds() {
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        // About 55 of these make a page: some two dozen pages.
        QStringList lines;
        for (int i = 1; i <= 1320; ++i)
            lines
                << QStringLiteral("Line %1 of the description, long enough to fill a row.").arg(i);
        form->field(entry::Fact::Infraction)->SetText(lines.join(QStringLiteral("\r\n")));
        const QString doc = generateOnce(boxes);
        form->sampleButton->click();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(catdoc(doc).contains(QStringLiteral("Line 1320 of the description")));

        // The picture ends in the note that a page of the same width would get
        // for "the first 10 of N pages"; find N.
        const QImage pic = PreviewWindow::loaded()->picture().convertToFormat(QImage::Format_RGB32);
        // Far taller than the preview ever enlarges: made at the resolution its
        // natural size needs on this (offscreen, 96 dpi) screen, not twice it.
        QCOMPARE(pic.dotsPerMeterX(), qRound(96 / 0.0254));
        const int dpi = 96;
        const int gap = dpi / 4;
        const office::PictureFrame frame = office::previewFrame(dpi);
        const int m = frame.marginPx;
        QImage ink(pic.width() - 2 * m, 10, QImage::Format_RGB32);
        ink.fill(Qt::black);
        ink.setDotsPerMeterX(pic.dotsPerMeterX());
        ink.setDotsPerMeterY(pic.dotsPerMeterY());
        int total = 0;
        for (int n = 11; n <= 200 && total == 0; ++n) {
            const QImage ref = office::stackPages({ink}, gap, office::previewEndText(10, n), frame);
            const int band = ref.height() - m - 10 - gap; // with the margin below it
            if (pic.height() > band && pic.copy(0, pic.height() - band, pic.width(), band) ==
                                           ref.copy(0, m + 10 + gap, ref.width(), band))
                total = n;
        }
        QVERIFY2(total >= 16 && total <= 33, qPrintable(QString::number(total)));
        // Ten pages above it, each at least a few inches of text.
        QVERIFY2(pic.height() > 10 * 5 * dpi, qPrintable(QString::number(pic.height())));
        // The note's text reads whole in what the viewport shows at natural size.
        int textRight = -1;
        for (int y = pic.height() - 150; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x)
                if (qGray(pic.pixel(x, y)) < 64)
                    textRight = std::max(textRight, x);
        QVERIFY(textRight > 0);
        QVERIFY2((textRight + 1) * 1440 / dpi < PreviewWindow::loaded()->viewport->ScaleWidth(),
                 qPrintable(QString::number(textRight)));
    }

    void anOfficeKilledMidwayIsReportedAndTheNextRunWorks() {
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        // The last notice is on the clipboard: it must not be shown for this run.
        QVERIFY(!generateOnce(boxes).isEmpty());
        QVERIFY(QGuiApplication::clipboard()->mimeData()->hasImage());
        std::atomic<bool> stop{false};
        std::atomic<int> killed{0};
        // The office is already running and idle, so strike once the generation has
        // written its template: the office is then opening or filling it, well before
        // the picture is done.
        const QString templateFile = common::tempFolder() + QStringLiteral("/template.dot");
        std::thread killer([&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!stop && std::chrono::steady_clock::now() < until) {
                if (QFileInfo::exists(templateFile) && !officeChildren().isEmpty()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(40));
                    for (int pid : officeChildren())
                        ::kill(pid, SIGKILL);
                    killed = 1;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const auto started = std::chrono::steady_clock::now();
        form->show();
        form->createButton->click();
        stop = true;
        killer.join();
        QCOMPARE(killed.load(), 1);
        QVERIFY(!boxes.seen.isEmpty());
        QVERIFY(boxes.seen[0].prompt.contains(QStringLiteral("Form1.PushButton6_Click at line")) ||
                boxes.seen[0].prompt.contains(QStringLiteral("Form1.SaveDocAsJPG at line")));
        QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(90));
        QVERIFY(!form->mBusy);
        QCOMPARE(officeLitter(), QStringList());
        QVERIFY(onlyTheIdleOffice());
        // Struck before its copy, this run has no picture of its own to show.
        const QString seen = boxes.prompts().join('\n');
        QVERIFY(PreviewWindow::loaded() && PreviewWindow::loaded()->isVisible());
        if (seen.contains(QStringLiteral("Form1.SaveDocAsJPG at line 120\r")))
            QVERIFY2(PreviewWindow::loaded()->picture().isNull(), qPrintable(seen));

        MsgBoxRecorder again;
        const QString doc = generateOnce(again);
        QVERIFY2(again.seen.isEmpty(), qPrintable(again.prompts().join('\n')));
        QVERIFY(folded(antiword(doc)).contains(QStringLiteral("John Smith")));
        QVERIFY(onlyTheIdleOffice());
    }

    // An office killed while it renders: the generation reports the missing
    // picture and shows none, whatever picture was on the clipboard before.
    void aFailedCopyShowsNoPictureFromBefore() {
        const auto onPicture = office::testing::resolve<void(void (*)(long))>(
            QStringLiteral(VELTRANE_OFFICE_PLUGIN), "veltrane_office_testing_on_picture");
        QVERIFY(onPicture);
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        QVERIFY(!generateOnce(boxes).isEmpty()); // its notice is on the clipboard now
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(QGuiApplication::clipboard()->mimeData()->hasImage());
        QImage own(300, 200, QImage::Format_RGB32);
        own.fill(Qt::red);

        const QList<std::function<void()>> before{
            [] {}, // the last notice stays on the clipboard
            [&] { QGuiApplication::clipboard()->setImage(own); }, // a picture the user copied
            [] { QGuiApplication::clipboard()->setText(QStringLiteral("the user's words")); },
        };
        for (const auto& putOnClipboard : before) {
            putOnClipboard();
            const QString text = QGuiApplication::clipboard()->text();
            onPicture([](long pid) { ::kill(pid_t(pid), SIGKILL); });
            MsgBoxRecorder failed;
            generateOnce(failed);
            onPicture(nullptr);
            const QString seen = failed.prompts().join(QLatin1Char('\n'));
            const auto reported = [&](const char* proc, int line) {
                return seen.contains(QStringLiteral("%1 at line %2\r").arg(proc).arg(line));
            };
            QVERIFY2(reported("Form1.SaveDocAsJPG", 120), qPrintable(seen));
            QVERIFY2(reported("Form1.SaveDocAsJPG", 122), qPrintable(seen));
            QVERIFY2(reported("Form1.PushButton6_Click", 200), qPrintable(seen));
            PreviewWindow* preview = PreviewWindow::loaded();
            QVERIFY(preview && preview->isVisible());
            QVERIFY(preview->picture().isNull());
            QVERIFY(!QFileInfo::exists(common::tempPath(QStringLiteral("temp.bmp"))));
            QCOMPARE(QGuiApplication::clipboard()->text(), text); // words the user copied stay
            QVERIFY(!form->mBusy);
            QVERIFY(onlyTheIdleOffice());
        }
    }

    // Run after run, and as worn-out offices are replaced and warmed, the
    // program holds no more memory than after its first run: the buffers of
    // the page pictures go back to the system.
    void memoryStaysFlatAsOfficesAreReplaced() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("a sanitizer's allocator holds freed memory back on purpose");
#endif
        const QString plugin = QStringLiteral(VELTRANE_OFFICE_PLUGIN);
        const auto recycleAfter = office::testing::resolve<void(int)>(
            plugin, "veltrane_office_testing_set_recycle_after");
        const auto idleOffice =
            office::testing::resolve<long(int)>(plugin, "veltrane_office_testing_idle_office");
        QVERIFY(recycleAfter && idleOffice);
        // The least the program holds over a few seconds once the host's
        // warm-up is done: what a run freed is given back a little later, and
        // how much later depends on the machine's load.
        const auto settled = [&] {
            idleOffice(30000);
            double least = residentMiB();
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 3000) {
                QTest::qWait(200);
                least = std::min(least, residentMiB());
            }
            return least;
        };
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        generateOnce(boxes);
        const double first = settled();
        recycleAfter(4); // an office is replaced and warmed every other generation
        QList<double> later;
        for (int i = 0; i < 8; ++i) {
            generateOnce(boxes);
            if (i % 2)
                later << settled();
        }
        recycleAfter(0);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QString figures = QString::number(first, 'f', 1);
        for (double m : later)
            figures += QStringLiteral(", ") + QString::number(m, 'f', 1);
        qInfo("resident MiB after 1, 3, 5, 7 and 9 generations: %s", qPrintable(figures));
        QVERIFY2(*std::max_element(later.begin(), later.end()) - first < 8, qPrintable(figures));
        QVERIFY(onlyTheIdleOffice());
    }

    void anIdleOfficeKilledBetweenGenerationsIsReplaced() {
        MsgBoxRecorder boxes;
        form->sampleButton->click();
        QVERIFY(onlyTheIdleOffice());
        for (int pid : officeChildren())
            ::kill(pid, SIGKILL);
        const QString doc = generateOnce(boxes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(folded(antiword(doc)).contains(QStringLiteral("John Smith")));
        QCOMPARE(officeLitter(), QStringList());
        QVERIFY(onlyTheIdleOffice());
    }

    // The user's cache folder cannot be written: the office profiles go to a
    // private folder under the system's temporary folder, and the program starts.
    void anUnusableCacheFolderFallsBackToAPrivateTemporaryFolder() {
        const QByteArray saved = qgetenv("XDG_CACHE_HOME");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        const QString plainFile = testsupport::writeFile(
            testsupport::sandboxRoot() + QStringLiteral("/cache-is-a-file"), "x");
        const QString systemTemp = testsupport::sandboxRoot() + QStringLiteral("/system-temp");
        QDir().mkpath(systemTemp);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(plainFile));
        qputenv("TMPDIR", QFile::encodeName(systemTemp));
        for (int pid : officeChildren()) // as in a program that starts now
            ::kill(pid, SIGKILL);
        MsgBoxRecorder boxes;
        QPointer<MainWindow> second = MainWindow::create();
        qputenv("XDG_CACHE_HOME", saved);
        restoreTmpdir(savedTmp);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!common::programEnded());
        QVERIFY(QFileInfo(systemTemp +
                          QStringLiteral("/veltrane-cache-%1/office-profiles/0").arg(::getuid()))
                    .isDir());
        delete second.data();
        QVERIFY(onlyTheIdleOffice());
    }

    // Last: ending the program takes every window with it.
    void anUnusableCacheFolderEndsInTheMessageNotACrash() {
        const QByteArray saved = qgetenv("XDG_CACHE_HOME");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        const QString plainFile = testsupport::writeFile(
            testsupport::sandboxRoot() + QStringLiteral("/not-a-folder"), "x");
        // Nor can the system's temporary folder take a private one.
        qputenv("XDG_CACHE_HOME", QFile::encodeName(plainFile));
        qputenv("TMPDIR", QFile::encodeName(plainFile));
        for (int pid : officeChildren()) // as in a program that starts now
            ::kill(pid, SIGKILL);
        MsgBoxRecorder boxes;
        // The log names the folders and why they cannot serve.
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("^No folder for the office profiles can be "
                                              "written: %1/veltrane/office-profiles \\(%1 is not a "
                                              "folder\\); %1/veltrane-cache-%2 \\(.+\\)$")
                                   .arg(QRegularExpression::escape(plainFile))
                                   .arg(::getuid())));
        QPointer<MainWindow> second = MainWindow::create();
        qputenv("XDG_CACHE_HOME", saved);
        restoreTmpdir(savedTmp);
        QVERIFY(common::programEnded());
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].prompt.startsWith(QStringLiteral("Error 842001.")));
        common::resetProgramEndedForTests();
        delete second.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(onlyTheIdleOffice());
    }
};

VELTRANE_TEST_MAIN(GenerationOfficeTest)
#include "test_generation_office.moc"
