// "veltrane --fill FACTS --output NOTICE": one notice, made in this process.

#include "app/fillcommand.h"
#include "app/fillrun.h"
#include "common/files.h"
#include "common/programend.h"
#include "generate/wordcheck.h"
#include "platform/automation/automation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace app {

namespace {

using fill::say;

// The facts from their file, or from standard input for "-"; nothing after
// saying why they cannot serve.
std::optional<generate::Facts> readFacts(const QString& file) {
    QFile in;
    const bool fromInput = file == QLatin1String("-");
    const bool opened = fromInput ? in.open(stdin, QIODevice::ReadOnly)
                                  : (in.setFileName(file), in.open(QIODevice::ReadOnly));
    const QString factsName = fromInput ? QStringLiteral("standard input") : file;
    if (!opened) {
        say(stderr,
            QStringLiteral("veltrane: cannot read %1: %2\n").arg(factsName, in.errorString()));
        return std::nullopt;
    }
    QString why;
    const auto facts = factsFromJson(in.readAll(), why);
    if (!facts)
        say(stderr, QStringLiteral("veltrane: %1: %2\n").arg(factsName, why));
    return facts;
}

} // namespace

int fillOne(const FillOptions& options) {
    using namespace fill;
    const auto format = generate::noticeFormatNamed(QFileInfo(options.output).suffix());
    if (!format) {
        say(stderr, QStringLiteral("veltrane: %1: the name must end in .doc, .pdf, .docx or .odt; "
                                   "try 'veltrane --help'\n")
                        .arg(options.output));
        return 2;
    }
    const auto facts = readFacts(options.facts);
    if (!facts)
        return 2;
    if (!options.force && common::nameTaken(options.output)) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(existsMessage(options.output)));
        return 1;
    }

    messagesToTerminal();
    StopSignals stopSignals;
    PrivateFolder folder;
    if (folder.path().isEmpty()) {
        say(stderr, QStringLiteral("veltrane: cannot make a temporary folder in %1: %2\n")
                        .arg(QDir::tempPath(), folder.error()));
        return 1;
    }
    const QString templatePath = writeTemplate(folder.path());
    if (templatePath.isEmpty())
        return 1;
    // The window's own start-up check, with its words when no office starts.
    generate::checkWordAvailable();
    if (common::programEnded())
        return 1;
    if (StopSignals::stopped())
        return StopSignals::status();
    try {
        generate::NoticeFiller filler(templatePath);
        makeNotice(filler, *facts, *format,
                   folder.path() + QStringLiteral("/notice.") + generate::noticeFormatName(*format),
                   options.output, options.force);
    } catch (const automation::Error& e) {
        say(stderr, QStringLiteral("veltrane: the notice was not made: %1\n").arg(e.description()));
        return StopSignals::stopped() ? StopSignals::status() : 1;
    }
    return StopSignals::stopped() ? StopSignals::status() : 0;
}

} // namespace app
