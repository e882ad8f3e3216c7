// The input of "veltrane fill": the facts of one notice as JSON, the rows of a
// list as CSV, and the names of the list's notices.

#include "fillinput.h"

#include "app/csv.h"
#include "app/fillcommand.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace app {

namespace {

using generate::Facts;

// "line 3, column 14" of a byte offset into text.
QString lineAndColumn(const QByteArray& text, qsizetype offset) {
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    const QByteArray before = text.left(offset);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    return QStringLiteral("line %1, column %2")
        .arg(before.count('\n') + 1)
        .arg(QString::fromUtf8(before.mid(lineStart)).size() + 1);
}

QString factNameList() {
    QStringList names;
    for (const char* n : generate::kFactNames)
        names << QLatin1String(n);
    return names.join(QStringLiteral(", "));
}

int factIndex(const QString& name) {
    for (std::size_t i = 0; i < generate::kFactNames.size(); ++i)
        if (name == QLatin1String(generate::kFactNames[i]))
            return int(i);
    return -1;
}

// Characters some file system refuses in a name.
bool unsafeInName(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || QStringView(u"/\\:*?\"<>|").contains(c) ||
           c.category() == QChar::Other_Format || u == 0x2028 || u == 0x2029;
}

// Cuts text to at most maxBytes of UTF-8, never inside a character.
QString cutToBytes(const QString& text, qsizetype maxBytes) {
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype b = text.mid(i, len).toUtf8().size();
        if (bytes + b > maxBytes)
            break;
        out += text.mid(i, len);
        bytes += b;
        i += len;
    }
    return out;
}

} // namespace

namespace fill {

QString readRows(const QString& file, const QString& outputDir, const QString& suffix,
                 std::vector<Row>& rows) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(file, in.errorString());
    const CsvTable table = readCsv(in.readAll());
    if (!table.error.isEmpty())
        return QStringLiteral("%1: %2").arg(file, table.error);
    if (table.records.isEmpty())
        return QStringLiteral("%1 is empty; its first row names the columns: %2")
            .arg(file, factNameList());
    const QStringList header = table.records.first().fields;
    std::array<int, 9> column;
    column.fill(-1);
    for (qsizetype c = 0; c < header.size(); ++c) {
        const int index = factIndex(header[c]);
        if (index < 0)
            return QStringLiteral("%1: unknown column '%2' (the columns are %3)")
                .arg(file, header[c], factNameList());
        if (column[std::size_t(index)] >= 0)
            return QStringLiteral("%1: the column '%2' appears twice").arg(file, header[c]);
        column[std::size_t(index)] = int(c);
    }
    for (std::size_t i = 0; i < column.size(); ++i)
        if (column[i] < 0)
            return QStringLiteral("%1: the column '%2' is missing")
                .arg(file, QLatin1String(generate::kFactNames[i]));

    QSet<QString> taken;
    for (qsizetype r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        Row row;
        row.number = record.number;
        if (record.fields.size() != header.size()) {
            row.problem = QStringLiteral("it has %1 fields where the header has %2 (line %3)")
                              .arg(record.fields.size())
                              .arg(header.size())
                              .arg(record.line);
        } else {
            for (std::size_t i = 0; i < column.size(); ++i)
                row.facts[i] = record.fields[column[i]];
            row.target =
                outputDir + QLatin1Char('/') + noticeFileName(row.facts, row.number, suffix, taken);
        }
        rows.push_back(std::move(row));
    }
    return QString();
}

} // namespace fill

std::optional<Facts> factsFromJson(const QByteArray& json, QString& why) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        why =
            QStringLiteral("%1 at %2").arg(error.errorString(), lineAndColumn(json, error.offset));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        why = QStringLiteral("the facts must be one JSON object with the keys %1")
                  .arg(factNameList());
        return std::nullopt;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (factIndex(it.key()) < 0) {
            why = QStringLiteral("unknown key \"%1\" (the keys are %2)")
                      .arg(it.key(), factNameList());
            return std::nullopt;
        }
    }
    Facts facts;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const QString key = QLatin1String(generate::kFactNames[i]);
        const auto it = object.find(key);
        if (it == object.end()) {
            why = QStringLiteral("the key \"%1\" is missing").arg(key);
            return std::nullopt;
        }
        if (!it->isString()) {
            why =
                QStringLiteral("the value of \"%1\" is not a string (write it in quotes)").arg(key);
            return std::nullopt;
        }
        facts[i] = it->toString();
    }
    return facts;
}

QString noticeFileName(const Facts& facts, int row, const QString& suffix, QSet<QString>& taken) {
    QString stem;
    for (const QString& part : {facts[8], facts[0]}) {
        QString clean;
        for (const QChar c : part)
            clean += unsafeInName(c) ? QChar(u'_') : c;
        clean = clean.simplified();
        if (!clean.isEmpty())
            stem += (stem.isEmpty() ? QString() : QStringLiteral(" ")) + clean;
    }
    // No hidden file, and nothing Windows would drop from the end.
    while (stem.startsWith(QLatin1Char('.')) || stem.startsWith(QLatin1Char(' ')))
        stem.remove(0, 1);
    while (stem.endsWith(QLatin1Char('.')) || stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    static const QStringList reserved{QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    const QString upper = stem.toUpper();
    if (reserved.contains(upper) ||
        (upper.size() == 4 &&
         (upper.startsWith(QLatin1String("COM")) || upper.startsWith(QLatin1String("LPT"))) &&
         upper[3].isDigit()))
        stem.prepend(QLatin1Char('_'));
    if (stem.isEmpty())
        stem = QStringLiteral("row %1").arg(row);
    const QString ext = QLatin1Char('.') + suffix;
    for (int n = 1;; ++n) {
        const QString counter = n == 1 ? QString() : QStringLiteral(" (%1)").arg(n);
        // The name as a whole within 255 bytes, the number and the extension kept.
        QString cut = cutToBytes(stem, 255 - (counter + ext).toUtf8().size());
        while (cut.endsWith(QLatin1Char(' ')) || cut.endsWith(QLatin1Char('.')))
            cut.chop(1);
        if (cut.isEmpty())
            cut = QStringLiteral("row %1").arg(row);
        const QString name = cut + counter + ext;
        if (!taken.contains(name.toCaseFolded())) {
            taken.insert(name.toCaseFolded());
            return name;
        }
    }
}

} // namespace app
