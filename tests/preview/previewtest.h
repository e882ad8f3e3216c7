#pragma once
// What the preview tests share: a look at the viewport state, pictures of an
// exact natural size, and mouse drags on the viewer box.

#include "platform/ui/picture.h"
#include "preview/form2.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

struct Form2Probe {
    Form2* f;
    float zoom() const { return f->mZoom; }
    int16_t hStep() const { return f->mHStep; }
    int16_t vStep() const { return f->mVStep; }
    int32_t imageWidth() const { return f->mImageWidth; }
    int32_t imageHeight() const { return f->mImageHeight; }
    int32_t zoomedWidth() const { return f->mZoomedWidth; }
    int32_t zoomedHeight() const { return f->mZoomedHeight; }
    bool firstActivate() const { return f->mFirstActivate; }
    float dragStartX() const { return f->mDragStartX; }
};

namespace previewtest {

// A pixel count near 192 dpi and the dots per metre that give it a natural
// length of exactly `twips`.
inline QPair<int, int> pixelsFor(int twips, bool horizontal) {
    const int first = std::max(2, static_cast<int>(std::ceil(twips / 7.5)));
    for (int pixels = first; pixels < first + 40; ++pixels) {
        const int ideal = static_cast<int>(pixels * 1440.0 / twips / 0.0254);
        for (int dpm = ideal - 2; dpm <= ideal + 2; ++dpm) {
            QImage probe(horizontal ? pixels : 1, horizontal ? 1 : pixels, QImage::Format_RGB32);
            probe.setDotsPerMeterX(dpm);
            probe.setDotsPerMeterY(dpm);
            const QSize n = ui::naturalSizeTwips(probe);
            if ((horizontal ? n.width() : n.height()) == twips)
                return {pixels, dpm};
        }
    }
    qFatal("no picture is %d twips long", twips);
}

// A page picture of exactly w x h twips: its left half red, its right half
// blue, so stretching can be seen.
inline QImage pictureOfTwips(int w, int h) {
    const auto [pw, dpmX] = pixelsFor(w, true);
    const auto [ph, dpmY] = pixelsFor(h, false);
    QImage pic(pw, ph, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    QPainter(&pic).fillRect(0, 0, pw / 2, ph, Qt::red);
    pic.setDotsPerMeterX(dpmX);
    pic.setDotsPerMeterY(dpmY);
    return pic;
}

// Sends one mouse event to the viewer box at a point given in pixels of the
// viewport's inner area, wherever the box has moved to.
inline void mouse(QWidget* box, QEvent::Type type, QPointF inViewport, Qt::MouseButton button,
                  Qt::MouseButtons held) {
    const QPointF local = inViewport - QPointF(box->pos());
    QMouseEvent e(type, local, box->mapToGlobal(local), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &e);
}

// Press at `from`, move to `to` with the button held, and let go unless told not to.
inline void drag(QWidget* box, QPointF from, QPointF to, bool release = true,
                 Qt::MouseButton button = Qt::LeftButton) {
    mouse(box, QEvent::MouseButtonPress, from, button, button);
    mouse(box, QEvent::MouseMove, to, Qt::NoButton, button);
    if (release)
        mouse(box, QEvent::MouseButtonRelease, to, button, Qt::NoButton);
}

inline QPointF twipsToPixels(double x, double y) {
    return QPointF(x / 15.0, y / 15.0);
}

} // namespace previewtest
