#include "printing.h"

#include "platform/automation/automation.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLoggingCategory>

#include <cmath>
#include <cstring>
#include <memory>

#include <cups/cups.h>
#include <cups/pwg.h>
#include <poppler-qt6.h>

namespace exporting {

namespace {

Q_LOGGING_CATEGORY(lcPrint, "veltrane.print")

// How long the window may wait for the printing system: to connect, and for
// all its answers on one connection together.
constexpr int kConnectMs = 5000;
constexpr int kAnswersMs = 10000;

struct HttpClose {
    void operator()(http_t* h) const { httpClose(h); }
};

// A list of destinations, freed with it.
class Destinations {
  public:
    explicit Destinations(http_t* http) : mCount(cupsGetDests2(http, &mDests)) {}
    ~Destinations() { cupsFreeDests(mCount, mDests); }
    Destinations(const Destinations&) = delete;
    Destinations& operator=(const Destinations&) = delete;
    int count() const { return mCount; }
    cups_dest_t* at(int i) const { return &mDests[i]; }
    cups_dest_t* find(const QByteArray& name, const QByteArray& instance) const {
        return cupsGetDest(name.constData(), instance.isEmpty() ? nullptr : instance.constData(),
                           mCount, mDests);
    }

  private:
    cups_dest_t* mDests = nullptr;
    int mCount = 0;
};

// Job options, freed with them.
class Options {
  public:
    ~Options() { cupsFreeOptions(mCount, mOptions); }
    void set(const char* name, const QByteArray& value) {
        mCount = cupsAddOption(name, value.constData(), mCount, &mOptions);
    }
    // Adds only what is not set yet (a saved instance's defaults).
    void setDefault(const char* name, const char* value) {
        if (!cupsGetOption(name, mCount, mOptions))
            mCount = cupsAddOption(name, value, mCount, &mOptions);
    }
    int count() const { return mCount; }
    cups_option_t* data() const { return mOptions; }

  private:
    cups_option_t* mOptions = nullptr;
    int mCount = 0;
};

QString serverName() {
    const char* s = cupsServer();
    return QString::fromLocal8Bit(s ? s : "");
}

QString lastCupsError() {
    const char* s = cupsLastErrorString();
    return QString::fromUtf8(s ? s : "");
}

[[noreturn]] void throwUnreachable(const QString& why) {
    const QString what =
        QStringLiteral("The printing system (CUPS) is not running or cannot be reached at %1: %2")
            .arg(serverName(), why);
    qCWarning(lcPrint).noquote() << what;
    throw PrintingUnreachable(what);
}

// A connection to CUPS. Blocking, but every wait is bounded: the connection
// by kConnectMs, and everything after it by one deadline, however many
// requests libcups makes on it.
class Connection {
  public:
    Connection() {
        // libcups records why a connection failed as its last error; errno is
        // gone by the time it has cleaned up.
        mHttp.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                 kConnectMs, nullptr));
        if (!mHttp)
            throwUnreachable(lastCupsError());
        mDeadline.setRemainingTime(kAnswersMs);
        // Asked each second that passes without an answer: wait on, or give up.
        httpSetTimeout(mHttp.get(), 1.0, stillWaiting, &mDeadline);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    http_t* get() const { return mHttp.get(); }

  private:
    static int stillWaiting(http_t*, void* deadline) {
        return static_cast<QDeadlineTimer*>(deadline)->hasExpired() ? 0 : 1;
    }
    QDeadlineTimer mDeadline;
    std::unique_ptr<http_t, HttpClose> mHttp;
};

// Why the last request got no answer: libcups's own text, unless it has
// none to give for a wait it cut short.
QString unanswered() {
    const QString why = lastCupsError();
    if (why.isEmpty() || why == QString::fromLocal8Bit(std::strerror(0)))
        return QStringLiteral("no answer within %1 seconds").arg(kAnswersMs / 1000);
    return why;
}

// True when the last request failed for want of an answer, not by refusal.
bool noAnswer() {
    const ipp_status_t s = cupsLastError();
    return s == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || s == IPP_STATUS_ERROR_INTERNAL;
}

QString destName(const cups_dest_t* d) {
    QString name = QString::fromUtf8(d->name);
    if (d->instance)
        name += QLatin1Char('/') + QString::fromUtf8(d->instance);
    return name;
}

const char* sidesValue(ui::PrintChoice::Sides s) {
    switch (s) {
    case ui::PrintChoice::Sides::LongEdge:
        return CUPS_SIDES_TWO_SIDED_PORTRAIT;
    case ui::PrintChoice::Sides::ShortEdge:
        return CUPS_SIDES_TWO_SIDED_LANDSCAPE;
    case ui::PrintChoice::Sides::OneSided:
        break;
    }
    return CUPS_SIDES_ONE_SIDED;
}

} // namespace

