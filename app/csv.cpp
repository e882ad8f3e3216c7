#include "csv.h"

#include <QStringDecoder>

namespace app {

namespace {

void readInto(CsvTable& table, const QByteArray& bytes) {
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(data);
    if (utf8.hasError()) {
        // No UTF-8 sequence holds a line feed, so each line can be judged alone.
        const QList<QByteArray> lines = data.split('\n');
        qsizetype bad = 0;
        while (bad < lines.size()) {
            QStringDecoder probe(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = probe.decode(lines[bad]);
            Q_UNUSED(decoded)
            if (probe.hasError())
                break;
            ++bad;
        }
        table.error =
            QStringLiteral("line %1 is not UTF-8 text (save the file as CSV UTF-8)").arg(bad + 1);
        return;
    }

    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    int number = 0;
    while (i < n) {
        CsvRecord record;
        record.line = line;
        QString field;
        bool endOfRecord = false;
        bool empty = true; // nothing at all on the line so far
        while (!endOfRecord) {
            if (i < n && text[i] == u'"') {
                // A quoted field: up to the quote that is not doubled.
                empty = false;
                const int openedOn = line;
                ++i;
                for (;;) {
                    if (i >= n) {
                        table.error = QStringLiteral("the quote opened on line %1 is never closed")
                                          .arg(openedOn);
                        return;
                    }
                    const QChar c = text[i];
                    if (c == u'"') {
                        if (i + 1 < n && text[i + 1] == u'"') {
                            field += u'"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == u'\n')
                        ++line;
                    field += c;
                    ++i;
                }
                if (i < n && text[i] != u',' && text[i] != u'\n' &&
                    !(text[i] == u'\r' && (i + 1 == n || text[i + 1] == u'\n'))) {
                    table.error =
                        QStringLiteral("line %1: text after a closing quote (a quote inside a "
                                       "quoted field is written twice)")
                            .arg(line);
                    return;
                }
            } else {
                while (i < n && text[i] != u',' && text[i] != u'\n' &&
                       !(text[i] == u'\r' && (i + 1 == n || text[i + 1] == u'\n'))) {
                    field += text[i];
                    ++i;
                    empty = false;
                }
            }
            record.fields << field;
            field.clear();
            if (i >= n) {
                endOfRecord = true;
            } else if (text[i] == u',') {
                empty = false;
                ++i;
            } else {
                // CR LF or LF ends the record.
                if (text[i] == u'\r')
                    ++i;
                ++i;
                ++line;
                endOfRecord = true;
            }
        }
        if (empty)
            continue;
        record.number = ++number;
        table.records << record;
    }
}

} // namespace

CsvTable readCsv(const QByteArray& bytes) {
    CsvTable table;
    readInto(table, bytes);
    if (!table.error.isEmpty())
        table.records.clear();
    return table;
}

} // namespace app
