#pragma once
// A .doc as the independent readers antiword and catdoc see it (never the
// office that wrote it).

#include <QString>

namespace testsupport {

// The text each reader gives, as it gives it; "<reader hung>" when it never ends.
QString antiwordText(const QString& doc);
QString catdocText(const QString& doc);

} // namespace testsupport
