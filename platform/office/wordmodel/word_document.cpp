// A document: its stories, its main text, its shapes, saving it and closing it.

#include "word_objects.h"

#include "picture_and_text.h"

#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace office {

namespace {

// Word's numbers for the export's format and range, and for the page count.
constexpr int kExportFormatPdf = 17;
constexpr int kExportAllDocument = 0;
constexpr int kExportFromTo = 3;
constexpr int kStatisticPages = 2;

// The formats SaveAs writes, by Word's numbers, with the office's filter.
struct SaveFormat {
    int word;
    const char* suffix;
    const char* filter;
};
constexpr SaveFormat kSaveFormats[] = {
    {0, "doc", "MS Word 97"},         // wdFormatDocument
    {12, "docx", "MS Word 2007 XML"}, // wdFormatXMLDocument
    {16, "docx", "MS Word 2007 XML"}, // wdFormatDocumentDefault
    {23, "odt", "writer8"},           // wdFormatOpenDocumentText
};

const SaveFormat* saveFormat(int word) {
    for (const SaveFormat& f : kSaveFormats)
        if (f.word == word)
            return &f;
    return nullptr;
}

// Moves a file the office wrote in its own folder to where the caller wants
// it, whole: renamed when it can be, else copied through a file that only
// takes the target's name once complete.
void moveIntoPlace(const QString& from, const QString& to, const char* member) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return;
    const int renameError = errno;
    QFile source(from);
    QSaveFile target(to);
    if (renameError != EXDEV || !source.open(QIODevice::ReadOnly) ||
        !target.open(QIODevice::WriteOnly) || target.write(source.readAll()) != source.size() ||
        !target.commit()) {
        const QString why = renameError != EXDEV
                                ? QString::fromLocal8Bit(std::strerror(renameError))
                                : target.errorString();
        QFile::remove(from);
        throw Error(QStringLiteral("%1: cannot write %2: %3").arg(QLatin1String(member), to, why));
    }
    QFile::remove(from);
}

