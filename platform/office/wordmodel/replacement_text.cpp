#include "picture_and_text.h"

namespace office {

QStringList replacementLines(const QString& text) {
    QStringList lines;
    QString current;
    current.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n' || u == u'\v') {
            // CR LF is one break, not two. VT is Word's own line break.
            if (u == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            lines.append(current);
            current.clear();
        } else if (u == u'\f') {
            // Word's page break: the next line starts a new page.
            lines.append(current);
            current = QString(QChar(u'\f'));
        } else if (u < 0x20 && u != u'\t') {
            // Writer refuses the other C0 controls; a value typed with one still fills.
        } else {
            current.append(c);
        }
    }
    lines.append(current);
    return lines;
}

} // namespace office
