#pragma once
// The word processor's object model ("Word.Application" and what hangs off it)
// on Writer's API.

#include "office_session.h"

#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>

#include <QImage>
#include <QStringList>

#include <memory>
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

// Renders every page of doc through an in-memory PDF; the stacked, trimmed
// picture at twice 96 dpi.
QImage renderDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                             const Reference<css::text::XTextDocument>& doc);

// Puts the picture on the system clipboard. Must run on the GUI thread.
void putPictureOnClipboard(const QImage& picture);

std::shared_ptr<automation::Dispatch> makeApplication(std::shared_ptr<OfficeSession> session);

// The office process behind an application object made here, or -1.
pid_t applicationProcessId(automation::Dispatch* app);

} // namespace office
