#pragma once
// The arithmetic of the viewport, kept apart from the widgets so that every
// rounding and limit can be checked on its own. All lengths are twips.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace preview {

inline constexpr float kZoomStep = 0.25f;
inline constexpr float kZoomMin = 0.25f;
inline constexpr float kZoomMax = 4.0f;
// A painted view must stay below both caps.
inline constexpr int32_t kWidthCap = 11400;
inline constexpr int32_t kHeightCap = 13700;

// Rounds halves to even (the default rounding mode), then saturates. Clamping
// instead of overflowing keeps pictures far beyond the caps harmless.
inline int32_t toInt32(double v) {
    const double r = std::nearbyint(v);
    if (std::isnan(r))
        return 0;
    return static_cast<int32_t>(std::clamp(r, double(std::numeric_limits<int32_t>::min()),
                                           double(std::numeric_limits<int32_t>::max())));
}

inline int16_t toInt16(double v) {
    return static_cast<int16_t>(std::clamp<int32_t>(toInt32(v), std::numeric_limits<int16_t>::min(),
                                                    std::numeric_limits<int16_t>::max()));
}

// floor(size x zoom), worked out in double precision.
inline int32_t zoomedSize(int32_t size, float zoom) {
    const double z = std::floor(static_cast<double>(size) * static_cast<double>(zoom));
    return static_cast<int32_t>(std::clamp(z, double(std::numeric_limits<int32_t>::min()),
                                           double(std::numeric_limits<int32_t>::max())));
}

inline bool withinCaps(int32_t zoomedWidth, int32_t zoomedHeight) {
    return zoomedWidth < kWidthCap && zoomedHeight < kHeightCap;
}

// Whether a zoomed view may be painted. The caps stop a picture from growing
// past them; a long notice is beyond them already at its natural size, and a
// view that makes it smaller than that is always painted.
inline bool paintable(int32_t zoomedWidth, int32_t zoomedHeight, int32_t imageWidth,
                      int32_t imageHeight) {
    const bool smaller = zoomedWidth <= imageWidth && zoomedHeight <= imageHeight &&
                         (zoomedWidth < imageWidth || zoomedHeight < imageHeight);
    return withinCaps(zoomedWidth, zoomedHeight) || smaller;
}

// What one scroll bar gets for a box of outer size `box` in a viewport of outer
// size `viewport`: nothing to scroll when it fits, else one twip per unit for
// an overflow up to 100 twips and ten twips per unit above that.
struct BarRange {
    bool enabled = false;
    int16_t maximum = 0; // only meaningful when enabled
    int16_t step = 0;
};

inline BarRange barRange(float box, float viewport) {
    if (box <= viewport)
        return {false, 0, 0};
    const float overflow = box - viewport;
    if (overflow <= 100.0f)
        return {true, toInt16(overflow), 1};
    // Beyond 327670 twips the bar stops at its 16-bit end; dragging still
    // reaches the rest of the picture.
    return {true, toInt16(overflow / 10.0f), 10};
}

// Where a bar's value puts the box. Worked out in 32 bits: with the maximum
// held to 16 bits, step x value always fits.
inline float scrollOffset(int16_t step, int value) {
    return static_cast<float>(-(static_cast<int32_t>(step) * value));
}

// The box's position as a share of the overflow of outer sizes, in percent.
// A box exactly as large as the viewport has nothing to scroll: 0, rather
// than a division by zero reported for a plain click.
inline int32_t dropPercent(float position, float box, float viewport) {
    const float overflow = box - viewport;
    if (overflow == 0.0f)
        return 0;
    return toInt32(std::fabs(position) / overflow * 100.0f);
}

// The bar value that stands for a percentage of its maximum; -1 when the
// percentage is outside 0..100 and the bar is to be left alone.
inline int valueForPercent(int16_t percent, int maximum) {
    if (percent < 0 || percent > 100)
        return -1;
    return toInt16(percent / 100.0 * maximum);
}

} // namespace preview
