#include "word_stories.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>
#include <com/sun/star/util/XSearchable.hpp>

#include <algorithm>

namespace office {

namespace {

using css::text::XText;
using css::text::XTextRange;

Reference<XTextRange> asRange(const Reference<css::text::XTextCursor>& cursor) {
    return Reference<XTextRange>(cursor.get());
}

// Puts the lines where range is: the first replaces its content, each further
// one follows a line break, so a multi-line value stays one paragraph. A line
// that begins with a form feed starts a new page instead, where the text can
// have one (the body outside tables); elsewhere it follows a line break.
// Objects of a drawing shape's text go to keeper (see OfficeSession::keepUntilEnd).
void putLines(const Reference<XTextRange>& range, const QStringList& lines, bool pageBreaks,
              OfficeSession* keeper = nullptr) {
    if (lines.size() == 1) {
        range->setString(toOU(lines.first()));
        return;
    }
    Reference<XText> text = range->getText();
    Reference<css::text::XTextCursor> cursor = text->createTextCursorByRange(range);
    if (keeper) {
        keeper->keepUntilEnd(text);
        keeper->keepUntilEnd(cursor);
    }
    cursor->setString(toOU(lines.first()));
    cursor->collapseToEnd();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QString line = lines[i];
        const bool newPage = line.startsWith(QChar(u'\f'));
        if (newPage)
            line.remove(0, 1);
        if (newPage && pageBreaks) {
            text->insertControlCharacter(asRange(cursor),
                                         css::text::ControlCharacter::PARAGRAPH_BREAK, false);
            Reference<css::beans::XPropertySet>(cursor, UNO_QUERY_THROW)
                ->setPropertyValue("BreakType", css::uno::Any(css::style::BreakType_PAGE_BEFORE));
        } else {
            text->insertControlCharacter(asRange(cursor), css::text::ControlCharacter::LINE_BREAK,
                                         false);
        }
        if (!line.isEmpty())
            text->insertString(asRange(cursor), toOU(line), false);
    }
}

// Whether a hit lies in one of the story's texts. A hit in a table cell names
// the cell as its text; the story's text still accepts it as its own when
// comparing positions, and refuses anything outside it.
bool inStory(const Reference<XTextRange>& hit, const std::vector<Reference<XText>>& texts) {
    const Reference<XText> own = hit->getText();
    for (const auto& t : texts)
        if (t == own)
            return true;
    if (supportsService(own, "com.sun.star.text.TextFrame"))
        return false; // a frame's text is a story of its own
    for (const auto& t : texts) {
        Reference<css::text::XTextRangeCompare> compare(t, UNO_QUERY);
        if (!compare.is())
            continue;
        try {
            compare->compareRegionStarts(hit, hit);
            return true;
        } catch (const css::lang::IllegalArgumentException&) {
            // not in this text
        }
    }
    return false;
}

Reference<css::container::XIndexAccess>
findEverywhere(const Reference<css::text::XTextDocument>& doc, const SearchTerms& terms) {
    Reference<css::util::XSearchable> searchable(doc, UNO_QUERY_THROW);
    Reference<css::util::XSearchDescriptor> descriptor = searchable->createSearchDescriptor();
    descriptor->setSearchString(toOU(terms.text));
    // A new descriptor searches for literal text ("$1 & \ ( ) [x]" is found
    // and put in as typed), ignoring case, anywhere in a word, without
    // similarity: only what differs is set, each setting a round trip.
    if (terms.matchCase || terms.wholeWord) {
        Reference<css::beans::XPropertySet> props(descriptor, UNO_QUERY_THROW);
        if (terms.matchCase)
            props->setPropertyValue("SearchCaseSensitive", css::uno::Any(true));
        if (terms.wholeWord)
            props->setPropertyValue("SearchWords", css::uno::Any(true));
    }
    return searchable->findAll(descriptor);
}

void putAll(const Reference<css::text::XTextDocument>& doc,
            const std::vector<Reference<XTextRange>>& hits, const QStringList& lines) {
    // A page can break only in the body text; a table cell is a text of its own.
    const Reference<XText> body = doc->getText();
    for (const auto& hit : hits)
        putLines(hit, lines, hit->getText() == body);
}

int replaceInWriterStory(const Reference<css::text::XTextDocument>& doc, const Story& story,
                         const SearchTerms& terms, const QStringList& lines, ReplaceMode mode) {
    // Writer searches the whole document; only this story's hits count.
    Reference<css::container::XIndexAccess> hits = findEverywhere(doc, terms);
    std::vector<Reference<XTextRange>> mine;
    const sal_Int32 n = hits.is() ? hits->getCount() : 0;
    for (sal_Int32 i = 0; i < n; ++i) {
        Reference<XTextRange> hit(hits->getByIndex(i), UNO_QUERY);
        if (!hit.is() || !inStory(hit, story.writerTexts))
            continue;
        mine.push_back(hit);
        if (mode != ReplaceMode::All)
            break;
    }
    if (mode != ReplaceMode::None && !mine.empty())
        putAll(doc, mine, lines);
    return int(mine.size());
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Drawing-shape text is out of reach of Writer's search, so it is searched
// paragraph by paragraph here.
int replaceInShapeText(OfficeSession& session, const Reference<XText>& text,
                       const SearchTerms& terms, const QStringList& lines, ReplaceMode mode) {
    const Qt::CaseSensitivity cs = terms.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    Reference<css::container::XEnumerationAccess> access(text, UNO_QUERY_THROW);
    Reference<css::container::XEnumeration> paragraphs = access->createEnumeration();
    session.keepUntilEnd(paragraphs);
    struct Hit {
        Reference<XTextRange> paragraph;
        qsizetype pos;
    };
    std::vector<Hit> found;
    while (paragraphs->hasMoreElements()) {
        Reference<XTextRange> paragraph(paragraphs->nextElement(), UNO_QUERY);
        if (!paragraph.is())
            continue;
        session.keepUntilEnd(paragraph);
        const QString s = toQ(paragraph->getString());
        for (qsizetype pos = s.indexOf(terms.text, 0, cs); pos >= 0;
             pos = s.indexOf(terms.text, pos + terms.text.size(), cs)) {
            if (terms.wholeWord &&
                ((pos > 0 && isWordChar(s[pos - 1])) ||
                 (pos + terms.text.size() < s.size() && isWordChar(s[pos + terms.text.size()]))))
                continue;
            found.push_back({paragraph, pos});
            if (mode != ReplaceMode::All)
                break;
        }
        if (!found.empty() && mode != ReplaceMode::All)
            break;
    }
    if (mode == ReplaceMode::None)
        return int(found.size());
    // Back to front, so the places still to do keep their offsets.
    std::reverse(found.begin(), found.end());
    for (const Hit& h : found) {
        const Reference<XTextRange> start = h.paragraph->getStart();
        session.keepUntilEnd(start);
        Reference<css::text::XTextCursor> cursor = text->createTextCursorByRange(start);
        session.keepUntilEnd(cursor);
        for (qsizetype left = h.pos; left > 0; left -= 0x7fff)
            cursor->goRight(sal_Int16(std::min<qsizetype>(left, 0x7fff)), false);
        for (qsizetype left = terms.text.size(); left > 0; left -= 0x7fff)
            cursor->goRight(sal_Int16(std::min<qsizetype>(left, 0x7fff)), true);
        putLines(asRange(cursor), lines, false, &session);
    }
    return int(found.size());
}

} // namespace

int replaceInStory(OfficeSession& session, const Reference<css::text::XTextDocument>& doc,
                   const Story& story, const SearchTerms& terms, const QStringList& lines,
                   ReplaceMode mode) {
    if (story.shapeText.is())
        return replaceInShapeText(session, story.shapeText, terms, lines, mode);
    return replaceInWriterStory(doc, story, terms, lines, mode);
}

int replaceInStories(OfficeSession& session, const Reference<css::text::XTextDocument>& doc,
                     const std::vector<Story>& stories, const SearchTerms& terms,
                     const QStringList& lines, DocumentSearch& search) {
    if (!search.descriptor.is()) {
        Reference<css::util::XSearchable> searchable(doc, UNO_QUERY_THROW);
        search.descriptor = searchable->createSearchDescriptor();
        Reference<css::beans::XPropertySet> props(search.descriptor, UNO_QUERY_THROW);
        // Literal text: "$1 & \ ( ) [x]" must be found and put in as typed.
        props->setPropertyValue("SearchRegularExpression", css::uno::Any(false));
        props->setPropertyValue("SearchSimilarity", css::uno::Any(false));
        props->setPropertyValue("SearchCaseSensitive", css::uno::Any(false));
        props->setPropertyValue("SearchWords", css::uno::Any(false));
        search.matchCase = search.wholeWord = false;
        search.body = doc->getText();
        for (const Story& s : stories)
            search.texts.insert(search.texts.end(), s.writerTexts.begin(), s.writerTexts.end());
    }
    if (terms.matchCase != search.matchCase || terms.wholeWord != search.wholeWord) {
        Reference<css::beans::XPropertySet> props(search.descriptor, UNO_QUERY_THROW);
        props->setPropertyValue("SearchCaseSensitive", css::uno::Any(terms.matchCase));
        props->setPropertyValue("SearchWords", css::uno::Any(terms.wholeWord));
        search.matchCase = terms.matchCase;
        search.wholeWord = terms.wholeWord;
    }
    search.descriptor->setSearchString(toOU(terms.text));
    // All hits are found before any is replaced, as each story's own search
    // would find them: a value that holds the placeholder is not searched again.
    Reference<css::container::XIndexAccess> hits =
        Reference<css::util::XSearchable>(doc, UNO_QUERY_THROW)->findAll(search.descriptor);
    const sal_Int32 n = hits.is() ? hits->getCount() : 0;
    int replaced = 0;
    for (sal_Int32 i = 0; i < n; ++i) {
        Reference<XTextRange> hit(hits->getByIndex(i), UNO_QUERY);
        if (!hit.is())
            continue;
        // Most hits lie in the body itself: known without asking further.
        const Reference<XText> own = hit->getText();
        if (own != search.body && !inStory(hit, search.texts))
            continue;
        putLines(hit, lines, own == search.body);
        ++replaced;
    }
    // A shape's paragraphs are searched only when its whole text has the place:
    // one call to the office instead of several for each paragraph.
    const Qt::CaseSensitivity cs = terms.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (const Story& s : stories)
        if (s.shapeText.is() && toQ(s.shapeText->getString()).contains(terms.text, cs))
            replaced += replaceInShapeText(session, s.shapeText, terms, lines, ReplaceMode::All);
    return replaced;
}

} // namespace office
