#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace pictarre {

// What a BMP's headers say, checked: only the forms decodeBmp draws as the engine does.
struct BmpHeader {
    int width = 0;
    int height = 0;  // its magnitude
    bool topDown = false;
    int bitCount = 0;
    enum class Coding { Plain, Rle8, Rle4 } coding = Coding::Plain;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha (0: none) for 16 and 32 bits
    std::vector<std::uint32_t> palette;  // 0xFFRRGGBB, for 1 to 8 bits
    std::uint32_t pixelOffset = 0;
};

// Reads the headers of the BMP in `bytes`. Nothing for what this decoder does not draw as the
// engine does (OS/2 2.x headers, embedded JPEG/PNG, colour profiles, odd masks) and for
// headers that are cut or do not add up. Never reads past `bytes`; sizes are bounded before
// anything is allocated by them.
std::optional<BmpHeader> readBmpHeader(std::span<const unsigned char> bytes);

// Gives each row the file defines, as 0xAARRGGBB (y = 0 at the top), to `row`, following the
// engine's rules: the rows of a cut file and the pixels an RLE file skips stay transparent (they
// are never given, or given as 0), a 32- or 16-bit alpha mask is honoured, and `ignoreAlpha`
// draws every pixel opaque (the engine's answer when a picture's alpha is zero throughout).
// False when the pixels are malformed in a way the engine draws otherwise (an index past a
// short palette, a run past the row).
struct BmpDecodeResult {
    bool ok = false;
    bool sawAlpha = false;  // a pixel with a non-zero alpha value under an alpha mask
};
using BmpRowSink = std::function<void(int y, std::span<const std::uint32_t> row)>;
BmpDecodeResult decodeBmp(std::span<const unsigned char> bytes, const BmpHeader& header, bool ignoreAlpha,
                          const BmpRowSink& row);

}  // namespace pictarre
