#include "word_model.h"

#include "office_parts.h"

#include <optional>

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XEndnotesSupplier.hpp>
#include <com/sun/star/text/XFootnotesSupplier.hpp>
#include <com/sun/star/text/XTextFrame.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace office {

namespace {

using automation::CallKind;
using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::sameName;
using automation::Variant;

// The arguments of one call by position; named ones are put where the
// member's parameter list says, as a late-bound caller expects.
class Args {
  public:
    Args(const QList<Variant>& positional, const QList<NamedArg>& named,
         std::initializer_list<const char*> params)
        : mArgs(positional) {
        for (const NamedArg& n : named) {
            int index = 0;
            for (const char* p : params) {
                if (sameName(n.name, p))
                    break;
                ++index;
            }
            if (index == int(params.size()))
                throw Error(QStringLiteral("Named argument not found: %1").arg(n.name));
            while (mArgs.size() <= index)
                mArgs.append(Variant::missing());
            mArgs[index] = n.value;
        }
        if (mArgs.size() > qsizetype(params.size()))
            throw Error(QStringLiteral("Wrong number of arguments or invalid property assignment"));
    }
    bool has(int i) const { return i < mArgs.size() && !mArgs[i].isMissing(); }
    const Variant& at(int i) const { return mArgs[i]; }

