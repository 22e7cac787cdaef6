#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "collect/folderlist.h"
#include "collect/paths.h"
#include "support/sandbox.h"

namespace pictarre::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct PatternCase {
    const char* name;
    bool matches;
};

void PrintTo(const PatternCase& c, std::ostream* out)
{
    *out << ::testing::PrintToString(std::string(c.name)) << (c.matches ? " matches" : " does not match");
}

class ListPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(ListPattern, MatchesBmpJpgGifIgnoringCase)
{
    EXPECT_EQ(matchesListPattern(GetParam().name), GetParam().matches) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ListPattern,
    ::testing::Values(PatternCase{"a.jpg", true}, PatternCase{"A.JPG", true}, PatternCase{"xjpg", true},
                      PatternCase{"jpg", true}, PatternCase{"a.bmp", true}, PatternCase{"a.BmP", true},
                      PatternCase{"bmp", false}, PatternCase{"abmp", false}, PatternCase{"a.Gif", true},
                      PatternCase{"gif", false}, PatternCase{"a.jpeg", false}, PatternCase{"a.jpg.txt", false},
                      PatternCase{"a.png", false}, PatternCase{"a.jpg,gif", false},
                      PatternCase{"a.gif,jpg", true}, PatternCase{"", false}));

// A folder listing the box shows: the whole list compared, order included.
TEST(FolderListing, ShowsMatchingRegularFilesSortedAsTheListBoxDoes)
{
    Sandbox box;
    box.fill({"b.jpg", "a.jpg", "A.JPG", "C.gif", "xjpg", "Z.bmp", "_u.gif", "中.gif", "a b#&.jpg",
              "photo.png", ".hidden.jpg", "a.jpeg", "sub.jpg/", "sub.jpg/inner.jpg", "bad\nname.jpg",
              "target.txt"});
    fs::create_symlink("target.txt", box.root() / "linked.gif");
    fs::create_symlink("gone.txt", box.root() / "dangling.jpg");
    fs::create_symlink("sub.jpg", box.root() / "folderlink.jpg");

    const Names expected{"_u.gif", "a b#&.jpg", "A.JPG", "a.jpg", "b.jpg", "C.gif",
                         "linked.gif", "xjpg", "Z.bmp", "中.gif"};
    EXPECT_EQ(listFolderPictures(box.folder()), expected);
    EXPECT_EQ(listFolderPictures(box.root().string()), expected) << "folder without trailing separator";
}

TEST(FolderListing, RootLikeFolderJoinsWithOneSeparator)
{
    Sandbox box;
    box.fill({"x.jpg"});
    const std::string folder = box.root().string();
    const Names names = listFolderPictures(folder);
    ASSERT_EQ(names, Names{"x.jpg"});
    EXPECT_TRUE(fs::is_regular_file(joinPath(folder, names[0])));
    EXPECT_TRUE(fs::is_regular_file(joinPath(box.folder(), names[0])));
    EXPECT_EQ(joinPath("/", names[0]), "/x.jpg");

    for (const std::string& name : listFolderPictures("/")) {
        EXPECT_TRUE(matchesListPattern(name)) << name;
        EXPECT_TRUE(fs::is_regular_file(joinPath("/", name))) << name;
    }
}

TEST(FolderListing, MissingOrUnlistableFolders)
{
    Sandbox box;
    box.fill({"file.jpg", "empty/"});
    EXPECT_TRUE(canListFolder(box.folder()));
    EXPECT_TRUE(canListFolder(box.folder() + "empty"));
    EXPECT_TRUE(canListFolder("/"));
    EXPECT_FALSE(canListFolder(box.folder() + "missing"));
    EXPECT_FALSE(canListFolder(box.folder() + "file.jpg"));
    EXPECT_TRUE(listFolderPictures(box.folder() + "missing").empty());
    EXPECT_TRUE(listFolderPictures(box.folder() + "file.jpg").empty());
    EXPECT_TRUE(listFolderPictures(box.folder() + "empty").empty());
}

}  // namespace
}  // namespace pictarre::test
