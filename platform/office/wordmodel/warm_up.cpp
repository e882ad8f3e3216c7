// The warm-up: a tiny document through every step a generation takes, so the
// office has loaded Writer, the Word 97 filters and the PDF export, and this
// process has loaded its picture renderer, before anyone waits for them.

#include "copy_picture.h"
#include "word_model.h"

#include "platform/office/lifecycle/hold_points.h"

#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XSearchable.hpp>

#include <QDir>
#include <QFile>
#include <QUrl>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace office {

namespace {

// Closes the document whatever happens to the steps in between.
struct OpenDocument {
    Reference<css::text::XTextDocument> doc;
    ~OpenDocument() {
        // Even the query is a call into the office, and the office may have died:
        // nothing may leave a destructor.
        try {
            Reference<css::util::XCloseable> c(doc, UNO_QUERY);
            if (c.is())
                c->close(true);
        } catch (...) {
            // The host replaces an office it cannot clean.
        }
    }
};

Reference<css::text::XTextDocument> load(OfficeProcess& office, const QString& url, bool readOnly) {
    return Reference<css::text::XTextDocument>(loadHidden(office.desktop(), url, readOnly),
                                               UNO_QUERY_THROW);
}

void store(const Reference<css::text::XTextDocument>& doc, const QString& url, const char* filter) {
    Reference<css::frame::XStorable> st(doc, UNO_QUERY_THROW);
    st->storeToURL(toOU(url), properties({
                                  property("FilterName",
                                           css::uno::Any(rtl::OUString::createFromAscii(filter))),
                                  property("Overwrite", css::uno::Any(true)),
                              }));
}

} // namespace

void warmOffice(OfficeProcess& office) {
    const QString dir = office.privateTemp() + QStringLiteral("/warm-up");
    QDir().mkpath(dir);
    struct Tidy { // whatever happens to the steps
        QString dir;
        ~Tidy() { QDir(dir).removeRecursively(); }
    } tidy{dir};
    holdAt("warm-up", office.pid());
    const QString dot = QUrl::fromLocalFile(dir + QStringLiteral("/warm.dot")).toString();
    const QString doc = QUrl::fromLocalFile(dir + QStringLiteral("/warm.doc")).toString();
    office.call(QStringLiteral("(warm-up)"), Bound::Lengthy, [&] {
        {
            OpenDocument made{load(office, QStringLiteral("private:factory/swriter"), false)};
            made.doc->getText()->setString("Warm-up [Placeholder]");
            store(made.doc, dot, "MS Word 97 Vorlage");
        }
        {
            OpenDocument filled{load(office, dot, true)};
            Reference<css::util::XSearchable> search(filled.doc, UNO_QUERY_THROW);
            Reference<css::util::XSearchDescriptor> terms = search->createSearchDescriptor();
            terms->setSearchString("[placeholder]");
            search->findAll(terms);
            store(filled.doc, doc, "MS Word 97");
        }
        OpenDocument shown{load(office, doc, false)};
        warmUpDocumentPicture(office.context(), shown.doc);
    });
#ifdef __GLIBC__
    // What the warm-up freed goes back to the system: its page pictures,
    // and on an allocator with a heap per thread that heap's memory, which
    // would otherwise stay with this thread for the rest of the run.
    malloc_trim(0);
#endif
}

} // namespace office
