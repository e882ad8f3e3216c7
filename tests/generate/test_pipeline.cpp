// One generation against the recording word processor: the exact member
// calls, the temporary files, the hand-over, and what failures leave behind.

#include "app/mainwindow.h"
#include "app/stopsignals.h"
#include "common/files.h"
#include "common/programend.h"
#include "common/shell.h"
#include "generate/clipboard.h"
#include "generate/randomname.h"
#include "preview/previewwindow.h"
#include "tests/support/fakeword.h"
#include "tests/support/testenv.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>

using testsupport::MsgBoxRecorder;

namespace {

QStringList tempFiles() {
    return QDir(common::tempFolder()).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

void clearTemp() {
    for (const QString& f : tempFiles())
        QFile::remove(common::tempPath(f));
}

double fixedClock() {
    return 1234.5;
}

} // namespace

class PipelineTest : public QObject {
    Q_OBJECT
    std::shared_ptr<testsupport::FakeWordState> word;
    QPointer<MainWindow> form;

    // Runs one generation and returns the log from the first CreateObject on.
    QStringList generate() {
        word->log.clear();
        form->createClicked();
        return word->log;
    }

    void openMainWindow() {
        MsgBoxRecorder boxes;
        form = MainWindow::create();
        QVERIFY(boxes.seen.isEmpty());
        form->show();
    }

  private slots:
    void initTestCase() {
        word = testsupport::installFakeWord();
        common::setAppPathForTests(testsupport::sandboxRoot());
    }

    void init() {
        if (!form)
            openMainWindow();
        QVERIFY(form);
        clearTemp();
        word->failOn.clear();
        word->failAfter = 0;
        word->failTimes = 1 << 30;
        word->failCreate = false;
        word->onCall = nullptr;
        word->stories = {QStringLiteral("Name: [EmployeeName] Date: [CurrentDate]")};
        word->shapeTexts.clear();
        word->shapeHasText.clear();
        QImage pic(300, 400, QImage::Format_RGB32);
        pic.fill(Qt::white);
        pic.setDotsPerMeterX(7559); // 192 dpi
        pic.setDotsPerMeterY(7559);
        word->picture = pic;
        for (int i = 0; i < 9; ++i)
            form->fields()[size_t(i)]->SetText(QStringLiteral("v%1").arg(i));
        if (PreviewWindow* f2 = PreviewWindow::loaded())
            f2->hide();
        form->show();
    }

    // Every story and every shape's text frame gets the nine values; a shape
    // without a text frame is left alone; the template is only ever read; and
    // no word processor is left running.
    void fillsEveryStoryAndTextFrameAndSavesTheNotice() {
        MsgBoxRecorder boxes;
        word->stories = {QStringLiteral("Name: [EmployeeName] Date: [CurrentDate]"),
                         QStringLiteral("Footer [EmployeeID] [employeeid]"),
                         QStringLiteral("no placeholder here")};
        word->shapeTexts = {QStringLiteral("[Manager] outside any frame"),
                            QStringLiteral("Box: [Manager], [JobTitle]"),
                            QStringLiteral("[Department][Infraction][Improvement][Consequences]")};
        word->shapeHasText = {false, true, true};
        const int createdBefore = word->instancesCreated;
        const int quitBefore = word->instancesQuit;
        generate();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join("\n---\n")));

