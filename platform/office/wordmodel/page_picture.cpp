#include "picture_and_text.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QRect>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace office {

namespace {

// Anything lighter than this counts as paper: anti-aliasing leaves a faint haze
// around the page edge that must not stop the trim.
constexpr int kPaper = 250;

bool isPaper(QRgb p) {
    return qRed(p) >= kPaper && qGreen(p) >= kPaper && qBlue(p) >= kPaper;
}

bool rowIsBlank(const QImage& img, int y, int x0, int x1) {
    const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = x0; x < x1; ++x)
        if (!isPaper(line[x]))
            return false;
    return true;
}

// The smallest rectangle holding everything that is not paper; null when blank.
// The sides are found row by row, in the order the pixels lie in memory: each
// row is read only as far in from either side as the content found so far.
QRect contentBox(const QImage& img) {
    const int w = img.width(), h = img.height();
    int top = 0, bottom = h;
    while (top < h && rowIsBlank(img, top, 0, w))
        ++top;
    if (top == h)
        return QRect();
    while (bottom > top && rowIsBlank(img, bottom - 1, 0, w))
        --bottom;
    int left = w, right = 0; // content found in columns [left, right)
    for (int y = top; y < bottom; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < left; ++x)
            if (!isPaper(line[x])) {
                left = x;
                break;
            }
        for (int x = w - 1; x >= std::max(right, left); --x)
            if (!isPaper(line[x])) {
                right = x + 1;
                break;
            }
    }
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// The band that ends a picture which leaves pages out: a rule, then the text
// centred on light grey, sized like body text at the picture's resolution so it
// reads as part of the page at every zoom.
struct EndBand {
    QFont font;
    int pad = 0;
    int textWidth = 0;
    int textHeight = 0;
    int height() const { return textHeight + 2 * pad; }
};

constexpr int kBandFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;

// The text is set within textWidth from the band's left, the part of a wide
// picture that shows first.
EndBand layOutEndBand(const QString& text, int width, int textWidth, int dotsPerMeter) {
    EndBand b;
    const double dpi = dotsPerMeter > 0 ? dotsPerMeter * 0.0254 : 96.0;
    b.font = QFont(QStringLiteral("Arial"));
    b.font.setPixelSize(std::max(8, qRound(11.0 * dpi / 72.0)));
    b.font.setBold(true);
    b.pad = b.font.pixelSize();
    b.textWidth = std::max(1, (textWidth > 0 ? std::min(width, textWidth) : width) - 2 * b.pad);
    const QRect area(0, 0, b.textWidth, 1 << 20);
    b.textHeight = QFontMetrics(b.font).boundingRect(area, kBandFlags, text).height();
    return b;
}

void paintEndBand(QPainter& painter, const EndBand& b, const QString& text, QPoint at, int width) {
    painter.fillRect(QRect(at.x(), at.y(), width, b.height()), QColor(230, 230, 230));
    painter.fillRect(QRect(at.x(), at.y(), width, std::max(2, b.pad / 6)), QColor(96, 96, 96));
    painter.setFont(b.font);
    painter.setPen(QColor(32, 32, 32));
    painter.drawText(QRect(at.x() + b.pad, at.y() + b.pad, b.textWidth, b.textHeight), kBandFlags,
                     text);
}

} // namespace

namespace {
// A Letter page in 32 bits at a resolution: what a page's raster and the
// stacked picture each take. Each stays below the size from which the
// allocator maps a buffer of its own, so freed it goes back to the heap, not
// the system.
size_t letterPageBytes(double dpi) {
    return size_t(qRound(8.5 * dpi)) * size_t(qRound(11 * dpi)) * 4;
}
constexpr int kReadyBuffers = 2;
constexpr int kReadyForMs = 60 * 1000;

std::vector<std::unique_ptr<char[]>>& readyBuffers() {
    static std::vector<std::unique_ptr<char[]>> buffers;
    return buffers;
}

// The buffers are the GUI thread's alone: that is where the pictures are made.
bool onGuiThread() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

std::atomic<double> gScreenPictureDpi{kFullPictureDpi};
} // namespace

