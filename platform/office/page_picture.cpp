#include "office_parts.h"

#include <QPainter>
#include <QRect>

#include <algorithm>
#include <climits>

namespace office {

namespace {

// Anything lighter than this counts as paper: anti-aliasing leaves a faint haze
// around the page edge that must not stop the trim.
constexpr int kPaper = 250;

bool rowIsBlank(const QImage& img, int y, int x0, int x1) {
    const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = x0; x < x1; ++x) {
        const QRgb p = line[x];
        if (qRed(p) < kPaper || qGreen(p) < kPaper || qBlue(p) < kPaper)
            return false;
    }
    return true;
}

bool columnIsBlank(const QImage& img, int x, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        const QRgb p = reinterpret_cast<const QRgb*>(img.constScanLine(y))[x];
        if (qRed(p) < kPaper || qGreen(p) < kPaper || qBlue(p) < kPaper)
            return false;
    }
    return true;
}

// The smallest rectangle holding everything that is not paper; null when blank.
QRect contentBox(const QImage& img) {
    const int w = img.width(), h = img.height();
    int top = 0, bottom = h;
    while (top < h && rowIsBlank(img, top, 0, w))
        ++top;
    if (top == h)
        return QRect();
    while (bottom > top && rowIsBlank(img, bottom - 1, 0, w))
        --bottom;
    int left = 0, right = w;
    while (left < w && columnIsBlank(img, left, top, bottom))
        ++left;
    while (right > left && columnIsBlank(img, right - 1, top, bottom))
        --right;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

} // namespace

QImage stackPages(const QList<QImage>& pages, int gapPx) {
    QList<QImage> rgb;
    QList<QRect> boxes;
    int left = INT_MAX, right = INT_MIN;
    for (const QImage& page : pages) {
        QImage p = page.convertToFormat(QImage::Format_RGB32);
        const QRect box = contentBox(p);
        if (box.isNull())
            continue;
        // One left edge and width for all pages keeps their text aligned.
        left = std::min(left, box.left());
        right = std::max(right, box.right());
        rgb.append(p);
        boxes.append(box);
    }
    if (rgb.isEmpty()) {
        if (pages.isEmpty())
            return QImage();
        return pages.first().convertToFormat(QImage::Format_RGB32);
    }

    const int width = right - left + 1;
    int height = gapPx * (int(rgb.size()) - 1);
    for (const QRect& b : boxes)
        height += b.height();

    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::white);
    out.setDotsPerMeterX(pages.first().dotsPerMeterX());
    out.setDotsPerMeterY(pages.first().dotsPerMeterY());
    QPainter painter(&out);
    int y = 0;
    for (qsizetype i = 0; i < rgb.size(); ++i) {
        const QRect src(left, boxes[i].top(), width, boxes[i].height());
        painter.drawImage(QPoint(0, y), rgb[i], src.intersected(rgb[i].rect()));
        y += boxes[i].height() + gapPx;
    }
    painter.end();
    return out;
}

} // namespace office
