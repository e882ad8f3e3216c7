#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace generate {

// Reads a resource compiled into the program by type and id, e.g. the
// warning-notice template ("CUSTOM", 101). Throws automation::Error.
QByteArray loadResData(int id, const QString& type);

// An organisation's own template replaces the built-in one. It is looked up as
// desktop programs look up their data: "veltrane/template.dot" in
// $XDG_DATA_HOME (default ~/.local/share), then in each folder of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
QStringList ownTemplateCandidates();

inline constexpr qint64 kMaxTemplateSize = 20 * 1024 * 1024;

// What a file at a candidate path holds, judged without the word processor.
struct TemplateFile {
    QString path;
    QByteArray bytes;     // the whole file, when it can serve
    QString refusal;      // why it cannot serve ("" when it can)
    QStringList missing;  // placeholders it lacks, in field order
    bool present = false; // something is at the path
};
TemplateFile inspectTemplate(const QString& path);

// The placeholders (of the nine) that a word-processor document's text lacks;
// every one when the bytes are not such a document. Matched as the
// replacement matches them, without regard to case.
QStringList missingPlaceholders(const QByteArray& document);

// "" when the bytes are a document in a format the word processor opens as
// text (Word 97-2003 compound file, Office Open XML or OpenDocument text),
// else why not.
QString documentProblem(const QByteArray& bytes);

// The template this generation uses: the first own template that can serve,
// else the built-in one on the desktop's paper (see paper.h). Refused files and missing
// placeholders are told to the user once per run each; where the template came from is logged.
// Throws automation::Error when even the built-in one cannot be read.
QByteArray templateBytes();

// Forgets which messages this run has shown.
void resetTemplateMessagesForTests();

} // namespace generate
