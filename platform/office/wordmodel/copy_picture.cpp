#include "copy_picture.h"

#include "page_render.h"
#include "picture_and_text.h"
#include "platform/automation/automation.h"
#include "platform/automation/stageclock.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/XSequenceOutputStream.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>

#include <QClipboard>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMimeData>
#include <QThread>

#include <atomic>
#include <climits>
#include <cmath>

namespace office {

namespace {
constexpr double kPageGapInches = 0.25;
// A picture of a warning letter needs a page or two, and each page costs about
// 10 MB in every copy of the picture; a pasted book would make one of gigabytes,
// longer than the preview's scroll bars reach. The first pages stand for the
// rest, and the picture ends in a note that says so.
constexpr int kMaxPages = 10;
// Whatever the paper, the picture stays below the 128 MiB that Qt's image
// reader allows, or the preview could not load it back from temp.bmp.
constexpr qint64 kMaxPictureBytes = qint64(112) << 20;
// Room kept for the note at the end (a few lines of text).
constexpr int kEndNoteRoomPx = 400;

// The document's length as Writer has laid it out; 0 when it cannot be told.
int documentPageCount(const Reference<css::text::XTextDocument>& doc) {
    try {
        Reference<css::frame::XModel> model(doc, UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> view(model->getCurrentController(), UNO_QUERY_THROW);
        sal_Int32 count = 0;
        if (view->getPropertyValue("PageCount") >>= count)
            return count;
    } catch (...) {
        qCWarning(lcPicture) << "the page count could not be read:" << caughtUnoExceptionText();
    }
    return 0;
}

// The first pages as PDF, written into a stream that lives in the office and
// fetched in one piece. One page more than is shown tells whether any are
// left out.
QByteArray pdfOfFirstPages(const Reference<css::uno::XComponentContext>& officeContext,
                           const Reference<css::text::XTextDocument>& doc) {
    automation::StageClock clock("PDF export");
    Reference<css::io::XOutputStream> stream(
        officeContext->getServiceManager()->createInstanceWithContext(
            "com.sun.star.io.SequenceOutputStream", officeContext),
        UNO_QUERY_THROW);
    Reference<css::frame::XStorable> storable(doc, UNO_QUERY_THROW);
    const QString pageRange = QStringLiteral("1-%1").arg(kMaxPages + 1);
    const auto props = properties({
        property("FilterName", css::uno::Any(rtl::OUString("writer_pdf_Export"))),
        property("OutputStream", css::uno::Any(stream)),
        property("FilterData", css::uno::Any(properties(
                                   {property("PageRange", css::uno::Any(toOU(pageRange)))}))),
    });
    storable->storeToURL("private:stream", props);
    Reference<css::io::XSequenceOutputStream> sequence(stream, UNO_QUERY_THROW);
    const css::uno::Sequence<sal_Int8> bytes = sequence->getWrittenBytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.getConstArray()), bytes.getLength());
}

QImage renderPage(PageRenderer& renderer, int index, double dpi) {
    automation::StageClock clock("page rasterised");
    QImage img = renderer.render(index, dpi);
    if (img.isNull())
        throw automation::Error(
            QStringLiteral("CopyAsPicture: page %1 could not be rendered").arg(index + 1));
    return img;
}

// The pages from the first on, as many as the picture has room for (and at
// least one).
QList<QImage> renderFirstPages(PageRenderer& renderer, double dpi) {
    const int gapPx = qRound(kPageGapInches * dpi);
    const qint64 noteRoomPx = qRound(kEndNoteRoomPx / kFullPictureDpi * dpi);
    QList<QImage> pages;
    int left = INT_MAX, right = INT_MIN; // the stacked picture's extent so far
    qint64 rows = 0;
    for (int i = 0; i < std::min(renderer.pageCount(), kMaxPages); ++i) {
        QImage img = renderPage(renderer, i, dpi);
        automation::StageClock trim("page content found");
        const QRect box = pageContentBox(img);
        trim.stop();
        if (!box.isNull()) {
            const int l = std::min(left, box.left()), r = std::max(right, box.right());
            const qint64 h = rows + box.height() + gapPx;
            const qint64 need = qint64(std::max(r - l + 1, qRound(4.5 * dpi))) * (h + noteRoomPx) *
                                qint64(sizeof(QRgb));
            if (!pages.isEmpty() && need > kMaxPictureBytes)
                break;
            left = l;
            right = r;
            rows = h;
        }
        pages.append(img);
    }
    return pages;
}

} // namespace

