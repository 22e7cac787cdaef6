#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>

#include "gallery/getsize.h"
#include "gallery/valnum.h"
#include "support/fifo.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

TEST(Val, ReadsTheLeadingNumberSkippingBlanks)
{
    EXPECT_EQ(Val("1 2"), 12.0);
    EXPECT_EQ(Val(" \t4\n80 "), 480.0);
    EXPECT_EQ(Val("1,024"), 1.0);
    EXPECT_EQ(Val("640 pixels"), 640.0);
    EXPECT_EQ(Val("-3.25x"), -3.25);
    EXPECT_EQ(Val("+ 7"), 7.0);
    EXPECT_EQ(Val(".5"), 0.5);
    EXPECT_EQ(Val("-.5"), -0.5);
    EXPECT_EQ(Val("1.5e3"), 1500.0);
    EXPECT_EQ(Val("2E-1"), 0.2);
    EXPECT_EQ(Val("1D2"), 100.0);
    EXPECT_EQ(Val("1e"), 1.0);
    EXPECT_EQ(Val("3e+"), 3.0);
}

TEST(Val, TextWithoutALeadingNumberIsZero)
{
    EXPECT_EQ(Val(""), 0.0);
    EXPECT_EQ(Val("abc"), 0.0);
    EXPECT_EQ(Val("-"), 0.0);
    EXPECT_EQ(Val("."), 0.0);
    EXPECT_EQ(Val("e5"), 0.0);
}

TEST(Val, HugeExponentsOverflowAndTinyOnesVanish)
{
    EXPECT_TRUE(std::isinf(Val("1e400")));
    EXPECT_EQ(Val("1e-400"), 0.0);
}

TEST(WholeNumber, RoundsHalfToEven)
{
    EXPECT_EQ(wholeNumber(0.5), 0);
    EXPECT_EQ(wholeNumber(1.5), 2);
    EXPECT_EQ(wholeNumber(2.5), 2);
    EXPECT_EQ(wholeNumber(-0.5), 0);
    EXPECT_EQ(wholeNumber(-1.5), -2);
    EXPECT_EQ(wholeNumber(-2.5), -2);
    EXPECT_EQ(wholeNumber(2.4999), 2);
    EXPECT_EQ(wholeNumber(2.5001), 3);
}

TEST(WholeNumber, OutOfRangeGivesNothing)
{
    EXPECT_EQ(wholeNumber(2147483647.4), 2147483647);
    EXPECT_EQ(wholeNumber(2147483647.5), std::nullopt);
    EXPECT_EQ(wholeNumber(-2147483648.5), -2147483648);
    EXPECT_EQ(wholeNumber(-2147483649.0), std::nullopt);
    EXPECT_EQ(wholeNumber(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(wholeNumber(std::numeric_limits<double>::infinity()), std::nullopt);
}

// Detail texts and loaded sizes by path; a path missing from a map makes that query fail.
struct FakePlatform {
    std::map<std::string, std::pair<std::string, std::string>> details;
    std::map<std::string, std::pair<float, float>> loads;
    float webWidth = 100000.0f;
    int loadCalls = 0;

    SizeQueries queries()
    {
        SizeQueries q;
        q.detailText = [this](const std::string& path, int column) -> std::optional<std::string> {
            const auto it = details.find(path);
            if (it == details.end())
                return std::nullopt;
            return column == kWidthColumn ? it->second.first : it->second.second;
        };
        q.loadTwips = [this](const std::string& path) -> std::optional<std::pair<float, float>> {
            ++loadCalls;
            const auto it = loads.find(path);
            if (it == loads.end())
                return std::nullopt;
            return it->second;
        };
        q.webWidthTwips = [this] { return webWidth; };
        return q;
    }
};

std::pair<std::int32_t, std::int32_t> sizeOf(const SizeReader& r) { return {r.PictureWidth, r.PictureHeight}; }

TEST(Getsize, ScalesAWidePictureToTheBrowserWidth)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"1600", "1200"};
    fake.webWidth = 12000.0f;  // 776 pixels available
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{776, 582}));
    EXPECT_EQ(reader.unfittedWidth, 1600);  // what the page may grow it to in a wider view
    EXPECT_EQ(fake.loadCalls, 0);
}

