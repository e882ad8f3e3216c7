#pragma once
// Small widgets that stand in for the classic controls: a push button that
// reports pointer moves, a frame and label that report them too, and a text
// box whose text uses CR LF line breaks.

#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

class QAction;
class QLineEdit;
class QPlainTextEdit;

namespace ui {

class SkinnedButton : public QPushButton {
    Q_OBJECT
  public:
    explicit SkinnedButton(const QString& caption, QWidget* parent = nullptr);
  signals:
    void mouseMoved();

  protected:
    bool event(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
};

class Frame : public QGroupBox {
    Q_OBJECT
  public:
    explicit Frame(const QString& caption, QWidget* parent = nullptr);
  signals:
    void mouseMoved();

  protected:
    void mouseMoveEvent(QMouseEvent* e) override;
};

// A scroll bar that, while disabled, draws no thumb: there is nothing to
// scroll, whatever range and value it keeps.
class ScrollBar : public QScrollBar {
    Q_OBJECT
  public:
    explicit ScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* e) override;
};

// A text box, single-line or multi-line with a vertical scroll bar. Text()
// hands out line breaks as CR LF; SetText takes CR LF, CR or LF.
class TextBox : public QWidget {
    Q_OBJECT
  public:
    TextBox(bool multiLine, QWidget* parent = nullptr);

    QString Text() const;
    void SetText(const QString& text);
    QString Tag; // the field's placeholder, fixed with the layout

    int SelStart() const;
    int SelLength() const;
    void SetSelStart(int start);
    void SetSelLength(int length);

    QWidget* editor() const;

    // What Ctrl+Z and the context menu's "Undo" do when the box has nothing
    // of its own to undo: a change the window made to several boxes at once.
    void SetUndoFallback(QAction* undo) { mUndoFallback = undo; }

  signals:
    void changed(); // after every change of the text, typed or assigned
    void gotFocus();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool canUndoItself() const;
    void showContextMenu(const QPoint& at);

    QLineEdit* mLine = nullptr;
    QPlainTextEdit* mMulti = nullptr;
    QAction* mUndoFallback = nullptr;
    int mSelStart = 0;
};

// Arial, bold, at the given size (Liberation Sans stands in where Arial is missing).
QFont arialBold(qreal points);

// A fixed-size window with a single border: minimise button, no maximise.
void makeFixedWindow(QWidget* window, QSize clientSize);

// Turns stored or typed line breaks into CR LF, the form the program keeps.
QString toCrLf(const QString& text);

} // namespace ui
