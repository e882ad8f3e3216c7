// Saving the result, going back and closing, with the save dialog and the
// questions answered through the test seams.

#include "app/mainwindow.h"
#include "common/files.h"
#include "common/programend.h"
#include "common/shell.h"
#include "preview/previewwindow.h"
#include "tests/support/fakeword.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>

using testsupport::MsgBoxRecorder;
using testsupport::readFile;
using testsupport::SaveDialogRecorder;
using testsupport::writeFile;

namespace {

class CloseCounter : public QObject {
  public:
    int closes = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Close)
            ++closes;
        return QObject::eventFilter(o, e);
    }
};

} // namespace

class ExportTest : public QObject {
    Q_OBJECT
    PreviewWindow* f = nullptr;
    QByteArray doc; // the filled document's bytes
    QString dir;    // where the user saves

    QStringList savedFiles() const { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }
    void save() { QTest::mouseClick(f->saveButton, Qt::LeftButton); }

    // Back at the preview with a freshly generated document, as the pipeline leaves it.
    void newDocument() {
        f->mWordFile = writeFile(common::tempPath(QStringLiteral("amerrow12345678.doc")), doc);
        QImage page(200, 260, QImage::Format_RGB32);
        page.fill(Qt::white);
        f->setPicture(page);
        f->show();
        MainWindow::instance()->hide();
        QTRY_VERIFY(f->isVisible());
    }

    // Both windows, as the program has them once a document was generated.
    void openWindows() {
        MsgBoxRecorder boxes;
        QVERIFY(MainWindow::create());
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(ui::appTitle(), QStringLiteral("Veltrane"));
        f = PreviewWindow::instance();
    }

  private slots:
    void initTestCase() {
        testsupport::installFakeWord();
        common::setAppPathForTests(testsupport::sandboxRoot());
        // Every byte value, line breaks and NULs included, across several copy buffers.
        doc.resize(200000);
        QRandomGenerator rng(7);
        for (char& c : doc)
            c = char(rng.bounded(256));
        dir = testsupport::sandboxRoot() + QStringLiteral("/saved");
    }

    void init() {
        if (!MainWindow::instance())
            openWindows();
        QVERIFY(PreviewWindow::loaded() == f);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        newDocument();
    }

