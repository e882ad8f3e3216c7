// Saving the result, going back and closing, with the save dialog and the
// questions answered through the test seams.

#include "previewtest.h"

#include "app/files.h"
#include "app/form1.h"
#include "app/shell.h"
#include "tests/support/fakeword.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QRandomGenerator>

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

const QString kOld = QStringLiteral("an older notice");

} // namespace

class ExportTest : public QObject {
    Q_OBJECT
    Form2* f = nullptr;
    QByteArray doc; // the filled document's bytes
    QString dir;    // where the user saves

    QStringList savedFiles() const { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }
    void save() { QTest::mouseClick(f->PushButton6, Qt::LeftButton); }

    // Back at the preview with a freshly generated document, as the pipeline leaves it.
    void newDocument() {
        f->mWordFile = writeFile(app::TempPath(QStringLiteral("amerrow12345678.doc")), doc);
        f->setPicture1(previewtest::pictureOfTwips(3002, 3002));
        f->show();
        Form1::instance()->hide();
        QTRY_VERIFY(f->isVisible());
    }

  private slots:
    void initTestCase() {
        testsupport::installFakeWord();
        app::setAppPathForTests(testsupport::sandboxRoot());
        MsgBoxRecorder boxes;
        QVERIFY(Form1::create());
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(ui::appTitle(), QStringLiteral("Veltrane"));
        f = Form2::instance();
        // Every byte value, line breaks and NULs included, across several copy buffers.
        doc.resize(200000);
        QRandomGenerator rng(7);
        for (char& c : doc)
            c = char(rng.bounded(256));
        dir = testsupport::sandboxRoot() + QStringLiteral("/saved");
    }

    void init() {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        newDocument();
    }

    void cancelWritesNothingAndSaysDone() {
        SaveDialogRecorder dialog{QString()};
        MsgBoxRecorder boxes;
        save();
        QCOMPARE(dialog.seen.size(), 1);
        QCOMPARE(dialog.seen[0].title, QStringLiteral("Save File"));
        QCOMPARE(dialog.seen[0].filterDescription, QStringLiteral("Word Files (*.doc)"));
        QCOMPARE(dialog.seen[0].filterPattern, QStringLiteral("*.doc"));
        QCOMPARE(dialog.seen[0].initialName, QString());
        QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(boxes.seen[0].style, int(ui::vbOKOnly));
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Veltrane"));
        QVERIFY(savedFiles().isEmpty());
        QCOMPARE(readFile(f->mWordFile), doc);
    }

    void aNewFileIsAnExactCopyUnderTheNameChosen() {
        const QString target = dir + QStringLiteral("/notice");
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes;
        save();
        QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(savedFiles(), QStringList{QStringLiteral("notice")}); // no extension added
        QCOMPARE(readFile(target), doc);
        QCOMPARE(readFile(f->mWordFile), doc);
    }

    void anExistingFileIsReplacedOnlyOnYes() {
        const QString target = dir + QStringLiteral("/old notice.doc");
        writeFile(target, kOld.toUtf8());
        const QString question =
            QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
        SaveDialogRecorder dialog(target);
        {
            MsgBoxRecorder boxes(ui::vbNo);
            save();
            QCOMPARE(boxes.prompts(), (QStringList{question, QStringLiteral("Done.")}));
            QCOMPARE(boxes.seen[0].style, int(ui::vbYesNo));
            QCOMPARE(boxes.seen[0].title, QStringLiteral("Veltrane"));
            QCOMPARE(readFile(target), kOld.toUtf8());
        }
        for (int time = 0; time < 2; ++time) { // the second save asks again
            MsgBoxRecorder boxes(ui::vbYes);
            save();
            QCOMPARE(boxes.prompts(), (QStringList{question, QStringLiteral("Done.")}));
            QCOMPARE(readFile(target), doc);
            QCOMPARE(savedFiles(), QStringList{QStringLiteral("old notice.doc")});
        }
    }

    void aFailedCopyLeavesTheOldFileAndClaimsNothing() {
        const QString target = dir + QStringLiteral("/notice.doc");
        writeFile(target, kOld.toUtf8());
        QFile::remove(f->mWordFile);
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes(ui::vbYes);
        save();
        QCOMPARE(boxes.seen.size(), 2);
        QVERIFY(boxes.seen[1].prompt.contains(
            QStringLiteral("\r\nin Veltrane2021/08/31.Form2.PushButton6_Click at line 130\r\r")));
        QCOMPARE(boxes.seen[1].title, QStringLiteral("Application Error"));
        QCOMPARE(readFile(target), kOld.toUtf8());
        QCOMPARE(savedFiles(), QStringList{QStringLiteral("notice.doc")});

        // A folder that is not there: reported the same way, nothing created.
        writeFile(f->mWordFile, doc);
        dialog.path = dir + QStringLiteral("/gone/notice.doc");
        boxes.seen.clear();
        save();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].prompt.contains(QStringLiteral("at line 130")));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/gone")));
    }

    void backDeletesTheDocumentAndShowsTheMainWindow() {
        const QString target = dir + QStringLiteral("/kept.doc");
        SaveDialogRecorder dialog(target);
        MsgBoxRecorder boxes;
        save();
        QTest::mouseClick(f->PushButton8, Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(f->mWordFile));
        QCOMPARE(readFile(target), doc);
        QVERIFY(Form1::instance()->isVisible());
        QVERIFY(!f->isVisible());
        QCOMPARE(Form2::loaded(), f);

        // The document already gone: still no message.
        newDocument();
        QFile::remove(f->mWordFile);
        QTest::mouseClick(f->PushButton8, Qt::LeftButton);
        QVERIFY(Form1::instance()->isVisible());
        QVERIFY(!f->isVisible());
        QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("Done.")});
    }

    void closingEndsTheProgramWithoutTheMainWindowsHandlers() {
        MsgBoxRecorder boxes;
        CloseCounter main;
        Form1::instance()->installEventFilter(&main);
        const QString document = f->mWordFile;
        QVERIFY(f->close());
        QVERIFY(app::programEnded());
        QVERIFY(!QFileInfo::exists(document));
        QCOMPARE(main.closes, 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!Form1::instance());
        QVERIFY(!Form2::loaded());
        QVERIFY(boxes.seen.isEmpty());
    }
};

VELTRANE_TEST_MAIN(ExportTest)
#include "test_export.moc"
