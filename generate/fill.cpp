#include "fill.h"

#include "entry/warningrecord.h"
#include "platform/automation/automation.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

using automation::NamedArg;
using automation::Object;
using automation::Variant;

namespace generate {

namespace {

Q_LOGGING_CATEGORY(lcFill, "veltrane.fill", QtWarningMsg)

// Word's numbers for SaveAs and the PDF export.
constexpr int32_t wdFormatDocument = 0;
constexpr int32_t wdFormatXMLDocument = 12;
constexpr int32_t wdFormatOpenDocumentText = 23;
constexpr int32_t wdExportFormatPDF = 17;

struct FormatName {
    NoticeFormat format;
    const char* name;
};
constexpr FormatName kFormatNames[] = {{NoticeFormat::Doc, "doc"},
                                       {NoticeFormat::Pdf, "pdf"},
                                       {NoticeFormat::Docx, "docx"},
                                       {NoticeFormat::Odt, "odt"}};

QString placeholder(std::size_t index) {
    return entry::placeholder(entry::kFacts[index]);
}

bool holdsAnyPlaceholder(const QString& text) {
    for (std::size_t i = 0; i < entry::kFields.size(); ++i)
        if (text.contains(placeholder(i), Qt::CaseInsensitive))
            return true;
    return false;
}

// The text boxes, shape by shape and field by field, as the window's second
// pass does it. A box without any placeholder after the first pass cannot
// change, so only the others are searched.
void replaceInTextBoxes(const Object& doc, const Facts& facts) {
    for (const Variant& item : doc[QStringLiteral("Shapes")].items()) {
        const Object frame = item.toObject()[QStringLiteral("TextFrame")];
        const Variant hasText = frame.get(QStringLiteral("HasText"));
        if (hasText.isNull() || !hasText.toBool())
            continue;
        const Object range = frame[QStringLiteral("TextRange")];
        if (!holdsAnyPlaceholder(range.get(QStringLiteral("Text")).toString()))
            continue;
        for (std::size_t i = 0; i < facts.size(); ++i) {
            QList<Variant> args{Variant(placeholder(i))};
            for (int k = 0; k < 8; ++k)
                args << Variant::missing();
            args << Variant(facts[i]) << Variant(int16_t(2));
            range[QStringLiteral("Find")].call(QStringLiteral("Execute"), args);
        }
    }
}

} // namespace

std::optional<NoticeFormat> noticeFormatNamed(const QString& name) {
    for (const FormatName& f : kFormatNames)
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return f.format;
    return std::nullopt;
}

QString noticeFormatName(NoticeFormat format) {
    for (const FormatName& f : kFormatNames)
        if (f.format == format)
            return QLatin1String(f.name);
    return QString();
}

void fillNotice(const QString& templatePath, const Facts& facts, NoticeFormat format,
                const QString& outputPath) {
    NoticeFiller(templatePath).fill(facts, format, outputPath);
}

void NoticeFiller::quit() {
    if (mWordApp.isNothing())
        return;
    try {
        mWordApp.call(QStringLiteral("quit"));
    } catch (const automation::Error& e) {
        qCWarning(lcFill) << "the word processor did not quit:" << e.description();
    }
    mWordApp.release();
    mMade = 0;
}

void NoticeFiller::fill(const Facts& facts, NoticeFormat format, const QString& outputPath) {
    // A word processor that has served long enough makes way for a fresh one,
    // so what each notice leaves in it never piles up.
    if (mMade >= kNoticesPerSession)
        quit();
    if (mWordApp.isNothing())
        mWordApp = automation::createObject(QStringLiteral("Word.Application"));
    try {
        fillWith(mWordApp, facts, format, outputPath);
        ++mMade;
    } catch (...) {
        // Whatever it still holds goes with it; the next notice starts clean.
        quit();
        throw;
    }
}

void NoticeFiller::fillWith(const Object& wordApp, const Facts& facts, NoticeFormat format,
                            const QString& outputPath) {
    // Where a notice's time goes, on demand (QT_LOGGING_RULES="veltrane.fill.debug=true").
    QElapsedTimer clock;
    clock.start();
    qint64 opened = 0, replaced = 0, boxed = 0, saved = 0;
    const Object doc = wordApp[QStringLiteral("Documents")]
                           .call(QStringLiteral("Open"), {Variant(mTemplate)},
                                 {NamedArg{QStringLiteral("ReadOnly"), Variant(true)}})
                           .toObject();
    opened = clock.restart();
    // Field by field across the whole document: a value that holds a later
    // field's placeholder is filled again by that field, as in the window.
    for (std::size_t i = 0; i < facts.size(); ++i)
        doc.call(QStringLiteral("ReplaceAll"), {Variant(placeholder(i)), Variant(facts[i])});
    replaced = clock.restart();
    replaceInTextBoxes(doc, facts);
    boxed = clock.restart();

    switch (format) {
    case NoticeFormat::Pdf:
        doc.call(QStringLiteral("ExportAsFixedFormat"),
                 {Variant(outputPath), Variant(wdExportFormatPDF)},
                 {NamedArg{QStringLiteral("UseISO19005_1"), Variant(true)}});
        break;
    case NoticeFormat::Doc:
    case NoticeFormat::Docx:
    case NoticeFormat::Odt: {
        const int32_t word = format == NoticeFormat::Doc    ? wdFormatDocument
                             : format == NoticeFormat::Docx ? wdFormatXMLDocument
                                                            : wdFormatOpenDocumentText;
        doc.call(QStringLiteral("SaveAs"), {Variant(outputPath), Variant(word)});
        break;
    }
    }
    saved = clock.restart();
    wordApp.set(QStringLiteral("DisplayAlerts"), Variant(false));
    doc.call(QStringLiteral("Close"), {},
             {NamedArg{QStringLiteral("SaveChanges"), Variant(int16_t(0))}});
    qCDebug(lcFill) << "notice made: open" << opened << "ms, replace" << replaced
                    << "ms, text boxes" << boxed << "ms, save" << saved << "ms, close"
                    << clock.elapsed() << "ms";
}

} // namespace generate