    // Each flow as the user meets it: "?" stands for the overwrite question,
    // "130" for the error report of a failed copy.
    void saveFlows_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("documentGone");
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<bool>("written");
        const QString done = QStringLiteral("Done.");
        QTest::newRow("cancel") << "" << true << int(ui::vbOK) << false << QStringList{done}
                                << false;
        QTest::newRow("new, no extension added")
            << "notice" << false << int(ui::vbOK) << false << QStringList{done} << true;
        QTest::newRow("existing, No")
            << "notice" << true << int(ui::vbNo) << false << QStringList{"?", done} << false;
        QTest::newRow("existing, Yes") << "old notice.doc" << true << int(ui::vbYes) << false
                                       << QStringList{"?", done} << true;
        QTest::newRow("existing, copy fails")
            << "notice" << true << int(ui::vbYes) << true << QStringList{"?", "130"} << false;
        QTest::newRow("new, copy fails")
            << "notice" << false << int(ui::vbOK) << true << QStringList{"130"} << false;
    }
    void saveFlows() {
        QFETCH(QString, chosen);
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QFETCH(bool, documentGone);
        QFETCH(QStringList, seen);
        QFETCH(bool, written);
        const QString target = dir + QStringLiteral("/") + (chosen.isEmpty() ? "notice" : chosen);
        const QByteArray old("an older notice");
        if (exists)
            writeFile(target, old);
        if (documentGone)
            QFile::remove(f->mWordFile);
        SaveDialogRecorder dialog(chosen.isEmpty() ? QString() : target);
        MsgBoxRecorder boxes(answer);
        save();

        QCOMPARE(dialog.seen.size(), 1);
        QCOMPARE(dialog.seen[0].title, QStringLiteral("Save File"));
        QCOMPARE(dialog.seen[0].filterDescription, QStringLiteral("Word Files (*.doc)"));
        QCOMPARE(dialog.seen[0].filterPattern, QStringLiteral("*.doc"));
        QCOMPARE(dialog.seen[0].initialName, QString());
        QCOMPARE(dialog.seen[0].defaultSuffix, QStringLiteral("doc"));
        const QString question =
            QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
        const QString report =
            QStringLiteral("\r\nin Veltrane2021/08/31.Form2.PushButton6_Click at line 130\r\r");
        QStringList got;
        for (const ui::MsgBoxRequest& r : boxes.seen) {
            const bool failed = r.prompt.contains(report);
            got << (r.prompt == question ? "?" : failed ? "130" : r.prompt);
            QCOMPARE(r.title, failed ? "Application Error" : "Veltrane");
            if (!failed) // no icon on either
                QCOMPARE(r.style, int(r.prompt == question ? ui::vbYesNo : ui::vbOKOnly));
        }
        QCOMPARE(got, seen);
        // Never a half-written file beside it, nor an added extension.
        QCOMPARE(readFile(target), written ? doc : exists ? old : QByteArray());
        QCOMPARE(savedFiles(),
                 exists || written ? QStringList{QFileInfo(target).fileName()} : QStringList());
        if (!documentGone)
            QCOMPARE(readFile(f->mWordFile), doc);
    }

    void savingIntoAFolderThatTakesNoNewFile() {
        // An existing file the user may write, in a folder that takes no new file.
        const QString target = dir + QStringLiteral("/shared notice.doc");
        writeFile(target, QByteArray(300000, 'o')); // longer than the new document
        testsupport::Sealed folder(dir);
        if (!folder.sealed)
            QSKIP("this file system cannot seal a folder");
        QVERIFY(::open(QFile::encodeName(dir + "/probe").constData(), O_WRONLY | O_CREAT, 0644) <
                0);
        {
            SaveDialogRecorder dialog(target);
            MsgBoxRecorder boxes(ui::vbYes);
            save();
            const QString question = QStringLiteral("Are you sure you wish to overwrite ") +
                                     target + QStringLiteral(" ?");
            QCOMPARE(boxes.prompts(), QStringList({question, QStringLiteral("Done.")}));
            QCOMPARE(readFile(target), doc);
        }
        {
            // A new name there still fails, and says so.
            SaveDialogRecorder dialog(dir + QStringLiteral("/new.doc"));
            MsgBoxRecorder boxes;
            save();
            QCOMPARE(boxes.seen.size(), 1);
            QVERIFY(boxes.seen[0].prompt.contains(dir + QStringLiteral("/new.doc\r\n")));
            QVERIFY(boxes.seen[0].prompt.contains(QStringLiteral("at line 130")));
        }
        QCOMPARE(savedFiles(), QStringList{QStringLiteral("shared notice.doc")});
    }

    // The copy made beside the target takes a hidden name of its own; a file
    // of the user's under such a name is never touched.
    void aFileNamedLikeTheCopyInProgressIsNeverTouched() {
        const QString target = dir + QStringLiteral("/notice.doc");
        writeFile(target, "old");
        const QString users = dir + QStringLiteral("/.~vt1");
        writeFile(users, "the user's own");
        quint64 next = 1;
        common::testing::setCopyNameForTests([&] { return next++; });
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes(ui::vbYes);
        save();
        common::testing::setCopyNameForTests({});
        QVERIFY(next > 2); // the name was tried, and passed over
        QCOMPARE(boxes.prompts().last(), QStringLiteral("Done."));
        QCOMPARE(readFile(target), doc);
        QCOMPARE(readFile(users), QByteArray("the user's own"));
        QCOMPARE(savedFiles(),
                 QStringList({QStringLiteral(".~vt1"), QStringLiteral("notice.doc")}));
    }

    // A link that points nowhere still holds the name: the user is asked,
    // and Yes makes the file it names, the link staying a link. Where that
    // file cannot be made, the report says which file it is.
    void aLinkThatPointsNowhereIsAskedAbout_data() {
        QTest::addColumn<QString>("pointsTo");
        QTest::addColumn<bool>("made");
        QTest::newRow("into a folder that takes it") << QStringLiteral("hr/away.doc") << true;
        QTest::newRow("into a missing folder") << QStringLiteral("gone/away.doc") << false;
    }
    void aLinkThatPointsNowhereIsAskedAbout() {
        QFETCH(QString, pointsTo);
        QFETCH(bool, made);
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/hr")));
        const QString target = dir + QStringLiteral("/notice.doc");
        const QString nowhere = dir + QStringLiteral("/") + pointsTo;
        QVERIFY(QFile::link(nowhere, target));
        const QString question =
            QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
        {
            SaveDialogRecorder dialog(target);
            MsgBoxRecorder boxes(ui::vbNo);
            save();
            QCOMPARE(boxes.prompts(), QStringList({question, QStringLiteral("Done.")}));
            QCOMPARE(QFileInfo(target).symLinkTarget(), nowhere);
            QVERIFY(!QFileInfo::exists(nowhere));
        }
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes(ui::vbYes);
        save();
        QCOMPARE(QFileInfo(target).symLinkTarget(), nowhere);
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(boxes.seen[0].prompt, question);
        if (made) {
            QCOMPARE(boxes.seen[1].prompt, QStringLiteral("Done."));
            QCOMPARE(readFile(nowhere), doc);
        } else {
            const QString why = boxes.seen[1].prompt;
            QVERIFY2(why.contains(QStringLiteral("at line 130")) && why.contains(nowhere) &&
                         why.contains(target),
                     qPrintable(why));
            QVERIFY(!QFileInfo::exists(nowhere));
        }
    }

    // Yes over a link to another file (a shared copy) writes that file, which
    // keeps who may read it.
    void savingOverALinkWritesTheFileItNames() {
        const QString shared = writeFile(dir + QStringLiteral("/hr/notice.doc"), "old notice");
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 0600), 0);
        const QString target = dir + QStringLiteral("/notice.doc");
        QVERIFY(QFile::link(shared, target));
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes(ui::vbYes);
        save();
        QCOMPARE(boxes.prompts(),
                 QStringList({QStringLiteral("Are you sure you wish to overwrite ") + target +
                                  QStringLiteral(" ?"),
                              QStringLiteral("Done.")}));
        QCOMPARE(QFileInfo(target).symLinkTarget(), shared);
        QCOMPARE(readFile(shared), doc);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(shared).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        QCOMPARE(QDir(dir + QStringLiteral("/hr")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("notice.doc")});
    }

    // In the real save dialog a name typed without an extension gets the
    // filter's, and that is the name asked about and written.
    void aNameTypedWithoutExtensionGetsTheFilters_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("bare name") << QStringLiteral("notice") << QStringLiteral("notice.doc");
        QTest::newRow("own extension")
            << QStringLiteral("notice.txt") << QStringLiteral("notice.txt");
    }
    void aNameTypedWithoutExtensionGetsTheFilters() {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        const QString target = writeFile(dir + QStringLiteral("/") + saved, "old");
        MsgBoxRecorder boxes(ui::vbYes);
        bool typedIn = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d || typedIn)
                return;
            typedIn = true;
            QTimer::singleShot(0, d, [&, d] {
                d->setDirectory(dir);
                if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    edit->setText(typed);
                static_cast<QDialog*>(d)->accept(); // as the Save button does
            });
        });
        poll.start(10);
        save();
        poll.stop();
        QVERIFY(typedIn);
        QCOMPARE(boxes.prompts(),
                 QStringList({QStringLiteral("Are you sure you wish to overwrite ") + target +
                                  QStringLiteral(" ?"),
                              QStringLiteral("Done.")}));
        QCOMPARE(readFile(target), doc);
        QCOMPARE(savedFiles(), QStringList{saved});
    }

    void backDeletesTheDocumentAndAsksForTheMainWindow() {
        const QString target = dir + QStringLiteral("/kept.doc");
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes;
        QSignalSpy back(f, &PreviewWindow::backRequested);
        save();
        QTest::mouseClick(f->backButton, Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(f->mWordFile));
        QCOMPARE(readFile(target), doc);
        QCOMPARE(back.count(), 1);
        QVERIFY(!f->isVisible());
        QCOMPARE(PreviewWindow::loaded(), f);

        // The document already gone: still no message.
        newDocument();
        QFile::remove(f->mWordFile);
        QTest::mouseClick(f->backButton, Qt::LeftButton);
        QCOMPARE(back.count(), 2);
        QVERIFY(!f->isVisible());
        QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("Done.")});
    }

    void cleanup() {
        if (!common::programEnded())
            return;
        // The test ended the program: its windows go as the program's would,
        // and the next test starts afresh.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete MainWindow::instance();
        delete PreviewWindow::loaded();
        f = nullptr;
        common::resetProgramEndedForTests();
    }

    void closingEndsTheProgramWithoutTheMainWindowsHandlers() {
        MsgBoxRecorder boxes;
        CloseCounter main;
        MainWindow::instance()->installEventFilter(&main);
        const QString document = f->mWordFile;
        QVERIFY(f->close());
        QVERIFY(common::programEnded());
        QVERIFY(!QFileInfo::exists(document));
        QCOMPARE(main.closes, 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!MainWindow::instance());
        QVERIFY(!PreviewWindow::loaded());
        QVERIFY(boxes.seen.isEmpty());
    }
};

VELTRANE_TEST_MAIN(ExportTest)
#include "test_export.moc"
