#pragma once
// The pieces of the Word object model that need no UNO: replacement text rules
// and the page picture. Kept apart so they can be tested directly.

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

namespace office {

// ---- replacement text --------------------------------------------------------

// The lines of a replacement: CR LF, CR, LF and VT separate lines (they become
// line breaks inside the paragraph). FF (a page break) separates lines too, and
// the line after it begins with '\f': it starts a new page where the text can
// break to one. The other control characters, which Writer refuses, are dropped.
QStringList replacementLines(const QString& text);

// ---- page picture ------------------------------------------------------------

// The smallest rectangle of a rendered page that holds everything that is not
// paper, as the stacking below trims it; null for a blank page.
QRect pageContentBox(const QImage& page);

// Trims the white margins of rendered pages and stacks them top to bottom,
// a small gap apart. Blank pages are left out; a wholly blank document gives
// its first page untrimmed. The result carries the pages' resolution.
// A non-empty endText is set in a band below the last page, the visible end
// of a picture that leaves pages out.
struct PictureFrame {
    int marginPx = 0;    // white paper all round the content
    int noteWidthPx = 0; // the end note's text keeps within this width; 0: the whole
};
QImage stackPages(const QList<QImage>& pages, int gapPx, const QString& endText = QString(),
                  PictureFrame frame = {});

// The frame of the preview's picture at a resolution: a margin that keeps the
// notice clear of the viewer's edges at every zoom, and an end note that reads
// whole in the width the viewer shows at natural size (about 6.4 inches).
PictureFrame previewFrame(double dpi);

// Twice 96 dpi: the most a picture is made at, for a preview that is zoomed
// in or on a screen of twice the pixels.
inline constexpr double kFullPictureDpi = 192.0;

// The resolution that shows a picture sharp at its natural size on every
// screen: 96 dpi times the largest device pixel ratio, up to the full one.
// Off the GUI thread, the last answer found on it (the full one before any).
double screenPictureDpi();

// The resolution a picture is to be shown sharp at, given its pixels as made
// at the screen's resolution: that resolution when the preview can never show
// it larger than its natural size (its size caps stop a full page there), else
// enough for the largest zoom it can be shown at, up to fullDpi.
double sharpEnoughDpi(QSize pixels, double screenDpi, double fullDpi);

// Fresh memory costs the first picture a page fault for every 4 KiB of each
// page-sized buffer (a Letter page at the screen's resolution). Run on the GUI
// thread before the first generation (the window up, nobody waiting), this
// takes the memory of two such buffers from that thread's heap and writes to
// every page of it. Releasing it, when the generation's first instance is
// created, gives it back to the heap, where the pictures find it ready. Until
// then, or for a minute at most, the program holds about 7 MB more (28 MB on a
// screen of twice the pixels). Both do nothing off the GUI thread.
void readyPictureMemory();
void releasePictureMemory();
// What the end of a picture that leaves pages out says. totalPages is 0 when
// the document's length could not be told.
QString previewEndText(int shownPages, int totalPages);

} // namespace office
