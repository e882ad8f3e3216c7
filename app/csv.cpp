#include "csv.h"

#include <QStringDecoder>

namespace app {

namespace {

// The text of bytes, less a byte-order mark; false, with which line is not
// UTF-8, when they are not UTF-8 text.
bool decodeUtf8(const QByteArray& bytes, QString& text, QString& error) {
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(data);
    if (!utf8.hasError())
        return true;
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
    error = QStringLiteral("line %1 is not UTF-8 text (save the file as CSV UTF-8)").arg(bad + 1);
    return false;
}

// The records of a text, one after the other.
class RecordReader {
  public:
    explicit RecordReader(const QString& text) : mText(text), mN(text.size()) {}

    bool atEnd() const { return mI >= mN; }
    int line() const { return mLine; }
    QString error() const { return mError; }

    // The fields of the next record, and whether its line held nothing at
    // all; false on a fault, with error() saying which.
    bool read(QStringList& fields, bool& empty) {
        empty = true;
        for (;;) {
            QString field;
            if (mI < mN && mText[mI] == u'"') {
                empty = false;
                if (!readQuoted(field))
                    return false;
            } else {
                readPlain(field, empty);
            }
            fields << field;
            if (mI >= mN)
                return true;
            if (mText[mI] == u',') {
                empty = false;
                ++mI;
                continue;
            }
            // CR LF or LF ends the record.
            if (mText[mI] == u'\r')
                ++mI;
            ++mI;
            ++mLine;
            return true;
        }
    }

  private:
    // A comma, a line feed, or a carriage return before a line feed or the end.
    bool endsField(qsizetype at) const {
        return mText[at] == u',' || mText[at] == u'\n' ||
               (mText[at] == u'\r' && (at + 1 == mN || mText[at + 1] == u'\n'));
    }

    void readPlain(QString& field, bool& empty) {
        while (mI < mN && !endsField(mI)) {
            field += mText[mI];
            ++mI;
            empty = false;
        }
    }

    // A quoted field: up to the quote that is not doubled.
    bool readQuoted(QString& field) {
        const int openedOn = mLine;
        ++mI;
        for (;;) {
            if (mI >= mN) {
                mError =
                    QStringLiteral("the quote opened on line %1 is never closed").arg(openedOn);
                return false;
            }
            const QChar c = mText[mI];
            if (c == u'"') {
                if (mI + 1 < mN && mText[mI + 1] == u'"') {
                    field += u'"';
                    mI += 2;
                    continue;
                }
                ++mI;
                break;
            }
            if (c == u'\n')
                ++mLine;
            field += c;
            ++mI;
        }
        if (mI < mN && !endsField(mI)) {
            mError = QStringLiteral("line %1: text after a closing quote (a quote inside a "
                                    "quoted field is written twice)")
                         .arg(mLine);
            return false;
        }
        return true;
    }

    const QString& mText;
    const qsizetype mN;
    qsizetype mI = 0;
    int mLine = 1;
    QString mError;
};

void readInto(CsvTable& table, const QByteArray& bytes) {
    QString text;
    if (!decodeUtf8(bytes, text, table.error))
        return;
    RecordReader reader(text);
    int number = 0;
    while (!reader.atEnd()) {
        CsvRecord record;
        record.line = reader.line();
        bool empty = true; // nothing at all on the line
        if (!reader.read(record.fields, empty)) {
            table.error = reader.error();
            return;
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
