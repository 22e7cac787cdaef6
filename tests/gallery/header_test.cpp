#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "gallery/header.h"
#include "support/fifo.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

using test::BmpForm;
using test::GifOptions;
using test::JpegOptions;

struct HeaderCase {
    std::string name;
    std::string bytes;
    std::optional<PixelSize> expected;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

std::optional<PixelSize> readExactCopy(std::string_view bytes)
{
    // A heap block of exactly this size, so the sanitizer sees any read past its end.
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    return readPictureHeader(std::span<const unsigned char>(copy.data(), copy.size()));
}

std::string withInsert(std::string bytes, std::size_t at, std::string_view insert)
{
    bytes.insert(at, insert);
    return bytes;
}

std::vector<HeaderCase> headerCases()
{
    std::vector<HeaderCase> cases;
    const std::pair<BmpForm, const char*> forms[] = {
        {BmpForm::Core12, "Core12"},       {BmpForm::Os2Short16, "Os2Short16"}, {BmpForm::Info40, "Info40"},
        {BmpForm::Info52, "Info52"},       {BmpForm::Info56, "Info56"},         {BmpForm::Os2Long64, "Os2Long64"},
        {BmpForm::V4Header108, "V4_108"}, {BmpForm::V5Header124, "V5_124"},
    };
    for (const auto& [form, name] : forms) {
        cases.push_back({std::string("bmp_") + name, test::makeBmp(form, 37, 21), PixelSize{37, 21}});
        if (form != BmpForm::Core12)
            cases.push_back({std::string("bmp_topdown_") + name, test::makeBmp(form, 5, 300, true), PixelSize{5, 300}});
    }
    std::string negativeWidth = test::makeBmp(BmpForm::Info40, 4, 4);
    negativeWidth.replace(18, 4, std::string("\xFC\xFF\xFF\xFF", 4));
    cases.push_back({"bmp_negative_width", negativeWidth, std::nullopt});
    std::string unknownHeader = test::makeBmp(BmpForm::Info40, 4, 4);
    unknownHeader[14] = 100;
    cases.push_back({"bmp_unknown_header_size", unknownHeader, std::nullopt});

    cases.push_back({"gif87a", test::makeGif({.version89a = false, .screenWidth = 20, .screenHeight = 9,
                                              .frameWidth = 20, .frameHeight = 9}),
                     PixelSize{20, 9}});
    cases.push_back({"gif89a_extensions", test::makeGif({.screenWidth = 31, .screenHeight = 17, .frameWidth = 31,
                                                         .frameHeight = 17, .extensions = true}),
                     PixelSize{31, 17}});
    cases.push_back({"gif_frame_beyond_screen",
                     test::makeGif({.screenWidth = 10, .screenHeight = 10, .frameLeft = 5, .frameTop = 6,
                                    .frameWidth = 10, .frameHeight = 3, .extensions = true}),
                     PixelSize{15, 10}});
    cases.push_back({"gif_frame_inside_screen",
                     test::makeGif({.screenWidth = 40, .screenHeight = 30, .frameLeft = 2, .frameTop = 3,
                                    .frameWidth = 4, .frameHeight = 5}),
                     PixelSize{40, 30}});

    // A logical screen and a colour table, then the trailer: the engine draws the screen.
    std::string noFrame = test::makeGif({.screenWidth = 1, .screenHeight = 1, .frameWidth = 1, .frameHeight = 1});
    noFrame.resize(13 + 6);
    noFrame += '\x3B';
    cases.push_back({"gif_without_image_data", noFrame, PixelSize{1, 1}});
    std::string extensionsOnly = test::makeGif({.screenWidth = 12, .screenHeight = 5, .extensions = true});
    extensionsOnly.resize(13 + 6 + 36);  // up to the frame, after the three extensions
    extensionsOnly += '\x3B';
    cases.push_back({"gif_extensions_then_trailer", extensionsOnly, PixelSize{12, 5}});

    cases.push_back({"jpeg_baseline", test::makeJpeg({.width = 300, .height = 200}), PixelSize{300, 200}});
    cases.push_back({"jpeg_progressive", test::makeJpeg({.width = 64, .height = 48, .progressive = true}),
                     PixelSize{64, 48}});
    cases.push_back({"jpeg_exif_thumb",
                     test::makeJpeg({.width = 640, .height = 480, .exif = true, .orientation = 1,
                                     .thumbWidth = 160, .thumbHeight = 90}),
                     PixelSize{640, 480}});
    cases.push_back({"jpeg_exif_thumb_bigendian",
                     test::makeJpeg({.width = 64, .height = 40, .progressive = true, .exif = true,
                                     .exifBigEndian = true, .thumbWidth = 24, .thumbHeight = 16}),
                     PixelSize{64, 40}});
    cases.push_back({"jpeg_fill_bytes", test::makeJpeg({.width = 33, .height = 17, .fillBytes = 3}),
                     PixelSize{33, 17}});
    cases.push_back({"jpeg_orientation6",
                     test::makeJpeg({.width = 48, .height = 16, .exif = true, .orientation = 6,
                                     .thumbWidth = 16, .thumbHeight = 8}),
                     PixelSize{16, 48}});
    cases.push_back({"jpeg_orientation8_bigendian",
                     test::makeJpeg({.width = 48, .height = 16, .exif = true, .exifBigEndian = true,
                                     .orientation = 8}),
                     PixelSize{16, 48}});
    cases.push_back({"jpeg_orientation3_upright",
                     test::makeJpeg({.width = 48, .height = 16, .exif = true, .orientation = 3}),
                     PixelSize{48, 16}});
    const std::string plain = test::makeJpeg({.width = 70, .height = 50});
    cases.push_back({"jpeg_restart_and_tem_markers", withInsert(plain, 2, "\xFF\xD0\xFF\x01\xFF\xD7"),
                     PixelSize{70, 50}});
    // Markers C4, C8 and CC share the frame range but are no frame headers.
    cases.push_back({"jpeg_non_frame_c_markers",
                     withInsert(plain, 2,
                                std::string("\xFF\xC8\x00\x08\x08\x00\x05\x00\x07\x01"
                                            "\xFF\xCC\x00\x08\x08\x00\x05\x00\x07\x01",
                                            20)),
                     PixelSize{70, 50}});
    cases.push_back({"jpeg_comment_holding_frame_bytes",
                     withInsert(plain, 2, std::string("\xFF\xFE\x00\x0B\xFF\xC0\x00\x11\x08\x00\x05\x00\x07", 13)),
                     PixelSize{70, 50}});
    cases.push_back({"jpeg_scan_before_frame", withInsert(plain, 2, std::string("\xFF\xDA\x00\x02", 4)),
                     std::nullopt});
    cases.push_back({"jpeg_zero_height", test::makeJpeg({.width = 9, .height = 0}), PixelSize{9, 0}});
    cases.push_back({"jpeg_short_length", withInsert(plain, 2, std::string("\xFF\xE3\x00\x01", 4)), std::nullopt});
    cases.push_back({"not_a_picture", "\x89PNG\r\n\x1A\n0000000000000000", std::nullopt});
    return cases;
}

class HeaderReader : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderReader, ReadsTheSizeFromMemoryAndFromTheFile)
{
    const HeaderCase& c = GetParam();
    EXPECT_EQ(readExactCopy(c.bytes), c.expected);
    test::Sandbox sandbox;
    const auto path = sandbox.write("picture", c.bytes);
    EXPECT_EQ(readPictureSize(path.string()), c.expected);
}

