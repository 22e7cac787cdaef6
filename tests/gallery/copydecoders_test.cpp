// The pieces behind a served copy: area averaging, the BMP decoder on cut and sparse files,
// and the orientation the header reader gives.
#include <gtest/gtest.h>

#include "enginepictures.h"
#include "gallery/areascaler.h"
#include "gallery/bmpdecoder.h"
#include "gallery/header.h"
#include "gallery/jpegdecoder.h"

using namespace pictarre;

namespace {

std::span<const unsigned char> bytesOf(const std::string& s)
{
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

TEST(AreaScaler, AveragesCoveredAreaAndCountsMissingRowsAsTransparent)
{
    // 3 x 2 to 2 x 1: each output pixel covers one and a half source pixels per row.
    AreaScaler scaler(3, 2, 2, 1);
    const std::uint32_t white = 0xFFFFFFFF, black = 0xFF000000;
    scaler.addRow(0, std::vector<std::uint32_t>{white, black, black});
    const QImage half = scaler.result();  // row 1 never came
    ASSERT_EQ(half.format(), QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(half.pixel(0, 0)), 128);
    EXPECT_NEAR(qRed(half.pixel(0, 0)), 170, 1);  // 1 white + 0.5 black
    EXPECT_EQ(qRed(half.pixel(1, 0)), 0);
    // A transparent pixel lends no colour.
    AreaScaler clear(2, 1, 1, 1);
    clear.addRow(0, std::vector<std::uint32_t>{0x00FF0000, 0xFF0000FF});
    EXPECT_EQ(clear.result().pixel(0, 0), qRgba(0, 0, 255, 128));
    // At its own size a source passes as it is, and a row that never came stays transparent.
    AreaScaler same(2, 2, 2, 2);
    same.addRow(1, std::vector<std::uint32_t>{0xFF102030, 0x80FFFFFF});
    const QImage copy = same.result();
    EXPECT_EQ(copy.pixel(0, 0), 0u);
    EXPECT_EQ(copy.pixel(0, 1), 0xFF102030u);
    EXPECT_EQ(copy.pixel(1, 1), 0x80FFFFFFu);
}

TEST(BmpDecoder, CutAtEveryLengthGivesOnlyWholeRowsInBounds)
{
    const std::string files[] = {
        test::bmpFile({.bitCount = 8, .compression = 1, .palette = {0x102030, 0x405060}}, 6, 4,
                      std::string("\x03\x01\x00\x02\x02\x01\x01\x00\x00\x00\x06\x00\x00\x00\x00\x01", 16)),
        test::bmpFile({.headerSize = 124, .bitCount = 16, .compression = 3, .masks = {0x7C00, 0x3E0, 0x1F, 0x8000}}, 5,
                      3, test::bmpRows(5, 3, 16, false, [](int x, int) { return x % 2 ? 0xFFFFu : 0x7FFFu; })),
        test::bmpFile({.bitCount = 1, .palette = {0, 0xFFFFFF}, .topDown = true}, 9, 3,
                      test::bmpRows(9, 3, 1, true, [](int x, int y) { return unsigned(x + y) % 2; })),
    };
    for (const std::string& file : files)
        for (std::size_t length = 0; length <= file.size(); ++length) {
            const auto bytes = bytesOf(file).first(length);
            const auto header = readBmpHeader(bytes);
            if (!header)
                continue;
            int rows = 0;
            const auto result = decodeBmp(bytes, *header, false, [&](int y, std::span<const std::uint32_t> row) {
                EXPECT_GE(y, 0);
                EXPECT_LT(y, header->height);
                EXPECT_EQ(row.size(), std::size_t(header->width));
                ++rows;
            });
            EXPECT_TRUE(result.ok) << length;
            EXPECT_LE(rows, header->height);
            if (length == file.size()) {
                EXPECT_GT(rows, 0);
            }
        }
}

TEST(BmpDecoder, RejectsWhatItCannotDrawAsTheEngineDoes)
{
    const std::string pixels(64, '\0');
    EXPECT_FALSE(readBmpHeader(bytesOf(test::bmpFile({.bitCount = 32, .compression = 3, .masks = {0xF0, 0x1F0, 0xF, 0}}, 2, 2, pixels))));
    EXPECT_FALSE(readBmpHeader(bytesOf(test::bmpFile({.bitCount = 8, .compression = 1, .topDown = true}, 2, 2, pixels))));
    EXPECT_FALSE(readBmpHeader(bytesOf(test::bmpFile({.headerSize = 64}, 2, 2, pixels))));
    EXPECT_FALSE(readBmpHeader(bytesOf(test::bmpFile({}, 1 << 20, 2, pixels))));
    // An index past a short palette.
    const std::string shortPalette = test::bmpFile({.bitCount = 8, .palette = {0x112233}}, 4, 1, std::string("\0\1\0\0", 4));
    const auto header = readBmpHeader(bytesOf(shortPalette));
    ASSERT_TRUE(header);
    EXPECT_FALSE(decodeBmp(bytesOf(shortPalette), *header, false, [](int, auto) {}).ok);
}

TEST(JpegDecoder, AFileAskingForGigabytesIsRefusedWithinItsBound)
{
    // A progressive file of 79 x 65280 pixels whose scans once made the decoder hold 2.6 GB
    // (found by the copy fuzzer): it is refused, and the original served instead.
    const std::string file(
        "\xFF\xD8\xFF\xFF\xFF\xDB\x00\x43\x00\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x4E\x01\x01\x01\x01"
        "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
        "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x03\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
        "\x01\xFF\xFF\xFF\xC2\x00\x0B\x08\xFF\x00\x4F\x00\x01\x01\x11\x00\xFF\xFF\xFF\xC4\x00\x26\x00\x01"
        "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x10\x01\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00\x3F\xFF"
        "\xDA\x00\x08\x01\x01\x00\x01\x3F\x00\x3F\xFF\xD9",
        156);
    EXPECT_FALSE(decodeJpeg(bytesOf(file), 1, 1, [](int, int) {}, [](int, std::span<const std::uint32_t>) {}));
}

TEST(PictureLayout, OrientationComesFromTheFirstExifBlockAndIfd0Only)
{
    const QImage picture = test::scene(16, 8);
    const struct {
        std::vector<std::string> app1;
        unsigned orientation;
        PixelSize size;
    } rows[] = {
        {{}, 1, {16, 8}},
        {{test::exifBody(6, 0)}, 6, {8, 16}},
        {{test::xmpBody(), test::exifBody(8, 0)}, 8, {8, 16}},
        {{test::exifBody(0, 6)}, 1, {16, 8}},
        {{test::exifBody(3, 0), test::exifBody(6, 0)}, 3, {16, 8}},
        {{test::exifBody(9, 0)}, 1, {16, 8}},
    };
    for (const auto& row : rows) {
        const std::string jpeg = test::jpegFile(picture, {.app1 = row.app1});
        const auto layout = readPictureLayout(bytesOf(jpeg));
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->orientation, row.orientation);
        EXPECT_EQ(layout->size, row.size);
    }
}

}  // namespace
