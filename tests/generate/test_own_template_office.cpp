// An organisation's own template through the whole road of a generation with
// the real LibreOffice, the notice read back by antiword and catdoc.

#include "app/mainwindow.h"
#include "common/files.h"
#include "common/programend.h"
#include "common/shell.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "tests/support/childprocess.h"
#include "tests/support/doctools.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(VELTRANE_SOURCE_DIR "/tests/generate/data/") + name;
}

// Runs of white space folded, as the checks below expect.
QString antiword(const QString& doc) {
    return testsupport::antiwordText(doc).simplified();
}
QString catdoc(const QString& doc) {
    return testsupport::catdocText(doc).simplified();
}

// How often an ASCII text stands in the file's raw bytes, as 8-bit or UTF-16 text.
qsizetype rawCount(const QByteArray& bytes, const QByteArray& ascii) {
    QByteArray wide;
    for (char c : ascii)
        wide.append(c).append('\0');
    return bytes.count(ascii) + bytes.count(wide);
}

QString proofFile() {
    return testsupport::sandboxRoot() + QStringLiteral("/macro-ran");
}

} // namespace

class OwnTemplateOfficeTest : public QObject {
    Q_OBJECT
    QPointer<MainWindow> form;

    QString ownTemplate() const {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/veltrane/template.dot");
    }

    void install(const QByteArray& bytes) {
        QFile::remove(ownTemplate());
        QDir(ownTemplate()).removeRecursively();
        testsupport::writeFile(ownTemplate(), bytes);
    }

    // One generation with the sample data; the filled document, or "".
    QString generate() {
        const QStringList old = QDir(common::tempFolder()).entryList(QDir::Files);
        for (const QString& f : old)
            QFile::remove(common::tempPath(f));
        form->show();
        form->sampleButton->click();
        form->createButton->click();
        const QStringList docs =
            QDir(common::tempFolder()).entryList({QStringLiteral("amerrow*.doc")}, QDir::Files);
        return docs.size() == 1 ? common::tempPath(docs[0]) : QString();
    }

    // Every sample value is in the notice, as both readers see it.
    void verifySampleValues(const QString& doc, const QStringList& except = {}) {
        const QString a = antiword(doc);
        const QString c = catdoc(doc);
        for (auto* field : form->fields()) {
            const QString value = field->Text().simplified();
            if (except.contains(field->Tag))
                continue;
            QVERIFY2(a.contains(value), qPrintable(value + " not in antiword's: " + a));
            QVERIFY2(c.contains(value), qPrintable(value + " not in catdoc's: " + c));
            QVERIFY2(!a.contains(field->Tag, Qt::CaseInsensitive), qPrintable(a));
        }
    }

