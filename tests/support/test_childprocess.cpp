// The tests' way of starting programs: what they read of a child must be what
// it wrote and how it ended, or their own checks would pass on nothing.

#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QTest>

#include <csignal>

using testsupport::ChildProcess;

class ChildProcessTest : public QObject {
    Q_OBJECT

  private slots:
    void outputAndExitCodeAreTheChilds() {
        ChildProcess p;
        QVERIFY(p.start("sh", {"-c", "echo one; echo two; echo oops >&2; exit 3"}));
        QVERIFY(p.waitForFinished());
        QVERIFY(p.exitedNormally());
        QCOMPARE(p.exitCode(), 3);
        QCOMPARE(p.readLine(), QByteArray("one\n"));
        QCOMPARE(p.readAllStandardOutput(), QByteArray("two\n"));
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(p.readAllStandardError(), QByteArray("oops\n"));

        ChildProcess merged;
        merged.setMergedChannels(true);
        QVERIFY(merged.start("sh", {"-c", "echo out; echo err >&2"}));
        QVERIFY(merged.waitForFinished());
        QCOMPARE(merged.readAll(), QByteArray("out\nerr\n"));
    }

    void environmentAndFolderAreGiven() {
        ChildProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CHILD_TEST_VALUE", "given");
        p.setEnvironment(env);
        p.setWorkingDirectory(QDir::rootPath());
        QVERIFY(p.start("sh", {"-c", "echo \"$CHILD_TEST_VALUE\"; pwd"}));
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.readAll(), QByteArray("given\n/\n"));
    }

    void aRunningChildIsWatchedAndEnded() {
        ChildProcess p;
        QVERIFY(p.start("sh", {"-c", "echo ready; exec sleep 60"}));
        QVERIFY(p.waitForReadyRead(10000));
        QCOMPARE(p.readLine(), QByteArray("ready\n"));
        QVERIFY(p.running());
        QVERIFY(!p.waitForFinished(50));
        p.kill();
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(!p.running());
        QVERIFY(!p.exitedNormally());
        QVERIFY(::kill(p.processId(), 0) != 0); // reaped, not a zombie of ours
    }

    void aProgramThatCannotRunIsNotStarted() {
        ChildProcess missing;
        QVERIFY(!missing.start("veltrane-no-such-program", {}));
        QVERIFY(!missing.running());
        ChildProcess notExecutable;
        QVERIFY(!notExecutable.start(QDir::rootPath(), {}));
        QVERIFY(!notExecutable.running());
        ChildProcess badFolder;
        badFolder.setWorkingDirectory("/nonexistent/folder");
        QVERIFY(!badFolder.start("sh", {"-c", "true"}));
    }
};

VELTRANE_TEST_MAIN(ChildProcessTest)
#include "test_childprocess.moc"