  private:
    QList<Variant> mArgs;
};

[[noreturn]] void readOnlyProperty(const QString& name) {
    throw Error(QStringLiteral("Can't assign to read-only property: %1").arg(name));
}

// A property write carries its value as the one argument.
const Variant& putValue(const QString& name, const QList<Variant>& args) {
    if (args.size() != 1)
        throw Error(QStringLiteral("Wrong number of arguments or invalid property assignment: %1")
                        .arg(name));
    return args.first();
}

QString fileUrl(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

// ---- shared state ---------------------------------------------------------------

struct DocState {
    Reference<css::text::XTextDocument> doc;
    QString name;    // the file it came from, for messages
    QString savedTo; // where SaveAs last wrote it
    bool closed = false;
    bool layoutHeld = false; // controllers locked since loading
    // The stories found the first time they were asked for. Nothing the model
    // offers adds or removes a story, and a caller typically asks once per
    // placeholder, so the walk over frames, shapes and page styles is done once.
    std::optional<std::vector<Story>> stories;

    // Saving and rendering want the layout up to date.
    void releaseLayout() {
        if (!layoutHeld)
            return;
        layoutHeld = false;
        Reference<css::frame::XModel> model(doc, UNO_QUERY_THROW);
        while (model->hasControllersLocked())
            model->unlockControllers();
    }
};

struct AppState {
    std::vector<std::shared_ptr<DocState>> open; // in the order they were opened
    bool displayAlerts = true;

    std::shared_ptr<DocState> active() const {
        for (auto it = open.rbegin(); it != open.rend(); ++it)
            if (!(*it)->closed)
                return *it;
        return nullptr;
    }
};

// Base of everything that lives in a document: refuses calls once it is closed.
class InDocument : public automation::Dispatch {
  protected:
    InDocument(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d)
        : mSession(std::move(s)), mDoc(std::move(d)) {}

    template <class F> auto call(const QString& member, Bound bound, F&& fn) -> decltype(fn()) {
        mSession->ensureUsable(member);
        if (mDoc->closed)
            throw Error(QStringLiteral("The document %1 has been closed; %2 is no longer available")
                            .arg(QFileInfo(mDoc->name).fileName(), member));
        return mSession->call(member, bound, std::forward<F>(fn));
    }

    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<DocState> mDoc;
};

// ---- stories ---------------------------------------------------------------------

void addUnique(std::vector<Story>& stories, int type, const Reference<css::text::XText>& text) {
    if (!text.is())
        return;
    for (const Story& s : stories)
        for (const auto& t : s.writerTexts)
            if (t == text)
                return;
    Story s;
    s.type = type;
    s.writerTexts.push_back(text);
    stories.push_back(std::move(s));
}

Story notesStory(int type, const Reference<css::container::XIndexAccess>& notes) {
    Story s;
    s.type = type;
    if (!notes.is())
        return s;
    const sal_Int32 n = notes->getCount();
    for (sal_Int32 i = 0; i < n; ++i) {
        Reference<css::text::XText> t(notes->getByIndex(i), UNO_QUERY);
        if (t.is())
            s.writerTexts.push_back(t);
    }
    return s;
}

// The text a shape holds: Writer's own for text frames (and shapes carrying a
// Writer text box), the drawing layer's for other drawing shapes.
Story shapeStory(OfficeSession& session, const Reference<css::drawing::XShape>& shape) {
    Story s;
    s.type = TextFrameStory;
    if (supportsService(shape, "com.sun.star.text.TextFrame")) {
        Reference<css::text::XTextFrame> frame(shape, UNO_QUERY_THROW);
        s.writerTexts.push_back(frame->getText());
        return s;
    }
    Reference<css::text::XText> text(shape, UNO_QUERY);
    if (!text.is())
        return s;
    session.keepUntilEnd(text);
    if (supportsService(text, "com.sun.star.text.TextFrame"))
        s.writerTexts.push_back(text->getText());
    else
        s.shapeText = text;
    return s;
}

// The document's floating shapes. Objects anchored as characters are Word's
// inline shapes, not Shapes.
std::vector<Reference<css::drawing::XShape>>
floatingShapes(OfficeSession& session, const Reference<css::text::XTextDocument>& doc) {
    std::vector<Reference<css::drawing::XShape>> shapes;
    Reference<css::drawing::XDrawPageSupplier> pageSupplier(doc, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> page(pageSupplier->getDrawPage(), UNO_QUERY_THROW);
    const sal_Int32 n = page->getCount();
    for (sal_Int32 i = 0; i < n; ++i) {
        Reference<css::drawing::XShape> shape(page->getByIndex(i), UNO_QUERY);
        if (!shape.is())
            continue;
        const auto anchor = getPropertyOr<css::text::TextContentAnchorType>(
            shape, "AnchorType", css::text::TextContentAnchorType_AT_PARAGRAPH);
        session.keepUntilEnd(shape);
        if (anchor != css::text::TextContentAnchorType_AS_CHARACTER)
            shapes.push_back(shape);
    }
    return shapes;
}

// One range per story, each once: main text, foot- and endnotes, each text
// frame or text box, and the headers and footers of the page styles in use.
std::vector<Story> collectStories(OfficeSession& session,
                                  const Reference<css::text::XTextDocument>& doc) {
    std::vector<Story> stories;
    addUnique(stories, MainTextStory, doc->getText());

    Reference<css::text::XFootnotesSupplier> footnotes(doc, UNO_QUERY);
    if (footnotes.is()) {
        Story s = notesStory(FootnotesStory, footnotes->getFootnotes());
        if (!s.writerTexts.empty())
            stories.push_back(std::move(s));
    }
    Reference<css::text::XEndnotesSupplier> endnotes(doc, UNO_QUERY);
    if (endnotes.is()) {
        Story s = notesStory(EndnotesStory, endnotes->getEndnotes());
        if (!s.writerTexts.empty())
            stories.push_back(std::move(s));
    }

    Reference<css::text::XTextFramesSupplier> framesSupplier(doc, UNO_QUERY);
    if (framesSupplier.is()) {
        Reference<css::container::XNameAccess> frames = framesSupplier->getTextFrames();
        const auto names = frames->getElementNames();
        for (const rtl::OUString& name : names) {
            Reference<css::text::XTextFrame> frame(frames->getByName(name), UNO_QUERY);
            if (frame.is())
                addUnique(stories, TextFrameStory, frame->getText());
        }
    }

    // Word's text boxes come in as drawing shapes; their text is a text frame
    // story to Word, so it is one here too.
    for (const Reference<css::drawing::XShape>& shape : floatingShapes(session, doc)) {
        Story s = shapeStory(session, shape);
        if (s.shapeText.is()) {
            if (!s.shapeText->getString().isEmpty())
                stories.push_back(std::move(s));
        } else if (!s.writerTexts.empty()) {
            addUnique(stories, TextFrameStory, s.writerTexts.front());
        }
    }

    Reference<css::style::XStyleFamiliesSupplier> families(doc, UNO_QUERY);
    if (families.is()) {
        Reference<css::container::XNameAccess> pageStyles(
            families->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
        const auto names = pageStyles->getElementNames();
        struct Part {
            const char* on;
            const char* shared;
            const char* firstShared;
            const char* primary;
            const char* left;
            const char* first;
            int primaryType, leftType, firstType;
        };
        static const Part parts[] = {
            {"HeaderIsOn", "HeaderIsShared", "FirstIsShared", "HeaderText", "HeaderTextLeft",
             "HeaderTextFirst", PrimaryHeaderStory, EvenPagesHeaderStory, FirstPageHeaderStory},
            {"FooterIsOn", "FooterIsShared", "FirstIsShared", "FooterText", "FooterTextLeft",
             "FooterTextFirst", PrimaryFooterStory, EvenPagesFooterStory, FirstPageFooterStory},
        };
        for (const rtl::OUString& name : names) {
            Reference<css::style::XStyle> style(pageStyles->getByName(name), UNO_QUERY);
            if (!style.is() || !style->isInUse())
                continue;
            for (const Part& part : parts) {
                if (!getPropertyOr<bool>(style, part.on, false))
                    continue;
                addUnique(stories, part.primaryType,
                          getPropertyOr<Reference<css::text::XText>>(style, part.primary, {}));
                if (!getPropertyOr<bool>(style, part.shared, true))
                    addUnique(stories, part.leftType,
                              getPropertyOr<Reference<css::text::XText>>(style, part.left, {}));
                if (!getPropertyOr<bool>(style, part.firstShared, true))
                    addUnique(stories, part.firstType,
                              getPropertyOr<Reference<css::text::XText>>(style, part.first, {}));
            }
        }
    }
    return stories;
}

bool storyIsEmpty(const Story& s) {
    if (s.shapeText.is())
        return s.shapeText->getString().isEmpty();
    for (const auto& t : s.writerTexts)
        if (!t->getString().isEmpty())
            return false;
    return true;
}

QString storyText(const Story& s) {
    if (s.shapeText.is())
        return toQ(s.shapeText->getString());
    QStringList parts;
    for (const auto& t : s.writerTexts)
        parts.append(toQ(t->getString()));
    return parts.join(QLatin1Char('\r'));
}

// ---- find -----------------------------------------------------------------------

struct FindSettings {
    QString text;
    QString replacement;
    bool forward = true;
    int wrap = 0;
    bool format = false;
    bool matchCase = false;
    bool wholeWord = false;
    bool wildcards = false;
    bool soundsLike = false;
    bool allWordForms = false;
};

class Replacement final : public InDocument {
  public:
    Replacement(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                std::shared_ptr<FindSettings> f)
        : InDocument(std::move(s), std::move(d)), mSettings(std::move(f)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>&) override {
        if (sameName(name, "ClearFormatting"))
            return call(name, Bound::Ordinary, [] { return Variant(); }); // no formatting kept
        if (sameName(name, "Text")) {
            return call(name, Bound::Ordinary, [&] {
                if (kind == CallKind::Put) {
                    mSettings->replacement = putValue(name, args).toString();
                    return Variant();
                }
                return Variant(mSettings->replacement);
            });
        }
        automation::throwNoMember(name);
    }

  private:
    std::shared_ptr<FindSettings> mSettings;
};

class Find final : public InDocument {
  public:
    Find(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (sameName(name, "Execute")) {
            return call(name, Bound::Lengthy, [&] { return execute(args, named); });
        }
        if (sameName(name, "ClearFormatting")) {
            return call(name, Bound::Ordinary, [&] {
                mSettings->format = false;
                return Variant();
            });
        }
        if (sameName(name, "Replacement")) {
            if (kind == CallKind::Put)
                readOnlyProperty(name);
            return call(name, Bound::Ordinary, [&] {
                if (!mReplacement)
                    mReplacement = std::make_shared<Replacement>(mSession, mDoc, mSettings);
                return Variant(Object(mReplacement));
            });
        }
        if (sameName(name, "Text"))
            return property(name, kind, args, mSettings->text);
        if (sameName(name, "Forward"))
            return property(name, kind, args, mSettings->forward);
        if (sameName(name, "Wrap"))
            return property(name, kind, args, mSettings->wrap);
        if (sameName(name, "Format"))
            return property(name, kind, args, mSettings->format);
        if (sameName(name, "MatchCase"))
            return property(name, kind, args, mSettings->matchCase);
        if (sameName(name, "MatchWholeWord"))
            return property(name, kind, args, mSettings->wholeWord);
        if (sameName(name, "MatchWildcards"))
            return property(name, kind, args, mSettings->wildcards);
        if (sameName(name, "MatchSoundsLike"))
            return property(name, kind, args, mSettings->soundsLike);
        if (sameName(name, "MatchAllWordForms"))
            return property(name, kind, args, mSettings->allWordForms);
        automation::throwNoMember(name);
    }

  private:
    template <class T>
    Variant property(const QString& name, CallKind kind, const QList<Variant>& args, T& field) {
        return call(name, Bound::Ordinary, [&] {
            if (kind == CallKind::Put) {
                const Variant& v = putValue(name, args);
                if constexpr (std::is_same_v<T, bool>)
                    field = v.toBool();
                else if constexpr (std::is_same_v<T, int>)
                    field = v.toInt();
                else
                    field = v.toString();
                return Variant();
            }
            if constexpr (std::is_same_v<T, int>)
                return Variant(int32_t(field));
            else
                return Variant(field);
        });
    }

    Variant execute(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"FindText", "MatchCase", "MatchWholeWord", "MatchWildcards",
                      "MatchSoundsLike", "MatchAllWordForms", "Forward", "Wrap", "Format",
                      "ReplaceWith", "Replace", "MatchKashida", "MatchDiacritics", "MatchAlefHamza",
                      "MatchControl"});
        // Arguments given here become the find object's settings, as in Word.
        FindSettings& s = *mSettings;
        if (a.has(0))
            s.text = a.at(0).toString();
        if (a.has(1))
            s.matchCase = a.at(1).toBool();
        if (a.has(2))
            s.wholeWord = a.at(2).toBool();
        if (a.has(3))
            s.wildcards = a.at(3).toBool();
        if (a.has(4))
            s.soundsLike = a.at(4).toBool();
        if (a.has(5))
            s.allWordForms = a.at(5).toBool();
        if (a.has(6))
            s.forward = a.at(6).toBool();
        if (a.has(7))
            s.wrap = a.at(7).toInt();
        if (a.has(8))
            s.format = a.at(8).toBool();
        if (a.has(9))
            s.replacement = a.at(9).toString();
        const int replace = a.has(10) ? a.at(10).toInt() : 0;
        if (replace < 0 || replace > 2)
            throw Error(QStringLiteral("Execute: Replace must be 0, 1 or 2, not %1").arg(replace));
        if (s.wildcards || s.soundsLike || s.allWordForms)
            throw Error(QStringLiteral("Execute: wildcard, sounds-like and all-word-forms "
                                       "matching are not supported"));
        if (s.text.isEmpty())
            return Variant(false);
        const SearchTerms terms{s.text, s.matchCase, s.wholeWord};
        const int found = replaceInStory(*mSession, mDoc->doc, mStory, terms,
                                         replacementLines(s.replacement), ReplaceMode(replace));
        return Variant(found > 0);
    }

    Story mStory;
    std::shared_ptr<FindSettings> mSettings = std::make_shared<FindSettings>();
    std::shared_ptr<Replacement> mReplacement;
};

// ---- range ----------------------------------------------------------------------

class Range final : public InDocument {
  public:
    Range(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "Find")) {
            // The same find object every time, so settings made on it stay.
            return call(name, Bound::Ordinary, [&] {
                if (!mFind)
                    mFind = std::make_shared<Find>(mSession, mDoc, mStory);
                return Variant(Object(mFind));
            });
        }
        if (sameName(name, "Text"))
            return call(name, Bound::Ordinary, [&] { return Variant(storyText(mStory)); });
        if (sameName(name, "StoryType"))
            return call(name, Bound::Ordinary, [&] { return Variant(int32_t(mStory.type)); });
        if (sameName(name, "CopyAsPicture")) {
            if (!args.isEmpty())
                throw Error(QStringLiteral("Wrong number of arguments: CopyAsPicture"));
            const QImage picture = call(name, Bound::Lengthy, [&] {
                mDoc->releaseLayout();
                return renderDocumentPicture(mSession->context(), mDoc->doc);
            });
            putPictureOnClipboard(picture);
            return Variant();
        }
        automation::throwNoMember(name);
    }

