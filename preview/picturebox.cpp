#include "picturebox.h"

#include "platform/automation/stageclock.h"
#include "platform/ui/picture.h"
#include "platform/ui/twips.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QtWidgets/qdrawutil.h>
#include <cmath>

namespace preview {

namespace {

int toPixels(double twips) {
    return static_cast<int>(std::lround(twips / ui::kTwipsPerPixel));
}

// A rectangle of a 32-bit image without copying its pixels.
QImage region(const QImage& image, const QRect& r) {
    if (r == image.rect())
        return image;
    if (image.depth() != 32)
        return image.copy(r);
    const uchar* first = image.constBits() + qsizetype(r.y()) * image.bytesPerLine() + r.x() * 4;
    return QImage(first, r.width(), r.height(), image.bytesPerLine(), image.format());
}

// Gives a picture box the role it was told, so a picture is announced as one.
QAccessibleInterface* pictureBoxAccessible(const QString&, QObject* object) {
    if (auto* box = qobject_cast<PictureBox*>(object))
        return new QAccessibleWidget(box, box->accessibleRole());
    return nullptr;
}

} // namespace

int buttonBits(Qt::MouseButtons buttons) {
    int bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= 1;
    if (buttons & Qt::RightButton)
        bits |= 2;
    if (buttons & Qt::MiddleButton)
        bits |= 4;
    return bits;
}

int shiftBits(Qt::KeyboardModifiers modifiers) {
    int bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= 1;
    if (modifiers & Qt::ControlModifier)
        bits |= 2;
    if (modifiers & Qt::AltModifier)
        bits |= 4;
    return bits;
}

PictureBox::PictureBox(QWidget* parent, int borderTwips)
    : QWidget(parent), mBorder(borderTwips), mBackColor(Qt::white) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(pictureBoxAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (mBorder > 0) {
        // Children live in the inner area, so the border is never painted over.
        mClient = new QWidget(this);
        mClient->setObjectName(QStringLiteral("client"));
    } else {
        mClient = this;
    }
}

void PictureBox::Move(float left, float top) {
    mLeft = left;
    mTop = top;
    placeWidget();
}

void PictureBox::placeWidget() {
    setGeometry(toPixels(mLeft), toPixels(mTop), toPixels(mWidth), toPixels(mHeight));
}

void PictureBox::resizeEvent(QResizeEvent*) {
    if (mClient != this) {
        const int b = toPixels(mBorder);
        mClient->setGeometry(b, b, std::max(0, width() - 2 * b), std::max(0, height() - 2 * b));
    }
}

qreal PictureBox::backingScale() const {
    return devicePixelRatioF() / ui::kTwipsPerPixel;
}

QSize PictureBox::backingSize() const {
    const qreal k = backingScale();
    return QSize(static_cast<int>(std::lround(ScaleWidth() * k)),
                 static_cast<int>(std::lround(ScaleHeight() * k)));
}

void PictureBox::recompose() {
    mTransient = false;
    mComposeDue = true;
    mImage = QImage(); // its memory goes now, not at the next paint
}

void PictureBox::compose() const {
    if (!mComposeDue)
        return;
    mComposeDue = false;
    mImage = QImage(backingSize(), QImage::Format_RGB32);
    mImage.setDevicePixelRatio(devicePixelRatioF());
    mImage.fill(mBackColor);
    if (mPicture.isNull() || mImage.isNull())
        return;
    const QSize natural = ui::naturalSizeTwips(mPicture);
    const qreal k = backingScale();
    QPainter p(&mImage);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // Painter coordinates are logical pixels (the image carries its ratio).
    const qreal toLogical = k / devicePixelRatioF();
    p.drawImage(QRectF(0, 0, natural.width() * toLogical, natural.height() * toLogical), mPicture);
}

void PictureBox::resizeTwips(int width, int height) {
    if (width == mWidth && height == mHeight)
        return;
    mWidth = std::max(0, width);
    mHeight = std::max(0, height);
    placeWidget();
    const bool keepOld = mTransient || mDrawn;
    if (keepOld)
        compose();
    const QImage old = mImage;
    recompose();
    if (keepOld && !old.isNull()) {
        // What was painted stays at the top-left; new room shows the background.
        compose();
        QPainter p(&mImage);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QPointF(0, 0), old);
        mTransient = !mAutoRedraw;
    }
    mDrawn = keepOld;
    update();
}

