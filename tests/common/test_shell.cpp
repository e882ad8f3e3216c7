// The shell's shared routines: the error report and its trap, the file
// routines, the temporary folder and the application title.

#include "common/errortrap.h"
#include "common/files.h"
#include "common/heap.h"
#include "common/procnames.h"
#include "common/shell.h"
#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"
#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <memory>
#include <utility>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

class ShellTest : public QObject {
    Q_OBJECT

    // A folder anyone may enter, for a copy made as another user; null where
    // this test cannot act as another user (it needs root and setpriv).
    static std::unique_ptr<QTemporaryDir> folderForNobody() {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            return nullptr;
        auto base =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/as-nobody-XXXXXX"));
        if (!base->isValid() || ::chmod(QFile::encodeName(base->path()).constData(), 0755) != 0)
            return nullptr;
        return base;
    }

    // The program's copy routine run as user and group 65534 with no other
    // groups; "" when it copied, else why not.
    static QString copyAsNobody(const QString& src, const QString& target) {
        testsupport::ChildProcess p;
        p.start(QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), QStringLiteral(COPY_FILE_AS), src, target});
        if (!p.waitForFinished(60000))
            return QStringLiteral("the copy did not end");
        if (p.exitedNormally() && p.exitCode() == 0)
            return QString();
        return QStringLiteral("the copy failed: ") +
               QString::fromLocal8Bit(p.readAllStandardError());
    }

  private slots:
    // First, before anything in this process has freed a buffer of megabytes.
    void firstPagePictureTakesNoMappingOfItsOwn() {
#ifdef __GLIBC__
        const auto mappings = [] { return mallinfo2().hblks; };
        {
            // The allocator is still new: a buffer of a megabyte is mapped.
            const size_t before = mappings();
            QImage small(512, 512, QImage::Format_RGB32);
            small.fill(Qt::white);
            if (mappings() == before)
                QSKIP("this process's allocator already serves large buffers from its heap");
        }
        common::readyAllocatorForPictures();
        const size_t before = mappings();
        QImage page(1632, 2112, QImage::Format_RGB32); // Letter at 192 dpi
        page.fill(Qt::white);
        QCOMPARE(mappings(), before);
#else
        QSKIP("glibc's allocator only");
#endif
    }

    // Half a second after a preview, the few megabytes a picture at a common
    // screen's resolution leaves free stay for the next notice, which finds
    // its pages there; several times that goes back to the system.
    void freedPictureMemoryIsKeptUpToAFewMegabytes() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("a sanitizer's allocator stands in for glibc's, whose figures this reads");
#elif defined(__GLIBC__)
        common::readyAllocatorForPictures();
        malloc_trim(0);
        // Buffers of 4 MiB, freed together at the heap's top.
        auto heapAfterRelease = [](int buffers) {
            {
                std::vector<QImage> pictures;
                for (int i = 0; i < buffers; ++i) {
                    pictures.emplace_back(1024, 1024, QImage::Format_RGB32);
                    pictures.back().fill(Qt::white);
                }
            }
            const struct mallinfo2 freed = mallinfo2();
            common::releaseFreedMemorySoon();
            QTest::qWait(800);
            return std::pair{freed, mallinfo2()};
        };
        const auto [few, fewLater] = heapAfterRelease(2);
        QVERIFY(few.fordblks >= size_t(8) << 20);
        QCOMPARE(fewLater.arena, few.arena);
        const auto [many, manyLater] = heapAfterRelease(8);
        QVERIFY(many.fordblks > common::keptFreeHeapBytes());
        QVERIFY2(manyLater.arena + common::keptFreeHeapBytes() < many.arena,
                 qPrintable(QStringLiteral("%1 then %2").arg(many.arena).arg(manyLater.arena)));
#else
        QSKIP("glibc's allocator only");
