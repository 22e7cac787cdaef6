#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "collect/listfile.h"
#include "collect/search.h"
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

}  // namespace
}  // namespace pictarre::test
