#include "clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace generate {

namespace {
int gAttempts = 0;

bool readOnce(int32_t format, QImage& out) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage())
        return false;
    (void)format; // any picture format: the clipboard offers one image at most
    const QImage img = qvariant_cast<QImage>(data->imageData());
    if (img.isNull())
        return false;
    out = img;
    return true;
}
} // namespace

QImage getClipboardPicture(const int32_t& format) {
    QImage kept;
    int attempts = 0;
    bool ok = false;
    do {
        try {
            ok = readOnce(format, kept);
        } catch (...) {
            ok = false;
        }
        ++attempts;
    } while (!ok && attempts < 1000);
    gAttempts = attempts;
    return ok ? kept : QImage();
}

int lastClipboardAttempts() {
    return gAttempts;
}

} // namespace generate
