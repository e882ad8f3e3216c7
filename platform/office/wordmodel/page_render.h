#pragma once
// The pages of a PDF as pictures.

#include <QByteArray>
#include <QImage>
#include <QLoggingCategory>

#include <memory>

namespace Poppler {
class Document;
}

namespace office {

// What goes wrong with a page picture out of the user's sight.
Q_DECLARE_LOGGING_CATEGORY(lcPicture)

// Renders the pages of one PDF, anti-aliased on white paper. A page of a
// million pixels or more is rendered as two bands at once where there are two
// cores: the lower band on a thread of its own, from a second copy of the
// document (a document is never shared between threads). The bands join into
// exactly the picture one render gives, in a little over half the time.
class PageRenderer {
  public:
    explicit PageRenderer(const QByteArray& pdf);
    ~PageRenderer();
    PageRenderer(const PageRenderer&) = delete;
    PageRenderer& operator=(const PageRenderer&) = delete;

    // False when the PDF could not be read, or is locked.
    bool isValid() const;
    int pageCount() const;
    // The page at index (from 0) at dpi, carrying that resolution; null when
    // there is no such page or it could not be rendered. With inBands false,
    // or a page too small to be worth it, it is rendered in one piece.
    QImage render(int index, double dpi, bool inBands = true);
    // The page rendered as two bands at once and joined; null when the page
    // is too small to be worth it or a band failed.
    QImage renderInBands(int index, double dpi);

  private:
    QByteArray mPdf;
    std::unique_ptr<Poppler::Document> mDocument;
    std::unique_ptr<Poppler::Document> mTwin; // read at the first page split
};

} // namespace office