TEST(Getsize, AWidthEqualToTheAvailableWidthIsNotScaled)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"776", "1000"};
    fake.details["/p/b.jpg"] = {"777", "1000"};
    fake.webWidth = 12000.0f;
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{776, 1000}));
    EXPECT_EQ(reader.unfittedWidth, 776);
    reader.getsize("/p/b.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{776, 999}));  // 1000/777 in single precision, times 776
}

TEST(Getsize, ReadsDetailTextsTheWayValDoes)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"1,024", "768 pixels"};
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{1, 768}));
}

TEST(Getsize, OneZeroColumnLoadsThePictureForBoth)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"0", "300"};
    fake.details["/p/b.jpg"] = {"", ""};
    fake.loads["/p/a.jpg"] = {855.0f, 150.0f};
    fake.loads["/p/b.jpg"] = {300.0f, 450.0f};
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{57, 10}));
    reader.getsize("/p/b.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{20, 30}));
}

TEST(Getsize, AFailedLoadMeasuresWhatTheImageControlStillHolds)
{
    FakePlatform fake;
    fake.details["/p/a.gif"] = {"", ""};
    fake.details["/p/b.gif"] = {"", ""};
    fake.loads["/p/b.gif"] = {150.0f, 300.0f};
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.gif");  // nothing loaded yet: the control's design-time 855 x 735 twips
    EXPECT_EQ(sizeOf(reader), (std::pair{57, 49}));
    reader.getsize("/p/b.gif");
    reader.getsize("/p/a.gif");
    EXPECT_EQ(sizeOf(reader), (std::pair{10, 20}));
}

TEST(Getsize, FailingStepsKeepThePreviousPicturesValues)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"100", "50"};
    fake.details["/p/huge.jpg"] = {"3000000000", "70"};
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    reader.getsize("/p/unknown.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{100, 50}));
    EXPECT_EQ(fake.loadCalls, 0);
    reader.getsize("/p/huge.jpg");  // the width is out of range: only the height changes
    EXPECT_EQ(sizeOf(reader), (std::pair{100, 70}));
}

