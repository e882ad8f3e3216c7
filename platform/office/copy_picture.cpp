#include "word_model.h"

#include "office_parts.h"

#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/XSequenceOutputStream.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

#include <poppler-qt6.h>

namespace office {

namespace {
// Twice 96 dpi: the natural size is 1 pixel per 15 twips at 96 dpi, and the
// extra detail keeps the preview sharp when zoomed in or on high-DPI screens.
constexpr double kDpi = 192.0;
constexpr int kPageGapPx = 48; // a quarter inch between pages
// A picture of a warning letter needs a page or two; a pasted book would make
// a picture of gigabytes. The first pages stand for the rest.
constexpr int kMaxPages = 10;
} // namespace

QImage renderDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                             const Reference<css::text::XTextDocument>& doc) {
    // The PDF is written into a stream that lives in the office and fetched in one piece.
    Reference<css::io::XOutputStream> stream(
        officeContext->getServiceManager()->createInstanceWithContext(
            "com.sun.star.io.SequenceOutputStream", officeContext),
        UNO_QUERY_THROW);
    Reference<css::frame::XStorable> storable(doc, UNO_QUERY_THROW);
    const auto props = properties({
        property("FilterName", css::uno::Any(rtl::OUString("writer_pdf_Export"))),
        property("OutputStream", css::uno::Any(stream)),
        property("FilterData",
                 css::uno::Any(properties({property(
                     "PageRange", css::uno::Any(toOU(QStringLiteral("1-%1").arg(kMaxPages))))}))),
    });
    storable->storeToURL("private:stream", props);
    Reference<css::io::XSequenceOutputStream> sequence(stream, UNO_QUERY_THROW);
    const css::uno::Sequence<sal_Int8> bytes = sequence->getWrittenBytes();

    const QByteArray pdf(reinterpret_cast<const char*>(bytes.getConstArray()), bytes.getLength());
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked())
        throw automation::Error(
            QStringLiteral("CopyAsPicture: the rendered pages could not be read back"));
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    document->setPaperColor(Qt::white);

    QList<QImage> pages;
    for (int i = 0; i < std::min(document->numPages(), kMaxPages); ++i) {
        std::unique_ptr<Poppler::Page> page = document->page(i);
        if (!page)
            continue;
        QImage img = page->renderToImage(kDpi, kDpi);
        if (img.isNull())
            throw automation::Error(
                QStringLiteral("CopyAsPicture: page %1 could not be rendered").arg(i + 1));
        const int dpm = qRound(kDpi / 0.0254);
        img.setDotsPerMeterX(dpm);
        img.setDotsPerMeterY(dpm);
        pages.append(img);
    }
    QImage picture = stackPages(pages, kPageGapPx);
    if (picture.isNull())
        throw automation::Error(QStringLiteral("CopyAsPicture: the document has no pages"));
    return picture;
}

void putPictureOnClipboard(const QImage& picture) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        throw automation::Error(
            QStringLiteral("CopyAsPicture: there is no clipboard without a GUI application"));
    if (QThread::currentThread() != app->thread())
        throw automation::Error(
            QStringLiteral("CopyAsPicture: the clipboard can only be used from the GUI thread"));
    QGuiApplication::clipboard()->setImage(picture);
}

} // namespace office
