// The office server's parts that need no office: replacement text, the page
// picture, profiles and their locks, and the process supervisor.

#include "platform/automation/automation.h"
#include "platform/office/lifecycle/hang_judge.h"
#include "platform/office/lifecycle/profiles_and_sockets.h"
#include "platform/office/lifecycle/supervisor.h"
#include "platform/office/wordmodel/picture_and_text.h"
#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPainter>

#include <QFileInfo>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace office;

namespace {

QString sandbox(const QString& name) {
    return testsupport::sandboxRoot() + "/" + name;
}

QString xcu(const QString& profile) {
    return QString::fromUtf8(testsupport::readFile(profile + "/user/registrymodifications.xcu"));
}

QImage page(int w, int h, QRect ink) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter(&img).fillRect(ink, Qt::black);
    img.setDotsPerMeterX(7559);
    img.setDotsPerMeterY(7559);
    return img;
}

UniqueFd listenOn(const QString& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 1) != 0)
        qFatal("cannot listen on %s", p.constData());
    return fd;
}

bool alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

// A process id nobody has: a child that has ended and been reaped.
pid_t endedProcess() {
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    return gone;
}

// Sets an environment variable while alive, then puts the old value back.
class EnvSet {
  public:
    EnvSet(const char* name, const QString& value) : mName(name), mOld(qgetenv(name)) {
        mHad = qEnvironmentVariableIsSet(name);
        qputenv(name, QFile::encodeName(value));
    }
    ~EnvSet() {
        if (mHad)
            qputenv(mName, mOld);
        else
            qunsetenv(mName);
    }

  private:
    const char* mName;
    QByteArray mOld;
    bool mHad = false;
};

QString profileRootFailure() {
    try {
        return QStringLiteral("no failure: ") + defaultProfileRoot();
    } catch (const automation::Error& e) {
        return e.description();
    }
}

} // namespace

class OfficePartsTest : public QObject {
    Q_OBJECT

  private slots:
    void replacementLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("plain") << "$1 & \\ ( ) [x]" << QStringList{"$1 & \\ ( ) [x]"};
        QTest::newRow("empty") << "" << QStringList{""};
        QTest::newRow("crlf is one break") << "a\r\nb" << QStringList{"a", "b"};
        QTest::newRow("cr and lf alone") << "a\rb\nc" << QStringList{"a", "b", "c"};
        QTest::newRow("lf cr is two") << "a\n\rb" << QStringList{"a", "", "b"};
        QTest::newRow("blank lines") << "\r\n\r\n" << QStringList{"", "", ""};
        const QString vt(QChar(0x0b)), ff(QChar(0x0c));
        QTest::newRow("controls dropped, tab kept")
            << QString("x") + QChar(1) + "\x07\x1b\ty" << QStringList{"x\ty"};
        QTest::newRow("vt is a line break") << "a" + vt + vt + "b" << QStringList{"a", "", "b"};
        // The line after a page break carries the mark.
        QTest::newRow("ff starts a page")
            << "a" + ff + ff + "b\r\n" + ff << QStringList{"a", ff, ff + "b", "", ff};
        QTest::newRow("emoji kept") << QString::fromUtf8("\xF0\x9F\x98\x80!")
                                    << QStringList{QString::fromUtf8("\xF0\x9F\x98\x80!")};
    }

    void replacementLines() {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(office::replacementLines(text), lines);
    }

    void readiedMemoryServesTheFirstPageFromTheHeap() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("a sanitizer's allocator stands in for glibc's, whose figures this reads");
