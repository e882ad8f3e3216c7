#pragma once
// Pictures as the program passes them around: a QImage that carries its
// resolution, so its natural (printed) size is known.

#include <QImage>
#include <QSize>
#include <QString>

namespace ui {

// The general picture loader: the format is recognised from the content.
// Throws automation::Error when the file is missing or not a picture.
QImage LoadPicture(const QString& path);

// Stores the picture as a BMP that records its resolution. Never writes
// through a link planted at the path. Throws automation::Error.
void SavePicture(const QImage& picture, const QString& path);

// The natural size in twips: 1440 per inch at the picture's own resolution
// (96 dpi when it records none).
QSize naturalSizeTwips(const QImage& picture);

} // namespace ui
