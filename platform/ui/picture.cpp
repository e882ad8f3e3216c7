#include "picture.h"

#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ui {

QImage LoadPicture(const QString& path) {
    if (!QFile::exists(path))
        throw automation::Error(QStringLiteral("File not found: %1").arg(path));
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage img = reader.read();
    if (img.isNull())
        throw automation::Error(QStringLiteral("Invalid picture"));
    return img;
}

void SavePicture(const QImage& picture, const QString& path) {
    if (picture.isNull())
        throw automation::Error(QStringLiteral("Invalid picture"));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (!picture.save(&buf, "BMP"))
        throw automation::Error(QStringLiteral("Invalid picture"));
    // Replaces what an earlier run left, never writing through a link.
    ::unlink(QFile::encodeName(path).constData());
    writeNewFile(bytes, path);
}

QSize naturalSizeTwips(const QImage& picture) {
    auto dpi = [](int dotsPerMeter) {
        // Files store whole dots per metre: 96 dpi is stored as 3780, which
        // reads back as 96.012. Snap such values to the whole dpi they stand for.
        double d = dotsPerMeter * 0.0254;
        if (std::abs(d - std::round(d)) < 0.02)
            d = std::round(d);
        return d > 1.0 ? d : 96.0;
    };
    const double w = picture.width() * 1440.0 / dpi(picture.dotsPerMeterX());
    const double h = picture.height() * 1440.0 / dpi(picture.dotsPerMeterY());
    return QSize(static_cast<int>(std::lround(w)), static_cast<int>(std::lround(h)));
}

} // namespace ui
