#include "picture.h"

#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace ui {

namespace {

// The BMP the program stores its pictures in: 32 bits a pixel, uncompressed,
// rows bottom-up, after the 14-byte file header and the 40-byte info header.
// Its rows are the picture's own memory, so storing and loading it copies
// each byte once and converts nothing.
constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

void put16(uchar* at, quint16 v) {
    at[0] = uchar(v);
    at[1] = uchar(v >> 8);
}

void put32(uchar* at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        at[i] = uchar(v >> (8 * i));
}

quint32 get32(const uchar* at) {
    return quint32(at[0]) | quint32(at[1]) << 8 | quint32(at[2]) << 16 | quint32(at[3]) << 24;
}

quint16 get16(const uchar* at) {
    return quint16(at[0] | at[1] << 8);
}

QByteArray bmpHeaders(const QImage& picture) {
    const quint32 pixelBytes = quint32(picture.width()) * 4u * quint32(picture.height());
    QByteArray h(kHeadersSize, '\0');
    auto* b = reinterpret_cast<uchar*>(h.data());
    b[0] = 'B';
    b[1] = 'M';
    put32(b + 2, kHeadersSize + pixelBytes);
    put32(b + 10, kHeadersSize);
    put32(b + 14, kInfoHeaderSize);
    put32(b + 18, quint32(picture.width()));
    put32(b + 22, quint32(picture.height())); // positive: bottom-up
    put16(b + 26, 1);                         // planes
    put16(b + 28, 32);                        // bits per pixel
    put32(b + 30, 0);                         // uncompressed
    put32(b + 34, pixelBytes);
    put32(b + 38, quint32(std::max(0, picture.dotsPerMeterX())));
    put32(b + 42, quint32(std::max(0, picture.dotsPerMeterY())));
    return h;
}

// Reads exactly the BMP above (from any writer) straight into the picture's
// rows; a null picture for anything else, which the general reader then takes.
QImage readPlainBmp(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QImage();
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    uchar h[kHeadersSize];
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h))
        return QImage();
    const qint64 width = qint32(get32(h + 18));
    const qint64 height = qint32(get32(h + 22));
    const qint64 offset = get32(h + 10);
    if (h[0] != 'B' || h[1] != 'M' || get32(h + 14) != kInfoHeaderSize || get16(h + 26) != 1 ||
        get16(h + 28) != 32 || get32(h + 30) != 0 || width <= 0 || height <= 0 ||
        offset < kHeadersSize)
        return QImage();
    const qint64 rowBytes = width * 4;
    // The general reader's limit holds here too.
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    if ((limit > 0 && rowBytes * height > limit) || offset + rowBytes * height > st.st_size)
        return QImage();
    QImage img(int(width), int(height), QImage::Format_RGB32);
    if (img.isNull())
        return QImage();
    std::vector<iovec> rows;
    rows.reserve(size_t(height));
    for (int y = int(height) - 1; y >= 0; --y)
        rows.push_back({img.scanLine(y), size_t(rowBytes)});
    qint64 at = offset;
    size_t next = 0;
    while (next < rows.size()) {
        const int count = int(std::min<size_t>(IOV_MAX, rows.size() - next));
        const ssize_t n = ::preadv(fd, rows.data() + next, count, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || n % rowBytes != 0) // the size was checked: a short read is a fault
            return QImage();
        at += n;
        next += size_t(n / rowBytes);
    }
    // The fourth byte is unused in this format; an opaque picture needs it full.
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            line[x] |= 0xff000000u;
    }
    img.setDotsPerMeterX(int(get32(h + 38)));
    img.setDotsPerMeterY(int(get32(h + 42)));
    return img;
}

} // namespace

QImage LoadPicture(const QString& path) {
    if (!QFile::exists(path))
        throw automation::Error(QStringLiteral("File not found: %1").arg(path));
    if (QImage plain = readPlainBmp(path); !plain.isNull())
        return plain;
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
    if (picture.format() == QImage::Format_RGB32 &&
        qint64(picture.width()) * 4 * picture.height() < (qint64(1) << 31)) {
        const QByteArray headers = bmpHeaders(picture);
        QList<QByteArrayView> pieces{QByteArrayView(headers)};
        const qsizetype rowBytes = qsizetype(picture.width()) * 4;
        for (int y = picture.height() - 1; y >= 0; --y)
            pieces << QByteArrayView(reinterpret_cast<const char*>(picture.constScanLine(y)),
                                     rowBytes);
        ::unlink(QFile::encodeName(path).constData());
        writeNewFile(pieces, path);
        return;
    }
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