  private:
    Story mStory;
    std::shared_ptr<Find> mFind;
};

// ---- collections ------------------------------------------------------------------

class Collection : public InDocument {
  public:
    Collection(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, QList<Variant> items)
        : InDocument(std::move(s), std::move(d)), mItems(std::move(items)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "Count"))
            return call(name, Bound::Ordinary, [&] { return Variant(int32_t(mItems.size())); });
        if (sameName(name, "Item")) {
            return call(name, Bound::Ordinary, [&] {
                if (args.size() != 1)
                    throw Error(QStringLiteral("Wrong number of arguments: Item"));
                const int i = args.first().toInt(); // counted from 1, as in Word
                if (i < 1 || i > mItems.size())
                    throw Error(QStringLiteral("The requested member of the collection does "
                                               "not exist: %1")
                                    .arg(i));
                return mItems.at(i - 1);
            });
        }
        automation::throwNoMember(name);
    }

    QList<Variant> enumerate() override {
        return call(QStringLiteral("For Each"), Bound::Ordinary, [&] { return mItems; });
    }

  private:
    QList<Variant> mItems;
};

class TextFrame final : public InDocument {
  public:
    TextFrame(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        const bool hasTextRoom = mStory.shapeText.is() || !mStory.writerTexts.empty();
        if (sameName(name, "HasText"))
            return call(name, Bound::Ordinary,
                        [&] { return Variant(hasTextRoom && !storyIsEmpty(mStory)); });
        if (sameName(name, "TextRange")) {
            return call(name, Bound::Ordinary, [&] {
                if (!hasTextRoom)
                    throw Error(QStringLiteral("This shape cannot hold text"));
                return Variant(Object(std::make_shared<Range>(mSession, mDoc, mStory)));
            });
        }
        automation::throwNoMember(name);
    }

