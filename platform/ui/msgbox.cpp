#include "msgbox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace ui {

namespace {
QString& titleStore() {
    static QString t;
    return t;
}
MsgBoxHandler& handlerStore() {
    static MsgBoxHandler h;
    return h;
}
// Runs without a space longer than this (paths, mostly) may break anywhere.
constexpr int kLongRun = 24;

// The text with an invisible break chance between the characters of every
// long run, so a path wraps where the line ends instead of running out of
// the box. Short words are never split.
QString wrappableAnywhere(const QString& text) {
    QString out;
    QStringList run; // graphemes since the last space
    auto flush = [&] {
        out += run.size() > kLongRun ? run.join(QChar(0x200B)) : run.join(QString());
        run.clear();
    };
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype from = 0;
    while (graphemes.toNextBoundary() != -1) {
        const QString g = text.mid(from, graphemes.position() - from);
        from = graphemes.position();
        if (g.at(0).isSpace()) {
            flush();
            out += g;
        } else {
            run << g;
        }
    }
    flush();
    return out;
}

// The box's own label cannot wrap inside a word, and cuts a long path off.
// It keeps the text (for box->text() and copying); what the user sees is a
// label of the same look that may wrap anywhere within long runs.
void showWholeText(QMessageBox& box, const QString& text) {
    auto* own = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!own || !box.layout())
        return;
    auto* shown = new QLabel(wrappableAnywhere(text), &box);
    shown->setObjectName(QStringLiteral("wrapped_text"));
    shown->setTextFormat(Qt::PlainText);
    shown->setWordWrap(true);
    shown->setAlignment(own->alignment());
    shown->setContentsMargins(own->contentsMargins());
    shown->setTextInteractionFlags(Qt::NoTextInteraction);
    // As wide as the widest line, up to about sixty characters.
    const QFontMetrics fm(shown->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    shown->setMinimumWidth(std::min(widest + 1, fm.averageCharWidth() * 60));
    delete box.layout()->replaceWidget(own, shown);
    own->hide();
}

} // namespace

void setAppTitle(const QString& title) {
    titleStore() = title;
}
QString appTitle() {
    return titleStore();
}
void setMsgBoxHandler(MsgBoxHandler handler) {
    handlerStore() = std::move(handler);
}

QString displayText(const QString& prompt) {
    QString s = prompt;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

int MsgBox(const QString& prompt, int style, const QString& title) {
    MsgBoxRequest req{prompt, style, title.isEmpty() ? appTitle() : title};
    if (handlerStore())
        return handlerStore()(req);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(req.title);
    box.setText(displayText(prompt));
    box.setTextFormat(Qt::PlainText);
    switch (style & 0x70) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case vbExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }
    if ((style & 0x7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        showWholeText(box, box.text()); // last: setting the icon lays the box out anew
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    showWholeText(box, box.text());
    box.exec();
    return vbOK;
}

} // namespace ui
