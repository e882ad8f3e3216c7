// One running program per user and temporary folder, with real program
// processes: a later start hands over to the running one and ends.

#include "app/singleinstance.h"
#include "common/programend.h"
#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

QString sandbox(const QString& name) {
    const QString path = testsupport::sandboxRoot() + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// The real program (or this test run as a stand-in for it, see main),
// started with the test's private environment, its trace of the
// single-instance check on. An empty value removes a variable.
class Program {
  public:
    explicit Program(const QMap<QString, QString>& env = {},
                     const QString& program = QStringLiteral(VELTRANE_PROGRAM)) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("QT_LOGGING_RULES"),
                 QStringLiteral("veltrane.instance.debug=true"));
        for (auto it = env.begin(); it != env.end(); ++it) {
            if (it.value().isEmpty())
                e.remove(it.key());
            else
                e.insert(it.key(), it.value());
        }
        mProcess.setEnvironment(e);
        mProcess.setMergedChannels(true);
        mProcess.start(program, {});
        temps().insert(e.value(QStringLiteral("TEMP")));
    }
    // Every TEMP a program ran with.
    static QSet<QString>& temps() {
        static QSet<QString> used;
        return used;
    }
    ~Program() {
        if (mProcess.running()) {
            mProcess.terminate();
            if (!mProcess.waitForFinished(10000))
                mProcess.kill();
            mProcess.waitForFinished(10000);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Waits (at most a minute, a hang guard) until the output holds text.
    bool waitFor(const QString& text) {
        for (int i = 0; i < 600 && !output().contains(text); ++i) {
            if (!mProcess.running())
                return output().contains(text);
            mProcess.waitForReadyRead(100);
        }
        return output().contains(text);
    }
    // Waits for the end; the exit status, or -1 when it still runs.
    int ended() {
        if (mProcess.running() && !mProcess.waitForFinished(60000))
            return -1;
        return mProcess.exitedNormally() ? mProcess.exitCode() : -2;
    }
    bool running() { return mProcess.running(); }
    void signal(int sig) { ::kill(mProcess.processId(), sig); }
    pid_t pid() const { return mProcess.processId(); }
    void kill() {
        mProcess.kill();
        mProcess.waitForFinished(10000);
    }
    QString output() {
        mOutput += QString::fromLocal8Bit(mProcess.readAll());
        return mOutput;
    }

  private:
    testsupport::ChildProcess mProcess;
    QString mOutput;
};

const QString kAnswering = QStringLiteral("answering later starts");

// Starts a program on temp after another one runs there, until the running
// one has shown its main window and brought it to the front for such a start.
bool bringsItsWindowForward(Program& running, const QString& temp) {
    for (int attempt = 0; attempt < 60; ++attempt) {
        if (attempt > 0)
            QTest::qWait(500); // its main window is not shown yet
        Program later({{QStringLiteral("TEMP"), temp}});
        if (later.ended() != 0 || !running.waitFor(QStringLiteral("a later start ")))
            return false;
        if (running.output().contains(QStringLiteral("brought Form1 to the front")))
            return true;
    }
    return false;
}

// This test run as a program that holds the claim and is slow to end: its
// stand-in office takes 3 s to end once asked (it ignores SIGTERM that long).
// It ends, as the real one does when its window is closed, once the file
// END_NOW names appears.
int runSlowToEnd(int argc, char** argv) {
    QApplication application(argc, argv);
    if (const auto handedOver = app::handOverToRunningProgram())
        return *handedOver;
    static testsupport::ChildProcess office;
    office.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("trap 'sleep 3; exit 0' TERM; while :; do sleep 0.1; done")});
    qAddPostRoutine([] {
        std::fprintf(stderr, "its office is asked to end\n");
        office.terminate();
        office.waitForFinished(10000);
    });
    auto* window = new QWidget;
    window->setObjectName(QStringLiteral("Form1"));
    window->show();
    const QString endNow = qEnvironmentVariable("END_NOW");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QFileInfo::exists(endNow))
            common::endProgram(0);
    });
    poll.start(50);
    return QApplication::exec();
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    // Programs ended by a signal leave their claim's socket and lock in the
    // user's claim folder, which outlives the test's own folders.
    void cleanupTestCase() {
        const QByteArray temp = qgetenv("TEMP");
        for (const QString& used : std::as_const(Program::temps())) {
            qputenv("TEMP", QFile::encodeName(used));
            const QString socket = app::singleInstanceSocketPath();
            QFile::remove(socket);
            QFile::remove(socket + QStringLiteral(".lock"));
        }
        qputenv("TEMP", temp);
    }

    // The running program answers a later start by bringing its window to
    // the front; the later start ends with status 0 having made no settings,
    // cache or office of its own and left the temporary folder alone.
    void aSecondStartBringsTheRunningProgramForwardAndEnds() {
        Program first;
        QVERIFY2(first.waitFor(kAnswering), qPrintable(first.output()));
        const QString temp = qEnvironmentVariable("TEMP");
        bool broughtForward = false;
        for (int attempt = 0; attempt < 60 && !broughtForward; ++attempt) {
            if (attempt > 0)
                QTest::qWait(500); // its main window is not shown yet
            const QStringList tempBefore = entries(temp);
            const QString config = sandbox(QStringLiteral("second-config-%1").arg(attempt));
            const QString cache = sandbox(QStringLiteral("second-cache-%1").arg(attempt));
            Program second({{QStringLiteral("XDG_CONFIG_HOME"), config},
                            {QStringLiteral("XDG_CACHE_HOME"), cache}});
            QCOMPARE(second.ended(), 0);
            QVERIFY2(!second.output().contains(kAnswering), qPrintable(second.output()));
            QCOMPARE(entries(config), QStringList());
            QCOMPARE(entries(cache), QStringList());
            QCOMPARE(entries(temp), tempBefore);
            QVERIFY(first.running());
            QVERIFY(first.waitFor(QStringLiteral("a later start ")));
            broughtForward = first.output().contains(QStringLiteral("brought Form1 to the front"));
        }
        QVERIFY2(broughtForward, qPrintable(first.output()));
    }

    // Started together, one runs and the other hands over to it.
    void twoStartsAtOnceLeaveOneRunningProgram() {
        for (int round = 0; round < 3; ++round) {
            Program a, b;
            QVERIFY2(a.waitFor(kAnswering) || b.waitFor(kAnswering),
                     qPrintable(a.output() + b.output()));
            Program& runner = a.output().contains(kAnswering) ? a : b;
            Program& other = &runner == &a ? b : a;
            QCOMPARE(other.ended(), 0);
            QVERIFY2(!other.output().contains(kAnswering), qPrintable(other.output()));
            QVERIFY(runner.running());
        }
    }

    // A program that was killed leaves its socket behind; the next start
    // runs all the same, and answers the start after it.
    void aStartAfterAKilledProgramRuns() {
        {
            Program killed;
            QVERIFY2(killed.waitFor(kAnswering), qPrintable(killed.output()));
            killed.kill();
        }
        QVERIFY(QFileInfo::exists(app::singleInstanceSocketPath()));
        Program next;
        QVERIFY2(next.waitFor(kAnswering), qPrintable(next.output()));
        Program after;
        QCOMPARE(after.ended(), 0);
        QVERIFY(next.running());
    }

    // Copies with temporary folders of their own share nothing and run side by side.
    void programsWithTheirOwnTemporaryFoldersRunSideBySide() {
        Program one({{QStringLiteral("TEMP"), sandbox(QStringLiteral("temp-one"))}});
        Program two({{QStringLiteral("TEMP"), sandbox(QStringLiteral("temp-two"))}});
        QVERIFY2(one.waitFor(kAnswering), qPrintable(one.output()));
        QVERIFY2(two.waitFor(kAnswering), qPrintable(two.output()));
        QVERIFY(one.running() && two.running());
    }

    // A start while the running program is ending (its office slow to go)
    // waits for it to end and then runs, with its window shown.
    void aStartWhileTheProgramEndsRunsOnceItHasEnded() {
        const QString temp = sandbox(QStringLiteral("temp-ending"));
        const QString endNow = sandbox(QStringLiteral("ending")) + QStringLiteral("/end-now");
        Program ending({{QStringLiteral("TEMP"), temp},
                        {QStringLiteral("SINGLE_INSTANCE_TEST_HELPER"), QStringLiteral("1")},
                        {QStringLiteral("END_NOW"), endNow}},
                       QCoreApplication::applicationFilePath());
        QVERIFY2(ending.waitFor(kAnswering), qPrintable(ending.output()));
        testsupport::writeFile(endNow, "");
        QVERIFY2(ending.waitFor(QStringLiteral("its office is asked to end")),
                 qPrintable(ending.output()));
        QVERIFY(ending.running());
        Program next({{QStringLiteral("TEMP"), temp}});
        QVERIFY2(next.waitFor(kAnswering), qPrintable(next.output()));
        QCOMPARE(ending.ended(), 0);
        QVERIFY(next.running());
        QVERIFY2(bringsItsWindowForward(next, temp), qPrintable(next.output()));
    }

    // Starts with and without a runtime folder or a temporary folder of
    // their own in the environment meet at the same claim.
    void theClaimDoesNotDependOnTheEnvironment() {
        const QString usual = app::singleInstanceSocketPath();
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(sandbox(QStringLiteral("tmpdir"))));
        const QString without = app::singleInstanceSocketPath();
        qputenv("XDG_RUNTIME_DIR", runtime);
        qunsetenv("TMPDIR");
        QCOMPARE(without, usual);

        Program first;
        QVERIFY2(first.waitFor(kAnswering), qPrintable(first.output()));
        Program second({{QStringLiteral("XDG_RUNTIME_DIR"), QString()}});
        QCOMPARE(second.ended(), 0);
        QVERIFY2(!second.output().contains(kAnswering), qPrintable(second.output()));
    }

    // What a killed program left in TEMP in the middle of a generation goes
    // at the next start; the notices it made stay.
    void aStartClearsWhatAKilledGenerationLeft() {
        const QString temp = sandbox(QStringLiteral("temp-killed"));
        testsupport::writeFile(temp + QStringLiteral("/template.dot"), "a stale template");
        testsupport::writeFile(temp + QStringLiteral("/temp.bmp"), "a stale picture");
        testsupport::writeFile(temp + QStringLiteral("/amerrow12345678.doc"), "a notice");
        Program program({{QStringLiteral("TEMP"), temp}});
        QVERIFY2(program.waitFor(kAnswering), qPrintable(program.output()));
        QCOMPARE(entries(temp), QStringList{QStringLiteral("amerrow12345678.doc")});
    }

    // A logout (SIGTERM), a closed terminal (SIGHUP) and Ctrl+C (SIGINT) end
    // the program as closing its window does: its office ends with it and
    // leaves no socket behind, and the shell hears which signal it was.
    void aStopSignalEndsTheProgramAsItsCloseDoes() {
        for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
            Program program({{QStringLiteral("TEMP"), sandbox(QStringLiteral("temp-signal"))}});
            QVERIFY2(program.waitFor(kAnswering), qPrintable(program.output()));
            const QStringList itsSockets{QStringLiteral("OSL_PIPE_%1_veltrane-office-%2-*")
                                             .arg(::getuid())
                                             .arg(program.pid())};
            auto sockets = [&] {
                return QDir(QStringLiteral("/tmp"))
                    .entryList(itsSockets, QDir::AllEntries | QDir::System | QDir::Hidden);
            };
            // Its office is up and listening once the window has been shown.
            QTRY_VERIFY_WITH_TIMEOUT(!sockets().isEmpty(), 60000);
            program.signal(sig);
            QCOMPARE(program.ended(), 128 + sig);
            QCOMPARE(sockets(), QStringList());
        }
    }

    // The window brought forward is the one the user sees: an open box, else
    // the preview while it is shown in place of the hidden main window.
    void theShownWindowIsBroughtForward() {
        QCOMPARE(app::windowToBringForward(), nullptr);
        auto main = std::make_unique<QWidget>();
        main->setObjectName(QStringLiteral("Form1"));
        auto preview = std::make_unique<QWidget>();
        preview->setObjectName(QStringLiteral("Form2"));
        main->show();
        QCOMPARE(app::windowToBringForward(), main.get());
        preview->show();
        main->hide();
        QCOMPARE(app::windowToBringForward(), preview.get());
        auto box = std::make_unique<QMessageBox>();
        box->setModal(true);
        box->show();
        QCOMPARE(app::windowToBringForward(), box.get());
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("SINGLE_INSTANCE_TEST_HELPER"))
        return runSlowToEnd(argc, argv);
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    SingleInstanceTest tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "test_single_instance.moc"
