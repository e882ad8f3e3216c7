// Which template a generation uses: the organisation's own from the XDG data
// folders, or the built-in one, and what the user is told about a bad one.

#include "generate/paper.h"
#include "generate/template.h"
#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QtEndian>
#include <cstdio>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(VELTRANE_SOURCE_DIR "/tests/generate/data/") + name;
}

QByteArray builtIn() {
    return generate::loadResData(101, QStringLiteral("CUSTOM"));
}

// The built-in template with one UTF-16 text swapped for another of its length.
QByteArray builtInWith(const char* from, const char* to) {
    auto wide = [](const char* s) {
        QByteArray w;
        for (; *s; ++s)
            w.append(*s).append('\0');
        return w;
    };
    QByteArray b = builtIn();
    const qsizetype at = b.indexOf(wide(from));
    if (at < 0)
        return {};
    b.replace(at, wide(to).size(), wide(to));
    return b;
}

// A compound file's header for the given sector size (as a power of two).
QByteArray compoundHeader(int shift, quint32 fatSectors, quint32 difatStart, quint32 difatCount) {
    QByteArray h(qsizetype(1) << shift, '\0');
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, h.data() + at); };
    auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, h.data() + at); };
    h.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    put16(0x18, 0x3E);
    put16(0x1A, shift == 12 ? 4 : 3);
    put16(0x1C, 0xFFFE);
    put16(0x1E, quint16(shift));
    put16(0x20, 6);
    put32(0x2C, fatSectors);
    put32(0x30, 0);          // the directory starts in sector 0
    put32(0x38, 4096);       // the mini stream cutoff
    put32(0x3C, 0xFFFFFFFE); // no mini allocation table
    put32(0x44, difatStart);
    put32(0x48, difatCount);
    for (int i = 0; i < 109; ++i)
        put32(0x4C + 4 * i, 0xFFFFFFFF);
    return h;
}

// 20 MiB of directory, every entry of which says it is the root whose mini
// stream runs through the whole file.
QByteArray manyRoots() {
    const quint32 sectors = 5100, fatSectors = 5, dirSectors = sectors - fatSectors;
    QByteArray f = compoundHeader(12, fatSectors, 0xFFFFFFFE, 0);
    for (quint32 i = 0; i < fatSectors; ++i)
        qToLittleEndian(dirSectors + i, f.data() + 0x4C + 4 * i);
    QByteArray entry(128, '\0');
    entry[0x42] = 5;
    qToLittleEndian(quint32(0), entry.data() + 0x74);
    qToLittleEndian(quint32(4096), entry.data() + 0x78);
    const QByteArray sector = entry.repeated(4096 / 128);
    f.reserve(qsizetype(sectors + 1) * 4096);
    for (quint32 s = 0; s < dirSectors; ++s)
        f += sector;
    QByteArray fat(qsizetype(fatSectors) * 4096, '\xFF');
    for (quint32 s = 0; s < sectors; ++s) {
        const quint32 next = s + 1 < dirSectors ? s + 1 : s < dirSectors ? 0xFFFFFFFE : 0xFFFFFFFD;
        qToLittleEndian(next, fat.data() + 4 * s);
    }
    return f + fat;
}

// One allocation-table sector named in the header, and a chain of further
// ones (the DIFAT) said to be four billion long whose one sector points to itself.
QByteArray selfLinkedDifat() {
    QByteArray f = compoundHeader(9, 1, 1, 0xFFFFFFFF);
    qToLittleEndian(quint32(0), f.data() + 0x4C);
    QByteArray fat(512, '\xFF');
    qToLittleEndian(quint32(0xFFFFFFFD), fat.data());
    qToLittleEndian(quint32(0xFFFFFFFC), fat.data() + 4);
    QByteArray difat(512, '\xFF');
    qToLittleEndian(quint32(1), difat.data() + 508);
    return f + fat + difat;
}