TEST(Getsize, MissingQueriesNeverFail)
{
    SizeReader reader(SizeQueries{});
    reader.getsize("/p/a.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{57, 49}));
}

TEST(Getsize, ZeroWidthInANarrowPaneKeepsTheLastRatioInsteadOfDividingByZero)
{
    FakePlatform fake;
    fake.details["/p/a.jpg"] = {"1600", "1200"};
    fake.details["/p/zero.jpg"] = {"0", "0"};
    fake.loads["/p/zero.jpg"] = {0.0f, 150.0f};
    fake.webWidth = 12000.0f;
    SizeReader reader(fake.queries());
    reader.getsize("/p/a.jpg");
    fake.webWidth = 0.0f;  // A = -24
    reader.getsize("/p/zero.jpg");
    EXPECT_EQ(sizeOf(reader), (std::pair{-24, -18}));  // ratio 0.75 of the previous picture
}

TEST(DefaultSizeQueries, AnswerFromTheHeaderElseFromTheImageReader)
{
    test::Sandbox sandbox;
    const auto jpeg = sandbox.write("a.jpg", test::makeJpeg({.width = 1600, .height = 1200}));
    const auto png = sandbox.write("b.jpg", std::string("\x89PNG\r\n\x1A\n", 8));
    SizeQueries queries = defaultSizeQueries([] { return 12000.0f; });
    EXPECT_EQ(queries.detailText(jpeg.string(), kWidthColumn), "1600");
    EXPECT_EQ(queries.detailText(jpeg.string(), kHeightColumn), "1200");
    EXPECT_EQ(queries.detailText(jpeg.string(), 26), "");
    EXPECT_EQ(queries.detailText(png.string(), kWidthColumn), "");
    EXPECT_EQ(queries.detailText("/nonexistent/a.jpg", kWidthColumn), std::nullopt);
    EXPECT_EQ(queries.loadTwips(jpeg.string()), (std::pair{24000.0f, 18000.0f}));
    EXPECT_EQ(queries.loadTwips(png.string()), std::nullopt);

    SizeReader reader(std::move(queries));
    reader.getsize(jpeg.string());
    EXPECT_EQ(sizeOf(reader), (std::pair{776, 582}));
    // A picture rewritten at the same path is read anew.
    sandbox.write("a.jpg", test::makeJpeg({.width = 20, .height = 10}));
    reader.getsize(jpeg.string());
    EXPECT_EQ(sizeOf(reader), (std::pair{20, 10}));
    // The header is read once a picture: the height query uses the width query's read of the
    // same path up, and every other query reads the file.
    HeaderDetailText details;
    EXPECT_EQ(details(jpeg.string(), kHeightColumn), "10");
    EXPECT_EQ(details(jpeg.string(), kWidthColumn), "20");
    sandbox.write("a.jpg", test::makeJpeg({.width = 7, .height = 5}));
    EXPECT_EQ(details(jpeg.string(), kHeightColumn), "10");
    EXPECT_EQ(details(jpeg.string(), kHeightColumn), "5");
    EXPECT_EQ(details(jpeg.string(), kWidthColumn), "7");
    EXPECT_EQ(details(png.string(), kHeightColumn), "");
}

// A FIFO or a device where a picture was cannot block the size reader: neither the header
// reader nor the image reader opens it for reading, and it gets the size of a picture that
// cannot be read (the values of the picture before it).
TEST(DefaultSizeQueries, AFifoOrADeviceAnswersNothingAtOnce)
{
    test::Sandbox sandbox;
    const auto jpeg = sandbox.write("a.jpg", test::makeJpeg({.width = 30, .height = 20}));
    const test::UnwrittenFifo fifo(sandbox.root() / "fifo.jpg");
    ASSERT_TRUE(fifo.made());
    const std::string fifoPath = (sandbox.root() / "fifo.jpg").string();
    SizeQueries queries = defaultSizeQueries([] { return 12000.0f; });
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& path : {fifoPath, std::string("/dev/zero")}) {
        EXPECT_EQ(queries.detailText(path, kWidthColumn), std::nullopt) << path;
        EXPECT_EQ(queries.loadTwips(path), std::nullopt) << path;
    }
    SizeReader reader(std::move(queries));
    reader.getsize(jpeg.string());
    reader.getsize(fifoPath);
    EXPECT_EQ(sizeOf(reader), (std::pair{30, 20}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_FALSE(fifo.releasedABlockedReader());
}

TEST(DefaultSizeQueries, TheImageReaderFindsTheFormatByContentAndTurnsExifRotatedPictures)
{
    test::Sandbox sandbox;
    // The reader is handed the descriptor, not the path: a BMP named .jpg is still found by its
    // content, an EXIF-rotated JPEG still turned, and a folder still refused.
    const auto bmp = sandbox.write("really-a-bmp.jpg", test::makeBmp(test::BmpForm::Info40, 7, 3));
    const auto rotated =
        sandbox.write("turned.jpg", test::makeJpeg({.width = 40, .height = 10, .exif = true, .orientation = 6}));
    EXPECT_EQ(imageReaderTwips(bmp.string()), (std::pair{105.0f, 45.0f}));
    EXPECT_EQ(imageReaderTwips(rotated.string()), (std::pair{150.0f, 600.0f}));
    EXPECT_EQ(imageReaderTwips(sandbox.folder()), std::nullopt);
}

}  // namespace
}  // namespace pictarre
