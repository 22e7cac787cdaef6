#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "collect/listfile.h"
#include "collect/search.h"
#include "support/fifo.h"
#include "support/sandbox.h"
#include "treehelpers.h"

namespace pictarre::test {
namespace {

using namespace std::string_literals;

std::vector<std::string> readAllLines(const std::string& path)
{
    std::vector<std::string> lines;
    ImageListReader reader(path);
    while (std::optional<std::string> line = reader.nextLine())
        lines.push_back(*line);
    return lines;
}

#define EXPECT_FILE_BYTES(path, expected)                                                         \
    do {                                                                                          \
        const std::string actualBytes = readFileBytes(path);                                      \
        EXPECT_EQ(actualBytes, expected) << describeDifference(expected, actualBytes);            \
    } while (0)

TEST(ImageListFile, EmptySearchWritesALoneCrLf)
{
    Sandbox tree;
    tree.fill({"notes.txt", "sub/", ".hidden/a.jpg"});
    Sandbox program;
    const std::string listPath = program.folder() + "opendir.tmp";
    const SearchRun run = searchFrom(tree.folder());

    ASSERT_TRUE(writeImageListFile(listPath, run.text));
    EXPECT_FILE_BYTES(listPath, "\r\n"s);
}

TEST(ImageListFile, SearchOfSeveralLevelsIsWrittenWholeAndReadBack)
{
    Sandbox tree;
    tree.fill({"top.jpg", "notes.txt", "A 空格/mid.jpg", "A 空格/B&C/low.jpg", "A 空格/B&C/#d/deep.jpg"});
    Sandbox program;
    program.fill({"temp/opendir.tmp"}, "old content that must go away, longer than the new one");
    const std::string listPath = program.folder() + "temp/opendir.tmp";
    const SearchRun run = searchFrom(tree.folder());
    ASSERT_TRUE(writeImageListFile(listPath, run.text));

    std::string expected;
    std::vector<std::string> lines;
    for (const std::string& relative : listingOrderJpgs(tree.root())) {
        expected += tree.folder() + relative + "\r\n";
        lines.push_back(tree.folder() + relative);
    }
    expected += "\r\n";
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_FILE_BYTES(listPath, expected);

    lines.push_back("");
    EXPECT_EQ(readAllLines(listPath), lines);
}

TEST(ImageListFile, WriteFailsWhenTheFolderIsMissing)
{
    Sandbox program;
    EXPECT_FALSE(writeImageListFile(program.folder() + "temp/opendir.tmp", "a\r\n"));
}

struct ReadCase {
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;
};

// A failing row prints as its label and the start of its bytes, escaped.
void PrintTo(const ReadCase& row, std::ostream* out)
{
    *out << row.label << " " << ::testing::PrintToString(row.bytes.substr(0, 60));
}

class ImageListReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ImageListReading, ReturnsEveryLineEmptyOnesIncluded)
{
    Sandbox box;
    const std::string path = box.write("list.tmp", GetParam().bytes).string();
    EXPECT_EQ(readAllLines(path), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImageListReading,
    ::testing::Values(ReadCase{"Empty", ""s, {}}, ReadCase{"LoneCrLf", "\r\n"s, {""}},
                      ReadCase{"Written", "/a.jpg\r\n/b c.gif\r\n\r\n"s, {"/a.jpg", "/b c.gif", ""}},
                      ReadCase{"BlankLinesBetween", "x\r\n\r\n\r\ny\r\n"s, {"x", "", "", "y"}},
                      ReadCase{"BareLf", "a\nb"s, {"a", "b"}},
                      ReadCase{"NoFinalBreak", "/a.jpg"s, {"/a.jpg"}},
                      ReadCase{"CrKeptInsideLine", "a\rb\r\n"s, {"a\rb"}},
                      ReadCase{"LastLineKeepsItsCr", "a\r\nb\r"s, {"a", "b\r"}},
                      ReadCase{"CrLfAcrossAReadPiece", std::string(65535, 'x') + "\r\ny"s,
                               {std::string(65535, 'x'), "y"}},
                      ReadCase{"NulInsideLine", "a\0b\r\n"s, {"a\0b"s}},
                      ReadCase{"NativeBytes", "/图片/照片.jpg\r\n"s, {"/图片/照片.jpg"}},
                      ReadCase{"LongLine", std::string(100000, 'x') + "\r\n", {std::string(100000, 'x')}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ImageListReaderState, MissingFileAndClosedReaderGiveNoLines)
{
    Sandbox box;
    ImageListReader missing(box.folder() + "none.tmp");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.nextLine().has_value());

    ImageListReader reader(box.write("list.tmp", "a\r\nb\r\n").string());
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.nextLine(), std::optional<std::string>("a"));
    reader.close();
    EXPECT_FALSE(reader.isOpen());
    EXPECT_FALSE(reader.nextLine().has_value());
    reader.close();
}

// The list file is opened without blocking and read only when it is a regular file: a FIFO
// would block the open (or a read) for good, and a device may never end.
TEST(ImageListReaderState, OnlyARegularFileIsOpenedAndNothingBlocks)
{
    Sandbox box;
    const UnwrittenFifo fifo(box.root() / "fifo.tmp");
    ASSERT_TRUE(fifo.made());
    std::filesystem::create_directory(box.root() / "folder.tmp");
    for (const std::string& path : {box.folder() + "fifo.tmp", box.folder() + "folder.tmp", "/dev/zero"s}) {
        const auto started = std::chrono::steady_clock::now();
        ImageListReader reader(path);
        EXPECT_FALSE(reader.isOpen()) << path;
        EXPECT_FALSE(reader.nextLine().has_value()) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << path;
    }
    EXPECT_FALSE(fifo.releasedABlockedReader());
}

TEST(ImageListReaderState, AReadErrorEndsTheLinesAndIsReported)
{
    Sandbox box;
    ImageListReader good(box.write("list.tmp", "a\r\n").string());
    while (good.nextLine()) {
    }
    EXPECT_TRUE(good.ok());

    // A folder opened as a file fails its first read.
    ImageListReader folder{FileDescriptor(::open(box.folder().c_str(), O_RDONLY | O_CLOEXEC))};
    ASSERT_TRUE(folder.isOpen());
    EXPECT_FALSE(folder.nextLine().has_value());
    EXPECT_FALSE(folder.ok());
}

TEST(ImageListReaderState, ReadsAnOpenPipeAsItIs)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    FileDescriptor writeEnd(ends[1]);
    ImageListReader reader{FileDescriptor(ends[0])};
    ASSERT_TRUE(writeEnd.writeAll("/a.jpg\n/b.gif\r\n\r\n"));
    ASSERT_TRUE(writeEnd.close());
    std::vector<std::string> lines;
    while (auto line = reader.nextLine())
        lines.push_back(*line);
    EXPECT_EQ(lines, (std::vector<std::string>{"/a.jpg", "/b.gif", ""}));
    EXPECT_TRUE(reader.ok());
}

}  // namespace
}  // namespace pictarre::test
