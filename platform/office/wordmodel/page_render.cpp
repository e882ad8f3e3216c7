#include "page_render.h"

#include <QLoggingCategory>
#include <QThread>

#include <poppler-qt6.h>

#include <cstring>
#include <system_error>
#include <thread> // std::jthread: joined on every way out

namespace office {

Q_LOGGING_CATEGORY(lcPicture, "veltrane.office.picture")

namespace {

// Below this a page renders in a few milliseconds: a thread is not worth it.
constexpr qint64 kBandedFromPixels = qint64(1) << 20;

std::unique_ptr<Poppler::Document> readDocument(const QByteArray& pdf) {
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked())
        return nullptr;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    document->setPaperColor(Qt::white);
    return document;
}

// The two bands one above the other; null when they do not make up a page
// of width by height.
QImage joined(const QImage& top, const QImage& bottom, int width, int height) {
    if (top.isNull() || bottom.isNull() || top.format() != bottom.format() ||
        top.width() != width || bottom.width() != width || top.height() + bottom.height() != height)
        return QImage();
    QImage page(width, height, top.format());
    if (page.isNull())
        return QImage();
    const size_t rowBytes = size_t(top.bytesPerLine());
    for (int y = 0; y < top.height(); ++y)
        std::memcpy(page.scanLine(y), top.constScanLine(y), rowBytes);
    for (int y = 0; y < bottom.height(); ++y)
        std::memcpy(page.scanLine(top.height() + y), bottom.constScanLine(y), rowBytes);
    return page;
}

} // namespace

PageRenderer::PageRenderer(const QByteArray& pdf) : mPdf(pdf), mDocument(readDocument(pdf)) {}

PageRenderer::~PageRenderer() = default;

bool PageRenderer::isValid() const {
    return mDocument != nullptr;
}

int PageRenderer::pageCount() const {
    return mDocument ? mDocument->numPages() : 0;
}

QImage PageRenderer::render(int index, double dpi, bool inBands) {
    if (!mDocument || index < 0 || index >= mDocument->numPages())
        return QImage();
    QImage img;
    if (inBands && QThread::idealThreadCount() >= 2)
        img = renderInBands(index, dpi);
    if (img.isNull()) {
        std::unique_ptr<Poppler::Page> page = mDocument->page(index);
        if (!page)
            return QImage();
        img = page->renderToImage(dpi, dpi);
    }
    if (img.isNull())
        return QImage();
    const int dpm = qRound(dpi / 0.0254);
    img.setDotsPerMeterX(dpm);
    img.setDotsPerMeterY(dpm);
    return img;
}

// Null when the page is not worth splitting or a band failed: the caller
// then renders it in one piece.
QImage PageRenderer::renderInBands(int index, double dpi) {
    std::unique_ptr<Poppler::Page> page = mDocument->page(index);
    if (!page)
        return QImage();
    // The size one render gives the page: its points at dpi, rounded.
    const QSizeF points = page->pageSizeF();
    const int width = int(points.width() * dpi / 72.0 + 0.5);
    const int height = int(points.height() * dpi / 72.0 + 0.5);
    if (qint64(width) * height < kBandedFromPixels || height < 2)
        return QImage();
    if (!mTwin)
        mTwin = readDocument(mPdf);
    std::unique_ptr<Poppler::Page> twinPage = mTwin ? mTwin->page(index) : nullptr;
    if (!twinPage)
        return QImage();
    const int half = height / 2;
    QImage top, bottom;
    try {
        std::jthread lower(
            [&] { bottom = twinPage->renderToImage(dpi, dpi, 0, half, width, height - half); });
        top = page->renderToImage(dpi, dpi, 0, 0, width, half);
        lower.join();
    } catch (const std::system_error& e) {
        qCWarning(lcPicture) << "the page is rendered in one piece: no thread for its lower band:"
                             << e.what();
        return QImage();
    }
    return joined(top, bottom, width, height);
}

} // namespace office