QImage renderDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                             const Reference<css::text::XTextDocument>& doc) {
    const QByteArray pdf = pdfOfFirstPages(officeContext, doc);
    automation::StageClock load("PDF read back");
    PageRenderer renderer(pdf);
    load.stop();
    if (!renderer.isValid())
        throw automation::Error(
            QStringLiteral("CopyAsPicture: the rendered pages could not be read back"));

    auto picture = [&](double dpi) {
        const QList<QImage> pages = renderFirstPages(renderer, dpi);
        QString endText;
        const int shown = int(pages.size());
        if (renderer.pageCount() > shown)
            endText = previewEndText(shown, std::max(documentPageCount(doc), renderer.pageCount()));
        automation::StageClock stack("pages trimmed and stacked");
        return stackPages(pages, qRound(kPageGapInches * dpi), endText, previewFrame(dpi));
    };
    // The extra detail is for enlarging, and the preview's size caps keep most
    // pictures (a full page, or a long document) at their natural size, which
    // needs the screen's resolution and no more: a quarter of the work on a
    // common screen. A picture that can be enlarged is made again, sharp
    // enough for its largest view.
    const double screenDpi = screenPictureDpi();
    QImage result = picture(screenDpi);
    if (!result.isNull()) {
        const double dpi = sharpEnoughDpi(result.size(), screenDpi, kFullPictureDpi);
        if (dpi > screenDpi)
            result = picture(dpi);
    }
    if (result.isNull())
        throw automation::Error(QStringLiteral("CopyAsPicture: the document has no pages"));
    return result;
}

void warmUpDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                           const Reference<css::text::XTextDocument>& doc) {
    PageRenderer renderer(pdfOfFirstPages(officeContext, doc));
    if (renderer.pageCount() < 1)
        return;
    // At the resolution the generations' pictures start at; where that is the
    // full one, a page is split in two bands, and its first split costs some
    // tens of milliseconds more than the later ones.
    const double dpi = screenPictureDpi();
    const QImage page = renderer.render(0, dpi);
    if (!page.isNull())
        stackPages({page}, qRound(kPageGapInches * dpi), QString(), previewFrame(dpi));
}

namespace {
void ensureClipboardReachable() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        throw automation::Error(
            QStringLiteral("CopyAsPicture: there is no clipboard without a GUI application"));
    if (QThread::currentThread() != app->thread())
        throw automation::Error(
            QStringLiteral("CopyAsPicture: the clipboard can only be used from the GUI thread"));
}

std::atomic<PictureHook> gPictureHook{nullptr};

// Marks the pictures the program puts on the clipboard, so that they can be
// told from pictures the user copied elsewhere.
const QString kOwnPictureFormat = QStringLiteral("application/x-veltrane-page-picture");
} // namespace

void putPictureOnClipboard(const QImage& picture) {
    automation::StageClock clock("clipboard written");
    ensureClipboardReachable();
    auto* data = new QMimeData;
    data->setImageData(picture);
    data->setData(kOwnPictureFormat, QByteArray::number(QCoreApplication::applicationPid()));
    QGuiApplication::clipboard()->setMimeData(data);
}

void dropPictureFromClipboard() {
    automation::StageClock clock("clipboard emptied");
    ensureClipboardReachable();
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard->mimeData();
    if (data && data->hasImage())
        clipboard->clear();
}

void dropOwnPictureFromClipboard() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard->mimeData();
    // Only the list of formats is looked at, never another program's data.
    if (data && data->hasFormat(kOwnPictureFormat))
        clipboard->clear();
}

void setPictureHook(PictureHook hook) {
    gPictureHook = hook;
}

void runPictureHook(long officePid) {
    if (PictureHook hook = gPictureHook)
        hook(officePid);
}

} // namespace office