#elif defined(__GLIBC__)
        // Page-sized buffers served from the heap, as the main window has it.
        void* taught = std::malloc(size_t(20) << 20);
        static_cast<volatile char*>(taught)[0] = 0;
        std::free(taught);

        const size_t before = mallinfo2().uordblks;
        readyPictureMemory();
        const struct mallinfo2 held = mallinfo2();
        // Two Letter pages at this (offscreen, 96 dpi) screen's resolution.
        QVERIFY(held.uordblks - before >= 2 * size_t(816) * 1056 * 4);
        readyPictureMemory(); // a second call takes no more
        QCOMPARE(mallinfo2().uordblks, held.uordblks);

        releasePictureMemory();
        const struct mallinfo2 freed = mallinfo2();
        QVERIFY(freed.uordblks < before + (size_t(1) << 20));
        QCOMPARE(freed.arena, held.arena); // kept by the heap, not given back
        QImage page(816, 1056, QImage::Format_RGB32);
        page.fill(Qt::white);
        QCOMPARE(mallinfo2().arena, freed.arena); // the heap did not have to grow
        QCOMPARE(mallinfo2().hblks, freed.hblks); // nor the page get a mapping
#else
        QSKIP("glibc's allocator only");
#endif
    }

    // The content box is the smallest rectangle holding every pixel that is
    // not paper, whatever the shape of the content: checked against that
    // definition, pixel by pixel, on scattered marks.
    void contentBoxHoldsEveryMarkAndNoMore() {
        std::srand(7);
        for (int round = 0; round < 200; ++round) {
            const int w = 1 + std::rand() % 60, h = 1 + std::rand() % 60;
            QImage img(w, h, QImage::Format_RGB32);
            img.fill(Qt::white);
            const int marks = std::rand() % 6;
            for (int m = 0; m < marks; ++m) {
                const int grey = std::rand() % 2 ? 249 : std::rand() % 200; // 249: just not paper
                img.setPixel(std::rand() % w, std::rand() % h, qRgb(grey, 255, 255));
            }
            if (std::rand() % 2) // a fringe that still counts as paper
                img.setPixel(std::rand() % w, std::rand() % h, qRgb(250, 251, 252));
            QRect expected;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (qRed(img.pixel(x, y)) < 250)
                        expected |= QRect(x, y, 1, 1);
            QCOMPARE(pageContentBox(img), expected);
        }
    }

    void stackPagesTrimsAndStacks() {
        QImage haze = page(100, 200, QRect(10, 20, 20, 20));
        haze.setPixel(0, 0, qRgb(252, 252, 252)); // anti-aliasing fringe is still paper
        const QImage blank = page(100, 200, QRect());
        const QImage second = page(100, 200, QRect(15, 50, 35, 10));

        const QImage out = stackPages({haze, blank, second}, 5);
        // Columns 10..49 across both pages; rows 20 of the first, gap, 10 of the second.
        QCOMPARE(out.size(), QSize(40, 20 + 5 + 10));
        QCOMPARE(out.dotsPerMeterX(), 7559);
        QCOMPARE(qGray(out.pixel(0, 0)), 0);     // first page's ink at the corner
        QCOMPARE(qGray(out.pixel(25, 5)), 255);  // right of it, paper
        QCOMPARE(qGray(out.pixel(10, 22)), 255); // the gap
        QCOMPARE(qGray(out.pixel(5, 25)), 0);    // second page, shifted by its own left
        QCOMPARE(qGray(out.pixel(4, 25)), 255);
        QCOMPARE(qGray(out.pixel(39, 34)), 0);

        // A wholly blank document still gives its page.
        QCOMPARE(stackPages({blank, blank}, 5).size(), QSize(100, 200));
        QVERIFY(stackPages({}, 5).isNull());
    }

    void aPictureThatLeavesPagesOutEndsInANote() {
        // Two "pages" at 192 dpi, a page's text width apart from the margins.
        const QImage first = page(1632, 400, QRect(100, 50, 1394, 300));
        const QImage second = page(1632, 400, QRect(100, 0, 1394, 200));
        const QImage plain = stackPages({first, second}, 48);
        const QImage ended = stackPages({first, second}, 48, previewEndText(2, 24));

        // The pages are the same; below them, after a gap, a band of text.
        QCOMPARE(ended.width(), plain.width());
        QCOMPARE(ended.dotsPerMeterX(), 7559);
        QVERIFY2(ended.height() > plain.height() + 48 + 60,
                 qPrintable(QString::number(ended.height())));
        QCOMPARE(ended.copy(0, 0, plain.width(), plain.height()), plain);
        for (int y = plain.height(); y < plain.height() + 48; ++y)
            QCOMPARE(qGray(ended.pixel(700, y)), 255);
        const int band = plain.height() + 48;
        qint64 grey = 0, ink = 0;
        for (int y = band; y < ended.height(); ++y)
            for (int x = 0; x < ended.width(); ++x) {
                const int g = qGray(ended.pixel(x, y));
                grey += g > 200 && g < 250;
                ink += g < 100;
            }
        // Mostly light grey, so the end shows at any zoom, and real text on it.
        QVERIFY2(grey > (ended.height() - band) * ended.width() / 2,
                 qPrintable(QString::number(grey)));
        QVERIFY2(ink > 2000, qPrintable(QString::number(ink)));
        // The count is in the text: another count draws another band.
        QVERIFY(stackPages({first, second}, 48, previewEndText(2, 25)) != ended);

        // Content narrower than a few inches still gets a note that reads in a
        // few lines, and the pages keep their place at the left.
        const QImage narrow =
            stackPages({page(1632, 400, QRect(100, 50, 200, 300))}, 48, previewEndText(1, 3));
        QCOMPARE(narrow.width(), 864);
        QCOMPARE(qGray(narrow.pixel(0, 0)), 0);
        QCOMPARE(qGray(narrow.pixel(199, 299)), 0);
        QCOMPARE(qGray(narrow.pixel(200, 0)), 255);
        QVERIFY2(narrow.height() < 300 + 48 + 400, qPrintable(QString::number(narrow.height())));
    }

    // The preview's frame: white all round the content, and the note's text
    // within the width the viewer shows first, however wide the pages are.
    void aFramedPictureKeepsClearOfTheEdges() {
        const office::PictureFrame frame = office::previewFrame(192);
        QVERIFY(frame.marginPx * 1440 / 192 >= 120); // twips
        const int m = frame.marginPx;
        const QImage wide = page(3000, 400, QRect(100, 50, 2600, 300));
        const QImage out =
            stackPages({wide, wide}, 48, previewEndText(2, 30), office::previewFrame(192));
        const QImage bare = stackPages({wide, wide}, 48, previewEndText(2, 30));
        // The note may take more lines in its narrower width.
        QCOMPARE(out.width(), bare.width() + 2 * m);
        QVERIFY(out.height() >= bare.height() + 2 * m);
        QCOMPARE(out.copy(m, m, bare.width(), 300), bare.copy(0, 0, bare.width(), 300));
        QCOMPARE(pageContentBox(out), QRect(m, m, bare.width(), out.height() - 2 * m));
        // The note's text (darker than its rule) keeps within the note width
        // from the picture's left.
        int inkRight = -1;
        for (int y = m + 2 * (300 + 48); y < out.height() - m; ++y)
            for (int x = 0; x < out.width(); ++x)
                if (qGray(out.pixel(x, y)) < 64)
                    inkRight = std::max(inkRight, x);
        QVERIFY2(inkRight > m && inkRight < m + frame.noteWidthPx,
                 qPrintable(QString::number(inkRight)));
    }

    // Sharp at every view the preview paints (a quarter at a time, below
    // 11400 x 13700 twips), and no finer where it can only show the natural size.
    void aPictureIsMadeAsSharpAsItsLargestView() {
        auto largestView = [](double w, double h) {
            double zoom = 1.0;
            while (zoom < 4.0 && std::floor(w * (zoom + 0.25)) < 11400 &&
                   std::floor(h * (zoom + 0.25)) < 13700)
                zoom += 0.25;
            return zoom;
        };
        int finer = 0, screen = 0;
        for (int w = 100; w <= 1200; w += 7)
            for (int h = 100; h <= 1400; h += 7) {
                const double dpi = sharpEnoughDpi(QSize(w, h), 96, 192);
                const double zoom = largestView(w * 15.0, h * 15.0);
                QVERIFY2(dpi == 192 || dpi >= 96 * zoom,
                         qPrintable(QStringLiteral("%1 x %2 px: %3 dpi").arg(w).arg(h).arg(dpi)));
                QVERIFY(dpi >= 96 && dpi <= 192);
                // Clear of the next quarter's caps, the screen's resolution does.
                if (std::floor((w - 5) * 15.0 * 1.25) >= 11400 ||
                    std::floor((h - 5) * 15.0 * 1.25) >= 13700)
                    QCOMPARE(dpi, 96.0);
                (dpi > 96 ? finer : screen)++;
            }
        QVERIFY(finer > 1000 && screen > 1000);
        // A full Letter page of text, 6.5 x 9 inches and the margins, as the
        // sample notice is; narrower text on half a page; a few short lines.
        QCOMPARE(sharpEnoughDpi(QSize(644, 884), 96, 192), 96.0);
        QCOMPARE(sharpEnoughDpi(QSize(560, 500), 96, 192), 120.0);
        QCOMPARE(sharpEnoughDpi(QSize(300, 120), 96, 192), 192.0);
        // A screen of twice the pixels needs that resolution whatever the size.
        QCOMPARE(sharpEnoughDpi(QSize(1288, 1768), 192, 192), 192.0);
        QCOMPARE(sharpEnoughDpi(QSize(900, 240), 192, 192), 192.0);
    }

    void theNoteSaysHowManyPagesAreLeftOut() {
        QCOMPARE(previewEndText(10, 24),
                 QStringLiteral("The preview ends here: it shows the first 10 of 24 pages.\n"
                                "The 14 pages after these are not shown, but they are in the "
                                "document you save."));
        QCOMPARE(previewEndText(10, 11),
                 QStringLiteral("The preview ends here: it shows the first 10 of 11 pages.\n"
                                "The page after these is not shown, but it is in the document "
                                "you save."));
        // A length that could not be told.
        QCOMPARE(previewEndText(10, 0),
                 QStringLiteral("The preview ends here: it shows the first 10 pages.\n"
                                "The pages after these are not shown, but they are in the "
                                "document you save."));
    }

    void seedingKeepsOtherSettings() {
        const QString fresh = sandbox("seed/fresh");
        QVERIFY(seedProfile(fresh, "7.4"));
        QVERIFY(xcu(fresh).contains(
            "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>7.4</value>"));
        QVERIFY(xcu(fresh).trimmed().endsWith("</oor:items>"));

        const QString used = sandbox("seed/used");
        const QByteArray old =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items xmlns:oor=\"x\">\n"
            "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
            "oor:op=\"fuse\"><value>false</value></prop></item>\n"
            "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
            "oor:name=\"ooSetupLastVersion\" "
            "oor:op=\"fuse\"><value>6.1</value></prop></item>\n</oor:items>\n";
        testsupport::writeFile(used + "/user/registrymodifications.xcu", old);
        QVERIFY(seedProfile(used, "7.4"));
        const QString now = xcu(used);
        QVERIFY(now.contains("<value>7.4</value>") && !now.contains("6.1"));
        QVERIFY(now.contains("FirstRun"));
        QCOMPARE(now.count("ooSetupLastVersion"), 1);
        QVERIFY(seedProfile(used, "7.4"));
        QCOMPARE(xcu(used), now);

        // Document locking is off, whatever the file said.
        QCOMPARE(now.count("oor:name=\"UseLocking\" oor:op=\"fuse\"><value>false</value>"), 1);
        QCOMPARE(now.count("\"UseDocumentOOoLockFile\" oor:op=\"fuse\"><value>false</value>"), 1);
        const QString locking = sandbox("seed/locking");
        testsupport::writeFile(locking + "/user/registrymodifications.xcu",
                               QByteArray(old).replace("FirstRun\" oor:op=\"fuse\"><value>false",
                                                       "UseLocking\" oor:op=\"fuse\"><value>true"));
        QVERIFY(seedProfile(locking, "7.4"));
        QVERIFY(xcu(locking).contains("\"UseLocking\" oor:op=\"fuse\"><value>false"));
        QVERIFY(!xcu(locking).contains("<value>true"));

        const QString noVersion = sandbox("seed/unknown");
        testsupport::writeFile(noVersion + "/user/registrymodifications.xcu", old);
        QVERIFY(seedProfile(noVersion, "")); // no version known: that one is left alone
        QVERIFY(xcu(noVersion).contains("<value>6.1</value>"));
    }

    void officeVersionIsReadFromTheInstallation() {
        const QString a = sandbox("install-a/program");
        testsupport::writeFile(a + "/bootstraprc",
                               "[Bootstrap]\nInstallMode=x\nProductKey=LibreOffice 7.4\n");
        QCOMPARE(installedOfficeVersion(a), QString("7.4"));
        const QString b = sandbox("install-b/program");
        testsupport::writeFile(
            sandbox("install-b/share/registry/main.xcd"),
            "<prop oor:name=\"ooSetupVersion\" oor:type=\"xs:string\"><value>24.2</value></prop>");
        QCOMPARE(installedOfficeVersion(b), QString("24.2"));
        QCOMPARE(installedOfficeVersion(sandbox("install-none")), QString());
    }

    void aProfileServesOneLiveOfficeAtATime() {
        const QString root = sandbox("pool");
        ProfileLease first = leaseProfile(root, "7.4", 2);
        ProfileLease second = leaseProfile(root, "7.4", 2);
        QCOMPARE(first.dir, root + "/0");
        QCOMPARE(second.dir, root + "/1");
        QVERIFY(xcu(second.dir).contains("7.4"));
        QVERIFY_THROWS_EXCEPTION(automation::Error, leaseProfile(root, "7.4", 2));

        // An office started with the lock keeps the profile taken after we let go.
        const pid_t child =
            Supervisor::instance().spawn("/bin/sleep", {"/bin/sleep", "30"}, -1, first.lock.get());
        first.lock.reset();
        second.lock.reset();
        ProfileLease third = leaseProfile(root, "7.4", 2);
        QCOMPARE(third.dir, root + "/1");
        third.lock.reset();

        Supervisor::instance().adopt(child, Millis(0));
        QVERIFY(Supervisor::instance().drain(Millis(5000)));
        ProfileLease again = leaseProfile(root, "7.4", 2);
        QCOMPARE(again.dir, root + "/0");
    }

    void onlyStaleSocketsOfEndedProgramsAreRemoved() {
        const QString dir = sandbox("pipes");
        QDir().mkpath(dir);
        // A program that has ended: a child that has been reaped.
        const pid_t gone = ::fork();
        if (gone == 0)
            ::_exit(0);
        ::waitpid(gone, nullptr, 0);
        const QString prefix = QString("%1/OSL_PIPE_%2_veltrane-office-").arg(dir).arg(::getuid());
        const QString stale = prefix + QString("%1-1-ab").arg(gone);
        const QString live = prefix + QString("%1-2-cd").arg(gone);
        const QString running = prefix + QString("%1-3-ef").arg(::getppid());
        const QString other = dir + "/OSL_PIPE_" + QString::number(::getuid()) + "_someone-else";
        UniqueFd staleFd = listenOn(stale), liveFd = listenOn(live), runningFd = listenOn(running),
                 otherFd = listenOn(other);
        staleFd.reset(); // nobody listens any more; running's and other's too
        runningFd.reset();
        otherFd.reset();

        sweepOrphanedPipes(dir);
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(live));    // still answered
        QVERIFY(QFileInfo::exists(running)); // its program runs
        QVERIFY(QFileInfo::exists(other));   // not an office of ours

        // Recorded ones go once stale, whatever their name; a live one never.
        recordSockets(dir, {other, live});
        QCOMPARE(recordedSockets(dir), (QStringList{other, live}));
        removeStaleSockets(recordedSockets(dir));
        QVERIFY(!QFileInfo::exists(other));
        QVERIFY(QFileInfo::exists(live));
        liveFd.reset();
        removeStaleSockets({live, dir + "/no-such-socket"});
        QVERIFY(!QFileInfo::exists(live));
    }

    // A listener whose queue is full takes no connection at once; asking
    // whether it is stale must not wait for it, and it stays.
    void aListenerThatDoesNotAnswerNeitherDelaysTheSweepNorIsRemoved() {
        const QString dir = sandbox("busy-pipes");
        QDir().mkpath(dir);
        const QString path = QString("%1/OSL_PIPE_%2_veltrane-office-%3-1-ab")
                                 .arg(dir)
                                 .arg(::getuid())
                                 .arg(endedProcess());
        UniqueFd listener = listenOn(path);
        std::vector<UniqueFd> waiting; // connections it never accepts
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
        for (int i = 0; i < 64; ++i) {
            UniqueFd c(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (::connect(c.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                break;
            waiting.push_back(std::move(c));
        }

        std::atomic<bool> done{false};
        std::thread sweep([&] {
            sweepOrphanedPipes(dir);
            done = true;
        });
        // A sweep that waits for the listener is let go by closing it.
        for (int i = 0; i < 600 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const bool finishedAlone = done;
        listener.reset();
        sweep.join();
        QVERIFY2(finishedAlone, "the sweep waited for a listener that does not answer");
        QVERIFY(QFileInfo::exists(path));
    }

    // With the user's cache folder unusable, the profiles live in a folder of
    // the user's own under the system's temporary folder; one that someone
    // else made or may write into is never used, and the failure says which
    // folders were refused and why.
    void profilesFallBackToAPrivateTemporaryFolder() {
        const QString notAFolder = testsupport::writeFile(sandbox("cache-is-a-file"), "x");
        const QString systemTemp = sandbox("system-temp");
        QDir().mkpath(systemTemp);
        EnvSet cache("XDG_CACHE_HOME", notAFolder);
        EnvSet tmp("TMPDIR", systemTemp);
        const QString base = QString("%1/veltrane-cache-%2").arg(systemTemp).arg(::getuid());

        QCOMPARE(defaultProfileRoot(), base + "/office-profiles");
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(base).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(st.st_uid, ::getuid());
        ProfileLease lease = leaseProfile(defaultProfileRoot(), "7.4", 1);
        QCOMPARE(lease.dir, base + "/office-profiles/0");
        lease.lock.reset();

        QList<std::pair<QString, std::function<void()>>> spoilt{
            {"other users may write into it",
             [&] {
                 QDir().mkpath(base);
                 ::chmod(QFile::encodeName(base).constData(), 0777);
             }},
            {"it is not a folder",
             [&] {
                 QDir().mkpath(sandbox("someone-elses"));
                 QFile::link(sandbox("someone-elses"), base);
             }},
        };
        if (::geteuid() == 0)
            spoilt.append({"it belongs to another user", [&] {
                               QDir().mkpath(base);
                               QVERIFY(::chown(QFile::encodeName(base).constData(), 65534, 65534) ==
                                       0);
                           }});
        for (const auto& [why, spoil] : spoilt) {
            QFile::remove(base); // a link, never what it points to
            QDir(base).removeRecursively();
            spoil();
            const QString failure = profileRootFailure();
            QVERIFY2(failure.contains(notAFolder + " is not a folder"), qPrintable(failure));
            QVERIFY2(failure.contains(base + " (" + why + ")"), qPrintable(failure));
        }
        QFile::remove(base);
        QDir(base).removeRecursively();
        QVERIFY(QFileInfo(notAFolder).isFile());
    }

    void aHungProcessIsToldFromABusyOne() {
        using namespace std::chrono_literals;
        using Verdict = HangJudge::Verdict;
        testsupport::ChildProcess sleeper, burner;
        QVERIFY(sleeper.start("/bin/sleep", {"60"}));
        QVERIFY(burner.start("/bin/sh", {"-c", "while :; do :; done"}));
        HangJudge idle(sleeper.processId(), 3s, 10s), busy(burner.processId(), 3s, 10s);
        const auto t0 = HangJudge::Clock::now();
        QCOMPARE(idle.look(t0), Verdict::Working);
        QCOMPARE(busy.look(t0), Verdict::Working);
        // No CPU time at all for the whole time is a hang; any is work.
        std::this_thread::sleep_for(300ms);
        QCOMPARE(idle.look(t0 + 9s), Verdict::Working);
        QCOMPARE(idle.look(t0 + 11s), Verdict::Idle);
        QCOMPARE(busy.look(t0 + 11s), Verdict::Working);
        std::this_thread::sleep_for(300ms);
        QCOMPARE(busy.look(t0 + 30s), Verdict::Working);

        // Stopped, it is judged once it has stayed so; let go, it works again.
        ::kill(burner.processId(), SIGSTOP);
        const QString stat = QString("/proc/%1/stat").arg(burner.processId());
        QTRY_VERIFY(testsupport::readFile(stat).contains(") T "));
        const auto t1 = HangJudge::Clock::now();
        QCOMPARE(busy.look(t1), Verdict::Working);
        QCOMPARE(busy.look(t1 + 2s), Verdict::Working);
        QCOMPARE(busy.look(t1 + 3s), Verdict::Stopped);
        ::kill(burner.processId(), SIGCONT);
        std::this_thread::sleep_for(300ms);
        QCOMPARE(busy.look(t1 + 4s), Verdict::Working);

        sleeper.kill();
        QVERIFY(sleeper.waitForFinished(5000));
        QCOMPARE(idle.look(t0 + 40s), Verdict::Gone);
    }

    void supervisorBoundsAndReaps() {
        Supervisor& s = Supervisor::instance();
        QVERIFY_THROWS_EXCEPTION(automation::Error,
                                 s.spawn("/no/such/program", {"/no/such/program"}, -1, -1));

        std::atomic<int> fired{0};
        const uint64_t kept = s.arm(Millis(50), [&] { fired += 1; });
        const uint64_t cancelled = s.arm(Millis(50), [&] { fired += 100; });
        s.disarm(cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(fired.load(), 1, 2000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QCOMPARE(fired.load(), 1);
        s.disarm(kept); // already fired: harmless

        // Disarming an alarm that is firing waits for it: once disarm returns,
        // whatever the expiry does to the office has been done.
        std::atomic<int> stage{0};
        const uint64_t slow = s.arm(Millis(10), [&] {
            stage = 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stage = 2;
        });
        QTRY_COMPARE_WITH_TIMEOUT(stage.load(), 1, 2000);
        s.disarm(slow);
        QCOMPARE(stage.load(), 2);

        // A child that ignores the polite end, with a grandchild in its group:
        // after the grace both are killed and the child is reaped.
        const pid_t child =
            s.spawn("/bin/sh", {"/bin/sh", "-c", "trap '' TERM; sleep 30 & wait"}, -1, -1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QCOMPARE(::getpgid(child), child);
        QElapsedTimer t;
        t.start();
        s.adopt(child, Millis(300));
        QVERIFY(s.drain(Millis(5000)));
        QVERIFY(t.elapsed() >= 250);
        QVERIFY(!alive(child));
        // Nothing left in its group (the orphaned grandchild is reaped by init).
        QTRY_COMPARE_WITH_TIMEOUT(::kill(-child, 0), -1, 3000);
    }
};

VELTRANE_TEST_MAIN(OfficePartsTest)
#include "office_parts_test.moc"
