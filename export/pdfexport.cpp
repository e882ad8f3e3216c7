#include "pdfexport.h"

#include "platform/automation/automation.h"

#include <QLoggingCategory>

using automation::NamedArg;
using automation::Object;
using automation::Variant;

namespace exporting {

namespace {

Q_LOGGING_CATEGORY(lcPdf, "veltrane.pdf")

constexpr int32_t wdExportFormatPDF = 17;
constexpr int32_t wdStatisticPages = 2;

// Quits the word processor when the procedure that created it ends, whichever
// step it ends at.
struct QuitOnExit {
    Object& app;
    ~QuitOnExit() {
        try {
            app.call(QStringLiteral("quit"));
        } catch (const automation::Error& e) {
            qCWarning(lcPdf) << "the word processor did not quit:" << e.description();
        }
        app.release();
    }
};

} // namespace

int exportDocumentAsPdf(const QString& docPath, const QString& pdfPath, bool archival) {
    Object wordApp = automation::createObject(QStringLiteral("Word.Application"));
    QuitOnExit quitter{wordApp};
    const Object doc = wordApp[QStringLiteral("Documents")]
                           .call(QStringLiteral("Open"), {Variant(docPath)},
                                 {NamedArg{QStringLiteral("ReadOnly"), Variant(true)}})
                           .toObject();
    const int pages =
        doc.call(QStringLiteral("ComputeStatistics"), {Variant(wdStatisticPages)}).toInt();
    doc.call(QStringLiteral("ExportAsFixedFormat"), {Variant(pdfPath), Variant(wdExportFormatPDF)},
             {NamedArg{QStringLiteral("UseISO19005_1"), Variant(archival)}});
    doc.call(QStringLiteral("Close"), {},
             {NamedArg{QStringLiteral("SaveChanges"), Variant(int16_t(0))}});
    qCInfo(lcPdf) << "exported" << pages << "pages of" << docPath << (archival ? "as PDF/A" : "");
    return pages;
}

} // namespace exporting
