#pragma once

#include <cmath>

class QWidget;

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

}  // namespace pictarre
