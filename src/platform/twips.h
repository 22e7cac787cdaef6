#pragma once

#include <cmath>

#include <QWidget>

namespace pictarre {

// The window's unit: 15 twips to a pixel, whatever the screen's real resolution.
inline constexpr float kTwipsPerPixel = 15.0f;

inline int pixels(float twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline float twips(int pixels)
{
    return static_cast<float>(pixels) * kTwipsPerPixel;
}

// Sets a control's width or height in twips the way the window's controls take a size: a
// negative (or absurdly large) value is refused and the old size stays.
inline bool setWidthTwips(QWidget& widget, float value)
{
    if (!(value >= 0.0f) || value > 1.0e7f)
        return false;
    widget.resize(pixels(value), widget.height());
    return true;
}

inline bool setHeightTwips(QWidget& widget, float value)
{
    if (!(value >= 0.0f) || value > 1.0e7f)
        return false;
    widget.resize(widget.width(), pixels(value));
    return true;
}

}  // namespace pictarre
