// What a notice made without the window needs of the object model: one
// replacement across every story, and saving as .docx and .odt.

#include "officetest.h"
#include "tests/support/doctools.h"
#include "tests/support/replacement/replacement.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>

using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;
using namespace officetest;

namespace {

QString tempPath(const QString& name) {
    return testsupport::sandboxRoot() + "/tmp/" + name;
}

Object openTemplate(const Object& word, const QString& path) {
    return word["Documents"].call("Open", {path}, {NamedArg{"ReadOnly", Variant(true)}}).toObject();
}

// Every story's text in the order StoryRanges gives them, then each text box's.
QStringList storyTexts(const Object& doc) {
    QStringList texts;
    for (const Variant& v : doc["StoryRanges"].items())
        texts << v.toObject().get("Text").toString();
    for (const Variant& v : doc["Shapes"].items()) {
        const Object frame = v.toObject()["TextFrame"];
        if (frame.get("HasText").toBool())
            texts << frame["TextRange"].get("Text").toString();
    }
    return texts;
}

} // namespace

class OfficeFillTest : public QObject {
    Q_OBJECT

    Object mWord;

  private slots:
    void initTestCase() {
        QDir().mkpath(testsupport::sandboxRoot() + "/tmp");
        mWord = createWord();
    }

    void cleanupTestCase() { QVERIFY(quitShared(mWord)); }

    void replaceAllGivesWhatTheStoryLoopGives_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("template.dot") << dataFile("story-template.dot");
        QTest::newRow("editable source") << dataFile("story-template.fodt");
    }

    // Every story, frames, shapes, headers and footers, line breaks, literal
    // text, and a value holding a later field's placeholder filled again.
    void replaceAllGivesWhatTheStoryLoopGives() {
        QFETCH(QString, file);
        const QList<std::pair<QString, QString>> values = {
            {"[EmployeeName]", "Ann [JobTitle] $1 \\ (x)"},
            {"[Manager]", "Bob\r\nStone"},
            {"[Story]", "one\ntwo"},
            {"[Department]", QString("bell\x07") + "tab\there"},
            {"[JobTitle]", "Clerk"},
            {"[EmployeeID]", "[EmployeeName] stays"},
        };
        const Object byStory = openTemplate(mWord, file);
        const Object atOnce = openTemplate(mWord, file);
        int replaced = 0;
        for (const auto& [find, with] : values) {
            testsupport::replaceInStories(byStory, find, with);
            replaced += atOnce.call("ReplaceAll", {find, with}).toInt();
        }
        const QStringList expected = storyTexts(byStory);
        const QStringList got = storyTexts(atOnce);
        QCOMPARE(got, expected);
        QVERIFY(replaced >= 12);
        const QString all = got.join('|');
        QVERIFY2(all.contains("Ann Clerk $1 \\ (x)") && all.contains("[EmployeeName] stays") &&
                     all.contains("Header one") && all.contains("Footer one") &&
                     all.contains("Shape one"),
                 qPrintable(all));
        QVERIFY(!all.contains("[Story]", Qt::CaseInsensitive));

        // Nothing to find is a mistake, not a replacement of nothing.
        QVERIFY_THROWS_EXCEPTION(Error, atOnce.call("ReplaceAll", {""}));
        for (const Object& d : {byStory, atOnce})
            d.call("Close", {}, {{"SaveChanges", Variant(int16_t(0))}});
    }

    void saveAsWritesTheFormatAsked() {
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        doc.call("ReplaceAll", {"[Story]", "saved"});

        const QString docx = tempPath("notice.docx");
        doc.call("SaveAs", {docx, Variant(int32_t(16))});
        QVERIFY(testsupport::zipMember(docx, "word/document.xml").contains("Body saved"));
        const QString docx12 = tempPath("notice12.docx");
        doc.call("SaveAs", {docx12}, {{"FileFormat", Variant(int32_t(12))}});
        QVERIFY(testsupport::zipMember(docx12, "word/document.xml").contains("Body saved"));

        const QString odt = tempPath("notice.odt");
        doc.call("SaveAs", {odt, Variant(int32_t(23))});
        QCOMPARE(testsupport::zipMember(odt, "mimetype"),
                 QByteArray("application/vnd.oasis.opendocument.text"));
        QVERIFY(testsupport::zipMember(odt, "content.xml").contains("Body saved"));

        const QString dot = tempPath("notice.doc");
        doc.call("SaveAs", {dot, Variant(int32_t(0))});
        QCOMPARE(wordHeaderFlags(dot) & 1, 0);
        QVERIFY(readerText("antiword", dot).contains("Body saved"));

        // A format it cannot write is refused, and nothing is written.
        const QString pdf = tempPath("notice-as.pdf");
        try {
            doc.call("SaveAs", {pdf, Variant(int32_t(17))});
            QFAIL("SaveAs wrote a format it does not know");
        } catch (const Error& e) {
            QVERIFY2(e.description().contains("17"), qPrintable(e.description()));
        }
        QVERIFY(!QFileInfo::exists(pdf));

        // Closing with changes saves them in the format last saved in.
        doc.call("SaveAs", {odt, Variant(int32_t(23))});
        doc.call("ReplaceAll", {"saved", "changed"});
        doc.call("Close", {}, {{"SaveChanges", Variant(int16_t(-1))}});
        QCOMPARE(testsupport::zipMember(odt, "mimetype"),
                 QByteArray("application/vnd.oasis.opendocument.text"));
        QVERIFY(testsupport::zipMember(odt, "content.xml").contains("Body changed"));
    }
};

VELTRANE_TEST_MAIN(OfficeFillTest)
#include "office_fill_test.moc"
