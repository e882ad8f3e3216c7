// The shell's shared routines: the error report and its trap, the file
// routines, the temporary folder and the application title.

#include "app/errortrap.h"
#include "app/files.h"
#include "app/procnames.h"
#include "app/shell.h"
#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

class ShellTest : public QObject {
    Q_OBJECT
  private slots:
    void reportTextIsBuiltPieceByPiece() {
        const QString t = app::errorReportText(QString::fromLatin1(app::proc::Form1_Form_Load), 130,
                                               QStringLiteral("Type mismatch"));
        QCOMPARE(t, QStringLiteral("Type mismatch\r\nin Veltrane2021/08/31.Form1.Form_Load at line "
                                   "130\r\rPlease email screenshot of this message to ") +
                        QStringLiteral(VELTRANE_SUPPORT_EMAIL));
    }

    void trapReportsEachFailingStepAndGoesOn() {
        MsgBoxRecorder boxes;
        app::ErrorTrap trap(app::proc::Form2_Picture1_MouseUp);
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
        QCOMPARE(app::shortenTitle(QStringLiteral("Veltrane")), QStringLiteral("Veltrane"));
        const QString forty = QStringLiteral("abcdefghij abcdefghij abcdefghij abcdefg");
        QCOMPARE(forty.size(), 40);
        QCOMPARE(app::shortenTitle(forty), forty);
        // 41 characters with the last space at position 35 (1-based).
        const QString fortyOne = QStringLiteral("abcdefghij abcdefghij abcdefghij a bcdefg");
        QCOMPARE(fortyOne.size(), 41);
        QCOMPARE(fortyOne.lastIndexOf(' '), 34);
        QCOMPARE(app::shortenTitle(fortyOne), fortyOne.left(34));
        QCOMPARE(app::shortenTitle(QString(50, QLatin1Char('x'))), QString(40, QLatin1Char('x')));
        app::ShortenAppTitle();
        QCOMPARE(ui::appTitle(), QStringLiteral("Veltrane"));
    }

    void fileExistsCountsFoldersAndNeverFails() {
        const QString dir = app::TempPath(QStringLiteral("folder"));
        QDir().mkpath(dir);
        QVERIFY(app::FileExists(dir));
        QVERIFY(!app::FileExists(app::TempPath(QStringLiteral("nothing-here"))));
        QVERIFY(!app::FileExists(QString()));
        app::DeleteFileQuietly(app::TempPath(QStringLiteral("nothing-here")));
        app::DeleteFileQuietly(dir); // a folder is not deleted, and nothing is said
        QVERIFY(app::FileExists(dir));
    }

    void writeBytesIfMissingNeverOverwrites() {
        const QString path = app::TempPath(QStringLiteral("template.dot"));
        app::WriteBytesIfMissing(QByteArray("first"), path);
        QCOMPARE(testsupport::readFile(path), QByteArray("first"));
        app::WriteBytesIfMissing(QByteArray("second"), path);
        QCOMPARE(testsupport::readFile(path), QByteArray("first"));

        const QString folder = app::TempPath(QStringLiteral("as-folder.dot"));
        QDir().mkpath(folder);
        app::WriteBytesIfMissing(QByteArray("x"), folder); // exists: nothing written, no failure
        QVERIFY(QFileInfo(folder).isDir());
        QFile::remove(path);
    }

    void writeBytesLetsPendingEventsRunFirst() {
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        app::WriteBytesIfMissing(QByteArray("x"), app::TempPath(QStringLiteral("events.bin")));
        QVERIFY(ran);
    }

    void writeBytesNeverFollowsAPlantedLink() {
        const QString victim = testsupport::sandboxRoot() + QStringLiteral("/victim.txt");
        const QString link = app::TempPath(QStringLiteral("linked.dot"));
        QVERIFY(::symlink(QFile::encodeName(victim).constData(),
                          QFile::encodeName(link).constData()) == 0);
        QVERIFY(!app::FileExists(link)); // dangling: does not count as existing
        QVERIFY_THROWS_EXCEPTION(automation::Error,
                                 app::WriteBytesIfMissing(QByteArray("evil"), link));
        QVERIFY(!QFile::exists(victim));
        // Nothing half-written is left beside it either.
        QCOMPARE(QDir(app::TempFolder())
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
                app::TempPath(rename ? QStringLiteral("claim") : QStringLiteral("move"));
            QVERIFY(QDir().mkpath(dir));
            const QString path = dir + QStringLiteral("/template.dot");
            app::WriteBytesIfMissing(QByteArray(100000, 'w'), path);
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
        const QString image = app::TempPath(QStringLiteral("fat.img"));
        const QString dir = app::TempPath(QStringLiteral("fat"));
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 << 20));
        img.close();
        QVERIFY(QDir().mkpath(dir));
        auto run = [](const QString& program, const QStringList& args) {
            QProcess p; // quietly: both tools talk
            p.start(program, args);
            return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                      : -1;
        };
        QCOMPARE(run(mkfs, {image}), 0);
        if (run(fusefat, {QStringLiteral("-o"), QStringLiteral("rw+"), image, dir}) != 0)
            QSKIP("this machine does not let FUSE mount here");
        struct Unmount {
            QString dir;
            ~Unmount() {
                QProcess p;
                p.start(QStringLiteral("fusermount"), {QStringLiteral("-u"), dir});
                p.waitForFinished(60000);
            }
        } unmount{dir};

        const QString path = dir + QStringLiteral("/template.dot");
        app::WriteBytesIfMissing(QByteArray(300000, 't'), path);
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
            app::WriteBytesIfMissing(QByteArray("x"), QStringLiteral("/nonexistent-folder/t.dot"));
            QFAIL("no failure");
        } catch (const automation::Error& e) {
            QVERIFY(e.description().contains(QStringLiteral("/nonexistent-folder/t.dot")));
        }
    }

    void copyReplacesTargetOnlyWhenComplete() {
        const QString src = testsupport::writeFile(app::TempPath(QStringLiteral("src.doc")),
                                                   QByteArray(200000, 'a'));
        const QString dst = testsupport::writeFile(app::TempPath(QStringLiteral("dst.doc")), "old");
        app::CopyFileWhole(src, dst);
        QCOMPARE(testsupport::readFile(dst), QByteArray(200000, 'a'));

        // A missing source fails and leaves the target as it was.
        testsupport::writeFile(dst, "old");
        QVERIFY_THROWS_EXCEPTION(
            automation::Error, app::CopyFileWhole(app::TempPath(QStringLiteral("gone.doc")), dst));
        QCOMPARE(testsupport::readFile(dst), QByteArray("old"));
        QVERIFY(!QFile::exists(dst + QStringLiteral(".veltrane-partial")));
    }

    void tempFolderFollowsTempInAnyCase() {
        const QByteArray saved = qgetenv("TEMP");
        ::unsetenv("TEMP");
        ::setenv("tEmP", "/some/where", 1);
        QCOMPARE(app::TempFolder(), QStringLiteral("/some/where"));
        QCOMPARE(app::TempPath(QStringLiteral("a.doc")), QStringLiteral("/some/where/a.doc"));
        ::unsetenv("tEmP");

        // Unset or empty: a private folder that only this user can enter.
        ::setenv("TEMP", "", 1);
        const QString priv = app::TempFolder();
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
