// The road of one generation from the template to the saved document and its
// page picture, step by step under the create handler's line numbers.

#include "generation.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "common/procnames.h"
#include "generate/clipboard.h"
#include "generate/randomname.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "platform/automation/stageclock.h"
#include "platform/ui/picture.h"

using automation::NamedArg;
using automation::Object;
using automation::StageClock;
using automation::Variant;
using common::ErrorTrap;

namespace generate {

namespace {

QString templatePath() {
    return common::tempPath(QStringLiteral("template.dot"));
}

// The template goes to the temporary folder, unless a file of that name is
// there: the organisation's own where one is installed, else the built-in one.
void copyTemplate(ErrorTrap& trap) {
    QByteArray bytes;
    trap.at(106, [&] {
        StageClock clock("template lookup and check");
        bytes = templateBytes();
    });
    trap.at(108, [&] {
        StageClock clock("template.dot written");
        const QString p = templatePath();
        if (!common::fileExists(p))
            common::writeBytesIfMissing(bytes, p);
    });
}

struct OpenTemplate {
    Object wordApp;
    Object doc;
    QString path;
};

OpenTemplate openTemplate(ErrorTrap& trap) {
    OpenTemplate t;
    trap.at(110, [&] { t.wordApp = automation::createObject(QStringLiteral("Word.Application")); });
    trap.at(112, [&] { t.path = templatePath(); });
    trap.at(114, [&] {
        t.doc = t.wordApp[QStringLiteral("Documents")]
                    .call(QStringLiteral("Open"), {Variant(t.path)},
                          {NamedArg{QStringLiteral("ReadOnly"), Variant(true)}})
                    .toObject();
    });
    return t;
}

// The text frames of shapes: shapes outside, facts inside.
void replaceInShapes(ErrorTrap& trap, const Object& doc, const entry::FactValues& values) {
    QList<Variant> shapes;
    bool haveShapes = false;
    trap.at(154, [&] {
        shapes = doc[QStringLiteral("Shapes")].items();
        haveShapes = true;
    });
    if (!haveShapes)
        return;
    for (const Variant& shape : shapes) {
        bool hasText = false;
        trap.at(156, [&] {
            const Variant v =
                shape.toObject()[QStringLiteral("TextFrame")].get(QStringLiteral("HasText"));
            hasText = !v.isNull() && v.toBool();
        });
        if (!hasText)
            continue;
        trap.line(158);
        for (entry::Fact fact : entry::kFacts) {
            trap.at(160, [&] {
                QList<Variant> args{Variant(entry::placeholder(fact))};
                for (int k = 0; k < 8; ++k)
                    args << Variant::missing();
                args << Variant(values[entry::indexOf(fact)]) << Variant(int16_t(2));
                shape
                    .toObject()[QStringLiteral("TextFrame")][QStringLiteral("TextRange")]
                               [QStringLiteral("Find")]
                    .call(QStringLiteral("Execute"), args);
            });
            trap.line(162);
        }
        trap.line(164);
    }
}

// A fresh name in the temporary folder; a name already taken is never reused.
QString freshDocumentPath(ErrorTrap& trap) {
    QString name;
    QString path;
    bool taken = false;
    do {
        trap.at(166, [&] { name = QStringLiteral("amerrow"); });
        trap.line(168);
        for (int k = 0; k < 8; ++k) {
            int digit = 0;
            trap.at(170, [&] { randomize(secondsSinceMidnight()); });
            trap.at(172, [&] { digit = static_cast<int>(rnd() * 9.0f) + 1; });
            trap.at(174, [&] { name += QString::number(digit); });
            trap.line(176);
        }
        trap.at(178, [&] { path = common::tempPath(name + QStringLiteral(".doc")); });
        taken = false;
        trap.at(180, [&] { taken = common::fileExists(path); });
    } while (taken);
    return path;
}

void saveAndClose(ErrorTrap& trap, OpenTemplate& t, const QString& path) {
    trap.at(182, [&] { t.doc.call(QStringLiteral("SaveAs"), {Variant(path)}); });
    trap.at(184, [&] { t.wordApp.set(QStringLiteral("DisplayAlerts"), Variant(false)); });
    trap.at(186, [&] { t.doc.call(QStringLiteral("Close")); });
    trap.at(188, [&] { t.wordApp.call(QStringLiteral("quit")); });
    trap.at(190, [&] { t.doc.release(); });
    trap.at(192, [&] { t.wordApp.release(); });
    trap.at(194, [&] { common::deleteFileQuietly(t.path); });
}

} // namespace

void replaceInStories(ErrorTrap& trap, const Object& doc, const QString& placeholder,
                      const QString& value) {
    QList<Variant> stories;
    bool haveStories = false;
    trap.at(118, [&] {
        stories = doc.get(QStringLiteral("StoryRanges")).toObject().items();
        haveStories = true;
    });
    if (!haveStories)
        return;
    for (const Variant& story : stories) {
        Object range;
        Object find;
        trap.at(120, [&] { range = story.toObject(); });
        trap.at(122,
                [&] { range[QStringLiteral("Find")].call(QStringLiteral("ClearFormatting")); });
        trap.at(124, [&] {
            range[QStringLiteral("Find")][QStringLiteral("Replacement")].call(
                QStringLiteral("ClearFormatting"));
        });
        trap.at(126, [&] { find = range[QStringLiteral("Find")]; });
        trap.at(128, [&] { find.set(QStringLiteral("Text"), Variant(placeholder)); });
        trap.at(130, [&] {
            find[QStringLiteral("Replacement")].set(QStringLiteral("Text"), Variant(value));
        });
        trap.at(132, [&] { find.set(QStringLiteral("Forward"), Variant(true)); });
        trap.at(134, [&] { find.set(QStringLiteral("Wrap"), Variant(int32_t(1))); });
        trap.at(136, [&] { find.set(QStringLiteral("Format"), Variant(false)); });
        trap.at(138, [&] { find.set(QStringLiteral("MatchCase"), Variant(false)); });
        trap.at(140, [&] { find.set(QStringLiteral("MatchWholeWord"), Variant(false)); });
        trap.at(142, [&] { find.set(QStringLiteral("MatchWildcards"), Variant(false)); });
        trap.at(144, [&] { find.set(QStringLiteral("MatchSoundsLike"), Variant(false)); });
        trap.at(146, [&] { find.set(QStringLiteral("MatchAllWordForms"), Variant(false)); });
        trap.at(148, [&] {
            range[QStringLiteral("Find")].call(
                QStringLiteral("Execute"), {},
                {NamedArg{QStringLiteral("Replace"), Variant(int16_t(2))}});
        });
        trap.line(150);
    }
}

Notice makeNotice(ErrorTrap& trap, const entry::FactValues& values) {
    copyTemplate(trap);
    OpenTemplate t = openTemplate(trap);

    // Each placeholder in every story: facts outside, stories inside, the
    // story collection fetched anew for each fact.
    trap.line(116);
    for (entry::Fact fact : entry::kFacts) {
        replaceInStories(trap, t.doc, entry::placeholder(fact), values[entry::indexOf(fact)]);
        trap.line(152);
    }
    replaceInShapes(trap, t.doc, values);

    Notice notice;
    notice.document = freshDocumentPath(trap);
    saveAndClose(trap, t, notice.document);
    trap.at(196, [&] { savePagePicture(notice.document); });
    notice.picture = common::tempPath(QStringLiteral("temp.bmp"));
    return notice;
}

void savePagePicture(const QString& documentPath) {
    ErrorTrap trap(common::proc::savePagePicture);
    Object wordApp;
    Object doc;
    trap.at(116, [&] { wordApp = automation::createObject(QStringLiteral("Word.Application")); });
    trap.at(118, [&] {
        doc = wordApp[QStringLiteral("Documents")]
                  .call(QStringLiteral("Open"), {Variant(documentPath)})
                  .toObject();
    });
    trap.at(120, [&] { doc[QStringLiteral("Range")].call(QStringLiteral("CopyAsPicture")); });
    trap.at(122, [&] {
        const int32_t anyFormat = 0;
        StageClock read("clipboard read");
        const QImage picture = getClipboardPicture(anyFormat);
        read.stop();
        StageClock write("temp.bmp written");
        ui::SavePicture(picture, common::tempPath(QStringLiteral("temp.bmp")));
    });
    trap.at(124, [&] {
        wordApp[QStringLiteral("ActiveDocument")].call(
            QStringLiteral("Close"), {},
            {NamedArg{QStringLiteral("savechanges"), Variant(int16_t(0))}});
    });
    trap.at(126, [&] { wordApp.call(QStringLiteral("quit")); });
}

} // namespace generate
