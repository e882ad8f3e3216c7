// A document: its stories, its main text, its shapes, saving it and closing it.

#include "word_objects.h"

#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace office {

namespace {

// Moves a file the office wrote in its own folder to where the caller wants
// it, whole: renamed when it can be, else copied through a file that only
// takes the target's name once complete.
void moveIntoPlace(const QString& from, const QString& to) {
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
        throw Error(QStringLiteral("SaveAs: cannot write %1: %2").arg(to, why));
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
        if (sameName(name, "StoryRanges"))
            return call(name, Bound::Ordinary, [&] { return storyRanges(); });
        if (sameName(name, "Range"))
            return call(name, Bound::Ordinary, [&] { return mainText(args, named); });
        if (sameName(name, "Shapes"))
            return call(name, Bound::Ordinary, [&] { return shapes(); });
        if (sameName(name, "SaveAs"))
            return call(name, Bound::Lengthy, [&] { return saveAs(args, named); });
        if (sameName(name, "Close"))
            return call(name, Bound::Lengthy, [&] { return close(args, named); });
        automation::throwNoMember(name);
    }

  private:
    Variant storyRanges() {
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

    Variant shapes() {
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
        const int format = a.has(1) ? a.at(1).toInt() : 0;
        if (format != 0) // wdFormatDocument, the Word 97-2003 .doc
            throw Error(QStringLiteral("SaveAs: file format %1 is not supported").arg(format));
        saveTo(path);
        mDoc->name = path;
        mDoc->savedTo = path;
        return Variant();
    }

    // Written in the office's own folder, then moved into place: nothing of
    // the office's (no lock, no temporary file) ever lies beside the target,
    // even when it is killed while saving.
    void saveTo(const QString& path) {
        mDoc->releaseLayout();
        const QString staging =
            mSession->privateTemp() +
            QStringLiteral("/saving-%1.doc")
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        Reference<css::frame::XStorable> st(mDoc->doc, UNO_QUERY_THROW);
        st->storeAsURL(
            toOU(fileUrl(staging)),
            properties({
                office::property("FilterName", css::uno::Any(rtl::OUString("MS Word 97"))),
                office::property("Overwrite", css::uno::Any(true)),
            }));
        moveIntoPlace(staging, QFileInfo(path).absoluteFilePath());
        Reference<css::util::XModifiable> m(mDoc->doc, UNO_QUERY);
        if (m.is())
            m->setModified(false);
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
                saveTo(mDoc->savedTo);
            }
        }
        Reference<css::util::XCloseable> c(mDoc->doc, UNO_QUERY_THROW);
        c->close(true);
        mDoc->closed = true;
        mDoc->stories.reset();
        mDoc->doc.clear();
        return Variant();
    }
};

} // namespace

Object makeDocument(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d) {
    return Object(std::make_shared<Document>(std::move(s), std::move(d)));
}

} // namespace office
