#pragma once
// Comma-separated values as spreadsheets write them (RFC 4180): quoted
// fields with commas, quotes (doubled) and line breaks inside, CRLF or LF
// line ends, a UTF-8 byte-order mark.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace app {

struct CsvRecord {
    int number = 0; // 1 for the first record (the header), as a spreadsheet counts rows
    int line = 0;   // the line of the file it starts on
    QStringList fields;
};

struct CsvTable {
    QList<CsvRecord> records; // empty lines are no records
    QString error;            // "" when the whole text could be read
};

// Reads the whole text. A field is taken as it stands except for its quotes:
// no spaces are trimmed. A quote inside an unquoted field is kept as a
// character, as spreadsheets read it; text after a closing quote, a quote
// never closed, and bytes that are not UTF-8 are errors that name their line.
CsvTable readCsv(const QByteArray& bytes);

} // namespace app
