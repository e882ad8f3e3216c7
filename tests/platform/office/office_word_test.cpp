// The word processor's object model against a real LibreOffice, checked with
// independent .doc readers where it matters.

#include "officetest.h"
#include "platform/office/wordmodel/picture_and_text.h"
#include "tests/support/pdftools.h"
#include "tests/support/replacement/replacement.h"
#include "tests/support/testenv.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QSet>

using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;
using namespace officetest;
using testsupport::replaceInStories;

namespace {

const Variant kMissing = Variant::missing();

QString tempPath(const QString& name) {
    return testsupport::sandboxRoot() + "/tmp/" + name;
}

Object openTemplate(const Object& word, const QString& path) {
    return word["Documents"].call("Open", {path}, {NamedArg{"ReadOnly", Variant(true)}}).toObject();
}

QByteArray utf16(const QString& s) {
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class OfficeWordTest : public QObject {
    Q_OBJECT

    Object mWord; // one office for the whole run keeps the suite quick

  private slots:
    void initTestCase() { mWord = createWord(); }

    void cleanupTestCase() { QVERIFY(quitShared(mWord)); }

    void eachStoryGetsOnlyItsOwnReplacement_data() {
        QTest::addColumn<QString>("file");
        // Through .doc, text frames become drawing shapes; the source keeps a Writer frame.
        QTest::newRow("template.dot") << dataFile("story-template.dot");
        QTest::newRow("editable source") << dataFile("story-template.fodt");
    }

    void eachStoryGetsOnlyItsOwnReplacement() {
        QFETCH(QString, file);
        const Object doc = openTemplate(mWord, file);

        const QList<Variant> stories = doc["StoryRanges"].items();
        QList<int> types;
        for (qsizetype i = 0; i < stories.size(); ++i) {
            const Object range = stories[i].toObject();
            types << range.get("StoryType").toInt();
            const Object find = range["Find"];
            find.set("Text", "[story]"); // the template writes it "[Story]"
            find["Replacement"].set("Text", QString("<S%1>").arg(i));
            find.set("MatchCase", false);
            find.call("Execute", {}, {NamedArg{"Replace", Variant(int16_t(2))}});
        }
        std::sort(types.begin(), types.end());
        // Main text, footnotes, the frame and the shape, header and footer: each once.
        QCOMPARE(types, (QList<int>{1, 2, 5, 5, 7, 9}));

        for (qsizetype i = 0; i < stories.size(); ++i) {
            const QString text = stories[i].toObject().get("Text").toString();
            QVERIFY2(!text.contains("[Story]"), qPrintable(text));
            for (qsizetype j = 0; j < stories.size(); ++j)
                QCOMPARE(text.count(QString("<S%1>").arg(j)),
                         i != j ? 0
                                : (stories[i].toObject().get("StoryType").toInt() == 1 ? 2 : 1));
        }

        // A shape's own find replaces in that shape only: the table cell keeps its [JobTitle].
        int shapesWithText = 0;
        for (const Variant& v : doc["Shapes"].items()) {
            const Object frame = v.toObject()["TextFrame"];
            if (!frame.get("HasText").toBool())
                continue;
            ++shapesWithText;
            frame["TextRange"]["Find"].call(
                "Execute", {"[JOBTITLE]", kMissing, kMissing, kMissing, kMissing, kMissing,
                            kMissing, kMissing, kMissing, "shape-title", Variant(int16_t(2))});
        }
        QCOMPARE(shapesWithText, 2);
        const QString main = doc["Range"].get("Text").toString();
        QVERIFY2(main.contains("Title [JobTitle]"), qPrintable(main));
        QVERIFY(!main.contains("shape-title"));

        const QString out = tempPath(QFileInfo(file).baseName() + "-stories.doc");
        doc.call("SaveAs", {out});
        doc.call("Close");

        // antiword shows body, cells, notes and text boxes; catdoc adds headers and footers.
        const QString aw = readerText("antiword", out);
        const QString cd = readerText("catdoc", out);
        QVERIFY2(aw.contains("Frame <S") && aw.contains("shape-title"), qPrintable(aw));
        QVERIFY2(aw.contains("Cell <S0>") && aw.contains("Body <S0>"), qPrintable(aw));
        QVERIFY2(aw.contains("Title [JobTitle]"), qPrintable(aw));
        QVERIFY2(cd.contains(QRegularExpression("Header <S\\d>")), qPrintable(cd));
        QVERIFY2(cd.contains(QRegularExpression("Footer <S\\d>")), qPrintable(cd));
        QVERIFY(!aw.contains("[Story]") && !cd.contains("[Story]"));
    }

    void findKeepsItsSettingsAndIsTheSameObject() {
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        const Object range = doc["Range"];
        QCOMPARE(range["Find"].dispatch(), range["Find"].dispatch());

        range["Find"].set("MatchCase", true);
        range["Find"].set("Text", "[STORY]");
        range["Find"]["Replacement"].set("Text", "upper");
        // Read again, the find still matches case, so the mixed-case text is not found.
        QCOMPARE(range["Find"].call("Execute", {}, {{"replace", Variant(int16_t(2))}}),
                 Variant(false));
        range["Find"].set("MatchCase", false);
        QCOMPARE(range["Find"].call("Execute", {}, {{"REPLACE", Variant(int16_t(2))}}),
                 Variant(true));
        QVERIFY(range.get("Text").toString().contains("Body upper"));
        doc.call("Close", {}, {{"SaveChanges", Variant(int16_t(0))}});
    }

    void valuesGoInLiterallyAndSurviveTheDocFile() {
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        const QString megabyte = QString("0123456789abcdef").repeated(65536) + "END";
        const QList<std::pair<QString, QString>> values = {
            {"[EmployeeName]", "$1 & \\ ( ) [x] \\n $& %s"},
            {"[Manager]", QString::fromUtf8("山田 太郎")},
            {"[Department]", QString::fromUtf8("قسم المبيعات")},
            {"[Infraction]",
             QString::fromUtf8("late \xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD")},
            {"[Improvement]", "first\r\nsecond\rthird\nfourth"},
            {"[Consequences]", QString("bell\x07") + QChar(0x01) + "tab\there"},
            {"[CurrentDate]", megabyte},
        };
        QElapsedTimer timer;
        timer.start();
        for (const auto& [find, with] : values)
            replaceInStories(doc, find, with);
        QVERIFY2(timer.elapsed() < 30000, "a megabyte value must not take long");

        const QString out = tempPath("values.doc");
        doc.call("SaveAs", {out});
        doc.call("Close");

        // A document, not a template, whatever it was opened from.
        QCOMPARE(wordHeaderFlags(dataFile("story-template.dot")) & 1, 1);
        const int flags = wordHeaderFlags(out);
        QVERIFY(flags >= 0);
        QCOMPARE(flags & 1, 0);

        const QString aw = readerText("antiword", out);
        const QString cd = readerText("catdoc", out);
        QVERIFY2(aw.contains("name $1 & \\ ( ) [x] \\n $& %s date"), qPrintable(aw.left(400)));
        QVERIFY(cd.contains(QString::fromUtf8("Header [Story] 山田 太郎")));
        QVERIFY(aw.contains(QString::fromUtf8("Cell [Story] قسم المبيعات")));
        QVERIFY(aw.contains(megabyte));
        // The controls are gone; the tab stays (antiword shows it as spaces).
        QVERIFY2(aw.contains(QRegularExpression("Consequences: belltab\\s+here")),
                 qPrintable(aw.mid(aw.indexOf("Consequences:"), 40)));

        // Line breaks inside one paragraph (0x0B in Word's text), not new paragraphs.
        const QByteArray bytes = fileBytes(out);
        QVERIFY(bytes.contains(
            utf16(QString::fromUtf8("late \xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"))));
        QVERIFY(bytes.contains(utf16("first\x0bsecond\x0bthird\x0b"
                                     "fourth")));
        QVERIFY(!bytes.contains(utf16("first\r")));
    }

    void wordsLineAndPageBreaksSurviveTheDocFile() {
        const QString vt(QChar(0x0b)), ff(QChar(0x0c));
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        replaceInStories(doc, "[Infraction]", "one" + vt + "two" + ff + "three");
        // A table cell and a header cannot break to a new page: a line break there.
        replaceInStories(doc, "[Department]", "left" + ff + "right");
        replaceInStories(doc, "[Manager]", "top" + ff + "bottom");
        const QString out = tempPath("breaks.doc");
        doc.call("SaveAs", {out});
        doc.call("Close");

        const QString aw = readerText("antiword", out);
        QVERIFY2(aw.contains("Infraction: one\ntwo\nthree\n"),
                 qPrintable(aw.mid(aw.indexOf("Infraction:"), 60)));
        QVERIFY2(
            aw.contains(QRegularExpression("\\|Cell \\[Story\\] left +\\|[^\\n]*\\n\\|right ")),
            qPrintable(aw));
        QVERIFY2(readerText("catdoc", out).contains("Header [Story] top\nbottom"),
                 qPrintable(readerText("catdoc", out)));
        // VT is a line break within the paragraph; FF ends it, and the next one
        // starts a page.
        const QByteArray bytes = fileBytes(out);
        QVERIFY(bytes.contains(utf16("one\x0btwo\rthree")));
        QVERIFY(bytes.contains(utf16("left\x0bright")));
        QVERIFY(bytes.contains(utf16("top\x0b"
                                     "bottom")));
        QCOMPARE(pageBreakBefore(out, "three"), 1);
        QCOMPARE(pageBreakBefore(out, "Infraction: one"), 0);
        QCOMPARE(pageBreakBefore(out, "Cell [Story] left"), 0);
    }

    void saveAsWritesExactlyThatPathAndOverwrites() {
        const QString dir = tempPath(QString::fromUtf8("a dir #1 ü"));
        QVERIFY(QDir().mkpath(dir));
        const QString out = dir + QString::fromUtf8("/Résumé 100%.doc");
        QFile stale(out);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("old contents");
        stale.close();

        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        doc.call("SaveAs", {out});
        doc.call("Close");
        QCOMPARE(QDir(dir).entryList(QDir::Files),
                 QStringList{QString::fromUtf8("Résumé 100%.doc")});
        QCOMPARE(wordHeaderFlags(out) & 1, 0);
        QVERIFY(readerText("antiword", out).contains("Infraction: [Infraction]"));
    }

    void copyAsPictureGivesThePagesAtTheirNaturalSize() {
        const QString out = tempPath("picture.doc");
        {
            const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
            doc.call("SaveAs", {out});
            doc.call("Close");
        }
        QGuiApplication::clipboard()->clear();
        const Object doc = mWord["Documents"].call("Open", {out}).toObject();
        doc["Range"].call("CopyAsPicture");
        const QImage img = QGuiApplication::clipboard()->image();
        QVERIFY(!img.isNull());

        // A full page is never shown larger than its natural size, so it is
        // made at this (offscreen, 96 dpi) screen's resolution: 1 pixel is 15 twips.
        const int dpi = 96;
        QCOMPARE(img.dotsPerMeterX(), 3780);
        QCOMPARE(img.dotsPerMeterY(), 3780);
        // Letter paper, one-inch side margins: the text is at most 6.5 inches wide;
        // the header and footer span nearly the whole 11-inch height. Round it,
        // the preview's white margin.
        const int m = office::previewFrame(dpi).marginPx;
        QVERIFY2(img.width() - 2 * m <= 6.5 * dpi + 2 && img.width() - 2 * m > 3 * dpi,
                 qPrintable(QString::number(img.width())));
        QVERIFY2(img.height() - 2 * m > 9 * dpi && img.height() - 2 * m < 10.5 * dpi,
                 qPrintable(QString::number(img.height())));

        // Trimmed to the margin: ink in its first row and column, none in it;
        // and real text, not a blank sheet.
        auto dark = [&](int x, int y) { return qGray(img.pixel(x, y)) < 128; };
        QCOMPARE(office::pageContentBox(img),
                 QRect(m, m, img.width() - 2 * m, img.height() - 2 * m));
        bool inkTop = false, inkLeft = false;
        qint64 inked = 0;
        for (int x = 0; x < img.width(); ++x)
            inkTop |= qGray(img.pixel(x, m)) < 250;
        for (int y = 0; y < img.height(); ++y)
            inkLeft |= qGray(img.pixel(m, y)) < 250;
        for (int y = 0; y < img.height(); y += 2)
            for (int x = 0; x < img.width(); x += 2)
                inked += dark(x, y);
        QVERIFY(inkTop && inkLeft);
        QVERIFY2(inked > 2000, qPrintable(QString::number(inked)));

        mWord["ActiveDocument"].call("Close", {}, {{"savechanges", Variant(int16_t(0))}});
        QCOMPARE(mWord["Documents"].get("Count").toInt(), 0);
    }

    // A few lines can be zoomed to four times their size: their picture is made
    // at the most detail there is, twice this screen's, and the text is still
    // all there, trimmed to the preview's margin.
    void aShortDocumentsPictureIsSharpEnoughToZoomIn() {
        const QString note = tempPath("short.fodt");
        testsupport::writeFile(
            note,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
            " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
            " office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.text\">"
            "<office:body><office:text><text:p>A short note of two lines.</text:p>"
            "<text:p>The second line.</text:p></office:text></office:body></office:document>");
        QGuiApplication::clipboard()->clear();
        const Object doc = mWord["Documents"].call("Open", {note}).toObject();
        doc["Range"].call("CopyAsPicture");
        const QImage img = QGuiApplication::clipboard()->image();
        doc.call("Close", {}, {{"savechanges", Variant(int16_t(0))}});
        QVERIFY(!img.isNull());
        QCOMPARE(img.dotsPerMeterX(), 7559);
        QCOMPARE(img.dotsPerMeterY(), 7559);
        const int m = office::previewFrame(192).marginPx;
        const QRect box = office::pageContentBox(img);
        QCOMPARE(box, QRect(m, m, img.width() - 2 * m, img.height() - 2 * m));
        // Two lines of 12-point text at 192 dpi: some 60 to 120 pixels tall.
        QVERIFY2(box.height() > 50 && box.height() < 130,
                 qPrintable(QString::number(box.height())));
    }

    void exportAsFixedFormatWritesTheLaidOutPages() {
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        QCOMPARE(doc.call("ComputeStatistics", {Variant(int32_t(2))}).toInt(), 1);
        const QString ff(QChar(0x0c));
        replaceInStories(doc, "[Infraction]", "first" + ff + "second page" + ff + "third");
        replaceInStories(doc, "[Story]", QString::fromUtf8("Ardmoor Ökonomie"));
        const int pages = doc.call("ComputeStatistics", {Variant(int32_t(2))}).toInt();
        QCOMPARE(pages, 3);

        // Every page, archival: PDF/A-2b with every font embedded.
        const QString archive = tempPath(QString::fromUtf8("export ü/notice.pdf"));
        QVERIFY(QDir().mkpath(QFileInfo(archive).path()));
        doc.call("ExportAsFixedFormat", {archive, Variant(int32_t(17))}, {{"UseISO19005_1", true}});
        QCOMPARE(testsupport::pdfPageCount(archive), pages);
        QCOMPARE(testsupport::pdfaClaim(archive), QString("2B"));
        QCOMPARE(testsupport::pdfFontsNotEmbedded(archive), QStringList());
        const QString text = testsupport::pdfText(archive);
        QVERIFY2(text.contains(QString::fromUtf8("Body Ardmoor Ökonomie")), qPrintable(text));
        QVERIFY(!text.contains("[Story]"));

        // A page range, plain PDF; the document itself is not turned into the PDF.
        const QString middle = tempPath("middle-page.pdf");
        doc.call("ExportAsFixedFormat",
                 {middle, Variant(int32_t(17)), false, kMissing, Variant(int32_t(3)),
                  Variant(int32_t(2)), Variant(int32_t(2))});
        QCOMPARE(testsupport::pdfPageCount(middle), 1);
        QVERIFY(testsupport::pdfaClaim(middle).isEmpty());
        const QString middleText = testsupport::pdfText(middle);
        QVERIFY2(middleText.contains("second page") && !middleText.contains("third") &&
                     !middleText.contains("Body"),
                 qPrintable(middleText));
        const QString out = tempPath("after-export.doc");
        doc.call("SaveAs", {out});
        QCOMPARE(wordHeaderFlags(out) & 1, 0);
        doc.call("Close");
        QCOMPARE(QDir(tempPath("")).entryList({"saving-*"}, QDir::Files), QStringList());
    }

    // Each setting of the find object is its own: written, each reads back as
    // written, under any case of its name, and only members it has answer.
    void findSettingsReadBackAsWritten() {
        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        const Object find = doc["Range"]["Find"];
        const QList<std::pair<const char*, Variant>> settings = {
            {"Text", "[x]"},          {"Forward", false},         {"Wrap", Variant(int32_t(2))},
            {"Format", true},         {"MatchCase", true},        {"MatchWholeWord", false},
            {"MatchWildcards", true}, {"MatchSoundsLike", false}, {"MatchAllWordForms", true},
        };
        find.set("MatchWholeWord", true); // so that false is a change
        for (const auto& [name, value] : settings)
            find.set(name, value);
        for (const auto& [name, value] : settings)
            QCOMPARE(find.get(QString::fromLatin1(name).toUpper()).toString(), value.toString());
        find["Replacement"].set("text", "[y]");
        QCOMPARE(find["replacement"].get("Text").toString(), QString("[y]"));

        const auto error = [](const std::function<void()>& f) {
            try {
                f();
            } catch (const Error& e) {
                return e.description();
            }
            return QString();
        };
        QVERIFY(error([&] { find.get("MatchKashida"); }).contains("MatchKashida"));
        QVERIFY(error([&] { find["Replacement"].get("Forward"); }).contains("Forward"));
        QVERIFY(error([&] { find.set("Replacement", 1); }).contains("read-only"));
        QVERIFY(error([&] { doc.set("Shapes", 1); }).contains("read-only"));
        QVERIFY(error([&] { mWord.set("Documents", 1); }).contains("read-only"));
        mWord.set("displayalerts", false);
        QCOMPARE(mWord.get("DisplayAlerts").toBool(), false);
        mWord.set("DisplayAlerts", true);
        doc.call("Close");
    }

    void misuseFailsWithAClearError() {
        auto failsWith = [](const std::function<void()>& f, const QString& part) {
            try {
                f();
            } catch (const Error& e) {
                if (e.description().contains(part, Qt::CaseInsensitive))
                    return true;
                qWarning() << "wrong error:" << e.description();
                return false;
            }
            return false;
        };
        QVERIFY(failsWith([&] { mWord.get("NoSuchMember"); }, "NoSuchMember"));
        QVERIFY(failsWith([&] { mWord["Documents"].call("Open", {tempPath("missing.doc")}); },
                          "missing.doc"));
        QVERIFY(failsWith(
            [&] {
                mWord["Documents"].call("Open", {dataFile("story-template.dot")},
                                        {{"ReadOnlyy", true}});
            },
            "ReadOnlyy"));
        QVERIFY(failsWith([&] { mWord.get("ActiveDocument"); }, "no document"));

        const Object doc = openTemplate(mWord, dataFile("story-template.dot"));
        const Object range = doc["RANGE"];
        const Object find = range["find"];
        QVERIFY(failsWith([&] { doc.call("SaveAs", {"/proc/no/such/folder/x.doc"}); }, "SaveAs"));
        const QString pdf = tempPath("never.pdf");
        QVERIFY(failsWith(
            [&] {
                doc.call("ExportAsFixedFormat", {pdf, Variant(int32_t(18))});
            },
            "format 18"));
        QVERIFY(failsWith(
            [&] {
                doc.call("ExportAsFixedFormat", {pdf, Variant(int32_t(17))},
                         {{"Range", Variant(int32_t(3))}, {"From", 2}, {"To", 1}});
            },
            "no range"));
        QVERIFY(failsWith(
            [&] {
                doc.call("ExportAsFixedFormat", {"/proc/no/x.pdf", 17});
            },
            "ExportAsFixedFormat"));
        QVERIFY(failsWith([&] { doc.call("ComputeStatistics", {Variant(int32_t(0))}); },
                          "statistic 0"));
        QVERIFY(!QFile::exists(pdf));
        doc.call("close");
        QVERIFY(failsWith([&] { doc.get("StoryRanges"); }, "closed"));
        QVERIFY(failsWith(
            [&] {
                find.call("Execute", {}, {{"Replace", Variant(int16_t(2))}});
            },
            "closed"));
        QVERIFY(failsWith([&] { range.get("Text"); }, "closed"));
    }
};

VELTRANE_TEST_MAIN(OfficeWordTest)
#include "office_word_test.moc"