// Sets environment variables while alive ("" unsets), then puts back what was.
class Environment {
  public:
    Environment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            mOld.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            if (*value)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }
    ~Environment() {
        for (const Saved& s : mOld)
            if (s.set)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
    }

  private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool set;
    };
    QList<Saved> mOld;
};

} // namespace

class TemplateTest : public QObject {
    Q_OBJECT
    QString user, systemA, systemB;

    QString own(const QString& folder) { return folder + QStringLiteral("/veltrane/template.dot"); }

    void put(const QString& path, const QByteArray& bytes) {
        QFile::remove(path);
        QDir(path).removeRecursively();
        testsupport::writeFile(path, bytes);
    }

  private slots:
    void init() {
        const QString root = testsupport::sandboxRoot() + QStringLiteral("/lookup");
        QDir(root).removeRecursively();
        user = root + QStringLiteral("/user");
        systemA = root + QStringLiteral("/local");
        systemB = root + QStringLiteral("/system");
        qputenv("XDG_DATA_HOME", QFile::encodeName(user));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(systemA + QLatin1Char(':') + systemB));
        generate::resetTemplateMessagesForTests();
    }

    void theLookupFollowsTheXdgFolders() {
        QCOMPARE(generate::ownTemplateCandidates(),
                 QStringList({own(user), own(systemA), own(systemB)}));

        // Unset or relative folders fall back to the defaults.
        qputenv("XDG_DATA_HOME", "relative/data");
        qunsetenv("XDG_DATA_DIRS");
        QCOMPARE(
            generate::ownTemplateCandidates(),
            QStringList({QDir::homePath() + QStringLiteral("/.local/share/veltrane/template.dot"),
                         QStringLiteral("/usr/local/share/veltrane/template.dot"),
                         QStringLiteral("/usr/share/veltrane/template.dot")}));
    }

    void theUsersTemplateComesBeforeTheSystemsBeforeTheBuiltIn() {
        MsgBoxRecorder boxes;
        const QByteArray userBytes = testsupport::readFile(fixture(QStringLiteral("ardmoor.dot")));
        const QByteArray systemBytes =
            testsupport::readFile(fixture(QStringLiteral("ardmoor.docx")));
        QVERIFY(!userBytes.isEmpty() && !systemBytes.isEmpty());
        put(own(systemB), systemBytes);
        put(own(user), userBytes);
        QCOMPARE(generate::templateBytes(), userBytes);
        QFile::remove(own(user));
        QCOMPARE(generate::templateBytes(), systemBytes);
        QFile::remove(own(systemB));
        QCOMPARE(generate::templateBytes(), builtIn());
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
    }

    void aRefusedFileIsToldOnceAndTheBuiltInServes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("kind"); // file, folder, sparse, dangling
        QTest::addColumn<QString>("reason");
        QTest::newRow("garbage") << QByteArray("This is no document at all.\n") << "file"
                                 << "is not a word-processor document";
        QTest::newRow("empty") << QByteArray() << "file"
                               << "is empty";
        QTest::newRow("too large") << QByteArray() << "sparse"
                                   << "is larger than 20 MiB";
        QTest::newRow("folder") << QByteArray() << "folder"
                                << "is a folder";
        QTest::newRow("dangling link") << QByteArray() << "dangling"
                                       << "cannot be read";
        QTest::newRow("a compound file that is no Word document")
            << builtInWith("WordDocument", "WordDokument") << "file"
            << "is not a word-processor document";
        QByteArray notText = testsupport::readFile(fixture(QStringLiteral("partial.odt")));
        notText.replace("opendocument.text", "opendocument.base");
        QTest::newRow("an OpenDocument database") << notText << "file"
                                                  << "is not a word-processor document";
        QTest::newRow("a truncated compound file") << builtIn().left(512) << "file"
                                                   << "is not a word-processor document";
    }
    void aRefusedFileIsToldOnceAndTheBuiltInServes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = own(user);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (kind == QLatin1String("file")) {
            put(path, bytes);
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QLatin1String("sparse")) {
            put(path, QByteArray());
            QVERIFY(::truncate(QFile::encodeName(path).constData(),
                               generate::kMaxTemplateSize + 1) == 0);
        } else {
            QVERIFY(QFile::link(path + QStringLiteral(".gone"), path));
        }

        MsgBoxRecorder boxes;
        QCOMPARE(generate::templateBytes(), builtIn());
        QCOMPARE(boxes.seen.size(), 1);
        const QString prompt = boxes.seen[0].prompt;
        QVERIFY2(prompt.contains(QLatin1Char('"') + path + QLatin1Char('"')), qPrintable(prompt));
        QVERIFY2(prompt.contains(reason), qPrintable(prompt));
        QVERIFY2(prompt.contains(QStringLiteral("built-in template")), qPrintable(prompt));
        QCOMPARE(boxes.seen[0].title, QString()); // the application title
        QVERIFY(boxes.seen[0].style & ui::vbExclamation);

        // Once per run: the next generation says nothing more.
        QCOMPARE(generate::templateBytes(), builtIn());
        QCOMPARE(boxes.seen.size(), 1);
    }

    void aRefusedUsersTemplateGivesWayToTheSystemsOne() {
        const QByteArray systemBytes =
            testsupport::readFile(fixture(QStringLiteral("ardmoor.dot")));
        put(own(user), QByteArray("garbage"));
        put(own(systemA), systemBytes);
        MsgBoxRecorder boxes;
        QCOMPARE(generate::templateBytes(), systemBytes);
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].prompt.contains(own(user)));
        QVERIFY2(boxes.seen[0].prompt.contains(
                     QStringLiteral("made from the template \"%1\"").arg(own(systemA))),
                 qPrintable(boxes.seen[0].prompt));
    }

    // The locale's paper, else the system's as libpaper keeps it, else Letter.
    void thePaperFollowsTheDesktop_data() {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lcPaper");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QByteArray>("papersize");
        QTest::addColumn<QByteArray>("papersizeFile"); // "" = no such file
        QTest::addColumn<bool>("a4");
        const QByteArray none;
        QTest::newRow("German locale") << none << QByteArray("de_DE.UTF-8") << none
                                       << QByteArray("letter") << QByteArray("letter\n") << true;
        QTest::newRow("American locale")
            << none << QByteArray("en_US.UTF-8") << none << QByteArray("a4") << none << false;
        QTest::newRow("LANG alone")
            << none << none << QByteArray("de_DE.UTF-8") << none << none << true;
        QTest::newRow("LC_ALL above LC_PAPER")
            << QByteArray("de_DE.UTF-8") << QByteArray("C") << none << none << none << true;
        QTest::newRow("C locale, PAPERSIZE")
            << none << QByteArray("C.UTF-8") << none << QByteArray("A4") << none << true;
        QTest::newRow("locale not installed, papersize file")
            << none << QByteArray("xx_YY.UTF-8") << none << none
            << QByteArray("# the system's paper\n\n  a4  \n") << true;
        QTest::newRow("papersize file says letter")
            << none << QByteArray("C") << none << none << QByteArray("letter\n") << false;
        QTest::newRow("ISO family")
            << none << QByteArray("C") << none << QByteArray("a5") << none << true;
        QTest::newRow("US family")
            << none << QByteArray("C") << none << QByteArray("legal") << none << false;
        QTest::newRow("nothing set") << none << QByteArray("C") << none << none << none << false;
        QTest::newRow("unknown name")
            << none << QByteArray("C") << none << none << QByteArray("b5-ish-custom\n") << false;
    }

    void thePaperFollowsTheDesktop() {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lcPaper);
        QFETCH(QByteArray, lang);
        QFETCH(QByteArray, papersize);
        QFETCH(QByteArray, papersizeFile);
        QFETCH(bool, a4);
        for (const QByteArray& locale : {lcAll, lcPaper, lang})
            if (locale.contains('_') && !locale.startsWith("xx_")) {
                const QString why = testsupport::provideLocale(QString::fromLatin1(locale));
                if (!why.isEmpty())
                    QSKIP(qPrintable(why));
            }
        const QString conf = testsupport::sandboxRoot() + QStringLiteral("/papersize");
        QFile::remove(conf);
        if (!papersizeFile.isEmpty())
            testsupport::writeFile(conf, papersizeFile);
        const QByteArray confPath = QFile::encodeName(conf);
        const Environment env{{"LC_ALL", lcAll.constData()},
                              {"LC_PAPER", lcPaper.constData()},
                              {"LANG", lang.constData()},
                              {"PAPERSIZE", papersize.constData()},
                              {"PAPERCONF", confPath.constData()}};
        const generate::PaperChoice choice = generate::desktopPaper();
        QCOMPARE(choice.paper, a4 ? generate::Paper::A4 : generate::Paper::Letter);

        // The built-in template that generation writes is the one on that
        // paper; an own template is used as it is, whatever the paper.
        MsgBoxRecorder boxes;
        const QByteArray builtInOnPaper =
            generate::loadResData(a4 ? 102 : 101, QStringLiteral("CUSTOM"));
        QCOMPARE(generate::templateBytes(), builtInOnPaper);
        const QByteArray ownBytes = testsupport::readFile(fixture(QStringLiteral("ardmoor.dot")));
        put(own(user), ownBytes);
        QCOMPARE(generate::templateBytes(), ownBytes);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
    }

    // Both papers' templates are whole Word templates with every placeholder,
    // and differ from each other.
    void theBuiltInTemplateComesInBothPapers() {
        const QByteArray letter = generate::loadResData(101, QStringLiteral("CUSTOM"));
        const QByteArray a4 = generate::loadResData(102, QStringLiteral("CUSTOM"));
        QVERIFY(letter != a4);
        for (const QByteArray& t : {letter, a4}) {
            QCOMPARE(generate::documentProblem(t), QString());
            QCOMPARE(generate::missingPlaceholders(t), QStringList());
        }
    }

    void theMissingPlaceholdersAreFoundInEveryFormat_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("missing");
        const QStringList none;
        QTest::newRow("built-in") << builtIn() << none;
        QTest::newRow("Word 97 template") << testsupport::readFile(fixture("ardmoor.dot")) << none;
        QTest::newRow("Word 97 with macros") << testsupport::readFile(fixture("vba.dot")) << none;
        QTest::newRow("Office Open XML") << testsupport::readFile(fixture("ardmoor.docx")) << none;
        QTest::newRow("OpenDocument template")
            << testsupport::readFile(fixture("macro.ott")) << none;
        // [Manager] is there, split across a bold and a plain run.
        QTest::newRow("OpenDocument, two taken out")
            << testsupport::readFile(fixture("partial.odt"))
            << QStringList{QStringLiteral("[JobTitle]"), QStringLiteral("[EmployeeID]")};
        QTest::newRow("Word 97, one renamed") << builtInWith("[Department]", "[Departmant]")
                                              << QStringList{QStringLiteral("[Department]")};
        QTest::newRow("any case is a match") << builtInWith("[Department]", "[DEPARTMENT]") << none;
    }
    void theMissingPlaceholdersAreFoundInEveryFormat() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, missing);
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(generate::documentProblem(bytes), QString());
        QCOMPARE(generate::missingPlaceholders(bytes), missing);
    }

    // A damaged file of each format is judged without reading outside it
    // (the sanitizer build sees any stray read) and never taken for whole.
    void damagedFilesAreJudgedSafely() {
        const QStringList names{QStringLiteral("ardmoor.dot"), QStringLiteral("ardmoor.docx"),
                                QStringLiteral("partial.odt")};
        for (const QString& name : names) {
            const QByteArray whole = testsupport::readFile(fixture(name));
            QVERIFY(!whole.isEmpty());
            for (qsizetype cut = 0; cut < whole.size(); cut += 97) {
                const QByteArray part = whole.left(cut);
                generate::documentProblem(part);
                generate::missingPlaceholders(part);
            }
            // Every 4-byte word of the first 4 KiB (headers, tables, the directory)
            // set to values that point everywhere and nowhere.
            for (qsizetype at = 0; at + 4 <= qMin<qsizetype>(whole.size(), 4096); at += 4)
                for (const char* v : {"\xFF\xFF\xFF\x7F", "\x00\x00\x00\x00", "\x10\x00\x00\x00"}) {
                    QByteArray bad = whole;
                    bad.replace(at, 4, QByteArray(v, 4));
                    generate::documentProblem(bad);
                    generate::missingPlaceholders(bad);
                }
            // Cut short inside its signature, nothing is a document.
            QVERIFY(!generate::documentProblem(whole.left(7)).isEmpty());
            QCOMPARE(generate::missingPlaceholders(whole.left(7)).size(), 9);
        }
    }

    // Crafted compound files that once cost hours are judged within seconds
    // (a bound any machine meets), in a process of their own so a hang ends.
    void craftedCompoundFilesAreJudgedQuickly_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("many roots") << manyRoots();
        QTest::newRow("self-linked DIFAT") << selfLinkedDifat();
    }

    void craftedCompoundFilesAreJudgedQuickly() {
        QFETCH(QByteArray, bytes);
        QVERIFY(bytes.size() <= generate::kMaxTemplateSize);
        const QString path =
            testsupport::writeFile(testsupport::sandboxRoot() + QStringLiteral("/crafted/") +
                                       QTest::currentDataTag() + QStringLiteral(".dot"),
                                   bytes);
        testsupport::ChildProcess judge;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEMPLATE_TEST_JUDGE"), path);
        judge.setEnvironment(env);
        QVERIFY(judge.start(QCoreApplication::applicationFilePath(), {}));
        const bool judged = judge.waitForFinished(5000);
        QVERIFY2(judged, "the file was not judged within 5 seconds");
        QCOMPARE(judge.exitCode(), 0);
        QCOMPARE(judge.readAllStandardOutput().trimmed(),
                 QByteArray("it is not a word-processor document (a Word or OpenDocument text "
                            "document or template)"));
    }

    void aTemplateLackingPlaceholdersIsUsedAndSaysWhatTheNoticeLacks() {
        const QByteArray partial = testsupport::readFile(fixture(QStringLiteral("partial.odt")));
        put(own(systemB), partial);
        MsgBoxRecorder boxes;
        QCOMPARE(generate::templateBytes(), partial);
        QCOMPARE(boxes.seen.size(), 1);
        const QString prompt = boxes.seen[0].prompt;
        QVERIFY2(prompt.contains(own(systemB)), qPrintable(prompt));
        QVERIFY2(
            prompt.contains(QStringLiteral("[JobTitle] (Job Title)\r\n[EmployeeID] (Employee ID)")),
            qPrintable(prompt));
        QVERIFY(!prompt.contains(QStringLiteral("[Manager]")));
        QCOMPARE(generate::templateBytes(), partial);
        QCOMPARE(boxes.seen.size(), 1);
    }
};

int main(int argc, char** argv) {
    // Run again by the test as a judge of one file: says what it made of it.
    if (const QByteArray path = qgetenv("TEMPLATE_TEST_JUDGE"); !path.isEmpty()) {
        const generate::TemplateFile t = generate::inspectTemplate(QFile::decodeName(path));
        std::printf("%s\n", t.refusal.isEmpty() ? "serves" : qPrintable(t.refusal));
        return 0;
    }
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TemplateTest tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "test_template.moc"
