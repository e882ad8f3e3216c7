#include "word_stories.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XEndnotesSupplier.hpp>
#include <com/sun/star/text/XFootnotesSupplier.hpp>
#include <com/sun/star/text/XTextFrame.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>

namespace office {

namespace {

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

// All foot- or all endnotes: one story, there when there is any note.
void addNotes(std::vector<Story>& stories, int type,
              const Reference<css::container::XIndexAccess>& notes) {
    if (!notes.is())
        return;
    Story s;
    s.type = type;
    const sal_Int32 n = notes->getCount();
    for (sal_Int32 i = 0; i < n; ++i) {
        Reference<css::text::XText> t(notes->getByIndex(i), UNO_QUERY);
        if (t.is())
            s.writerTexts.push_back(t);
    }
    if (!s.writerTexts.empty())
        stories.push_back(std::move(s));
}

void addTextFrames(std::vector<Story>& stories, const Reference<css::text::XTextDocument>& doc) {
    Reference<css::text::XTextFramesSupplier> framesSupplier(doc, UNO_QUERY);
    if (!framesSupplier.is())
        return;
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
void addShapeTexts(std::vector<Story>& stories, OfficeSession& session,
                   const Reference<css::text::XTextDocument>& doc) {
    for (const Reference<css::drawing::XShape>& shape : floatingShapes(session, doc)) {
        Story s = shapeStory(session, shape);
        if (s.shapeText.is()) {
            if (!s.shapeText->getString().isEmpty())
                stories.push_back(std::move(s));
        } else if (!s.writerTexts.empty()) {
            addUnique(stories, TextFrameStory, s.writerTexts.front());
        }
    }
}

// A header or a footer of a page style, with its property names and the
// story types of its primary, even-page and first-page texts.
struct PagePart {
    const char* on;
    const char* shared;
    const char* firstShared;
    const char* primary;
    const char* left;
    const char* first;
    int primaryType, leftType, firstType;
};

const PagePart kPageParts[] = {
    {"HeaderIsOn", "HeaderIsShared", "FirstIsShared", "HeaderText", "HeaderTextLeft",
     "HeaderTextFirst", PrimaryHeaderStory, EvenPagesHeaderStory, FirstPageHeaderStory},
    {"FooterIsOn", "FooterIsShared", "FirstIsShared", "FooterText", "FooterTextLeft",
     "FooterTextFirst", PrimaryFooterStory, EvenPagesFooterStory, FirstPageFooterStory},
};

Reference<css::text::XText> styleText(const Reference<css::style::XStyle>& style,
                                      const char* name) {
    return getPropertyOr<Reference<css::text::XText>>(style, name, {});
}

void addPageParts(std::vector<Story>& stories, const Reference<css::style::XStyle>& style) {
    for (const PagePart& part : kPageParts) {
        if (!getPropertyOr<bool>(style, part.on, false))
            continue;
        addUnique(stories, part.primaryType, styleText(style, part.primary));
        if (!getPropertyOr<bool>(style, part.shared, true))
            addUnique(stories, part.leftType, styleText(style, part.left));
        if (!getPropertyOr<bool>(style, part.firstShared, true))
            addUnique(stories, part.firstType, styleText(style, part.first));
    }
}

void addHeadersAndFooters(std::vector<Story>& stories,
                          const Reference<css::text::XTextDocument>& doc) {
    Reference<css::style::XStyleFamiliesSupplier> families(doc, UNO_QUERY);
    if (!families.is())
        return;
    Reference<css::container::XNameAccess> pageStyles(
        families->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
    const auto names = pageStyles->getElementNames();
    for (const rtl::OUString& name : names) {
        Reference<css::style::XStyle> style(pageStyles->getByName(name), UNO_QUERY);
        if (style.is() && style->isInUse())
            addPageParts(stories, style);
    }
}

} // namespace

Story shapeStory(OfficeSession& session, const Reference<css::drawing::XShape>& shape) {
    Story s;
    s.type = TextFrameStory;
    // Writer's own text for text frames (and shapes carrying a Writer text
    // box), the drawing layer's for other drawing shapes.
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

std::vector<Story> collectStories(OfficeSession& session,
                                  const Reference<css::text::XTextDocument>& doc) {
    std::vector<Story> stories;
    addUnique(stories, MainTextStory, doc->getText());
    Reference<css::text::XFootnotesSupplier> footnotes(doc, UNO_QUERY);
    if (footnotes.is())
        addNotes(stories, FootnotesStory, footnotes->getFootnotes());
    Reference<css::text::XEndnotesSupplier> endnotes(doc, UNO_QUERY);
    if (endnotes.is())
        addNotes(stories, EndnotesStory, endnotes->getEndnotes());
    addTextFrames(stories, doc);
    addShapeTexts(stories, session, doc);
    addHeadersAndFooters(stories, doc);
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

} // namespace office