class Document final : public InDocument {
  public:
    Document(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d)
        : InDocument(std::move(s), std::move(d)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        static const Member<Document> members[] = {
            {"StoryRanges", ordinary<&Document::storyRanges>},
            {"Range", ordinary<&Document::mainText>},
            {"Shapes", ordinary<&Document::shapes>},
            {"SaveAs", lengthy<&Document::saveAs>},
            {"ExportAsFixedFormat", lengthy<&Document::exportAsFixedFormat>},
            {"ComputeStatistics", lengthy<&Document::computeStatistics>},
            {"Close", lengthy<&Document::close>},
            {"ReplaceAll", lengthy<&Document::replaceAll>},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    using Method = Variant (Document::*)(const QList<Variant>&, const QList<NamedArg>&);

    // Members that answer at once, and those that may take a while (they
    // load, lay out or write the document).
    template <Method method> static Variant ordinary(Document& d, const Call& c) {
        return d.call(c.name, Bound::Ordinary, [&] { return (d.*method)(c.args, c.named); });
    }
    template <Method method> static Variant lengthy(Document& d, const Call& c) {
        return d.call(c.name, Bound::Lengthy, [&] { return (d.*method)(c.args, c.named); });
    }

    Variant storyRanges(const QList<Variant>&, const QList<NamedArg>&) {
        if (!mDoc->stories)
            mDoc->stories = collectStories(*mSession, mDoc->doc);
        QList<Variant> items;
        for (const Story& s : *mDoc->stories)
            items.append(makeRange(mSession, mDoc, s));
        return Variant(makeCollection(mSession, mDoc, items));
    }

    Variant mainText(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named, {"Start", "End"});
        if (a.has(0) || a.has(1))
            throw Error(QStringLiteral("Range: only the whole main text is supported"));
        Story main;
        main.writerTexts.push_back(mDoc->doc->getText());
        return Variant(makeRange(mSession, mDoc, main));
    }

    Variant shapes(const QList<Variant>&, const QList<NamedArg>&) {
        QList<Variant> items;
        for (const auto& shape : floatingShapes(*mSession, mDoc->doc))
            items.append(makeShape(mSession, mDoc, shape));
        return Variant(makeCollection(mSession, mDoc, items));
    }

    Variant saveAs(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"FileName", "FileFormat", "LockComments", "Password", "AddToRecentFiles",
                      "WritePassword", "ReadOnlyRecommended", "EmbedTrueTypeFonts",
                      "SaveNativePictureFormat", "SaveFormsData", "SaveAsAOCELetter", "Encoding",
                      "InsertLineBreaks", "AllowSubstitutions", "LineEnding", "AddBiDiMarks",
                      "CompatibilityMode"});
        if (!a.has(0) || a.at(0).toString().isEmpty())
            throw Error(QStringLiteral("SaveAs: a file name is needed"));
        const QString path = a.at(0).toString();
        // Without a format, the Word 97-2003 .doc.
        const int format = a.has(1) ? a.at(1).toInt() : 0;
        if (!saveFormat(format))
            throw Error(QStringLiteral("SaveAs: file format %1 is not supported").arg(format));
        saveTo(path, format);
        mDoc->name = path;
        mDoc->savedTo = path;
        mDoc->savedFormat = format;
        return Variant();
    }

    void saveTo(const QString& path, int format) {
        const SaveFormat* f = saveFormat(format);
        storeStaged("SaveAs", path, QLatin1String(f->suffix), f->filter, {});
        Reference<css::util::XModifiable> m(mDoc->doc, UNO_QUERY);
        if (m.is())
            m->setModified(false);
    }

    // Written in the office's own folder, then moved into place: nothing of
    // the office's (no lock, no temporary file) ever lies beside the target,
    // even when it is killed while writing.
    void storeStaged(std::string_view member, const QString& path, const QString& suffix,
                     const char* filterName,
                     const css::uno::Sequence<css::beans::PropertyValue>& filterData) {
        mDoc->releaseLayout();
        const QString staging =
            mSession->privateTemp() +
            QStringLiteral("/saving-%1.%2")
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                .arg(suffix);
        std::vector<css::beans::PropertyValue> props{
            office::property("FilterName",
                             css::uno::Any(rtl::OUString::createFromAscii(filterName))),
            office::property("Overwrite", css::uno::Any(true)),
        };
        if (filterData.hasElements())
            props.push_back(office::property("FilterData", css::uno::Any(filterData)));
        const css::uno::Sequence<css::beans::PropertyValue> args(props.data(),
                                                                 sal_Int32(props.size()));
        Reference<css::frame::XStorable> st(mDoc->doc, UNO_QUERY_THROW);
        // Saving makes the file the document's own; an export leaves the
        // document as it was.
        if (member == "SaveAs")
            st->storeAsURL(toOU(fileUrl(staging)), args);
        else
            st->storeToURL(toOU(fileUrl(staging)), args);
        moveIntoPlace(staging, QFileInfo(path).absoluteFilePath(), member.data());
    }

    // PDF through the office's own export: vector, every page (or those asked
    // for), laid out as the document itself. Word's archival flag names
    // PDF/A-1; the office writes PDF/A-2b, which keeps transparency and is
    // what archives take today. Either way every font is embedded.
    Variant exportAsFixedFormat(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"OutputFileName", "ExportFormat", "OpenAfterExport", "OptimizeFor", "Range",
                      "From", "To", "Item", "IncludeDocProps", "KeepIRM", "CreateBookmarks",
                      "DocStructureTags", "BitmapMissingFonts", "UseISO19005_1"});
        if (!a.has(0) || a.at(0).toString().isEmpty())
            throw Error(QStringLiteral("ExportAsFixedFormat: a file name is needed"));
        if (!a.has(1))
            throw Error(QStringLiteral("ExportAsFixedFormat: an export format is needed"));
        const int format = a.at(1).toInt();
        if (format != kExportFormatPdf)
            throw Error(QStringLiteral("ExportAsFixedFormat: export format %1 is not supported")
                            .arg(format));
        if (a.has(2) && a.at(2).toBool())
            throw Error(QStringLiteral("ExportAsFixedFormat: nothing can be opened after export"));
        const int range = a.has(4) ? a.at(4).toInt() : kExportAllDocument;
        QString pages;
        if (range == kExportFromTo) {
            const int from = a.has(5) ? a.at(5).toInt() : 0;
            const int to = a.has(6) ? a.at(6).toInt() : 0;
            if (from < 1 || to < from)
                throw Error(QStringLiteral("ExportAsFixedFormat: pages %1 to %2 are no range")
                                .arg(from)
                                .arg(to));
            pages = QStringLiteral("%1-%2").arg(from).arg(to);
        } else if (range != kExportAllDocument) {
            throw Error(
                QStringLiteral("ExportAsFixedFormat: range %1 is not supported").arg(range));
        }
        const bool archival = a.has(13) && a.at(13).toBool();

        std::vector<css::beans::PropertyValue> filter;
        if (!pages.isEmpty())
            filter.push_back(office::property("PageRange", css::uno::Any(toOU(pages))));
        if (archival)
            filter.push_back(office::property("SelectPdfVersion", css::uno::Any(sal_Int32(2))));
        storeStaged(
            "ExportAsFixedFormat", a.at(0).toString(), QStringLiteral("pdf"), "writer_pdf_Export",
            css::uno::Sequence<css::beans::PropertyValue>(filter.data(), sal_Int32(filter.size())));
        return Variant();
    }

    // Only the page count, as Writer has laid the document out.
    Variant computeStatistics(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named, {"Statistic", "IncludeFootnotesAndEndnotes"});
        const int statistic = a.has(0) ? a.at(0).toInt() : -1;
        if (statistic != kStatisticPages)
            throw Error(
                QStringLiteral("ComputeStatistics: statistic %1 is not supported").arg(statistic));
        mDoc->releaseLayout();
        Reference<css::frame::XModel> model(mDoc->doc, UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> view(model->getCurrentController(), UNO_QUERY_THROW);
        sal_Int32 count = 0;
        if (!(view->getPropertyValue("PageCount") >>= count))
            throw Error(QStringLiteral("ComputeStatistics: the page count cannot be read"));
        return Variant(int32_t(count));
    }

    // Not Word's own: what a loop over StoryRanges with Find.Execute does for
    // one placeholder (every story, literal text, replace all), in one call
    // and one search. Returns how many places were replaced.
    Variant replaceAll(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named, {"FindText", "ReplaceWith", "MatchCase"});
        if (!a.has(0) || a.at(0).toString().isEmpty())
            throw Error(QStringLiteral("ReplaceAll: the text to find is needed"));
        if (!mDoc->stories)
            mDoc->stories = collectStories(*mSession, mDoc->doc);
        const SearchTerms terms{a.at(0).toString(), a.has(2) && a.at(2).toBool(), false};
        const QString with = a.has(1) ? a.at(1).toString() : QString();
        return Variant(int32_t(replaceInStories(*mSession, mDoc->doc, *mDoc->stories, terms,
                                                replacementLines(with), mDoc->search)));
    }

    Variant close(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named, {"SaveChanges", "OriginalFormat", "RouteDocument"});
        // -1 saves, 0 does not; -2 (ask) cannot ask anyone here, so it does not save.
        const int saveChanges = a.has(0) ? a.at(0).toInt() : 0;
        if (saveChanges == -1) {
            Reference<css::util::XModifiable> m(mDoc->doc, UNO_QUERY);
            if (m.is() && m->isModified()) {
                if (mDoc->savedTo.isEmpty())
                    throw Error(QStringLiteral("Close: the document has no file to save to"));
                saveTo(mDoc->savedTo, mDoc->savedFormat);
            }
        }
        Reference<css::util::XCloseable> c(mDoc->doc, UNO_QUERY_THROW);
        c->close(true);
        mDoc->closed = true;
        mDoc->stories.reset();
        mDoc->search = {};
        mDoc->doc.clear();
        return Variant();
    }
};

} // namespace

Object makeDocument(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d) {
    return Object(std::make_shared<Document>(std::move(s), std::move(d)));
}

} // namespace office