#endif
    }

    // The program starts again once, with the setting that gives its heap
    // huge pages, and keeps its threads on that one heap; its arguments, and
    // the environment the programs it starts see, are the caller's. A setting
    // of the user's own is kept as it is.
    void restartGivesHugePagesAndOneHeapAndKeepsTheCallersEnvironment_data() {
        QTest::addColumn<QString>("callers");
        QTest::addColumn<bool>("huge");
        QTest::addColumn<bool>("oneHeap");
        QTest::newRow("no tunables") << QString() << true << true;
        QTest::newRow("other tunables") << QStringLiteral("glibc.malloc.mxfast=64") << true << true;
        QTest::newRow("heaps of the user's own")
            << QStringLiteral("glibc.malloc.arena_max=2") << true << false;
        QTest::newRow("huge pages turned off")
            << QStringLiteral("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=0") << false << false;
    }

    void restartGivesHugePagesAndOneHeapAndKeepsTheCallersEnvironment() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer's allocator stands in for glibc's");
#endif
        QFile mode(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
        if (!mode.open(QIODevice::ReadOnly) || mode.readAll().contains("[never]"))
            QSKIP("this system offers no transparent huge pages");
        QFETCH(QString, callers);
        QFETCH(bool, huge);
        QFETCH(bool, oneHeap);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("GLIBC_TUNABLES"));
        env.remove(QStringLiteral("MALLOC_ARENA_MAX"));
        if (!callers.isEmpty())
            env.insert(QStringLiteral("GLIBC_TUNABLES"), callers);
        testsupport::ChildProcess p;
        p.setEnvironment(env);
        QVERIFY(
            p.start(QStringLiteral(HEAP_PROBE), {QStringLiteral("one"), QStringLiteral("t w o")}));
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.exitedNormally());
        QCOMPARE(p.exitCode(), 0);
        const auto yesNo = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
        const QString expected = QStringLiteral("sees: %1\nmarker: gone\nhuge pages: %2\n"
                                                "a thread's memory on the main heap: %3\n"
                                                "argument: one\nargument: t w o\n")
                                     .arg(callers.isEmpty() ? QStringLiteral("-") : callers,
                                          yesNo(huge), yesNo(oneHeap));
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()), expected);
    }

    void reportTextIsBuiltPieceByPiece() {
        const QString t = common::errorReportText(QString::fromLatin1(common::proc::mainWindowLoad),
                                                  130, QStringLiteral("Type mismatch"));
        QCOMPARE(t, QStringLiteral("Type mismatch\r\nin Veltrane2021/08/31.Form1.Form_Load at line "
                                   "130\r\rPlease email screenshot of this message to ") +
                        QStringLiteral(VELTRANE_SUPPORT_EMAIL));
    }

    void trapReportsEachFailingStepAndGoesOn() {
        MsgBoxRecorder boxes;
        common::ErrorTrap trap(common::proc::viewerReleased);
        QStringList ran;
        trap.at(100, [&] { throw automation::Error(QString()); });
        trap.at(102, [&] { ran << "102"; });
        trap.at(104, [&] { throw std::runtime_error("second"); });
        trap.line(106);
        trap.at(108, [&] { ran << "108"; });
        QCOMPARE(ran, QStringList({"102", "108"}));
        QCOMPARE(boxes.seen.size(), 2);
        // An empty description still gives a box whose second line starts with "in ".
        QVERIFY(boxes.seen[0].prompt.startsWith(
            QStringLiteral("\r\nin Veltrane2021/08/31.Form2.Picture1_MouseUp at line 100\r\r")));
        QVERIFY(boxes.seen[1].prompt.startsWith(QStringLiteral("second\r\n")));
        QVERIFY(boxes.seen[1].prompt.contains(QStringLiteral("at line 104\r\r")));
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes.seen[0].style, int(ui::vbExclamation | ui::vbOKOnly));
    }

    void displayTurnsCarriageReturnsIntoLineBreaks() {
        QCOMPARE(ui::displayText(QStringLiteral("a\r\nb\r\rc")), QStringLiteral("a\nb\n\nc"));
    }

    void titleLosesWholeWordsPast40Characters() {
        QCOMPARE(common::shortenTitle(QStringLiteral("Veltrane")), QStringLiteral("Veltrane"));
        const QString forty = QStringLiteral("abcdefghij abcdefghij abcdefghij abcdefg");
        QCOMPARE(forty.size(), 40);
        QCOMPARE(common::shortenTitle(forty), forty);
        // 41 characters with the last space at position 35 (1-based).
        const QString fortyOne = QStringLiteral("abcdefghij abcdefghij abcdefghij a bcdefg");
        QCOMPARE(fortyOne.size(), 41);
        QCOMPARE(fortyOne.lastIndexOf(' '), 34);
        QCOMPARE(common::shortenTitle(fortyOne), fortyOne.left(34));
        QCOMPARE(common::shortenTitle(QString(50, QLatin1Char('x'))),
                 QString(40, QLatin1Char('x')));
        common::shortenAppTitle();
        QCOMPARE(ui::appTitle(), QStringLiteral("Veltrane"));
    }

    void fileExistsCountsFoldersAndNeverFails() {
        const QString dir = common::tempPath(QStringLiteral("folder"));
        QDir().mkpath(dir);
        QVERIFY(common::fileExists(dir));
        QVERIFY(!common::fileExists(common::tempPath(QStringLiteral("nothing-here"))));
        QVERIFY(!common::fileExists(QString()));
        common::deleteFileQuietly(common::tempPath(QStringLiteral("nothing-here")));
        common::deleteFileQuietly(dir); // a folder is not deleted, and nothing is said
        QVERIFY(common::fileExists(dir));
    }

    void writeBytesIfMissingNeverOverwrites() {
        const QString path = common::tempPath(QStringLiteral("template.dot"));
        common::writeBytesIfMissing(QByteArray("first"), path);
        QCOMPARE(testsupport::readFile(path), QByteArray("first"));
        common::writeBytesIfMissing(QByteArray("second"), path);
        QCOMPARE(testsupport::readFile(path), QByteArray("first"));

        const QString folder = common::tempPath(QStringLiteral("as-folder.dot"));
        QDir().mkpath(folder);
        common::writeBytesIfMissing(QByteArray("x"), folder); // exists: nothing written, no failure
        QVERIFY(QFileInfo(folder).isDir());
        QFile::remove(path);
    }

    void writeBytesLetsPendingEventsRunFirst() {
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        common::writeBytesIfMissing(QByteArray("x"),
                                    common::tempPath(QStringLiteral("events.bin")));
        QVERIFY(ran);
    }

    void writeBytesNeverFollowsAPlantedLink() {
        const QString victim = testsupport::sandboxRoot() + QStringLiteral("/victim.txt");
        const QString link = common::tempPath(QStringLiteral("linked.dot"));
        QVERIFY(::symlink(QFile::encodeName(victim).constData(),
                          QFile::encodeName(link).constData()) == 0);
        QVERIFY(!common::fileExists(link)); // dangling: does not count as existing
        QVERIFY_THROWS_EXCEPTION(automation::Error,
                                 common::writeBytesIfMissing(QByteArray("evil"), link));
        QVERIFY(!QFile::exists(victim));
        // Nothing half-written is left beside it either.
        QCOMPARE(QDir(common::tempFolder())
                     .entryList({QStringLiteral(".*partial*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void writeBytesWorksWithoutHardLinks() {
        // vfat and exFAT refuse link(); NFS and some FUSE mounts also refuse the
        // exclusive rename. Each route keeps the same promises.
        const ui::testing::PathCall noLink = [](const char*, const char*) {
            errno = EPERM;
            return -1;
        };
        const ui::testing::PathCall noExclusiveRename = [](const char*, const char*) {
            errno = EINVAL;
            return -1;
        };
        for (const ui::testing::PathCall rename :
             {ui::testing::PathCall(nullptr), noExclusiveRename}) {
            ui::testing::setPathCallsForTests(noLink, rename);
            const QString dir =
                common::tempPath(rename ? QStringLiteral("claim") : QStringLiteral("move"));
            QVERIFY(QDir().mkpath(dir));
            const QString path = dir + QStringLiteral("/template.dot");
            common::writeBytesIfMissing(QByteArray(100000, 'w'), path);
            QCOMPARE(testsupport::readFile(path), QByteArray(100000, 'w'));
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), 0600);

            // Something that takes the name first is never replaced...
            QVERIFY_THROWS_EXCEPTION(automation::Error, ui::writeNewFile("second", path));
            QCOMPARE(testsupport::readFile(path), QByteArray(100000, 'w'));
            // ...and a planted link is never followed.
            const QString victim = dir + QStringLiteral("/victim.txt");
            const QString link = dir + QStringLiteral("/temp.bmp");
            QVERIFY(::symlink(QFile::encodeName(victim).constData(),
                              QFile::encodeName(link).constData()) == 0);
            QVERIFY_THROWS_EXCEPTION(automation::Error, ui::writeNewFile("evil", link));
            QVERIFY(!QFile::exists(victim));
            QVERIFY(QFileInfo(link).isSymLink());
            QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System),
                     QStringList({QStringLiteral("temp.bmp"), QStringLiteral("template.dot")}));
            QDir(dir).removeRecursively();
        }
        ui::testing::setPathCallsForTests(nullptr, nullptr);
    }

    void writeBytesOnARealFatFileSystem() {
        // FAT through FUSE has neither hard links nor the exclusive rename.
        const QString fusefat = QStandardPaths::findExecutable(QStringLiteral("fusefat"));
        const QString mkfs = QStandardPaths::findExecutable(
            QStringLiteral("mkfs.vfat"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (fusefat.isEmpty() || mkfs.isEmpty() || !QFileInfo::exists(QStringLiteral("/dev/fuse")))
            QSKIP("no FAT file system through FUSE here (fusefat, dosfstools)");
        const QString image = common::tempPath(QStringLiteral("fat.img"));
        const QString dir = common::tempPath(QStringLiteral("fat"));
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 << 20));
        img.close();
        QVERIFY(QDir().mkpath(dir));
        auto run = [](const QString& program, const QStringList& args) {
            testsupport::ChildProcess p; // quietly: both tools talk
            return p.start(program, args) && p.waitForFinished(60000) && p.exitedNormally()
                       ? p.exitCode()
                       : -1;
        };
        QCOMPARE(run(mkfs, {image}), 0);
        if (run(fusefat, {QStringLiteral("-o"), QStringLiteral("rw+"), image, dir}) != 0)
            QSKIP("this machine does not let FUSE mount here");
        struct Unmount {
            QString dir;
            ~Unmount() {
                testsupport::ChildProcess p;
                p.start(QStringLiteral("fusermount"), {QStringLiteral("-u"), dir});
                p.waitForFinished(60000);
            }
        } unmount{dir};

        const QString path = dir + QStringLiteral("/template.dot");
        common::writeBytesIfMissing(QByteArray(300000, 't'), path);
        QCOMPARE(testsupport::readFile(path), QByteArray(300000, 't'));
        QVERIFY(::link(QFile::encodeName(path).constData(),
                       QFile::encodeName(dir + QStringLiteral("/other")).constData()) != 0);
        QVERIFY_THROWS_EXCEPTION(automation::Error, ui::writeNewFile("second", path));
        QCOMPARE(testsupport::readFile(path), QByteArray(300000, 't'));
        ui::writeNewFile("picture", dir + QStringLiteral("/temp.bmp"));
        QCOMPARE(testsupport::readFile(dir + QStringLiteral("/temp.bmp")), QByteArray("picture"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("temp.bmp"), QStringLiteral("template.dot")}));
    }

    void writeBytesIntoAMissingFolderFailsClearly() {
        try {
            common::writeBytesIfMissing(QByteArray("x"),
                                        QStringLiteral("/nonexistent-folder/t.dot"));
            QFAIL("no failure");
        } catch (const automation::Error& e) {
            QVERIFY(e.description().contains(QStringLiteral("/nonexistent-folder/t.dot")));
        }
    }

    void copyReplacesTargetOnlyWhenComplete() {
        const QString src = testsupport::writeFile(common::tempPath(QStringLiteral("src.doc")),
                                                   QByteArray(200000, 'a'));
        const QString dst =
            testsupport::writeFile(common::tempPath(QStringLiteral("dst.doc")), "old");
        common::copyFileWhole(src, dst);
        QCOMPARE(testsupport::readFile(dst), QByteArray(200000, 'a'));

        // A missing source fails and leaves the target as it was.
        testsupport::writeFile(dst, "old");
        QVERIFY_THROWS_EXCEPTION(
            automation::Error,
            common::copyFileWhole(common::tempPath(QStringLiteral("gone.doc")), dst));
        QCOMPARE(testsupport::readFile(dst), QByteArray("old"));

        // A copy that cannot take the name (a folder holds it) is not left
        // behind under its own hidden name.
        const QString folder = common::tempPath(QStringLiteral("folder.doc"));
        testsupport::writeFile(folder + QStringLiteral("/inside"), "x");
        quint64 next = 1;
        common::testing::setCopyNameForTests([&] { return next++; });
        QVERIFY_THROWS_EXCEPTION(automation::Error, common::copyFileWhole(src, folder));
        common::testing::setCopyNameForTests({});
        QCOMPARE(next, quint64(2)); // the copy was made, as .~vt1
        QCOMPARE(QDir(common::tempFolder())
                     .entryList({QStringLiteral(".~vt*")}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
        QDir(folder).removeRecursively();
    }

    // Writing in place over a file whose folder takes no new file, with each
    // write, cut and sync failing in turn: the old file keeps every byte.
    void copyInPlaceFailingAnyStepKeepsTheOldBytes_data() {
        QTest::addColumn<int>("newSize");
        QTest::addColumn<bool>("canReserve");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("fails");
        const QList<std::pair<const char*, int>> sizes{
            {"grow", 150000}, {"shrink", 40000}, {"empty", 0}};
        for (const auto& [size, bytes] : sizes)
            for (const bool reserve : {true, false})
                for (const char* step : {"write", "truncate", "sync"}) {
                    // Growing never cuts, so a failing cut is never reached.
                    const bool fails = !(bytes > 100000 && QByteArray(step) == "truncate");
                    QTest::addRow("%s, %s, %s fails", size, reserve ? "reserved" : "no reserve",
                                  step)
                        << bytes << reserve << QString::fromLatin1(step) << fails;
                }
    }
    void copyInPlaceFailingAnyStepKeepsTheOldBytes() {
        QFETCH(int, newSize);
        QFETCH(bool, canReserve);
        QFETCH(QString, failing);
        QFETCH(bool, fails);
        QByteArray old(100000, Qt::Uninitialized);
        for (int i = 0; i < old.size(); ++i)
            old[i] = char('a' + i % 23);
        const QByteArray fresh(newSize, 'n');
        const QString dir = common::tempPath(QStringLiteral("in-place"));
        const QString target = testsupport::writeFile(dir + QStringLiteral("/notice.doc"), old);
        const QString src =
            testsupport::writeFile(common::tempPath(QStringLiteral("new.doc")), fresh);
        testsupport::Sealed folder(dir);
        if (!folder.sealed)
            QSKIP("this file system cannot seal a folder");

        // The failing step does its damage first, as a disk or a network
        // mount reporting late would, and fails once; later calls are real.
        int calls = 0;
        common::testing::InPlaceCalls stand;
        if (!canReserve)
            stand.reserve = [](int, long long) { return EOPNOTSUPP; };
        if (failing == QLatin1String("write"))
            stand.write = [&](int fd, const char* data, long long size, long long at) {
                if (calls++ > 0)
                    return common::testing::realWriteAt(fd, data, size, at);
                common::testing::realWriteAt(fd, data, size / 2, at);
                return EIO;
            };
        if (failing == QLatin1String("truncate"))
            stand.truncate = [&](int fd, long long length) {
                const int err = ::ftruncate(fd, length) == 0 ? 0 : errno;
                return calls++ > 0 ? err : EIO;
            };
        if (failing == QLatin1String("sync"))
            stand.sync = [&](int fd) {
                ::fsync(fd);
                return calls++ > 0 ? 0 : EIO;
            };
        common::testing::setInPlaceCallsForTests(stand);
        bool threw = false;
        try {
            common::copyFileWhole(src, target);
        } catch (const automation::Error& e) {
            threw = true;
            QVERIFY2(e.description().contains(target), qPrintable(e.description()));
        }
        common::testing::setInPlaceCallsForTests({});
        QCOMPARE(threw, fails);
        QCOMPARE(testsupport::readFile(target), fails ? old : fresh);
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("notice.doc")});
    }

    // A link is written through: the file it names takes the new bytes and
    // keeps its permissions, owner and group; the link stays a link.
    void copyWritesThroughALink() {
        const QString shared = common::tempPath(QStringLiteral("hr"));
        const QString mine = common::tempPath(QStringLiteral("mine"));
        QVERIFY(QDir().mkpath(mine));
        const QString real =
            testsupport::writeFile(shared + QStringLiteral("/notice.doc"), "the shared notice");
        const QByteArray r = QFile::encodeName(real);
        QCOMPARE(::chmod(r.constData(), 0600), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(r.constData(), 65534, 65534), 0);
        struct stat before {};
        QCOMPARE(::stat(r.constData(), &before), 0);
        // Through two links, the first relative to its folder.
        const QString link = mine + QStringLiteral("/notice.doc");
        const QString hop = mine + QStringLiteral("/hop.doc");
        QVERIFY(QFile::link(real, hop));
        QCOMPARE(::symlink("hop.doc", QFile::encodeName(link).constData()), 0);
        const QString src =
            testsupport::writeFile(common::tempPath(QStringLiteral("src.doc")), "new");

        common::copyFileWhole(src, link);
        QCOMPARE(QFileInfo(link).symLinkTarget(), hop);
        QCOMPARE(testsupport::readFile(real), QByteArray("new"));
        struct stat after {};
        QCOMPARE(::stat(r.constData(), &after), 0);
        QCOMPARE(int(after.st_mode & 07777), 0600);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("notice.doc")});
        QCOMPARE(QDir(mine).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot |
                                      QDir::System),
                 (QStringList{QStringLiteral("hop.doc"), QStringLiteral("notice.doc")}));

        // A link that points nowhere: the file it names is made.
        const QString dangling = mine + QStringLiteral("/new.doc");
        QCOMPARE(::symlink("../hr/made.doc", QFile::encodeName(dangling).constData()), 0);
        common::copyFileWhole(src, dangling);
        QVERIFY(QFileInfo(dangling).isSymLink());
        QCOMPARE(testsupport::readFile(shared + QStringLiteral("/made.doc")), QByteArray("new"));

        // ...unless its folder is missing or takes no new file: the error says
        // which file that is, and nothing is made.
        const QString nowhere = mine + QStringLiteral("/nowhere.doc");
        QCOMPARE(::symlink("../gone/away.doc", QFile::encodeName(nowhere).constData()), 0);
        try {
            common::copyFileWhole(src, nowhere);
            QFAIL("no failure");
        } catch (const automation::Error& e) {
            QVERIFY2(e.description().contains(mine + QStringLiteral("/../gone/away.doc")) &&
                         e.description().contains(nowhere),
                     qPrintable(e.description()));
        }
        QVERIFY(QFileInfo(nowhere).isSymLink());
        testsupport::Sealed folder(shared);
        if (folder.sealed) {
            const QString sealed = mine + QStringLiteral("/sealed.doc");
            QCOMPARE(::symlink("../hr/refused.doc", QFile::encodeName(sealed).constData()), 0);
            QVERIFY_THROWS_EXCEPTION(automation::Error, common::copyFileWhole(src, sealed));
            QVERIFY(!QFileInfo::exists(shared + QStringLiteral("/refused.doc")));
            QVERIFY(QFileInfo(sealed).isSymLink());
        }
    }

    // A replacement keeps who may read the old file; a new file gets what
    // the umask gives.
    void copyKeepsTheReplacedFilesPermissions() {
        const QString src =
            testsupport::writeFile(common::tempPath(QStringLiteral("src.doc")), "new");
        const QString kept = testsupport::writeFile(common::tempPath(QStringLiteral("private.doc")),
                                                    "an older, private notice");
        const QByteArray k = QFile::encodeName(kept);
        QCOMPARE(::chmod(k.constData(), 0600), 0);
        const bool root = ::geteuid() == 0;
        if (root) // someone else's file, in someone else's group
            QCOMPARE(::chown(k.constData(), 65534, 65534), 0);
        const QString fresh = common::tempPath(QStringLiteral("fresh.doc"));
        const mode_t savedMask = ::umask(027);
        common::copyFileWhole(src, kept);
        common::copyFileWhole(src, fresh);
        ::umask(savedMask);

        struct stat st {};
        QCOMPARE(::stat(k.constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        if (root) {
            QCOMPARE(int(st.st_uid), 65534);
            QCOMPARE(int(st.st_gid), 65534);
        }
        QCOMPARE(testsupport::readFile(kept), QByteArray("new"));
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0640);
    }

    // The longest name a folder takes: the copy beside it must not need more.
    void copySavesUnderTheLongestName() {
        const QString dir = common::tempPath(QStringLiteral("long"));
        QVERIFY(QDir().mkpath(dir));
        const QString src =
            testsupport::writeFile(common::tempPath(QStringLiteral("src.doc")), "new");
        const QString name = QString(84, QChar(0x8B66)) + QStringLiteral("abc"); // 255 bytes
        QCOMPARE(QFile::encodeName(name).size(), 255);
        const QString target = dir + QLatin1Char('/') + name;
        common::copyFileWhole(src, target);
        testsupport::writeFile(src, "newer");
        common::copyFileWhole(src, target);
        QCOMPARE(testsupport::readFile(target), QByteArray("newer"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{name});
    }

    // In a shared folder with the sticky bit another user's 0666 file may be
    // written but not replaced: it is written over where it is.
    void copyWritesInPlaceWhereTheStickyBitRefusesReplacing() {
        const auto base = folderForNobody();
        if (!base)
            QSKIP("needs root and setpriv to act as another user");
        const QString src = testsupport::writeFile(base->filePath(QStringLiteral("src.doc")),
                                                   QByteArray(5000, 'n'));
        const QString shared = base->filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        const QString target =
            testsupport::writeFile(shared + QStringLiteral("/theirs.doc"), QByteArray(9000, 'o'));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0666), 0);
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &before), 0);

        const QString failed = copyAsNobody(src, target);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(testsupport::readFile(target), QByteArray(5000, 'n'));
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(QDir(shared).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("theirs.doc")});
    }

    // Another user replacing a file whose group they are not in: the copy
    // goes to their own group, without the old group's rights.
    void copyClearsTheGroupsRightsWhenTheGroupCannotBeKept() {
        const auto base = folderForNobody();
        if (!base)
            QSKIP("needs root and setpriv to act as another user");
        const QString src =
            testsupport::writeFile(base->filePath(QStringLiteral("src.doc")), QByteArray("new"));
        const QString theirs = base->filePath(QStringLiteral("theirs"));
        QVERIFY(QDir().mkpath(theirs));
        QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        const QString target =
            testsupport::writeFile(theirs + QStringLiteral("/notice.doc"), "old");
        const QByteArray t = QFile::encodeName(target);
        // Their own file, in a group (root's) they are not in.
        QCOMPARE(::chown(t.constData(), 65534, 0), 0);
        QCOMPARE(::chmod(t.constData(), 0660), 0);

        const QString failed = copyAsNobody(src, target);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(testsupport::readFile(target), QByteArray("new"));
        struct stat st {};
        QCOMPARE(::stat(t.constData(), &st), 0);
        QCOMPARE(int(st.st_gid), 65534);
        QCOMPARE(int(st.st_mode & 07777), 0600);
    }

    // Writing in place when the disk fills part way: whether room can be
    // reserved or not, the old file is left as it was.
    void copyInPlaceOnAFullDiskKeepsTheOldFile_data() {
        QTest::addColumn<bool>("canReserve");
        QTest::newRow("room reserved first") << true;
        QTest::newRow("no reservation, old bytes put back") << false;
    }
    void copyInPlaceOnAFullDiskKeepsTheOldFile() {
        QFETCH(bool, canReserve);
        const QString mount = common::tempPath(QStringLiteral("small-disk"));
        QVERIFY(QDir().mkpath(mount));
        const QByteArray m = QFile::encodeName(mount);
        if (::mount("tmpfs", m.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("this machine does not let a small file system be mounted here");
        struct Unmount {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{m};
        const QString dir = mount + QStringLiteral("/shared");
        const QString target =
            testsupport::writeFile(dir + QStringLiteral("/notice.doc"), QByteArray(200000, 'o'));
        struct statvfs fs {};
        QCOMPARE(::statvfs(m.constData(), &fs), 0);
        testsupport::writeFile(mount + QStringLiteral("/filler"),
                               QByteArray(qsizetype(fs.f_bavail * fs.f_bsize) - 100000, 'f'));
        const QString src = testsupport::writeFile(common::tempPath(QStringLiteral("big.doc")),
                                                   QByteArray(600000, 'n'));
        testsupport::Sealed folder(dir);
        if (!folder.sealed)
            QSKIP("this file system cannot seal a folder");
        if (!canReserve)
            common::testing::setReserveForTests([](int, long long) { return EOPNOTSUPP; });
        QVERIFY_THROWS_EXCEPTION(automation::Error, common::copyFileWhole(src, target));
        common::testing::setReserveForTests(nullptr);
        QCOMPARE(testsupport::readFile(target), QByteArray(200000, 'o'));
    }

    // The same where the write is cut short by the file size limit, which
    // any user can set.
    void copyInPlaceCutShortPutsTheOldBytesBack() {
        const QString dir = common::tempPath(QStringLiteral("limited"));
        const QString target =
            testsupport::writeFile(dir + QStringLiteral("/notice.doc"), QByteArray(100000, 'o'));
        const QString src = testsupport::writeFile(common::tempPath(QStringLiteral("big.doc")),
                                                   QByteArray(300000, 'n'));
        testsupport::Sealed folder(dir);
        if (!folder.sealed)
            QSKIP("this file system cannot seal a folder");
        common::testing::setReserveForTests([](int, long long) { return EOPNOTSUPP; });
        struct rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = 150000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        bool threw = false;
        try {
            common::copyFileWhole(src, target);
        } catch (const automation::Error&) {
            threw = true;
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        common::testing::setReserveForTests(nullptr);
        QVERIFY(threw);
        QCOMPARE(testsupport::readFile(target), QByteArray(100000, 'o'));
    }

    void tempFolderFollowsTempInAnyCase() {
        const QByteArray saved = qgetenv("TEMP");
        ::unsetenv("TEMP");
        ::setenv("tEmP", "/some/where", 1);
        QCOMPARE(common::tempFolder(), QStringLiteral("/some/where"));
        QCOMPARE(common::tempPath(QStringLiteral("a.doc")), QStringLiteral("/some/where/a.doc"));
        ::unsetenv("tEmP");

        // Unset or empty: a private folder that only this user can enter.
        ::setenv("TEMP", "", 1);
        const QString priv = common::tempFolder();
        QVERIFY(!priv.isEmpty());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(priv).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0700);
        QCOMPARE(st.st_uid, ::getuid());
        ::setenv("TEMP", saved.constData(), 1);
    }
};

VELTRANE_TEST_MAIN(ShellTest)
#include "test_shell.moc"
