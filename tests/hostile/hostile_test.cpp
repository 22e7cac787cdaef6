// The search, the list file and both page layouts on folder trees built to break them: link
// loops, dangling links, very deep and very wide trees, names that mean something to HTML or
// URLs, and pictures whose headers lie. Each case runs the whole core pipeline and checks that
// every listable picture is listed once, that every page is well formed, and that no file is
// left open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <condition_variable>
#include <mutex>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "collect/folderlist.h"
#include "collect/listfile.h"
#include "collect/search.h"
#include "gallery/makefile.h"
#include "gallery/pictureservice.h"
#include "hostile/hostiletree.h"
#include "support/fifo.h"
#include "support/picturefiles.h"
#include "support/processcost.h"
#include "support/sandbox.h"
#include "support/unprivileged.h"

namespace fs = std::filesystem;
using namespace pictarre;
using namespace pictarre::test;

namespace {

// Trees of 100,000 entries are built in seconds in memory and in a minute on a busy journalled
// disk: unless the caller chose a temporary folder, the sandboxes go to the shared-memory one.
const bool kTreesInMemory = [] {
    if (std::getenv("TMPDIR") == nullptr && ::access("/dev/shm", W_OK | X_OK) == 0)
        return ::setenv("TMPDIR", "/dev/shm", 0) == 0;
    return false;
}();

// A browser 12000 twips wide leaves 776 pixels for a picture.
constexpr float kWebWidthTwips = 12000.0f;
constexpr std::int32_t kAvailable = 776;

struct HostileCase {
    std::string name;
    // Builds the tree below the root; `outside` is a folder beside the tree for link targets.
    std::function<void(Sandbox& tree, const fs::path& outside)> build;
    // The pictures the search must list, relative to the root, each once. Computed from the
    // tree built rather than from the search's rules where the tree is too large to spell out.
    std::function<std::vector<std::string>(const Sandbox& tree)> expected;
    // Sizes the row layout must write for some of them.
    std::map<std::string, std::pair<std::int32_t, std::int32_t>> sizes;
    // Clean-up the sandbox cannot do itself (paths too long for it).
    std::function<void(Sandbox& tree)> cleanUp;
};

// Test names and failure messages show a case by its name rather than its bytes.
void PrintTo(const HostileCase& c, std::ostream* out)
{
    *out << c.name;
}

std::function<std::vector<std::string>(const Sandbox&)> listed(std::vector<std::string> names)
{
    return [names](const Sandbox&) { return names; };
}

void link(const Sandbox& tree, const std::string& relative, const fs::path& target)
{
    fs::create_directories((tree.root() / relative).parent_path());
    fs::create_symlink(target, tree.root() / relative);
}

std::string cut(const std::string& bytes, std::size_t length)
{
    return bytes.substr(0, std::min(length, bytes.size()));
}

std::string jpegWithAppSegments(int count)
{
    JpegOptions options;
    const std::string plain = makeJpeg(options);
    std::string out = plain.substr(0, 2);
    for (int i = 0; i < count; ++i)
        out += std::string("\xFF\xE2\x00\x04\x00\x00", 6);
    return out + plain.substr(2);
}

void putLe(std::string& bytes, std::size_t at, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A small complete BMP whose header claims another size: the pixels it would need are not there.
std::string bmpClaiming(BmpForm form, std::int32_t width, std::int32_t height)
{
    std::string bytes = makeBmp(form, 1, 1);
    const int field = form == BmpForm::Core12 ? 2 : 4;
    putLe(bytes, 18, static_cast<std::uint32_t>(width), field);
    putLe(bytes, 18 + static_cast<std::size_t>(field), static_cast<std::uint32_t>(height), field);
    return bytes;
}

// A JPEG whose frame header claims `width` × `height`, cut to `size` bytes.
std::string jpegClaiming(std::uint16_t width, std::uint16_t height, std::size_t size)
{
    std::string bytes = makeJpeg({});
    const std::size_t frame = bytes.find("\xFF\xC0");
    bytes.replace(frame + 5, 4, {char(height >> 8), char(height), char(width >> 8), char(width)});
    bytes.resize(size, '\0');
    return bytes;
}

// A one-pixel GIF on a logical screen of the given size.
std::string gifClaiming(std::uint16_t width, std::uint16_t height)
{
    GifOptions options;
    options.frameWidth = options.frameHeight = 1;
    std::string bytes = makeGif(options);
    putLe(bytes, 6, width, 2);
    putLe(bytes, 8, height, 2);
    return bytes;
}

std::string gif(std::uint16_t width, std::uint16_t height)
{
    GifOptions options;
    options.screenWidth = options.frameWidth = width;
    options.screenHeight = options.frameHeight = height;
    return makeGif(options);
}

// Every file name the tests use that the search must take, with bytes that matter to HTML,
// URLs, the shell or the list file's encoding.
const std::vector<std::string> kAwkwardNames = {
    "quote\".jpg", "less<.gif", "greater>.bmp", "hash#1.jpg", "ask?x=1.gif", "pct%41.bmp", "back\\slash.jpg",
    "bad\xff\xfe utf8.gif", "amp&amp;.jpg", "copy&copy.bmp", "&#38;.gif", "a&b c.jpg", "<b>&lt;\"'.jpg",
};

const HostileCase kCases[] = {
    {"LinkLoopsAndLinksToAncestors",
     [](Sandbox& tree, const fs::path&) {
         tree.write("a.jpg", makeBmp(BmpForm::Info40, 3, 2));
         tree.write("sub/b.gif", gif(4, 4));
         tree.write("sub/deeper/c.bmp", makeBmp(BmpForm::Info40, 5, 5));
         link(tree, "sub/deeper/back", "..");
         link(tree, "sub/deeper/top", "../..");
         link(tree, "sub/self", ".");
         link(tree, "toTmp", tree.root().parent_path());
         link(tree, "toRoot", "/");
         link(tree, "ring1.jpg", "ring2.jpg");
         link(tree, "ring2.jpg", "ring1.jpg");
     },
     listed({"a.jpg", "sub/b.gif", "sub/deeper/c.bmp"}),
     {{"a.jpg", {3, 2}}, {"sub/b.gif", {4, 4}}, {"sub/deeper/c.bmp", {5, 5}}},
     {}},
    {"DanglingLinksAndLinksOutOfTheTree",
     [](Sandbox& tree, const fs::path& outside) {
         fs::create_directories(outside / "pics");
         std::ofstream(outside / "pics/out.jpg", std::ios::binary) << makeBmp(BmpForm::Info40, 7, 3);
         std::ofstream(outside / "pics/other.gif", std::ios::binary) << gif(2, 9);
         tree.write("in.bmp", makeBmp(BmpForm::Info40, 6, 1));
         link(tree, "dead.jpg", "nowhere.jpg");
         link(tree, "deadDir", "missing/");
         link(tree, "out.jpg", outside / "pics/out.jpg");
         link(tree, "twice.bmp", "in.bmp");
         link(tree, "outsideDir", outside / "pics");
     },
     listed({"in.bmp", "out.jpg", "twice.bmp", "outsideDir/out.jpg", "outsideDir/other.gif"}),
     {{"out.jpg", {7, 3}}, {"twice.bmp", {6, 1}}, {"outsideDir/other.gif", {2, 9}}},
     {}},
    {"TenThousandLevelsDeep",
     [](Sandbox& tree, const fs::path&) {
         ASSERT_TRUE(makeDeepChain(tree.root(), "d", 10000, {1, 10, 100, 1000, 2000, 2030, 2040, 5000, 9999}));
     },
     [](const Sandbox& tree) {
         // A picture is listable while its path can be opened by name, shorter than PATH_MAX.
         std::vector<std::string> names;
         for (const int depth : {1, 10, 100, 1000, 2000, 2030, 2040, 5000, 9999}) {
             std::string relative;
             for (int i = 0; i < depth; ++i)
                 relative += "d/";
             relative += "p.jpg";
             if (tree.folder().size() + relative.size() < PATH_MAX)
                 names.push_back(relative);
         }
         return names;
     },
     {},
     [](Sandbox& tree) { removeDeepChain(tree.root(), "d"); }},
    {"HundredThousandEntriesInOneFolder",
     [](Sandbox& tree, const fs::path&) {
         fs::create_directories(tree.root() / "wide");
         makeManyFiles(tree.root() / "wide", 100000, [](int i) {
             return i % 200 == 0 ? "p" + std::to_string(i) + (i % 400 == 0 ? ".JPG" : ".gif") : "f" + std::to_string(i) + ".txt";
         });
     },
     [](const Sandbox&) {
         std::vector<std::string> names;
         for (int i = 0; i < 100000; i += 200)
             names.push_back("wide/p" + std::to_string(i) + (i % 400 == 0 ? ".JPG" : ".gif"));
         return names;
     },
     {},
     {}},
    {"NamesThatMeanSomethingToPagesAndLists",
     [](Sandbox& tree, const fs::path&) {
         for (const std::string& name : kAwkwardNames)
             tree.write(name, makeBmp(BmpForm::Info40, 2, 2));
         tree.write("line\nbreak.jpg", makeBmp(BmpForm::Info40, 2, 2));
         tree.write("carriage\rreturn.gif", makeBmp(BmpForm::Info40, 2, 2));
         tree.write(".leading dot.jpg", makeBmp(BmpForm::Info40, 2, 2));
         tree.write("trailing space.jpg ", makeBmp(BmpForm::Info40, 2, 2));
         tree.write("new\nline/inside.jpg", makeBmp(BmpForm::Info40, 2, 2));
         tree.write("sp ace/q\"uote/in.gif", makeBmp(BmpForm::Info40, 2, 2));
     },
     [](const Sandbox&) {
         // Names with a line break (and everything below them) cannot be list lines; a
         // trailing space makes the extension "jpg "; a leading dot only hides the file.
         std::vector<std::string> names = kAwkwardNames;
         names.push_back(".leading dot.jpg");
         names.push_back("sp ace/q\"uote/in.gif");
         return names;
     },
     {{"quote\".jpg", {2, 2}}, {"bad\xff\xfe utf8.gif", {2, 2}}},
     {}},
    {"PicturesWithLyingOrCutHeaders",
     [](Sandbox& tree, const fs::path&) {
         JpegOptions jpeg;
         tree.write("empty.jpg", "");
         tree.write("empty.gif", "");
         tree.write("empty.bmp", "");
         for (const std::size_t length : {1, 2, 14, 20, 25}) {
             tree.write("cut" + std::to_string(length) + ".bmp", cut(makeBmp(BmpForm::Info40, 9, 9), length));
             tree.write("cut" + std::to_string(length) + ".gif", cut(gif(9, 9), length));
             tree.write("cut" + std::to_string(length) + ".jpg", cut(makeJpeg(jpeg), length));
         }
         tree.write("zero.bmp", bmpClaiming(BmpForm::Info40, 0, 0));
         tree.write("zero.gif", gifClaiming(0, 0));
         tree.write("one.bmp", makeBmp(BmpForm::Info40, 1, 1));
         tree.write("one.gif", gif(1, 1));
         tree.write("maxsigned.bmp", bmpClaiming(BmpForm::Info40, INT32_MAX, INT32_MAX));
         tree.write("tall.bmp", bmpClaiming(BmpForm::Info40, 1, INT32_MAX));
         tree.write("topdown.bmp", bmpClaiming(BmpForm::Info40, 2, INT32_MIN + 1));
         tree.write("minheight.bmp", bmpClaiming(BmpForm::Info40, 2, INT32_MIN));
         tree.write("negwidth.bmp", bmpClaiming(BmpForm::Info40, -5, 4));
         tree.write("core.bmp", bmpClaiming(BmpForm::Core12, 65535, 65535));
         tree.write("huge.gif", gifClaiming(65535, 65535));
         tree.write("apps.jpg", jpegWithAppSegments(10000));
         std::string claims = bmpClaiming(BmpForm::Info40, 40000, 262144);
         claims.resize(1082, '\0');
         tree.write("claims.bmp", claims);
         tree.write("claims.jpg", jpegClaiming(65500, 65500, 633));
         JpegOptions vga;
         vga.width = 640;
         vga.height = 480;
         fs::resize_file(tree.write("sparse.jpg", makeJpeg(vga)), std::uintmax_t{1} << 30);
     },
     [](const Sandbox&) {
         std::vector<std::string> names = {"empty.jpg", "empty.gif", "empty.bmp", "zero.bmp", "zero.gif",
                                           "one.bmp", "one.gif", "maxsigned.bmp", "tall.bmp", "topdown.bmp",
                                           "minheight.bmp", "negwidth.bmp", "core.bmp", "huge.gif", "apps.jpg",
                                           "claims.bmp", "claims.jpg", "sparse.jpg"};
         for (const std::size_t length : {1, 2, 14, 20, 25})
             for (const char* ext : {".bmp", ".gif", ".jpg"})
                 names.push_back("cut" + std::to_string(length) + ext);
         return names;
     },
     {{"one.bmp", {1, 1}}, {"one.gif", {1, 1}}, {"maxsigned.bmp", {kAvailable, kAvailable}},
      {"tall.bmp", {1, INT32_MAX}}, {"topdown.bmp", {2, INT32_MAX}}, {"core.bmp", {kAvailable, kAvailable}}, {"huge.gif", {kAvailable, kAvailable}},
      {"apps.jpg", {16, 8}}},
     {}},
};

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> pathsOf(const ParsedPage& page)
{
    std::vector<std::string> paths;
    for (const PageEntry& entry : page.entries)
        paths.push_back(entry.path);
    return paths;
}

class HostileTree : public ::testing::TestWithParam<HostileCase> {
protected:
    void TearDown() override
    {
        if (GetParam().cleanUp)
            GetParam().cleanUp(tree_);
    }

    Sandbox tree_;
    Sandbox outside_;
    Sandbox work_;
};

TEST_P(HostileTree, EveryPictureListedOnceAndEveryPageWellFormed)
{
    const HostileCase& c = GetParam();
    RecordProperty("trees_in_memory", kTreesInMemory ? "yes" : "no");
    c.build(tree_, outside_.root());
    std::vector<std::string> expected;
    for (const std::string& relative : c.expected(tree_))
        expected.push_back(tree_.folder() + relative);
    const int descriptorsBefore = openDescriptorCount();
    const auto started = std::chrono::steady_clock::now();

    // The search and its list file.
    std::string folder = tree_.folder();
    std::int32_t count = 0;
    std::string found;
    std::size_t yields = 0;
    ASSERT_TRUE(SearchPictures(folder, count, found, [&] { return ++yields > 0; }));
    const std::vector<std::string> foundLines = crlfLines(found);
    EXPECT_EQ(sorted(foundLines), sorted(expected));
    EXPECT_EQ(count, static_cast<std::int32_t>(foundLines.size()));
    const std::string listFile = (work_.root() / "opendir.tmp").string();
    ASSERT_TRUE(writeImageListFile(listFile, found));

    // The list source's rows: one per listed picture, in list order, with sizes that fit.
    SizeReader sizes(defaultSizeQueries([] { return kWebWidthTwips; }));
    const std::string page = (work_.root() / "picture.htm").string();
    std::string rowsText;
    ASSERT_EQ(makefile(page, ListSource{listFile, count}, sizes, rowsText, GalleryHooks{}), RunResult::Completed);
    EXPECT_EQ(rowsText, found);
    const ParsedPage rows = parsePage(readFileBytes(page), Layout::Rows);
    ASSERT_TRUE(rows.wellFormed) << rows.problem;
    EXPECT_EQ(pathsOf(rows), foundLines);
    for (const PageEntry& entry : rows.entries) {
        EXPECT_GE(entry.width, 0) << entry.path;
        EXPECT_LE(entry.width, kAvailable) << entry.path;
        EXPECT_GE(entry.height, 0) << entry.path;
        const auto want = c.sizes.find(entry.path.substr(tree_.folder().size()));
        if (want != c.sizes.end()) {
            EXPECT_EQ(entry.width, want->second.first) << entry.path;
            EXPECT_EQ(entry.height, want->second.second) << entry.path;
        }
    }

    // The folder source on the root, in both layouts: the visible pictures of the top folder.
    std::vector<std::string> topLevel;
    for (const std::string& path : expected) {
        const std::string name = path.substr(tree_.folder().size());
        if (name.find('/') == std::string::npos && name.front() != '.')
            topLevel.push_back(path);
    }
    std::string root = tree_.root().string();
    const FolderSource source{root, listFolderPictures(root)};
    for (const Layout layout : {Layout::Flow, Layout::Rows}) {
        GalleryHooks hooks;
        hooks.listLayout = [layout] { return layout == Layout::Rows; };
        std::string text;
        ASSERT_EQ(makefile(page, source, sizes, text, hooks), RunResult::Completed);
        const ParsedPage parsed = parsePage(readFileBytes(page), layout);
        ASSERT_TRUE(parsed.wellFormed) << parsed.problem;
        EXPECT_EQ(sorted(pathsOf(parsed)), sorted(topLevel));
    }

    // Every picture of a small tree served in a row's box and at its own size, as the gallery
    // asks: a bounded cost whatever the headers claim and however large the files.
    if (rows.entries.size() <= 100) {
        const std::uint64_t readBefore = bytesRead();
        const long peakBefore = peakKb();
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t answered = 0;
        PictureService service;
        for (const PageEntry& entry : rows.entries) {
            for (const auto& [width, height] : {std::pair{100, 75}, std::pair{entry.width, entry.height}})
                service.request(entry.path, std::uint32_t(std::max(width, 1)), std::uint32_t(std::max(height, 1)),
                                [&](PictureAnswer) {
                                    const std::lock_guard lock(mutex);
                                    ++answered;
                                    changed.notify_all();
                                });
        }
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return answered == 2 * rows.entries.size(); }));
        EXPECT_LT(bytesRead() - readBefore, std::uint64_t{64} << 20);
        EXPECT_LT(peakKb() - peakBefore, 256 << 10);
    }

    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(openDescriptorsUnder(tree_.root().string()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

INSTANTIATE_TEST_SUITE_P(Trees, HostileTree, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Found by fuzzing: a last line without LF that ends in CR keeps its CR, in the list reader and
// so in the page written from it.
TEST(HostileListFile, LastLineEndingInCrKeepsItsCrInTheReaderAndThePage)
{
    Sandbox work;
    const std::string listFile = work.write("opendir.tmp", std::string("\r\np\r", 4)).string();
    ImageListReader reader(listFile);
    std::vector<std::string> read;
    while (auto line = reader.nextLine())
        read.push_back(*line);
    ASSERT_EQ(read, (std::vector<std::string>{"", "p\r"}));

    SizeReader sizes{SizeQueries{}};
    std::string rowsText;
    ASSERT_EQ(makefile((work.root() / "picture.htm").string(), ListSource{listFile, 1}, sizes, rowsText, GalleryHooks{}),
              RunResult::Completed);
    EXPECT_EQ(rowsText, "p\r\r\n");
    const ParsedPage page = parsePage(readFileBytes(work.root() / "picture.htm"), Layout::Rows);
    ASSERT_TRUE(page.wellFormed) << page.problem;
    ASSERT_EQ(page.entries.size(), 1u);
    EXPECT_EQ(page.entries[0].path, "p\r");
}

// A list file that cannot be read as a file fails the run before the page is touched: the
// previous page stays whole. A device that never ends (/dev/zero, /dev/full read back) used to
// be read forever, and a missing list used to leave a page of its header alone.
struct UnreadableList {
    const char* name;
    std::function<void(const fs::path& listFile)> make;
};

void PrintTo(const UnreadableList& list, std::ostream* out)
{
    *out << list.name;
}

class HostileListSource : public ::testing::TestWithParam<UnreadableList> {};

TEST_P(HostileListSource, FailsAndLeavesThePreviousPage)
{
    Sandbox work;
    const fs::path listFile = work.root() / "opendir.tmp";
    GetParam().make(listFile);
    const std::string previous = "<body>the previous page</body>\r\n";
    const fs::path page = work.write("picture.htm", previous);
    const int descriptorsBefore = openDescriptorCount();
    SizeReader sizes{SizeQueries{}};
    std::string rowsText;
    EXPECT_EQ(makefile(page.string(), ListSource{listFile.string(), 3}, sizes, rowsText, GalleryHooks{}),
              RunResult::Failed);
    EXPECT_EQ(readFileBytes(page), previous);
    EXPECT_TRUE(rowsText.empty());
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

const UnreadableList kUnreadableLists[] = {
    {"Missing", [](const fs::path&) {}},
    {"AFolder", [](const fs::path& list) { fs::create_directories(list); }},
    {"EndlessDevice", [](const fs::path& list) { fs::create_symlink("/dev/zero", list); }},
    {"DiskFullDevice", [](const fs::path& list) { fs::create_symlink("/dev/full", list); }},
    {"DanglingLink", [](const fs::path& list) { fs::create_symlink("gone.tmp", list); }},
};

INSTANTIATE_TEST_SUITE_P(Lists, HostileListSource, ::testing::ValuesIn(kUnreadableLists),
                         [](const auto& info) { return std::string(info.param.name); });

// A FIFO where a listed picture was (replaced between the search and the page write), or a
// device named in the list: the page writer, the size reader and the image reader never block
// on it, and it gets the size of a picture that cannot be read, the values of the picture
// before it (the image control's 855 x 735 twips before any). The page is complete.
TEST(HostileSpecialFiles, AFifoOrADeviceWhereAPictureWasNeitherBlocksNorBreaksThePage)
{
    Sandbox tree;
    Sandbox work;
    const UnwrittenFifo fifo(tree.root() / "b.jpg");
    ASSERT_TRUE(fifo.made());
    tree.write("a.jpg", makeBmp(BmpForm::Info40, 3, 2));
    tree.write("c.gif", gif(4, 4));
    const std::string listFile = (work.root() / "opendir.tmp").string();
    const std::vector<std::string> listed = {tree.folder() + "b.jpg", tree.folder() + "a.jpg", "/dev/zero",
                                             tree.folder() + "c.gif"};
    std::string text;
    for (const std::string& path : listed)
        text += path + "\r\n";
    ASSERT_TRUE(writeImageListFile(listFile, text));
    const std::string page = (work.root() / "picture.htm").string();
    const auto started = std::chrono::steady_clock::now();

    SizeReader sizes(defaultSizeQueries([] { return kWebWidthTwips; }));
    std::string rowsText;
    ASSERT_EQ(makefile(page, ListSource{listFile, 4}, sizes, rowsText, GalleryHooks{}), RunResult::Completed);
    const ParsedPage rows = parsePage(readFileBytes(page), Layout::Rows);
    ASSERT_TRUE(rows.wellFormed) << rows.problem;
    ASSERT_EQ(pathsOf(rows), listed);
    const std::vector<std::pair<std::int32_t, std::int32_t>> expected = {{57, 49}, {3, 2}, {3, 2}, {4, 4}};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(std::pair(rows.entries[i].width, rows.entries[i].height), expected[i]) << listed[i];

    // The folder source, with the FIFO among the names the list box gave before it was replaced.
    GalleryHooks hooks;
    hooks.listLayout = [] { return true; };
    SizeReader folderSizes(defaultSizeQueries([] { return kWebWidthTwips; }));
    ASSERT_EQ(makefile(page, FolderSource{tree.root().string(), {"a.jpg", "b.jpg", "c.gif"}}, folderSizes, rowsText,
                       hooks),
              RunResult::Completed);
    const ParsedPage folderRows = parsePage(readFileBytes(page), Layout::Rows);
    ASSERT_TRUE(folderRows.wellFormed) << folderRows.problem;
    ASSERT_EQ(folderRows.entries.size(), 3u);
    EXPECT_EQ(std::pair(folderRows.entries[1].width, folderRows.entries[1].height), (std::pair{3, 2}));

    // A FIFO as the list file itself fails the run at once and leaves the page alone.
    const UnwrittenFifo fifoList(work.root() / "fifo.tmp");
    ASSERT_TRUE(fifoList.made());
    const std::string before = readFileBytes(page);
    EXPECT_EQ(makefile(page, ListSource{(work.root() / "fifo.tmp").string(), 1}, sizes, rowsText, GalleryHooks{}),
              RunResult::Failed);
    EXPECT_EQ(readFileBytes(page), before);

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(fifo.releasedABlockedReader());
    EXPECT_FALSE(fifoList.releasedABlockedReader());
}

// A link back to an ancestor ends at once even when that ancestor can be entered but not listed
// (mode 711, as home folders often are): the ancestors are recognised without read permission.
// Before, such a link led the search through the whole file system.
TEST(HostileAncestors, ALinkBackEndsWhenAnAncestorCannotBeListed)
{
    Sandbox box;
    box.write("tree/a.jpg", makeBmp(BmpForm::Info40, 1, 1));
    box.write("tree/sub/b.gif", gif(1, 1));
    link(box, "tree/sub/root", "/");
    link(box, "tree/sub/up", "../..");
    for (const char* folder : {"tree", "tree/sub"})
        fs::permissions(box.root() / folder, fs::perms(0755));
    for (const char* file : {"tree/a.jpg", "tree/sub/b.gif"})
        fs::permissions(box.root() / file, fs::perms(0644));
    // As root the search runs as "nobody", to whom 711 means enter but not list; an ordinary
    // owner gets the same from 311.
    fs::permissions(box.root(), fs::perms(::geteuid() == 0 ? 0711 : 0311));
    const std::string start = box.folder() + "tree";
    const UnprivilegedRun run = runUnprivileged([&] {
        std::string folder = start;
        std::int32_t count = 0;
        std::string found;
        int entries = 0;
        // Enough for the tree many times over; a walk of the whole file system stops here.
        const bool finished = SearchPictures(folder, count, found, [&] { return ++entries < 20000; });
        return finished ? found : found + "<stopped after 20000 entries>";
    });
    fs::permissions(box.root(), fs::perms::owner_all);
    if (!run.skipped.empty())
        GTEST_SKIP() << run.skipped;
    EXPECT_EQ(sorted(crlfLines(run.output)), sorted({start + "/a.jpg", start + "/sub/b.gif"}));
}

// Undoes a bind mount when the test ends, before the sandbox below it is removed.
struct BindMount {
    std::string target;
    ~BindMount()
    {
        if (!target.empty())
            ::umount2(target.c_str(), MNT_DETACH);
    }
};

// A start folder that is a bind-mount view of its own ancestor is walked, once: its identity
// is that of an ancestor, which used to count as walked before the walk began.
TEST(HostileAncestors, AStartFolderThatIsABindMountOfItsAncestorIsWalkedOnce)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "bind mounts need root; this test runs only as root";
    Sandbox box;
    box.write("t/a.jpg", makeBmp(BmpForm::Info40, 1, 1));
    box.write("t/s1/b.gif", gif(1, 1));
    fs::create_directories(box.root() / "t/s1/loop");
    const std::string view = (box.root() / "t/s1/loop").string();
    BindMount mount;
    if (::mount((box.root() / "t").c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "mount --bind is not permitted here: " << std::strerror(errno);
    mount.target = view;

    std::string folder = view;
    std::int32_t count = 0;
    std::string found;
    EXPECT_TRUE(SearchPictures(folder, count, found));
    // s1 holds the start folder, so it counts as walked, as every folder holding the start does.
    EXPECT_EQ(crlfLines(found), std::vector<std::string>{view + "/a.jpg"});
    EXPECT_EQ(count, 1);
}

// The page parser itself must reject what a broken writer would produce.
TEST(HostilePageParser, RejectsPagesThatBreakTheTemplate)
{
    const std::string header =
        "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 rightmargin=0 bottommargin=0>\r\n"
        "<center>\r\n<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
        "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">\r\n\r\n";
    const std::string footer = "\r\n</table>\r\n</center>\r\n</body>\r\n";
    const auto flow = [](const std::string& value) {
        return "<a href=\"" + value + "\" target=\"_blank\"><img border=\"1\" src=\"" + value + "\"></a> \r\n\r\n";
    };
    EXPECT_TRUE(parsePage(header + flow("/p/a%23.jpg") + footer, Layout::Flow).wellFormed);
    EXPECT_EQ(parsePage(header + flow("/p/a%23.jpg") + footer, Layout::Flow).entries.at(0).path, "/p/a#.jpg");
    const std::string broken[] = {
        header + flow("/p/a<b.jpg") + footer,            // raw markup in a value
        header + flow("/p/a\".jpg") + footer,            // a quote ends the value early
        header + flow("/p/a%2.jpg") + footer,            // a stray percent
        header + flow("/p/a.jpg") + "<script>\r\n" + footer,  // an extra tag
        header + flow("/p/a.jpg"),                        // no footer
        header + flow("/p/a.jpg").substr(0, 20) + footer,  // a cut entry
    };
    for (const std::string& page : broken)
        EXPECT_FALSE(parsePage(page, Layout::Flow).wellFormed) << page;
}

}  // namespace