double screenPictureDpi() {
    if (!onGuiThread())
        return gScreenPictureDpi;
    qreal ratio = 1.0;
    for (const QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    const double dpi = std::min(kFullPictureDpi, 96.0 * std::ceil(ratio));
    gScreenPictureDpi = dpi;
    return dpi;
}

void readyPictureMemory() {
    if (!onGuiThread() || !readyBuffers().empty())
        return;
    const long pageSize = std::max(4096L, sysconf(_SC_PAGESIZE));
    const size_t bufferBytes = letterPageBytes(screenPictureDpi());
    for (int i = 0; i < kReadyBuffers; ++i) {
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferBytes]);
        if (!buffer)
            break;
        auto* bytes = static_cast<volatile char*>(buffer.get());
        for (size_t at = 0; at < bufferBytes; at += size_t(pageSize))
            bytes[at] = 0;
        readyBuffers().push_back(std::move(buffer));
    }
    // A program that makes no notice soon does not keep the memory for it.
    QTimer::singleShot(kReadyForMs, QCoreApplication::instance(), [] {
        if (readyBuffers().empty())
            return;
        releasePictureMemory();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
}

void releasePictureMemory() {
    if (onGuiThread())
        readyBuffers().clear();
}

QRect pageContentBox(const QImage& page) {
    switch (page.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return contentBox(page);
    default:
        return contentBox(page.convertToFormat(QImage::Format_RGB32));
    }
}

QImage stackPages(const QList<QImage>& pages, int gapPx, const QString& endText,
                  PictureFrame frame) {
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

    const int dpm = pages.first().dotsPerMeterX();
    const int pagesWidth = right - left + 1;
    int width = pagesWidth;
    int height = gapPx * (int(rgb.size()) - 1);
    for (const QRect& b : boxes)
        height += b.height();
    EndBand band;
    if (!endText.isEmpty()) {
        // Pages of narrow content still get an end that reads in a few lines.
        width = std::max(width, qRound(4.5 * (dpm > 0 ? dpm * 0.0254 : 96.0)));
        band = layOutEndBand(endText, width, frame.noteWidthPx, dpm);
        height += gapPx + band.height();
    }

    const int m = std::max(0, frame.marginPx);
    QImage out(width + 2 * m, height + 2 * m, QImage::Format_RGB32);
    out.fill(Qt::white);
    out.setDotsPerMeterX(dpm);
    out.setDotsPerMeterY(pages.first().dotsPerMeterY());
    QPainter painter(&out);
    int y = m;
    for (qsizetype i = 0; i < rgb.size(); ++i) {
        const QRect src(left, boxes[i].top(), pagesWidth, boxes[i].height());
        painter.drawImage(QPoint(m, y), rgb[i], src.intersected(rgb[i].rect()));
        y += boxes[i].height() + gapPx;
    }
    if (!endText.isEmpty())
        paintEndBand(painter, band, endText, QPoint(m, y), width);
    painter.end();
    return out;
}

PictureFrame previewFrame(double dpi) {
    // 150 twips: at half size still more than the viewer's sunken border
    // hides, and the sample notice stays clear of the zoom caps.
    PictureFrame f;
    f.marginPx = qRound(150.0 / 1440.0 * dpi);
    f.noteWidthPx = qRound(6.0 * dpi);
    return f;
}

double sharpEnoughDpi(QSize pixels, double screenDpi, double fullDpi) {
    // The preview paints no view this wide or tall (twips), and zooms in
    // quarters up to four times.
    constexpr double kWidthCap = 11400, kHeightCap = 13700;
    constexpr double kStep = 0.25, kMaxZoom = 4.0;
    // Made at another resolution, the trimmed edges and the margin round to
    // other whole pixels: the size is taken a little small, so that a picture
    // at the edge of a zoom is made sharp enough for it.
    constexpr double kRoundingTwips = 60;
    const double width = std::max(0.0, pixels.width() * 1440.0 / screenDpi - kRoundingTwips);
    const double height = std::max(0.0, pixels.height() * 1440.0 / screenDpi - kRoundingTwips);
    double zoom = 1.0;
    while (zoom < kMaxZoom && std::floor(width * (zoom + kStep)) < kWidthCap &&
           std::floor(height * (zoom + kStep)) < kHeightCap)
        zoom += kStep;
    return std::min(fullDpi, std::max(screenDpi, screenDpi * zoom));
}

QString previewEndText(int shownPages, int totalPages) {
    const QString first =
        totalPages > shownPages
            ? QStringLiteral("The preview ends here: it shows the first %1 of %2 pages.")
                  .arg(shownPages)
                  .arg(totalPages)
            : QStringLiteral("The preview ends here: it shows the first %1 pages.").arg(shownPages);
    const int hidden = totalPages - shownPages;
    QString second;
    if (hidden == 1)
        second = QStringLiteral(
            "The page after these is not shown, but it is in the document you save.");
    else if (hidden > 1)
        second =
            QStringLiteral(
                "The %1 pages after these are not shown, but they are in the document you save.")
                .arg(hidden);
    else
        second = QStringLiteral(
            "The pages after these are not shown, but they are in the document you save.");
    return first + QLatin1Char('\n') + second;
}

} // namespace office