  private:
    Story mStory;
};

class Shape final : public InDocument {
  public:
    Shape(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
          Reference<css::drawing::XShape> shape)
        : InDocument(std::move(s), std::move(d)), mShape(std::move(shape)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "TextFrame")) {
            return call(name, Bound::Ordinary, [&] {
                return Variant(Object(
                    std::make_shared<TextFrame>(mSession, mDoc, shapeStory(*mSession, mShape))));
            });
        }
        if (sameName(name, "Name")) {
            return call(name, Bound::Ordinary, [&] {
                return Variant(toQ(getPropertyOr<rtl::OUString>(mShape, "Name", {})));
            });
        }
        automation::throwNoMember(name);
    }

  private:
    Reference<css::drawing::XShape> mShape;
};

// ---- document -------------------------------------------------------------------

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
        if (sameName(name, "StoryRanges")) {
            return call(name, Bound::Ordinary, [&] {
                if (!mDoc->stories)
                    mDoc->stories = collectStories(*mSession, mDoc->doc);
                QList<Variant> items;
                for (const Story& s : *mDoc->stories)
                    items.append(Object(std::make_shared<Range>(mSession, mDoc, s)));
                return Variant(Object(std::make_shared<Collection>(mSession, mDoc, items)));
            });
        }
        if (sameName(name, "Range")) {
            return call(name, Bound::Ordinary, [&] {
                const Args a(args, named, {"Start", "End"});
                if (a.has(0) || a.has(1))
                    throw Error(QStringLiteral("Range: only the whole main text is supported"));
                Story main;
                main.writerTexts.push_back(mDoc->doc->getText());
                return Variant(Object(std::make_shared<Range>(mSession, mDoc, main)));
            });
        }
        if (sameName(name, "Shapes"))
            return call(name, Bound::Ordinary, [&] { return shapes(); });
        if (sameName(name, "SaveAs"))
            return call(name, Bound::Lengthy, [&] { return saveAs(args, named); });
        if (sameName(name, "Close"))
            return call(name, Bound::Lengthy, [&] { return close(args, named); });
        automation::throwNoMember(name);
    }

  private:
    Variant shapes() {
        QList<Variant> items;
        for (const auto& shape : floatingShapes(*mSession, mDoc->doc))
            items.append(Object(std::make_shared<Shape>(mSession, mDoc, shape)));
        return Variant(Object(std::make_shared<Collection>(mSession, mDoc, items)));
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

class Documents final : public automation::Dispatch {
  public:
    Documents(std::shared_ptr<OfficeSession> s, std::shared_ptr<AppState> app)
        : mSession(std::move(s)), mApp(std::move(app)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "Open"))
            return mSession->call(name, Bound::Lengthy, [&] { return open(args, named); });
        if (sameName(name, "Count")) {
            return mSession->call(name, Bound::Ordinary, [&] {
                int n = 0;
                for (const auto& d : mApp->open)
                    n += d->closed ? 0 : 1;
                return Variant(int32_t(n));
            });
        }
        automation::throwNoMember(name);
    }

    QList<Variant> enumerate() override {
        return mSession->call(QStringLiteral("For Each"), Bound::Ordinary, [&] {
            QList<Variant> items;
            for (const auto& d : mApp->open)
                if (!d->closed)
                    items.append(Object(std::make_shared<Document>(mSession, d)));
            return items;
        });
    }

  private:
    Variant open(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"FileName", "ConfirmConversions", "ReadOnly", "AddToRecentFiles",
                      "PasswordDocument", "PasswordTemplate", "Revert", "WritePasswordDocument",
                      "WritePasswordTemplate", "Format", "Encoding", "Visible", "OpenAndRepair",
                      "DocumentDirection", "NoEncodingDialog", "XMLTransform"});
        if (!a.has(0) || a.at(0).toString().isEmpty())
            throw Error(QStringLiteral("Open: a file name is needed"));
        const QString path = a.at(0).toString();
        if (!QFileInfo(path).isFile())
            throw Error(QStringLiteral("Open: the file %1 was not found").arg(path));
        const bool readOnly = a.has(2) && a.at(2).toBool();
        // The file may be untrusted (it sits in a temporary folder): no macros, no links.
        const auto props = properties({
            office::property("Hidden", css::uno::Any(true)),
            office::property("ReadOnly", css::uno::Any(readOnly)),
            office::property("MacroExecutionMode",
                             css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
            office::property("UpdateDocMode",
                             css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
        });
        Reference<css::lang::XComponent> component =
            mSession->desktop()->loadComponentFromURL(toOU(fileUrl(path)), "_blank", 0, props);
        if (!component.is())
            throw Error(QStringLiteral("Open: LibreOffice Writer could not open %1").arg(path));
        Reference<css::text::XTextDocument> doc(component, UNO_QUERY);
        if (!doc.is()) {
            Reference<css::util::XCloseable> c(component, UNO_QUERY);
            if (c.is())
                c->close(true);
            throw Error(QStringLiteral("Open: %1 is not a text document").arg(path));
        }
        // Writer lays out every change as it goes, and a long value in one
        // paragraph makes that slow: a megabyte costs it half a minute before
        // the next call gets through. Held back, the layout is done once, when
        // saving or rendering needs it.
        Reference<css::frame::XModel> model(doc, UNO_QUERY);
        if (model.is())
            model->lockControllers();
        auto state = std::make_shared<DocState>();
        state->doc = doc;
        state->layoutHeld = model.is();
        state->name = path;
        mApp->open.push_back(state);
        return Variant(Object(std::make_shared<Document>(mSession, state)));
    }

    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<AppState> mApp;
};

