#pragma once
// A document's stories, as Word counts them, on Writer's texts and drawing
// shapes: finding them, reading them, and replacing within one of them.

#include "platform/office/lifecycle/office_session.h"

#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>

#include <QStringList>

#include <vector>

namespace office {

// Word's story type numbers, which Range.StoryType reports.
enum StoryType {
    MainTextStory = 1,
    FootnotesStory = 2,
    EndnotesStory = 3,
    TextFrameStory = 5,
    EvenPagesHeaderStory = 6,
    PrimaryHeaderStory = 7,
    EvenPagesFooterStory = 8,
    PrimaryFooterStory = 9,
    FirstPageHeaderStory = 10,
    FirstPageFooterStory = 11,
};

// One story: the Writer texts it is made of (all foot- or endnotes form one
// story), or the text of a drawing shape, which Writer's search cannot reach.
struct Story {
    int type = MainTextStory;
    std::vector<Reference<css::text::XText>> writerTexts;
    Reference<css::text::XText> shapeText;
};

// One story each, once: main text, foot- and endnotes, each text frame or
// text box, and the headers and footers of the page styles in use.
std::vector<Story> collectStories(OfficeSession& session,
                                  const Reference<css::text::XTextDocument>& doc);

// The document's floating shapes. Objects anchored as characters are Word's
// inline shapes, not Shapes.
std::vector<Reference<css::drawing::XShape>>
floatingShapes(OfficeSession& session, const Reference<css::text::XTextDocument>& doc);

// The text a shape holds, as a text frame story (it may hold none).
Story shapeStory(OfficeSession& session, const Reference<css::drawing::XShape>& shape);

bool storyIsEmpty(const Story& s);

// The story's text; the texts of a story of several are joined by CR.
QString storyText(const Story& s);

struct SearchTerms {
    QString text;
    bool matchCase = false;
    bool wholeWord = false;
};

enum class ReplaceMode { None = 0, One = 1, All = 2 };

// Finds terms.text in this story only and, unless mode is None, puts the lines
// (joined by line breaks) in its place. Returns how many places were found
// (None and One stop at the first).
int replaceInStory(OfficeSession& session, const Reference<css::text::XTextDocument>& doc,
                   const Story& story, const SearchTerms& terms, const QStringList& lines,
                   ReplaceMode mode);

// What replacing across a document keeps from one call to the next, so each
// call asks the office only what changes: the search, its settings, the body.
struct DocumentSearch {
    Reference<css::util::XSearchDescriptor> descriptor;
    bool matchCase = false;
    bool wholeWord = false;
    Reference<css::text::XText> body;
    std::vector<Reference<css::text::XText>> texts; // of all the stories
};

// Replaces every place of terms.text in all the stories at once, as a loop
// over them with replaceInStory would: one search over the document's own
// texts, then each drawing shape's text. Returns how many places were replaced.
int replaceInStories(OfficeSession& session, const Reference<css::text::XTextDocument>& doc,
                     const std::vector<Story>& stories, const SearchTerms& terms,
                     const QStringList& lines, DocumentSearch& search);

} // namespace office