  private slots:
    void initTestCase() {
        // The macro of the macro template would write here, were it ever run.
        qputenv("VELTRANE_MACRO_PROOF", QFile::encodeName(proofFile()));
        automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
        common::setAppPathForTests(testsupport::sandboxRoot());
        MsgBoxRecorder boxes;
        form = MainWindow::create();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!common::programEnded());
    }

    void init() {
        generate::resetTemplateMessagesForTests();
        QFile::remove(proofFile());
    }

    void theOrganisationsNameIsInTheNotice_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("Word 97-2003 template") << QStringLiteral("ardmoor.dot");
        QTest::newRow("Office Open XML document") << QStringLiteral("ardmoor.docx");
    }
    void theOrganisationsNameIsInTheNotice() {
        QFETCH(QString, file);
        install(testsupport::readFile(fixture(file)));
        MsgBoxRecorder boxes;
        const QString doc = generate();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        // Still a Word 97-2003 document, whatever the template's format.
        QVERIFY(testsupport::readFile(doc).startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
        verifySampleValues(doc);
        for (const QString& text : {antiword(doc), catdoc(doc)}) {
            QVERIFY2(text.contains(QStringLiteral("Ardmoor Widgets Ltd")), qPrintable(text));
            QVERIFY2(!text.contains(QStringLiteral("Company Name")), qPrintable(text));
        }
        QVERIFY(!QFile::exists(common::tempPath(QStringLiteral("template.dot"))));
    }

    void aRefusedTemplateIsToldAndTheBuiltInMakesTheNotice_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("garbage") << QByteArray("\x89PNG not a document", 19) << "file"
                                 << "not a word-processor document";
        QTest::newRow("empty") << QByteArray() << "file"
                               << "is empty";
        QTest::newRow("too large") << QByteArray() << "sparse"
                                   << "larger than 20 MiB";
        QTest::newRow("folder") << QByteArray() << "folder"
                                << "is a folder";
    }
    void aRefusedTemplateIsToldAndTheBuiltInMakesTheNotice() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        install(bytes);
        if (kind == QLatin1String("sparse")) {
            QVERIFY(::truncate(QFile::encodeName(ownTemplate()).constData(),
                               generate::kMaxTemplateSize + 1) == 0);
        } else if (kind == QLatin1String("folder")) {
            QFile::remove(ownTemplate());
            QVERIFY(QDir().mkpath(ownTemplate()));
        }
        MsgBoxRecorder boxes;
        const QString doc = generate();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen[0].prompt.contains(ownTemplate()) &&
                     boxes.seen[0].prompt.contains(reason),
                 qPrintable(boxes.seen[0].prompt));
        QVERIFY(!doc.isEmpty());
        verifySampleValues(doc);
        QVERIFY(catdoc(doc).contains(QStringLiteral("Company Name")));
        QDir(ownTemplate()).removeRecursively();
        QFile::remove(ownTemplate());
    }

    void aTemplateLackingPlaceholdersMakesTheNoticeWithoutThem() {
        install(testsupport::readFile(fixture(QStringLiteral("partial.odt"))));
        MsgBoxRecorder boxes;
        const QString doc = generate();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen[0].prompt.contains(QStringLiteral("[JobTitle]")) &&
                     boxes.seen[0].prompt.contains(QStringLiteral("[EmployeeID]")),
                 qPrintable(boxes.seen[0].prompt));
        QVERIFY(!doc.isEmpty());
        verifySampleValues(doc, {QStringLiteral("[JobTitle]"), QStringLiteral("[EmployeeID]")});
        QVERIFY(
            !antiword(doc).contains(form->field(entry::Fact::JobTitle)->Text())); // the job title
        QFile::remove(ownTemplate());
    }

    // Each template's macros are live: the Basic one runs on opening when macros
    // are allowed, and the office's own defaults carry the Word one into a saved
    // .doc. Yet a generation never runs them and the notice carries none.
    void aTemplatesMacrosNeverRunAndAreNotInTheNotice_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("company");
        QTest::newRow("OpenDocument Basic") << QStringLiteral("macro.ott") << "Macro Test Ltd";
        QTest::newRow("Word macro project") << QStringLiteral("vba.dot") << "Ardmoor Widgets Ltd";
    }
    void aTemplatesMacrosNeverRunAndAreNotInTheNotice() {
        QFETCH(QString, file);
        QFETCH(QString, company);
        const QString control = testsupport::sandboxRoot() + QStringLiteral("/control.doc");
        const bool basic = file.endsWith(QLatin1String(".ott"));
        testsupport::ChildProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                basic ? QStringList{fixture(QStringLiteral("make-own-templates.py")),
                                    QStringLiteral("--run-macro"), fixture(file)}
                      : QStringList{fixture(QStringLiteral("make-own-templates.py")),
                                    QStringLiteral("--convert"), fixture(file), control});
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        if (basic)
            QVERIFY2(QFile::exists(proofFile()), "the fixture's macro did not run");
        else
            QVERIFY2(rawCount(testsupport::readFile(control), "_VBA_PROJECT") > 0,
                     "the office's defaults did not keep the fixture's macros");
        QFile::remove(proofFile());

        install(testsupport::readFile(fixture(file)));
        MsgBoxRecorder boxes;
        const QString doc = generate();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        QVERIFY(!doc.isEmpty());
        QTest::qWait(500); // a macro started by the open would have finished
        QVERIFY(!QFile::exists(proofFile()));
        verifySampleValues(doc);
        QVERIFY(catdoc(doc).contains(company));
        const QByteArray bytes = testsupport::readFile(doc);
        for (const char* trace :
             {"VELTRANE_MACRO_PROOF", "Macros", "_VBA_PROJECT", "Proof", "AutoOpen"})
            QVERIFY2(rawCount(bytes, trace) == 0, trace);
        QFile::remove(ownTemplate());
    }
};

VELTRANE_TEST_MAIN(OwnTemplateOfficeTest)
#include "test_own_template_office.moc"
