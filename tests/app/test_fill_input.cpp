// What a script hands the command line: CSV lists as spreadsheets save them,
// JSON facts, and the file names made from a list's rows.

#include "app/csv.h"
#include "app/fillcommand.h"
#include "tests/support/testenv.h"

#include <QTest>

using app::readCsv;

namespace {

QList<QStringList> fieldsOf(const app::CsvTable& t) {
    QList<QStringList> out;
    for (const app::CsvRecord& r : t.records)
        out << r.fields;
    return out;
}

generate::Facts facts(const QString& id, const QString& name) {
    generate::Facts f;
    f[8] = id;
    f[0] = name;
    return f;
}

const char* const kAllKeys = R"("employeeName": "Ann", "manager": "Bob", "department": "Sales",
 "infraction": "Late", "improvement": "Be on time", "consequences": "Final",
 "jobTitle": "Clerk", "date": "2026-12-10", "employeeId": "E17")";

} // namespace

class FillInputTest : public QObject {
    Q_OBJECT

  private slots:
    void csvReadsWhatSpreadsheetsWrite() {
        // Quoted commas, doubled quotes, a line break inside a field, a byte-order
        // mark, CRLF line ends, spaces kept, and a last line without its end.
        const QByteArray crlf = "\xEF\xBB\xBF"
                                "a,b,c\r\n"
                                "\"x, y\",\"say \"\"hi\"\"\",\"one\r\ntwo\"\r\n"
                                "\r\n"
                                " p ,,\"\"\r\n"
                                "5\" nails,\xC3\xA9t\xC3\xA9,z";
        const app::CsvTable t = readCsv(crlf);
        QVERIFY2(t.error.isEmpty(), qPrintable(t.error));
        const QList<QStringList> expected{
            {"a", "b", "c"},
            {"x, y", "say \"hi\"", "one\r\ntwo"},
            {" p ", "", ""},
            {"5\" nails", QString::fromUtf8("\xC3\xA9t\xC3\xA9"), "z"}};
        QCOMPARE(fieldsOf(t), expected);
        // Rows as a spreadsheet counts them, lines as the file has them.
        QCOMPARE(t.records[2].number, 3);
        QCOMPARE(t.records[2].line, 5);
        QCOMPARE(t.records[3].line, 6);

        // LF line ends read the same, and a final line end adds no row.
        QByteArray lf = crlf;
        lf.replace("\r\n", "\n");
        lf += "\n";
        QList<QStringList> expectedLf = expected;
        expectedLf[1][2] = "one\ntwo";
        QCOMPARE(fieldsOf(readCsv(lf)), expectedLf);
    }

    void csvMistakesNameTheirLine() {
        struct Case {
            QByteArray text;
            const char* words;
        };
        const Case cases[] = {
            {"a,b\n1,\"open\n\n", "the quote opened on line 2 is never closed"},
            {"a,b\n\"x\"y,2\n", "line 2: text after a closing quote"},
            {"a,b\nok,1\n\xFF\xFE,2\n", "line 3 is not UTF-8"},
        };
        for (const Case& c : cases) {
            const app::CsvTable t = readCsv(c.text);
            QVERIFY2(t.error.contains(QLatin1String(c.words)), qPrintable(t.error));
            QVERIFY(t.records.isEmpty());
        }
        QVERIFY(readCsv("").records.isEmpty());
        QVERIFY(readCsv("").error.isEmpty());
    }

    void jsonFactsAreTheNineStrings() {
        QString why;
        const auto f = app::factsFromJson(QByteArray("{") + kAllKeys + "}", why);
        QVERIFY2(f, qPrintable(why));
        QCOMPARE((*f)[0], QString("Ann"));
        QCOMPARE((*f)[7], QString("2026-12-10"));
        QCOMPARE((*f)[8], QString("E17"));

        struct Case {
            QByteArray json;
            const char* words;
        };
        QByteArray noDate = QByteArray("{") + kAllKeys + "}";
        noDate.replace("\"date\": \"2026-12-10\",", "");
        QByteArray number = QByteArray("{") + kAllKeys + "}";
        number.replace("\"E17\"", "17");
        const Case cases[] = {
            {noDate, "the key \"date\" is missing"},
            {QByteArray("{") + kAllKeys + ", \"Date\": \"x\"}", "unknown key \"Date\""},
            {number, "the value of \"employeeId\" is not a string"},
            {QByteArray("{\n  \"employeeName\": \"Ann\"\n  \"manager\": \"Bob\"\n}"),
             "at line 3, column"},
            {"[1, 2]", "one JSON object"},
        };
        for (const Case& c : cases) {
            QVERIFY(!app::factsFromJson(c.json, why));
            QVERIFY2(why.contains(QLatin1String(c.words)), qPrintable(why));
        }
    }

    void namesAreSafeAndNeverRepeat() {
        QSet<QString> taken;
        auto name = [&](const QString& id, const QString& who, int row = 2) {
            return app::noticeFileName(facts(id, who), row, "doc", taken);
        };
        QCOMPARE(name("E17", "Ann Lee"), QString("E17 Ann Lee.doc"));
        // The same name again, or differing only in case, gets a number.
        QCOMPARE(name("E17", "Ann Lee"), QString("E17 Ann Lee (2).doc"));
        QCOMPARE(name("e17", "ANN LEE"), QString("e17 ANN LEE (3).doc"));
        // Folders, control characters and what other systems refuse become '_'.
        QCOMPARE(name("../..", "a/b\\c"), QString("_.. a_b_c.doc"));
        QCOMPARE(name("E1\n", QString("x\ty") + QChar(0x7f) + "<z>?"), QString("E1_ x_y__z__.doc"));
        // Never hidden, never "." or "..", never empty.
        QCOMPARE(name("", ".."), QString("row 2.doc"));
        QCOMPARE(name("", "", 9), QString("row 9.doc"));
        QCOMPARE(name(".hidden", ""), QString("hidden.doc"));
        QCOMPARE(name("", "CON"), QString("_CON.doc"));

        // Long names keep within 255 bytes, the extension and number kept,
        // and no character is cut in half.
        const QString longName = QString::fromUtf8("\xE5\xB1\xB1").repeated(200);
        const QString a = name("E9", longName);
        const QString b = name("E9", longName);
        for (const QString& n : {a, b}) {
            QVERIFY2(n.toUtf8().size() <= 255, qPrintable(n));
            QVERIFY(n.endsWith(".doc"));
            QVERIFY(!n.contains(QChar::ReplacementCharacter));
        }
        QVERIFY(b.endsWith(" (2).doc"));
        QVERIFY(a != b);
    }
};

VELTRANE_TEST_MAIN(FillInputTest)
#include "test_fill_input.moc"
