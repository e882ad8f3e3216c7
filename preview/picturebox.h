#pragma once
// A picture box as the preview window needs it: positions and sizes in twips,
// a picture it can size itself to, a persistent backing image that a
// stretching paint draws into, and mouse events in twips.
//
// Deliberately a plain QWidget: the window's system colours reach frames and
// labels only, and a picture box keeps its own background.

#include <QAccessible>
#include <QColor>
#include <QImage>
#include <QWidget>
#include <algorithm>

namespace preview {

// The classic mouse button bits: left 1, right 2, middle 4.
int buttonBits(Qt::MouseButtons buttons);
// The classic shift bits: Shift 1, Ctrl 2, Alt 4.
int shiftBits(Qt::KeyboardModifiers modifiers);

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    // `borderTwips` is the width of the sunken border on each side; the inner
    // (client) area is what children and paints use.
    explicit PictureBox(QWidget* parent, int borderTwips = 0);

    // Position inside the container's inner area. Kept exactly as assigned;
    // the widget itself sits on the nearest whole pixel.
    float Left() const { return mLeft; }
    float Top() const { return mTop; }
    void SetLeft(float left) { Move(left, mTop); }
    void SetTop(float top) { Move(mLeft, top); }
    void Move(float left, float top);

    // Outer size, border included.
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    void SetWidth(int width) { resizeTwips(width, mHeight); }
    void SetHeight(int height) { resizeTwips(mWidth, height); }
    // Inner size.
    int ScaleWidth() const { return std::max(0, mWidth - 2 * mBorder); }
    int ScaleHeight() const { return std::max(0, mHeight - 2 * mBorder); }

    // The picture is shown at its natural size at the inner top-left corner.
    // Assigning it (or nothing) starts the backing image afresh.
    void SetPicture(const QImage& picture);
    void ClearPicture() { SetPicture(QImage()); }
    QImage Picture() const { return mPicture; }

    // With AutoRedraw on, paints are kept in the backing image; off, a paint
    // is shown once and lost at the next repaint, as on a plain screen.
    void SetAutoRedraw(bool on) { mAutoRedraw = on; }
    bool AutoRedraw() const { return mAutoRedraw; }
    // With AutoSize on, the box takes the natural size of its picture, at once
    // and at every later assignment.
    void SetAutoSize(bool on);
    // Setting the background starts the backing image afresh, too.
    void SetBackColor(const QColor& color);
    QColor BackColor() const { return mBackColor; }

    // The stretching paint: the source rectangle (twips of the source's natural
    // size) is scaled into the destination rectangle (twips of the inner area),
    // replacing what was there.
    void PaintPicture(const QImage& source, float destLeft, float destTop, float destWidth,
                      float destHeight, float srcLeft, float srcTop, float srcWidth,
                      float srcHeight);

    // What the inner area shows now, at the backing image's own resolution.
    QImage Image() const {
        compose();
        return mImage;
    }

    // The widget that children are placed in (the inner area).
    QWidget* client() const { return mClient; }

    // What a screen reader is told the box is; a plain client area unless set.
    void SetAccessibleRole(QAccessible::Role role) { mRole = role; }
    QAccessible::Role accessibleRole() const { return mRole; }

  signals:
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

  protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    void resizeTwips(int width, int height);
    void placeWidget();
    // Starting afresh only marks the backing as due; it is drawn when first
    // needed (a paint, or a stretching paint that does not cover it), so a box
    // that is never seen, or is set up in several steps, draws its picture
    // once or not at all.
    void recompose();
    void compose() const;
    QSize backingSize() const;
    qreal backingScale() const; // backing pixels per twip
    void eventPoint(const QMouseEvent* e, float& x, float& y) const;

    QWidget* mClient = nullptr;
    int mBorder = 0;
    float mLeft = 0;
    float mTop = 0;
    int mWidth = 0;
    int mHeight = 0;
    bool mAutoRedraw = false;
    bool mAutoSize = false;
    bool mDrawn = false;     // the backing holds more than background and picture
    bool mTransient = false; // ... made with AutoRedraw off
    QColor mBackColor;
    QAccessible::Role mRole = QAccessible::Client;
    QImage mPicture;
    mutable QImage mImage;
    mutable bool mComposeDue = false;
};

} // namespace preview