        const QString doc = PreviewWindow::loaded()->mWordFile;
        QCOMPARE(
            word->saved.value(doc),
            QStringLiteral("Name: v0 Date: v7\n----\nFooter v8 v8\n----\nno placeholder here"));
        QCOMPARE(word->savedShapes.value(doc),
                 (QStringList{QStringLiteral("[Manager] outside any frame"),
                              QStringLiteral("Box: v1, v6"), QStringLiteral("v2v3v4v5")}));
        QCOMPARE(testsupport::readFile(doc), word->saved.value(doc).toUtf8());
        const QString tpl = common::tempPath(QStringLiteral("template.dot"));
        QVERIFY(word->openedReadOnly.contains(tpl));
        QVERIFY(word->openedReadOnly.value(tpl));
        QVERIFY(!QFile::exists(tpl));
        // One word processor fills, a second renders; both quit.
        QCOMPARE(word->instancesCreated - createdBefore, 2);
        QCOMPARE(word->instancesQuit - quitBefore, 2);
        QCOMPARE(word->liveInstances, 0);
    }

    void leavesOnlyTheFilledDocumentAndHandsOver() {
        MsgBoxRecorder boxes;
        generate();
        QVERIFY(boxes.seen.isEmpty());
        const QStringList files = tempFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^amerrow[1-9]{8}\\.doc$"))
                     .match(files[0])
                     .hasMatch(),
                 qPrintable(files[0]));
        PreviewWindow* preview = PreviewWindow::loaded();
        QVERIFY(preview);
        QCOMPARE(preview->mWordFile, common::tempPath(files[0]));
        QVERIFY(preview->isVisible());
        QVERIFY(!form->isVisible());
        QCOMPARE(preview->picture().size(), QSize(300, 400));
        QVERIFY(!form->mBusy);
        QCOMPARE(form->pointer.MousePointer(), int(ui::vbDefault));
        // The clipboard now holds what the word processor copied.
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(300, 400));
        QCOMPARE(generate::lastClipboardAttempts(), 1);
    }

    void backFromThePreviewShowsTheMainWindowAgain() {
        MsgBoxRecorder boxes;
        generate();
        PreviewWindow* preview = PreviewWindow::loaded();
        const QString document = preview->mWordFile;
        QTest::mouseClick(preview->backButton, Qt::LeftButton);
        QVERIFY(form->isVisible());
        QVERIFY(!preview->isVisible());
        QVERIFY(!QFile::exists(document));

        // Should the main window be gone, Back loads it again.
        generate();
        delete form.data();
        QTest::mouseClick(preview->backButton, Qt::LeftButton);
        form = MainWindow::instance();
        QVERIFY(form);
        QVERIFY(form->isVisible());
        QVERIFY(boxes.seen.isEmpty());
    }

    void replacementFollowsTheFieldOrder() {
        MsgBoxRecorder boxes;
        word->stories = {
            QStringLiteral("A=[EmployeeName] B=[JobTitle] C=[Manager] D=[employeename]")};
        form->field(entry::Fact::EmployeeName)->SetText(QStringLiteral("x[JobTitle]x"));
        form->field(entry::Fact::JobTitle)->SetText(QStringLiteral("y[EmployeeName]y"));
        form->field(entry::Fact::Manager)->SetText(QString());
        generate();
        // A later placeholder typed into an earlier field is replaced again;
        // an earlier one stays as typed; an empty field removes its placeholder.
        QCOMPARE(word->saved.value(PreviewWindow::loaded()->mWordFile),
                 QStringLiteral("A=xy[EmployeeName]yx B=y[EmployeeName]y C= D=xy[EmployeeName]yx"));
    }

    void aSecondClickDuringTheMessageYieldDoesNothing() {
        MsgBoxRecorder boxes;
        QTimer::singleShot(0, form->createButton, &QPushButton::click);
        const QStringList log = generate();
        QCOMPARE(log.count(QStringLiteral("CreateObject(Word.Application)")), 2);
        QCOMPARE(tempFiles().size(), 1);
        QVERIFY(!form->mBusy);
    }

    void aClickQueuedForTheHiddenWindowIsIgnored() {
        MsgBoxRecorder boxes;
        generate();
        QVERIFY(!form->isVisible());
        const int created = word->instancesCreated;
        // A double-click's second half, delivered after the handler hid the window.
        const QPointF at(20, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, form->createButton->mapToGlobal(at),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, form->createButton->mapToGlobal(at),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->createButton, &press);
        QCoreApplication::sendEvent(form->createButton, &release);
        QCOMPARE(word->instancesCreated, created);
        QCOMPARE(tempFiles().size(), 1);
    }

    void aTakenNameIsNeverOverwritten() {
        MsgBoxRecorder boxes;
        generate::setRandomForTests(42, &fixedClock);
        generate();
        const QString first = PreviewWindow::loaded()->mWordFile;
        testsupport::writeFile(first, "someone else's document");
        generate::setRandomForTests(42, &fixedClock);
        generate();
        const QString second = PreviewWindow::loaded()->mWordFile;
        QVERIFY(second != first);
        QCOMPARE(testsupport::readFile(first), QByteArray("someone else's document"));
        generate::setRandomForTests(42, nullptr);
    }

    void failuresAreReportedAndTheHandlerStillHandsOver_data() {
        QTest::addColumn<QString>("failOn");
        QTest::addColumn<bool>("failCreate");
        QTest::addColumn<QString>("firstReport");
        QTest::addColumn<bool>("documentSaved");
        QTest::newRow("create") << QString() << true
                                << QStringLiteral("PushButton6_Click at line 110") << false;
        QTest::newRow("open") << QStringLiteral("Documents.Open Call(Str(\"") +
                                     QStringLiteral("%TEMPLATE%")
                              << false << QStringLiteral("PushButton6_Click at line 114") << false;
        QTest::newRow("replace") << QStringLiteral("Story0.Find.Execute") << false
                                 << QStringLiteral("PushButton6_Click at line 148") << true;
        QTest::newRow("shape") << QStringLiteral("Shape0.TextFrame.TextRange.Find.Execute") << false
                               << QStringLiteral("PushButton6_Click at line 160") << true;
        QTest::newRow("save") << QStringLiteral("Document.SaveAs") << false
                              << QStringLiteral("PushButton6_Click at line 182") << false;
        QTest::newRow("render") << QStringLiteral("Range.CopyAsPicture") << false
                                << QStringLiteral("SaveDocAsJPG at line 120") << true;
    }

    void failuresAreReportedAndTheHandlerStillHandsOver() {
        QFETCH(QString, failOn);
        QFETCH(bool, failCreate);
        QFETCH(QString, firstReport);
        QFETCH(bool, documentSaved);
        MsgBoxRecorder boxes;
        word->shapeTexts = {QStringLiteral("[Manager]")};
        word->failOn = failOn.replace(QStringLiteral("%TEMPLATE%"),
                                      common::tempPath(QStringLiteral("template.dot")));
        word->failTimes = 1;
        word->failCreate = failCreate;
        generate();
        QVERIFY(!boxes.seen.isEmpty());
        QVERIFY2(boxes.seen[0].prompt.contains(firstReport), qPrintable(boxes.seen[0].prompt));
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Application Error"));
        QVERIFY(!form->mBusy);
        QVERIFY(PreviewWindow::loaded() && PreviewWindow::loaded()->isVisible());
        QVERIFY(!form->isVisible());
        QCOMPARE(form->pointer.MousePointer(), int(ui::vbDefault));
        QVERIFY(!QFile::exists(common::tempPath(QStringLiteral("template.dot"))));
        QVERIFY(!QFile::exists(common::tempPath(QStringLiteral("temp.bmp"))));
        QCOMPARE(QFile::exists(PreviewWindow::loaded()->mWordFile), documentSaved);
        QCOMPARE(word->liveInstances, 0);
    }

    void aMissingTemporaryFolderEndsInReportsNotACrash() {
        MsgBoxRecorder boxes;
        const QByteArray saved = qgetenv("TEMP");
        qputenv("TEMP",
                QFile::encodeName(testsupport::sandboxRoot() + QStringLiteral("/no/such/folder")));
        generate();
        qputenv("TEMP", saved);
        QVERIFY(boxes.seen.size() >= 3);
        QVERIFY2(boxes.seen[0].prompt.contains(QStringLiteral("PushButton6_Click at line 108")),
                 qPrintable(boxes.seen[0].prompt));
        QVERIFY(boxes.seen[1].prompt.contains(QStringLiteral("PushButton6_Click at line 114")));
        QVERIFY(!form->mBusy);
        QCOMPARE(form->pointer.MousePointer(), int(ui::vbDefault));
        QCOMPARE(word->liveInstances, 0);
        // The preview does not go on showing an earlier document's picture.
        QVERIFY(PreviewWindow::loaded()->picture().isNull());
    }

    void aClipboardWithoutAPictureCostsExactly1000Reads() {
        QGuiApplication::clipboard()->setText(QStringLiteral("no picture"));
        const QImage none = generate::getClipboardPicture(0);
        QVERIFY(none.isNull());
        QCOMPARE(generate::lastClipboardAttempts(), 1000);
    }

    void cleanup() {
        if (!common::programEnded())
            return;
        // The test ended the program: its windows go as the program's would,
        // and the next test starts a fresh main window.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete form.data();
        delete PreviewWindow::loaded();
        common::resetProgramEndedForTests();
    }

    void closingTheMainWindowDuringTheYieldStopsEverything() {
        MsgBoxRecorder boxes;
        if (PreviewWindow* f2 = PreviewWindow::loaded())
            delete f2;
        QTimer::singleShot(0, form, &QWidget::close);
        const int created = word->instancesCreated;
        generate();
        QVERIFY(common::programEnded());
        QCOMPARE(word->instancesCreated, created); // no word processor was started
        QCOMPARE(tempFiles(), QStringList());
        QVERIFY(PreviewWindow::loaded() == nullptr);
        QVERIFY(boxes.seen.isEmpty());
    }

    // A logout's SIGTERM in the middle of a generation: the generation runs to
    // its end with nobody there to answer its error reports (the box that is
    // up closes, later ones are not shown), then the preview closes as the
    // user's close does, and its document goes with it.
    void aStopSignalLetsTheGenerationEndThenClosesThePreview() {
        app::CloseOnStopSignals stop;
        ui::setMsgBoxHandler(nullptr); // real boxes, as a user meets them
        word->failOn = QStringLiteral("Range.CopyAsPicture");
        word->failTimes = 1;
        word->onCall = [](const QString& line) {
            if (line.startsWith(QStringLiteral("Range.CopyAsPicture")))
                ::raise(SIGTERM);
        };
        generate();
        QVERIFY(!form->mBusy);
        PreviewWindow* preview = PreviewWindow::loaded();
        QVERIFY(preview && preview->isVisible());
        const QString doc = preview->mWordFile;
        QVERIFY(QFile::exists(doc));
        QTRY_VERIFY(common::programEnded());
        QVERIFY(!QFile::exists(doc));
        QCOMPARE(tempFiles(), QStringList());
        QCOMPARE(word->liveInstances, 0);
        QCOMPARE(stop.exitStatus(0), 128 + SIGTERM);
        ui::setMsgBoxHandler(nullptr);
    }
};

VELTRANE_TEST_MAIN(PipelineTest)
#include "test_pipeline.moc"