TEST_P(HeaderReader, ACutFileAnswersNothingOrTheRightSize)
{
    const HeaderCase& c = GetParam();
    for (std::size_t length = 0; length < c.bytes.size(); ++length) {
        const auto answer = readExactCopy(std::string_view(c.bytes).substr(0, length));
        if (answer) {
            ASSERT_EQ(answer, c.expected) << "cut at " << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, HeaderReader, testing::ValuesIn(headerCases()),
                         [](const testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

TEST(HeaderReaderFile, SkipsLargeSegmentsToAFrameHeaderFarIntoTheFile)
{
    test::Sandbox sandbox;
    for (std::size_t padding : {std::size_t{5000}, std::size_t{3} << 20}) {
        const auto bytes = test::makeJpeg({.width = 4000, .height = 3000, .exif = true, .orientation = 6,
                                           .thumbWidth = 160, .thumbHeight = 120, .padding = padding});
        const auto path = sandbox.write("far.jpg", bytes);
        EXPECT_EQ(readPictureSize(path.string()), (PixelSize{3000, 4000})) << padding;
    }
}

TEST(HeaderReaderFile, OrientationBeyondTheFirstPartOfALargeExifBlockIsStillFound)
{
    // IFD0 placed 6000 bytes into a 7000-byte Exif block.
    std::string tiff = "II*";
    tiff += '\0';
    tiff += std::string("\x70\x17\0\0", 4);  // IFD0 at 6000
    tiff.resize(6000, '\0');
    tiff += std::string("\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00\x00", 18);
    tiff.resize(7000, '\0');
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>((body.size() + 2) >> 8);
    segment += static_cast<char>((body.size() + 2) & 0xFF);
    segment += body;
    const auto bytes = withInsert(test::makeJpeg({.width = 30, .height = 10}), 2, segment);
    EXPECT_EQ(readExactCopy(bytes), (PixelSize{10, 30}));
    test::Sandbox sandbox;
    EXPECT_EQ(readPictureSize(sandbox.write("late.jpg", bytes).string()), (PixelSize{10, 30}));
}

TEST(HeaderReaderFile, MissingFileFolderFifoOrDeviceAnswersNothingAtOnce)
{
    test::Sandbox sandbox;
    const test::UnwrittenFifo fifo(sandbox.root() / "fifo.gif");
    ASSERT_TRUE(fifo.made());
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& path : {std::string("/nonexistent/picture.jpg"), sandbox.folder(),
                                    (sandbox.root() / "fifo.gif").string(), std::string("/dev/zero")})
        EXPECT_EQ(readPictureSize(path), std::nullopt) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_FALSE(fifo.releasedABlockedReader());
}

}  // namespace
}  // namespace pictarre
