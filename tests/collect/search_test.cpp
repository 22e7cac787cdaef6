#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "collect/search.h"
#include "support/sandbox.h"
#include "support/unprivileged.h"
#include "treehelpers.h"

namespace pictarre::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines sorted(Lines lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// ---- the picture and folder rules, one tree per row ----

struct RuleCase {
    const char* label;
    std::vector<std::string> tree;
    Lines pictures;  // relative to the searched folder, any order
};

// A failing row prints as its label and its tree.
void PrintTo(const RuleCase& row, std::ostream* out)
{
    *out << row.label << " {";
    for (const std::string& entry : row.tree)
        *out << " \"" << entry << "\"";
    *out << " }";
}

class SearchRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(SearchRules, CollectsExactlyThePicturesOfTheTree)
{
    const RuleCase& row = GetParam();
    Sandbox box;
    box.fill(row.tree);
    const SearchRun run = searchFrom(box.folder());

    EXPECT_TRUE(run.finished);
    EXPECT_EQ(sorted(relativeLines(run.text, box.folder())), sorted(row.pictures));
    EXPECT_EQ(run.count, static_cast<std::int32_t>(row.pictures.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SearchRules,
    ::testing::Values(
        RuleCase{"TwoLevels", {"a.jpg", "c.txt", "Sub/b.GIF"}, {"a.jpg", "Sub/b.GIF"}},
        RuleCase{"LetterCase",
                 {"PHOTO.JPG", "photo.jpeg", "x.Gif", "y.bMp", "z.png", "t.tif", "u.jfif"},
                 {"PHOTO.JPG", "x.Gif", "y.bMp"}},
        RuleCase{"DotFoldersSkippedDotFilesKept",
                 {".cache/in.jpg", ".hidden/deeper/p.bmp", ".x.jpg", "d.jpg/inner.gif", "v/.y.GIF"},
                 {".x.jpg", "d.jpg/inner.gif", "v/.y.GIF"}},
        RuleCase{"CommaExtensionRule",
                 {"a.jpg,gif", "b.bmp,jpg,gif", "c.jpg,bmp", "bmp", "jpg", "noext", "e.", "f.jpg,",
                  "dot.dir/noext", "dot.dir/gif"},
                 {"a.jpg,gif", "b.bmp,jpg,gif"}},
        RuleCase{"UnusualNames",
                 {"with space/a b.jpg", "中文/图片.jpg", "amp&/x&y.gif", "hash#/#1.bmp", "it's/q.jpg",
                  "pct%20/100%.gif", "a&amp;b.jpg"},
                 {"with space/a b.jpg", "中文/图片.jpg", "amp&/x&y.gif", "hash#/#1.bmp", "it's/q.jpg",
                  "pct%20/100%.gif", "a&amp;b.jpg"}},
        RuleCase{"NothingToFind", {"a/", "a/b/", "c/", "readme.txt"}, {}},
        RuleCase{"EmptyFolder", {}, {}},
        RuleCase{"DeepBranches",
                 {"a/b/c/d/e/f.jpg", "a/b/c/g.gif", "a/h.bmp", "i/j/k.JPG", "i/j/l.txt"},
                 {"a/b/c/d/e/f.jpg", "a/b/c/g.gif", "a/h.bmp", "i/j/k.JPG"}},
        RuleCase{"LineBreaksLeftOut",
                 {"ok.jpg", "bad\nname.jpg", "bad\rname.gif", "dir\nx/in.jpg", "dir\ry/in.bmp",
                  "good/fine.bmp"},
                 {"ok.jpg", "good/fine.bmp"}}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- order, trailing separator, accumulation ----

TEST(SearchOrder, FollowsTheListingDepthFirst)
{
    Sandbox box;
    box.fill({"1.jpg", "2.jpg", "3.jpg", "a/4.jpg", "a/5.jpg", "a/b/6.jpg", "a/b/7.jpg", "a/c/8.jpg",
              "d/9.jpg", "d/e/f/10.jpg", "d/11.jpg", "g/", "h/12.jpg", "13.jpg"});
    const SearchRun run = searchFrom(box.folder());
    EXPECT_EQ(relativeLines(run.text, box.folder()), listingOrderJpgs(box.root()));
}

TEST(SearchFolderArgument, GainsTrailingSeparatorAndSearchesTheSameTree)
{
    Sandbox box;
    box.fill({"a.jpg", "s/b.gif"});
    const std::string bare = box.root().string();

    const SearchRun withSeparator = searchFrom(bare + "/");
    const SearchRun without = searchFrom(bare);

    EXPECT_EQ(without.folderAfter, bare + "/");
    EXPECT_EQ(withSeparator.folderAfter, bare + "/");
    EXPECT_EQ(without.text, withSeparator.text);
    EXPECT_EQ(without.count, 2);
}

TEST(SearchFolderArgument, MissingFolderOrFileAddsNothing)
{
    Sandbox box;
    box.fill({"file.jpg"});
    for (const std::string& folder : {box.folder() + "missing", box.folder() + "file.jpg"}) {
        const SearchRun run = searchFrom(folder);
        EXPECT_TRUE(run.finished) << folder;
        EXPECT_EQ(run.count, 0) << folder;
        EXPECT_EQ(run.text, "") << folder;
    }
}

TEST(SearchAccumulation, SecondSearchAppendsToTheFirst)
{
    Sandbox one;
    Sandbox two;
    one.fill({"a.jpg"});
    two.fill({"b.gif", "c.bmp"});
    std::int32_t count = 5;
    std::string text = "keep\r\n";
    std::string folder = one.folder();
    SearchPictures(folder, count, text);
    folder = two.folder();
    SearchPictures(folder, count, text);

    EXPECT_EQ(count, 8);
    const Lines lines = listLines(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "keep");
    EXPECT_EQ(lines[1], one.folder() + "a.jpg");
    EXPECT_EQ(sorted({lines[2], lines[3]}), sorted({two.folder() + "b.gif", two.folder() + "c.bmp"}));
}

TEST(SearchAccumulation, CountSaturatesInsteadOfWrapping)
{
    Sandbox box;
    box.fill({"a.jpg", "b.jpg", "c.jpg"});
    std::int32_t count = INT32_MAX - 1;
    std::string text;
    std::string folder = box.folder();
    SearchPictures(folder, count, text);
    EXPECT_EQ(count, INT32_MAX);
    EXPECT_EQ(listLines(text).size(), 3u);
}

// ---- the yield callback ----

// Entries per walked folder as readdir gives them: the listed names plus "." and "..".
int yieldsExpectedFor(const fs::path& folder)
{
    int entries = 2;
    int below = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        ++entries;
        if (entry.is_directory() && entry.path().filename().string().front() != '.')
            below += yieldsExpectedFor(entry.path());
    }
    return entries - 1 + below;
}

TEST(SearchYield, CalledOnceForEveryEntryButEachFoldersFirst)
{
    Sandbox box;
    box.fill({"a.jpg", "b.txt", "s/c.gif", "s/t/", "s/t/d.bmp", ".skip/e.jpg", ".skip/f.jpg", "u/"});
    int calls = 0;
    const SearchRun run = searchFrom(box.folder(), [&] { return ++calls, true; });
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(calls, yieldsExpectedFor(box.root()));
}

TEST(SearchYield, FalseStopsAtOnceAndClosesEveryFolder)
{
    Sandbox box;
    std::vector<std::string> tree;
    for (int i = 0; i < 20; ++i)
        tree.push_back("a/b/c/d" + std::to_string(i) + "/p.jpg");
    box.fill(tree);
    // Deeper than the levels the walk keeps open, so both kinds of level are unwound.
    ASSERT_TRUE(makeDeepChain(box.root(), "z", 150, {10, 100, 149}));

    const int descriptorsBefore = openDescriptorCount();
    for (const int stopAt : {1, 3, 40, 120}) {
        int calls = 0;
        const SearchRun run = searchFrom(box.folder(), [&] { return ++calls < stopAt; });
        EXPECT_FALSE(run.finished) << stopAt;
        EXPECT_EQ(calls, stopAt) << "yield called again after it said stop";
        EXPECT_LT(run.count, 23) << "the walk ran to its end";
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "folder left open, stop at " << stopAt;
    }
    removeDeepChain(box.root(), "z");
}

// ---- hostile trees ----

class SearchLinks : public ::testing::Test {
protected:
    // start/ is searched; its parent holds things outside the searched tree.
    void SetUp() override
    {
        box.fill({"start/real/p.jpg", "start/top.gif", "outside.jpg", "ext/e.jpg", "ext/note.txt",
                  "ext2/h.jpg"});
        start = box.root() / "start";
    }
    void link(const std::string& target, const std::string& name)
    {
        fs::create_symlink(target, start / name);
    }
    Lines search() { return sorted(relativeLines(searchFrom(start.string()).text, start.string() + "/")); }

    Sandbox box;
    fs::path start;
};

TEST_F(SearchLinks, LoopsAncestorsAndRootEndAndAddNothing)
{
    link(".", "self");
    link("..", "parent");
    link("/", "slash");
    link("../start", "again");
    fs::create_symlink("../..", start / "real" / "up");
    fs::create_symlink("../loop2", box.root() / "ext" / "loop1");
    fs::create_symlink("../ext", box.root() / "loop2");
    link("../ext", "ext");

    EXPECT_EQ(search(), sorted({"real/p.jpg", "top.gif", "ext/e.jpg"}));
}

TEST_F(SearchLinks, FolderReachedTwiceIsWalkedOnce)
{
    link("real", "alias");
    const Lines lines = search();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "top.gif");
    EXPECT_TRUE(lines[0] == "real/p.jpg" || lines[0] == "alias/p.jpg") << lines[0];
}

TEST_F(SearchLinks, LinkedFilesCountByTheirOwnNameDanglingOnesAreSkipped)
{
    link("../ext/e.jpg", "shortcut.jpg");
    link("../ext/note.txt", "renamed.gif");
    link("../ext/e.jpg", "shortcut.txt");
    link("../ext/gone.jpg", "dangling.jpg");
    link("../ext", "folder.jpg");
    link("../ext2", ".dotlink");
    ASSERT_EQ(::mkfifo((start / "pipe.jpg").c_str(), 0644), 0);

    EXPECT_EQ(search(), sorted({"real/p.jpg", "top.gif", "shortcut.jpg", "renamed.gif", "folder.jpg/e.jpg"}));
}

TEST(SearchHostile, TenThousandLevelsDeepDoNotOverflow)
{
    Sandbox box;
    box.fill({"top.jpg"});
    // "d/" per level: depth 1500 is still well inside PATH_MAX, 5000 and 9999 are far beyond it.
    ASSERT_TRUE(makeDeepChain(box.root(), "d", 10000, {1, 500, 1500, 5000, 9999}));

    const SearchRun run = searchFrom(box.folder());
    removeDeepChain(box.root(), "d");

    auto chain = [](int depth) {
        std::string path;
        for (int i = 0; i < depth; ++i)
            path += "d/";
        return path + "p.jpg";
    };
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(sorted(relativeLines(run.text, box.folder())),
              sorted({"top.jpg", chain(1), chain(500), chain(1500)}));
}

TEST(SearchHostile, UnreadableFolderIsSkippedSiblingsSearched)
{
    Sandbox box;
    box.fill({"a.jpg", "locked/secret.jpg", "open/b.gif"});
    // Root reads folders whatever their mode: the search runs as an ordinary user.
    fs::permissions(box.root(), fs::perms(0755));
    fs::permissions(box.root() / "locked", fs::perms::none);
    const UnprivilegedRun run = runUnprivileged([&] {
        const SearchRun search = searchFrom(box.folder());
        return search.finished ? search.text : search.text + "<stopped>";
    });
    fs::permissions(box.root() / "locked", fs::perms::owner_all);
    if (!run.skipped.empty())
        GTEST_SKIP() << run.skipped;
    EXPECT_EQ(sorted(relativeLines(run.output, box.folder())), sorted({"a.jpg", "open/b.gif"}));
}

TEST(SearchHostile, FolderVanishingMidWalkIsSkippedRestSearched)
{
    Sandbox box;
    box.fill({"a.jpg", "b/c.gif", "victim/v1.jpg", "victim/v2.jpg", "victim/inner/v3.bmp", "z/d.bmp"});
    bool removed = false;
    bool walkedBeforeRemoval = false;
    std::int32_t count = 0;
    std::string list;
    std::string folder = box.folder();
    const bool finished = SearchPictures(folder, count, list, [&] {
        if (!removed) {
            walkedBeforeRemoval = list.find("/victim/") != std::string::npos;
            fs::remove_all(box.root() / "victim");
            removed = true;
        }
        return true;
    });

    ASSERT_TRUE(removed);
    EXPECT_TRUE(finished);
    Lines expected{"a.jpg", "b/c.gif", "z/d.bmp"};
    if (walkedBeforeRemoval)
        expected.insert(expected.end(), {"victim/v1.jpg", "victim/v2.jpg", "victim/inner/v3.bmp"});
    EXPECT_EQ(sorted(relativeLines(list, box.folder())), sorted(expected));
    EXPECT_EQ(count, static_cast<std::int32_t>(expected.size()));
}

}  // namespace
}  // namespace pictarre::test
