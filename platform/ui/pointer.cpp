#include "pointer.h"

#include "platform/automation/automation.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>

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

QCursor LoadCursorFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("File not found: %1").arg(path));
    const QByteArray bytes = f.readAll();
    // ICONDIR: reserved 0, type 2 (cursor), count; then entries whose planes and
    // bit-count words hold the hotspot for cursors.
    if (bytes.size() < 22 || qFromLittleEndian<quint16>(bytes.constData()) != 0 ||
        qFromLittleEndian<quint16>(bytes.constData() + 2) != 2)
        throw automation::Error(QStringLiteral("Invalid picture"));
    const int hotX = qFromLittleEndian<quint16>(bytes.constData() + 6 + 4);
    const int hotY = qFromLittleEndian<quint16>(bytes.constData() + 6 + 6);
    QImage img;
    if (!img.loadFromData(bytes, "CUR") && !img.loadFromData(bytes, "ICO"))
        throw automation::Error(QStringLiteral("Invalid picture"));
    // Keep the cursor its designed size on high-DPI screens without blurring.
    QPixmap pm = QPixmap::fromImage(img);
    return QCursor(pm, hotX, hotY);
}

} // namespace ui
