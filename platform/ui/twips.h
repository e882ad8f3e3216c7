#pragma once
// Window geometry is designed in twips; 15 twips make one device-independent
// pixel (96 dpi logical). Qt's own high-DPI scaling does the rest.

#include <QRect>
#include <cmath>

namespace ui {

constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) {
    return twips / kTwipsPerPixel;
}
inline QRect pxRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace ui
