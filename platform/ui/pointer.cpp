#include "pointer.h"

#include "platform/automation/automation.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace ui {

void WindowPointer::SetMousePointer(int kind) {
    mKind = kind;
    switch (kind) {
    case vbHourglass:
        mWindow->setCursor(Qt::WaitCursor);
        break;
    case vbCustom:
        if (mIcon)
            mWindow->setCursor(*mIcon);
        else
            mWindow->unsetCursor();
        break;
    default:
        mWindow->unsetCursor();
    }
}

void WindowPointer::SetMouseIcon(const QCursor& cursor) {
    mIcon = cursor;
    if (mKind == vbCustom)
        SetMousePointer(vbCustom);
}

// A little-endian word of the file, read byte by byte: an empty array's data
// is a one-byte static, which the compiler's bounds check cannot rule out.
static int word(const QByteArray& bytes, qsizetype at) {
    return uchar(bytes.at(at)) | uchar(bytes.at(at + 1)) << 8;
}

QCursor LoadCursorFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("File not found: %1").arg(path));
    const QByteArray bytes = f.readAll();
    // ICONDIR: reserved 0, type 2 (cursor), count; then entries whose planes and
    // bit-count words hold the hotspot for cursors.
    if (bytes.size() < 22 || word(bytes, 0) != 0 || word(bytes, 2) != 2)
        throw automation::Error(QStringLiteral("Invalid picture"));
    const int hotX = word(bytes, 6 + 4);
    const int hotY = word(bytes, 6 + 6);
    QImage img;
    if (!img.loadFromData(bytes, "CUR") && !img.loadFromData(bytes, "ICO"))
        throw automation::Error(QStringLiteral("Invalid picture"));
    // Keep the cursor its designed size on high-DPI screens without blurring.
    QPixmap pm = QPixmap::fromImage(img);
    return QCursor(pm, hotX, hotY);
}

} // namespace ui
