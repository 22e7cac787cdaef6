#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace pictarre {

// Decodes the JPEG in `bytes` as the engine draws it, shrunk by the decoder's own DCT scaling
// to the smallest size no smaller than `minWidth` × `minHeight` (the stored orientation).
// `begin` hears the size it decodes at, then `row` gets each row as 0xAARRGGBB (y = 0 at the
// top) in sRGB: converted from the embedded ICC profile when there is one (RGB or grey), and
// CMYK without a profile as inverted (Adobe) ink, as the engine reads it. The rows past the end
// of a cut file are not given; the engine leaves them empty. False when the file cannot be
// drawn this way: a broken header, a profile that does not fit the pixels, a CMYK profile, a
// cut progressive file (which the engine draws from its scans so far).
using JpegRowSink = std::function<void(int y, std::span<const std::uint32_t> row)>;
bool decodeJpeg(std::span<const unsigned char> bytes, int minWidth, int minHeight,
                const std::function<void(int width, int height)>& begin, const JpegRowSink& row);

}  // namespace pictarre