void PictureBox::SetPicture(const QImage& picture) {
    mPicture = picture;
    if (mAutoSize && !mPicture.isNull()) {
        const QSize natural = ui::naturalSizeTwips(mPicture);
        mWidth = natural.width() + 2 * mBorder;
        mHeight = natural.height() + 2 * mBorder;
        placeWidget();
    }
    recompose();
    mDrawn = false;
    update();
}

void PictureBox::SetAutoSize(bool on) {
    mAutoSize = on;
    if (on && !mPicture.isNull()) {
        const QSize natural = ui::naturalSizeTwips(mPicture);
        resizeTwips(natural.width() + 2 * mBorder, natural.height() + 2 * mBorder);
    }
}

void PictureBox::SetBackColor(const QColor& color) {
    mBackColor = color;
    recompose();
    mDrawn = false;
    update();
}

void PictureBox::PaintPicture(const QImage& source, float destLeft, float destTop, float destWidth,
                              float destHeight, float srcLeft, float srcTop, float srcWidth,
                              float srcHeight) {
    if (source.isNull() || backingSize().isEmpty())
        return;
    const QSize natural = ui::naturalSizeTwips(source);
    const qreal sx = natural.width() > 0 ? qreal(source.width()) / natural.width() : 0;
    const qreal sy = natural.height() > 0 ? qreal(source.height()) / natural.height() : 0;
    const QRectF from(srcLeft * sx, srcTop * sy, srcWidth * sx, srcHeight * sy);
    const qreal k = backingScale();
    // Backing pixels, before the image's own device pixel ratio is applied.
    const QRectF to(destLeft * k, destTop * k, destWidth * k, destHeight * k);

    const QRect fromPx = from.toRect().intersected(source.rect());
    const QRect toPx = to.toRect();
    const QRect backing(QPoint(0, 0), backingSize());
    if (toPx.width() < fromPx.width() && toPx.height() < fromPx.height() && !toPx.isEmpty()) {
        // Shrinking: average the source (bilinear sampling would drop the thin
        // strokes of small text).
        QImage shrunk = region(source, fromPx)
                            .scaled(toPx.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (mComposeDue && toPx == backing && shrunk.format() == QImage::Format_RGB32) {
            // It replaces every pixel: it is the backing, and what was due
            // under it need not be drawn at all.
            mComposeDue = false;
            shrunk.setDevicePixelRatio(devicePixelRatioF());
            mImage = std::move(shrunk);
        } else {
            compose();
            QPainter p(&mImage);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            const qreal dpr = mImage.devicePixelRatio();
            p.scale(1.0 / dpr, 1.0 / dpr);
            p.drawImage(toPx.topLeft(), shrunk);
        }
    } else {
        compose();
        QPainter p(&mImage);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const qreal dpr = mImage.devicePixelRatio();
        p.scale(1.0 / dpr, 1.0 / dpr);
        p.drawImage(to, source, from);
    }
    mDrawn = true;
    mTransient = !mAutoRedraw;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    automation::StageClock clock("picture box painted");
    QPainter p(this);
    const int b = toPixels(mBorder);
    const QRect inner = rect().adjusted(b, b, -b, -b);
    if (b > 0)
        qDrawShadePanel(&p, rect(), palette(), true, b);
    p.fillRect(inner, mBackColor);
    compose();
    p.drawImage(inner.topLeft(), mImage);
    if (mTransient) {
        // Without AutoRedraw a paint is not kept: the next repaint loses it.
        recompose();
        mDrawn = false;
    }
}

void PictureBox::eventPoint(const QMouseEvent* e, float& x, float& y) const {
    // Relative to where the box is meant to be, not to the pixel it sits on.
    const double t = ui::kTwipsPerPixel;
    x = static_cast<float>((pos().x() + e->position().x()) * t - mLeft - mBorder);
    y = static_cast<float>((pos().y() + e->position().y()) * t - mTop - mBorder);
}

void PictureBox::mousePressEvent(QMouseEvent* e) {
    float x = 0, y = 0;
    eventPoint(e, x, y);
    e->accept();
    emit MouseDown(buttonBits(e->button()), shiftBits(e->modifiers()), x, y);
}

void PictureBox::mouseMoveEvent(QMouseEvent* e) {
    float x = 0, y = 0;
    eventPoint(e, x, y);
    e->accept();
    emit MouseMove(buttonBits(e->buttons()), shiftBits(e->modifiers()), x, y);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* e) {
    float x = 0, y = 0;
    eventPoint(e, x, y);
    e->accept();
    emit MouseUp(buttonBits(e->button()), shiftBits(e->modifiers()), x, y);
}

} // namespace preview
