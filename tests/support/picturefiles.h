#pragma once

#include <cstdint>
#include <string>

namespace pictarre::test {

// Little-endian 16- and 32-bit numbers appended to a file being made.
void putLe16(std::string& out, unsigned v);
void putLe32(std::string& out, std::uint32_t v);

// Picture files made in memory for tests. Every maker gives a complete file that a browser
// engine decodes (uniform pixels), unless an option says otherwise.

// The DIB header forms of a BMP: the 12-byte core header, the 16- and 64-byte OS/2 2.x headers,
// and the 40/52/56/108/124-byte Windows headers.
enum class BmpForm { Core12, Os2Short16, Info40, Info52, Info56, Os2Long64, V4Header108, V5Header124 };

// A 24-bit uncompressed BMP of width x height; `topDown` stores the height negated (not
// possible for Core12, whose sizes are unsigned).
std::string makeBmp(BmpForm form, std::int32_t width, std::int32_t height, bool topDown = false);

struct GifOptions {
    bool version89a = true;
    std::uint16_t screenWidth = 16;
    std::uint16_t screenHeight = 8;
    // The first frame's place and size on the logical screen.
    std::uint16_t frameLeft = 0;
    std::uint16_t frameTop = 0;
    std::uint16_t frameWidth = 16;
    std::uint16_t frameHeight = 8;
    // 89a only: a graphic control, an application and a comment extension before the frame.
    bool extensions = false;
};
std::string makeGif(const GifOptions& options);

struct JpegOptions {
    std::uint16_t width = 16;
    std::uint16_t height = 8;
    bool progressive = false;
    // An APP1 Exif block with IFD0 (holding the orientation when not 0) and, when thumbWidth is
    // not 0, a JPEG thumbnail of its own size in IFD1.
    bool exif = false;
    bool exifBigEndian = false;
    std::uint16_t orientation = 0;
    std::uint16_t thumbWidth = 0;
    std::uint16_t thumbHeight = 0;
    // 0xFF fill bytes before each marker after the first.
    int fillBytes = 0;
    // Bytes of APP2 segments (each at most 65533 bytes of body) before the frame header.
    std::size_t padding = 0;
};
std::string makeJpeg(const JpegOptions& options);

}  // namespace pictarre::test