class Application final : public automation::Dispatch {
  public:
    explicit Application(std::shared_ptr<OfficeSession> s) : mSession(std::move(s)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (sameName(name, "DisplayAlerts")) {
            return mSession->call(name, Bound::Ordinary, [&] {
                if (kind == CallKind::Put) {
                    // Nothing here ever asks the user, so the setting is only kept.
                    mApp->displayAlerts = putValue(name, args).toBool();
                    return Variant();
                }
                return Variant(mApp->displayAlerts);
            });
        }
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "Documents")) {
            return mSession->call(name, Bound::Ordinary, [&] {
                return Variant(Object(std::make_shared<Documents>(mSession, mApp)));
            });
        }
        if (sameName(name, "ActiveDocument")) {
            return mSession->call(name, Bound::Ordinary, [&] {
                auto active = mApp->active();
                if (!active)
                    throw Error(QStringLiteral(
                        "ActiveDocument: this command is not available because no document "
                        "is open"));
                return Variant(Object(std::make_shared<Document>(mSession, active)));
            });
        }
        if (sameName(name, "Quit")) {
            const Args a(args, named, {"SaveChanges", "OriginalFormat", "RouteDocument"});
            (void)a; // documents still open are closed without saving
            mSession->quit();
            for (const auto& d : mApp->open)
                d->closed = true;
            return Variant();
        }
        automation::throwNoMember(name);
    }

    pid_t pid() const { return mSession->pid(); }

  private:
    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<AppState> mApp = std::make_shared<AppState>();
};

} // namespace

std::shared_ptr<automation::Dispatch> makeApplication(std::shared_ptr<OfficeSession> session) {
    return std::make_shared<Application>(std::move(session));
}

pid_t applicationProcessId(automation::Dispatch* app) {
    auto* a = dynamic_cast<Application*>(app);
    return a ? a->pid() : -1;
}

} // namespace office
