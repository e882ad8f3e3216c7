#pragma once
// The filled document as PDF, written by the word processor's own export:
// vector, every page, laid out exactly as the document itself.

#include <QString>

namespace exporting {

// Opens the document read-only in a word processor of its own, writes it to
// pdfPath (PDF/A-2b with every font embedded when archival), and quits it
// again on every path. Returns the document's page count. Throws
// automation::Error.
int exportDocumentAsPdf(const QString& docPath, const QString& pdfPath, bool archival);

} // namespace exporting
