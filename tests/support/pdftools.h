#pragma once
// A PDF as poppler-utils see it (never the office that wrote it).

#include <QString>
#include <QStringList>

namespace testsupport {

// Pages as pdfinfo counts them; -1 when it cannot read the file.
int pdfPageCount(const QString& path);

// The text pdftotext finds (of one page, when page > 0), runs of white space
// folded to one blank.
QString pdfText(const QString& path, int page = 0);

// The fonts pdffonts lists as not embedded (an unreadable file gives "?").
QStringList pdfFontsNotEmbedded(const QString& path);

// The PDF/A part and conformance level the XMP metadata claims, e.g. "2B";
// empty when it claims none.
QString pdfaClaim(const QString& path);

} // namespace testsupport
