// The decoders behind the copies the gallery serves read whatever bytes a file holds: a BMP or
// JPEG of any header and any length decodes or is refused, never reading past its bytes, never
// allocating by its numbers beyond their bounds, and every row it gives has the picture's
// width and lies inside its height.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzzcheck.h"
#include "gallery/bmpdecoder.h"
#include "gallery/jpegdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const unsigned char> bytes(data, size);
    if (const auto header = pictarre::readBmpHeader(bytes)) {
        FUZZ_CHECK(header->width > 0 && header->height > 0);
        // Bounded by the size of the input, so that a header cannot make the run allocate.
        if (static_cast<std::uint64_t>(header->width) * static_cast<std::uint64_t>(header->height) <= 1u << 22) {
            for (const bool ignoreAlpha : {false, true}) {
                pictarre::decodeBmp(bytes, *header, ignoreAlpha, [&](int y, std::span<const std::uint32_t> row) {
                    FUZZ_CHECK(y >= 0 && y < header->height);
                    FUZZ_CHECK(row.size() == static_cast<std::size_t>(header->width));
                });
            }
        }
    }
    int width = 0;
    int height = 0;
    pictarre::decodeJpeg(
        bytes, 1, 1,
        [&](int w, int h) {
            width = w;
            height = h;
            FUZZ_CHECK(w > 0 && h > 0);
        },
        [&](int y, std::span<const std::uint32_t> row) {
            FUZZ_CHECK(y >= 0 && y < height);
            FUZZ_CHECK(row.size() == static_cast<std::size_t>(width));
        });
    return 0;
}
