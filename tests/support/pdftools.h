#pragma once
// A PDF as poppler-utils see it (never the office that wrote it).

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace testsupport {

// Pages as pdfinfo counts them; -1 when it cannot read the file.
int pdfPageCount(const QString& path);

// The text pdftotext finds (of one page, when page > 0), runs of white space
// folded to one blank.
QString pdfText(const QString& path, int page = 0);

// A page's size in points as pdfinfo gives it (page 1 when page is 0); empty
// when it cannot read the file.
QSizeF pdfPageSize(const QString& path, int page = 0);

// The box around everything on a page that is not white paper, in points from
// the page's top-left corner, found in poppler's rendering at 72 dpi; empty
// for a blank page or an unreadable file.
QRectF pdfInkBox(const QString& path, int page = 1);

// The fonts pdffonts lists as not embedded (an unreadable file gives "?").
QStringList pdfFontsNotEmbedded(const QString& path);

// The PDF/A part and conformance level the XMP metadata claims, e.g. "2B";
// empty when it claims none.
QString pdfaClaim(const QString& path);

} // namespace testsupport