Printers listPrinters() {
    const Connection http;
    const Destinations dests(http.get());
    if (dests.count() == 0 && cupsLastError() > IPP_STATUS_OK_CONFLICTING && noAnswer())
        throwUnreachable(unanswered());
    Printers out;
    for (int i = 0; i < dests.count(); ++i) {
        out.names << destName(dests.at(i));
        if (dests.at(i)->is_default)
            out.defaultName = destName(dests.at(i));
    }
    qCInfo(lcPrint) << "printers at" << serverName() << out.names << "default" << out.defaultName;
    return out;
}

namespace {

// The first page's size in points, as the PDF gives it; empty when unreadable.
QSizeF pdfPageSize(const QString& pdfPath) {
    const std::unique_ptr<Poppler::Document> doc(Poppler::Document::load(pdfPath));
    if (!doc || doc->isLocked() || doc->numPages() < 1)
        return {};
    const std::unique_ptr<Poppler::Page> page(doc->page(0));
    return page ? page->pageSizeF() : QSizeF();
}

// The job asks for the document's own paper. Where the printer has another,
// the page is made smaller to fit its printable area, centred; a page that
// fits is printed as it is, centred, never made larger and never cut. That is
// IPP's "auto-fit"; "auto", the printing system's default, fills a page of
// another size instead, which cuts off the sides.
void askForTheDocumentsPaper(Options& options, const QString& pdfPath) {
    options.set("print-scaling", "auto-fit");
    const QSizeF points = pdfPageSize(pdfPath);
    if (points.isEmpty()) {
        qCWarning(lcPrint) << "cannot read the page size of" << pdfPath;
        return;
    }
    // PWG sizes are in hundredths of a millimetre.
    const pwg_media_t* media = pwgMediaForSize(int(std::lround(points.width() * 2540.0 / 72.0)),
                                               int(std::lround(points.height() * 2540.0 / 72.0)));
    if (media && media->pwg) {
        options.set(CUPS_MEDIA, media->pwg);
        qCInfo(lcPrint) << "paper" << media->pwg;
    }
}

} // namespace

int printPdfFile(const QString& pdfPath, const QString& title, const ui::PrintChoice& choice) {
    const qsizetype slash = choice.printer.indexOf(QLatin1Char('/'));
    const QByteArray queue = (slash < 0 ? choice.printer : choice.printer.left(slash)).toUtf8();
    const QByteArray instance = slash < 0 ? QByteArray() : choice.printer.mid(slash + 1).toUtf8();

    Options options;
    options.set(CUPS_COPIES, QByteArray::number(std::max(1, choice.copies)));
    options.set("collate", choice.collate ? "true" : "false");
    options.set(CUPS_SIDES, sidesValue(choice.sides));
    if (!choice.pageRanges.isEmpty())
        options.set("page-ranges", choice.pageRanges.toLatin1());
    askForTheDocumentsPaper(options, pdfPath);

    const Connection http;
    {
        // A saved instance brings its own defaults, as lp does.
        const Destinations dests(http.get());
        if (const cups_dest_t* d = dests.find(queue, instance))
            for (int i = 0; i < d->num_options; ++i)
                options.setDefault(d->options[i].name, d->options[i].value);
    }
    const int job =
        cupsPrintFile2(http.get(), queue.constData(), QFile::encodeName(pdfPath).constData(),
                       title.toUtf8().constData(), options.count(), options.data());
    if (job == 0) {
        if (noAnswer())
            throwUnreachable(unanswered());
        throw automation::Error(QStringLiteral("The printer %1 did not take the document: %2")
                                    .arg(choice.printer, lastCupsError()));
    }
    qCInfo(lcPrint) << "job" << job << "sent to" << choice.printer;
    return job;
}

} // namespace exporting
