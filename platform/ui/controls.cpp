#include "controls.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace ui {

ScrollBar::ScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {}

void ScrollBar::paintEvent(QPaintEvent* e) {
    if (isEnabled()) {
        QScrollBar::paintEvent(e);
        return;
    }
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls &= ~QStyle::SC_ScrollBarSlider;
    QPainter p(this);
    style()->drawComplexControl(QStyle::CC_ScrollBar, &opt, &p, this);
}

SkinnedButton::SkinnedButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setMouseTracking(true);
}

bool SkinnedButton::event(QEvent* e) {
    // A second click or key press queued while a long handler ran can arrive
    // after that handler has hidden the window: a hidden button takes no input.
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (!isVisible()) {
            e->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return QPushButton::event(e);
}

void SkinnedButton::mouseMoveEvent(QMouseEvent* e) {
    emit mouseMoved();
    QPushButton::mouseMoveEvent(e);
    e->accept(); // the move was the button's; the window underneath must not see it
}

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    setMouseTracking(true);
}

void Frame::mouseMoveEvent(QMouseEvent* e) {
    emit mouseMoved();
    QGroupBox::mouseMoveEvent(e);
    e->accept();
}

QFont arialBold(qreal points) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(true);
    return f;
}

void makeFixedWindow(QWidget* window, QSize clientSize) {
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(clientSize);
}

QString toCrLf(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return s;
}

static QString toLf(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

TextBox::TextBox(bool multiLine, QWidget* parent) : QWidget(parent) {
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    if (multiLine) {
        mMulti = new QPlainTextEdit(this);
        mMulti->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        mMulti->setTabChangesFocus(true);
        mMulti->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        lay->addWidget(mMulti);
        connect(mMulti, &QPlainTextEdit::textChanged, this, &TextBox::changed);
        mMulti->installEventFilter(this);
        setFocusProxy(mMulti);
    } else {
        mLine = new QLineEdit(this);
        // The classic text box has no length limit of its own.
        mLine->setMaxLength(std::numeric_limits<int>::max());
        lay->addWidget(mLine);
        connect(mLine, &QLineEdit::textChanged, this, &TextBox::changed);
        mLine->installEventFilter(this);
        setFocusProxy(mLine);
    }
    setFocusPolicy(Qt::StrongFocus);
    editor()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor(), &QWidget::customContextMenuRequested, this, &TextBox::showContextMenu);
}

bool TextBox::canUndoItself() const {
    return mMulti ? mMulti->document()->isUndoAvailable() : mLine->isUndoAvailable();
}

// The editor's own menu, with one "Undo" that undoes the box's own typing
// first and else what the fallback puts back.
void TextBox::showContextMenu(const QPoint& at) {
    QMenu* menu =
        mMulti ? mMulti->createStandardContextMenu(at) : mLine->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto* undo = new QAction(QStringLiteral("Undo"), menu);
    undo->setObjectName(QStringLiteral("undo"));
    undo->setShortcut(QKeySequence::Undo);
    undo->setShortcutVisibleInContextMenu(true);
    const bool own = canUndoItself();
    undo->setEnabled(own || (mUndoFallback && mUndoFallback->isEnabled()));
    connect(undo, &QAction::triggered, this, [this, own] {
        if (own) {
            if (mMulti)
                mMulti->undo();
            else
                mLine->undo();
        } else if (mUndoFallback) {
            mUndoFallback->trigger();
        }
    });
    const QList<QAction*> entries = menu->actions();
    QAction* standard = nullptr;
    for (QAction* a : entries)
        if (a->objectName() == QLatin1String("edit-undo"))
            standard = a;
    menu->insertAction(standard ? standard : entries.value(0), undo);
    if (standard)
        menu->removeAction(standard);
    menu->popup(editor()->mapToGlobal(at));
}

QWidget* TextBox::editor() const {
    if (mMulti)
        return mMulti;
    return mLine;
}

QString TextBox::Text() const {
    if (mMulti)
        return toCrLf(mMulti->toPlainText());
    return mLine->text();
}

void TextBox::SetText(const QString& text) {
    if (Text() == (mMulti ? toCrLf(text) : text))
        return; // assigning the same text is no change
    if (mMulti) {
        mMulti->setPlainText(toLf(text));
    } else {
        mLine->setText(text);
    }
}

// Positions count CR LF as two characters, as the text itself does.
static int toEditorPos(const QString& crlfText, int pos) {
    int lfs = 0;
    for (int i = 0; i < pos && i < crlfText.size(); ++i)
        if (crlfText[i] == QLatin1Char('\r') && i + 1 < crlfText.size() &&
            crlfText[i + 1] == QLatin1Char('\n'))
            ++lfs;
    return pos - lfs;
}

static int fromEditorPos(const QString& crlfText, int editorPos) {
    int pos = 0;
    int seen = 0;
    while (seen < editorPos && pos < crlfText.size()) {
        if (crlfText[pos] == QLatin1Char('\r') && pos + 1 < crlfText.size() &&
            crlfText[pos + 1] == QLatin1Char('\n'))
            ++pos;
        ++pos;
        ++seen;
    }
    return pos;
}

int TextBox::SelStart() const {
    if (mMulti) {
        const QTextCursor c = mMulti->textCursor();
        return fromEditorPos(Text(), c.selectionStart());
    }
    return mLine->hasSelectedText() ? mLine->selectionStart() : mLine->cursorPosition();
}

int TextBox::SelLength() const {
    if (mMulti) {
        const QTextCursor c = mMulti->textCursor();
        const QString t = Text();
        return fromEditorPos(t, c.selectionEnd()) - fromEditorPos(t, c.selectionStart());
    }
    return static_cast<int>(mLine->selectedText().size());
}

void TextBox::SetSelStart(int start) {
    const int len = static_cast<int>(Text().size());
    mSelStart = std::clamp(start, 0, len);
    if (mMulti) {
        QTextCursor c = mMulti->textCursor();
        c.setPosition(toEditorPos(Text(), mSelStart));
        mMulti->setTextCursor(c);
    } else {
        mLine->setCursorPosition(mSelStart);
    }
}

void TextBox::SetSelLength(int length) {
    const QString t = Text();
    const int end = std::clamp(mSelStart + length, mSelStart, static_cast<int>(t.size()));
    if (mMulti) {
        QTextCursor c = mMulti->textCursor();
        c.setPosition(toEditorPos(t, mSelStart));
        c.setPosition(toEditorPos(t, end), QTextCursor::KeepAnchor);
        mMulti->setTextCursor(c);
    } else {
        mLine->setSelection(mSelStart, end - mSelStart);
    }
}

bool TextBox::eventFilter(QObject* watched, QEvent* event) {
    // Ctrl+Z with nothing of the box's own to undo goes on to the window.
    if (watched == editor() && event->type() == QEvent::ShortcutOverride && mUndoFallback &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo) && !canUndoItself()) {
        event->ignore();
        return true;
    }
    if (watched == editor() && event->type() == QEvent::FocusIn) {
        // Let the editor finish its own focus handling (a click places the
        // cursor) before the program selects the text.
        const bool handled = QWidget::eventFilter(watched, event);
        QMetaObject::invokeMethod(this, &TextBox::gotFocus, Qt::QueuedConnection);
        return handled;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ui
