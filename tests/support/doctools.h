#pragma once
// A .doc as the independent readers antiword and catdoc see it, and the
// parts of a .docx or .odt as unzip gives them (never the office that wrote it).

#include <QSize>
#include <QString>

namespace testsupport {

// The text each reader gives, as it gives it; "<reader hung>" when it never ends.
QString antiwordText(const QString& doc);
QString catdocText(const QString& doc);

// One member of a zip archive (a .docx or .odt) as unzip gives it; empty when
// it cannot.
QByteArray zipMember(const QString& zip, const QString& member);

// The page size in twips that the .doc's section properties give (the
// sprmSXaPage and sprmSYaPage the Word binary keeps, read straight from the
// file's bytes); empty when the file has none.
QSize docPageTwips(const QString& doc);

} // namespace testsupport
