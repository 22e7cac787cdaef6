#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QImage>

namespace pictarre::test {

// Pictures for comparing copies with what the engine draws, made in memory with libjpeg and
// Little CMS: every colour model, profile, EXIF layout and BMP form the copies must follow.

// A smooth, lopsided scene (a turned or mirrored copy cannot match it) of width x height.
QImage scene(int width, int height);

enum class JpegModel { Rgb, Grey, Cmyk };
struct JpegKind {
    JpegModel model = JpegModel::Rgb;
    std::string icc{};  // embedded as APP2 ICC_PROFILE when not empty
    std::vector<std::string> app1{};  // APP1 bodies, in order, before the frame
    bool progressive = false;
};
// `picture` encoded at quality 95; CMYK stored as inverted ink with an Adobe marker, as
// Photoshop writes it.
std::string jpegFile(const QImage& picture, const JpegKind& kind);

// An "Exif\0\0" APP1 body whose IFD0 and IFD1 hold an orientation tag when not 0.
std::string exifBody(std::uint16_t ifd0Orientation, std::uint16_t ifd1Orientation);
// An XMP APP1 body stating orientation 1.
std::string xmpBody();

// ICC profiles: grey with a linear curve, RGB with wide primaries and gamma 2.2, and a CMYK
// output profile (A2B0 only) whose inks are paler and warmer than the naive formula's.
std::string greyLinearProfile();
std::string wideRgbProfile();
std::string cmykProfile();

struct BmpKind {
    std::uint32_t headerSize = 40;  // 12, 40, 108 or 124
    int bitCount = 24;
    std::uint32_t compression = 0;  // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    std::array<std::uint32_t, 4> masks{};  // written after a 40-byte header or inside a longer one
    std::vector<std::uint32_t> palette{};  // 0xRRGGBB
    bool topDown = false;
};
// A BMP of width x height around `pixels`, which are stored as they are (rows in file order).
std::string bmpFile(const BmpKind& kind, int width, int height, const std::string& pixels);
// Uncompressed rows in file order (bottom-up unless `topDown`), each value `bitCount` bits.
std::string bmpRows(int width, int height, int bitCount, bool topDown,
                    const std::function<std::uint32_t(int x, int y)>& value);

}  // namespace pictarre::test
