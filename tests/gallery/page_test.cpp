#include <gtest/gtest.h>

#include <vector>

#include "gallery/makefile.h"
#include "gallery/pagewriter.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

const std::string kHeader =
    "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 rightmargin=0 bottommargin=0>\r\n"
    "<center>\r\n"
    "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
    "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">\r\n"
    "\r\n";
const std::string kFooter = "\r\n</table>\r\n</center>\r\n</body>\r\n";

std::string flow(const std::string& url)
{
    return "<a href=\"" + url + "\" target=\"_blank\"><img border=\"1\" src=\"" + url + "\"></a> \r\n\r\n";
}

std::string row(const std::string& url, const std::string& href, const std::string& text, int w, int h)
{
    return "<tr>\r\n<td width=\"100%\">\r\n<p align=\"center\">\r\n<img border=\"0\" src=\"" + url + "\" width=\"" +
           std::to_string(w) + "\" height=\"" + std::to_string(h) +
           "\"></td>\r\n</tr>\r\n<tr>\r\n<td width=\"100%\" height=\"30\">\r\n"
           "<p align=\"center\"><a target=\"_blank\" href=\"" + href + "\">" + text + "</a></td> \r\n</tr>\r\n";
}

// Records what the writer tells the window; every picture is 640 x 480 and the pane wide.
struct Recorder {
    std::vector<std::string> statuses;
    std::vector<float> progress;
    int yields = 0;
    bool rowLayout = false;
    std::function<void()> onYield;
    // What the yield answers, asked after onYield: true goes on.
    std::function<bool()> goOn = [] { return true; };

    GalleryHooks hooks()
    {
        GalleryHooks h;
        h.setStatus = [this](std::string_view s) { statuses.emplace_back(s); };
        h.frameWidth = [] { return 1000.0f; };
        h.setProgress = [this](float w) { progress.push_back(w); };
        h.yield = [this] {
            ++yields;
            if (onYield)
                onYield();
            return goOn();
        };
        h.listLayout = [this] { return rowLayout; };
        return h;
    }
};

SizeReader fixedSizes()
{
    SizeQueries q;
    q.detailText = [](const std::string&, int column) {
        return std::optional<std::string>(column == kWidthColumn ? "640" : "480");
    };
    q.webWidthTwips = [] { return 100000.0f; };
    return SizeReader(std::move(q));
}

class PageTest : public testing::Test {
protected:
    std::string page() const { return test::readFileBytes(pagePath); }
    void expectPage(const std::string& expected) const
    {
        const std::string actual = page();
        EXPECT_EQ(actual, expected) << test::describeDifference(expected, actual);
    }
    std::string writeList(std::string_view bytes) { return sandbox.write("opendir.tmp", bytes).string(); }

    test::Sandbox sandbox;
    std::string pagePath = (sandbox.root() / "picture.htm").string();
    SizeReader sizes = fixedSizes();
    std::string imageList;
    Recorder recorder;
};

TEST_F(PageTest, EmptyFolderWritesTheEightLinePage)
{
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {}}, sizes, imageList, recorder.hooks()), RunResult::Completed);
    expectPage(kHeader + kFooter);
    EXPECT_EQ(recorder.statuses, std::vector<std::string>{"正在提取图象信息，请稍等……"});
    EXPECT_EQ(recorder.progress, std::vector<float>{0.0f});
    EXPECT_EQ(recorder.yields, 1);
}

TEST_F(PageTest, EmptySearchListWritesTheEightLinePageWithoutDividingByZero)
{
    const auto list = writeList("\r\n");
    EXPECT_EQ(makefile(pagePath, ListSource{list, 0}, sizes, imageList, recorder.hooks()), RunResult::Completed);
    expectPage(kHeader + kFooter);
    EXPECT_EQ(recorder.progress, std::vector<float>{0.0f});
    EXPECT_EQ(recorder.yields, 2);
    EXPECT_EQ(imageList, "");
}

TEST_F(PageTest, FolderAtTheRootHasOneSeparatorInItsPaths)
{
    EXPECT_EQ(makefile(pagePath, FolderSource{"/", {"x.jpg", "y.gif"}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + flow("/x.jpg") + flow("/y.gif") + kFooter);
    EXPECT_EQ(imageList, "") << "the flow layout leaves the text list alone";
}

TEST_F(PageTest, FolderRowLayoutAndProgress)
{
    recorder.rowLayout = true;
    imageList = "before\r\n";
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p q", {"a.jpg", "b.bmp", "c.gif"}}, sizes, imageList,
                       recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + row("/p q/a.jpg", "file:////p q/a.jpg", "/p q/a.jpg", 640, 480) +
               row("/p q/b.bmp", "file:////p q/b.bmp", "/p q/b.bmp", 640, 480) +
               row("/p q/c.gif", "file:////p q/c.gif", "/p q/c.gif", 640, 480) + kFooter);
    EXPECT_EQ(imageList, "before\r\n/p q/a.jpg\r\n/p q/b.bmp\r\n/p q/c.gif\r\n");
    // EntryIndex x frame / N in single precision: 0 after the first, (N-1)/N after the last.
    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 1000.0f / 3.0f, 2000.0f / 3.0f, 0.0f}));
    EXPECT_EQ(recorder.yields, 4);
}

TEST_F(PageTest, LayoutIsAskedForEveryEntry)
{
    recorder.onYield = [this] { recorder.rowLayout = !recorder.rowLayout; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {"a.jpg", "b.jpg"}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + flow("/p/a.jpg") + row("/p/b.jpg", "file:////p/b.jpg", "/p/b.jpg", 640, 480) + kFooter);
}

TEST_F(PageTest, ListSourceSkipsBlankLinesButCountsThemForProgress)
{
    const auto list = writeList("/a/1.jpg\r\n\r\n/b 2.jpg\r\n\r\n");
    recorder.rowLayout = false;  // the list source always writes rows
    EXPECT_EQ(makefile(pagePath, ListSource{list, 2}, sizes, imageList, recorder.hooks()), RunResult::Completed);
    expectPage(kHeader + row("/a/1.jpg", "file:////a/1.jpg", "/a/1.jpg", 640, 480) +
               row("/b 2.jpg", "file:////b 2.jpg", "/b 2.jpg", 640, 480) + kFooter);
    EXPECT_EQ(imageList, "/a/1.jpg\r\n/b 2.jpg\r\n");
    // The empty last line counts too: the bar ends one step past the count before the reset.
    EXPECT_EQ(recorder.progress, (std::vector<float>{500.0f, 1000.0f, 1500.0f, 2000.0f, 0.0f}));
    EXPECT_EQ(recorder.yields, 5);
}

TEST_F(PageTest, ListProgressIsComputedInDoubleFromASingleProduct)
{
    const auto list = writeList("/a.jpg\r\n");
    EXPECT_EQ(makefile(pagePath, ListSource{list, 3}, sizes, imageList, recorder.hooks()), RunResult::Completed);
    EXPECT_EQ(recorder.progress.front(), static_cast<float>(1000.0 / 3.0));
}

TEST_F(PageTest, AwkwardNamesAreEscapedOnlyWhereTheBrowserWouldMisreadThem)
{
    recorder.rowLayout = true;
    const std::vector<std::string> names = {"a b&c.jpg", "a&amp;b.jpg", "x#1.jpg", "照片 100%.jpg", "q?.gif",
                                            "<i>\".bmp", "back\\slash.jpg", "a&copy.jpg", "n&#35.jpg"};
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", names}, sizes, imageList, recorder.hooks()), RunResult::Completed);
    std::string expected = kHeader;
    const std::vector<std::pair<std::string, std::string>> escaped = {
        {"/p/a b&c.jpg", "/p/a b&c.jpg"},
        {"/p/a&amp;amp;b.jpg", "/p/a&amp;amp;b.jpg"},
        {"/p/x%231.jpg", "/p/x#1.jpg"},
        {"/p/照片 100%25.jpg", "/p/照片 100%.jpg"},
        {"/p/q%3F.gif", "/p/q?.gif"},
        {"/p/%3Ci%3E%22.bmp", "/p/&lt;i&gt;\".bmp"},
        {"/p/back%5Cslash.jpg", "/p/back\\slash.jpg"},
        {"/p/a&amp;copy.jpg", "/p/a&amp;copy.jpg"},
        {"/p/n&amp;%2335.jpg", "/p/n&amp;#35.jpg"},
    };
    for (const auto& [url, text] : escaped)
        expected += row(url, "file:///" + url, text, 640, 480);
    expectPage(expected + kFooter);
    EXPECT_NE(imageList.find("/p/a&amp;b.jpg\r\n"), std::string::npos) << "the text list keeps paths unchanged";
}

// A name that is not well-formed UTF-8: each maximal subpart of an ill-formed sequence is one
// U+FFFD in the link text, and every byte of it "%XX" in the address.
struct Utf8Case {
    const char* label;
    std::string name;
    std::string url;   // the name as written in src and href
    std::string text;  // the name as written as link text
};

void PrintTo(const Utf8Case& c, std::ostream* out)
{
    *out << c.label;
}

const std::string kFffd = "\xEF\xBF\xBD";

const Utf8Case kUtf8Cases[] = {
    {"ValidUtf8Unchanged", "8 图 café.gif", "8 图 café.gif", "8 图 café.gif"},
    {"HighestCodePointUnchanged", "\xF4\x8F\xBF\xBF.gif", "\xF4\x8F\xBF\xBF.gif", "\xF4\x8F\xBF\xBF.gif"},
    {"Latin1", "caf\xE9.gif", "caf%E9.gif", "caf" + kFffd + ".gif"},
    // Two bytes of GBK are no UTF-8; the next two happen to be a well-formed sequence (U+01AC).
    {"Gbk", "\xD5\xD5\xC6\xAC.gif", "%D5%D5\xC6\xAC.gif", kFffd + kFffd + "\xC6\xAC.gif"},
    {"BytesNeverInUtf8", "bad-\xFF\xFE.gif", "bad-%FF%FE.gif", "bad-" + kFffd + kFffd + ".gif"},
    {"CutThreeByteSequence", "\xE5\x9B.gif", "%E5%9B.gif", kFffd + ".gif"},
    {"CutFourByteSequenceAtTheEnd", "p.gif\xF0\x9F\x98", "p.gif%F0%9F%98", "p.gif" + kFffd},
    {"CutSequenceBeforeAWholeOne", "\xE5图.gif", "%E5图.gif", kFffd + "图.gif"},
    {"LoneContinuationBytes", "\x80\xBF.gif", "%80%BF.gif", kFffd + kFffd + ".gif"},
    {"OverlongSlash", "\xC0\xAF.gif", "%C0%AF.gif", kFffd + kFffd + ".gif"},
    {"OverlongThreeBytes", "\xE0\x80\xAF.gif", "%E0%80%AF.gif", kFffd + kFffd + kFffd + ".gif"},
    {"Surrogate", "\xED\xA0\x80.gif", "%ED%A0%80.gif", kFffd + kFffd + kFffd + ".gif"},
    {"AboveTheLastCodePoint", "\xF4\x90\x80\x80.gif", "%F4%90%80%80.gif", kFffd + kFffd + kFffd + kFffd + ".gif"},
    {"BesideOtherEscapes", "a#\xE9&amp;<.gif", "a%23%E9&amp;amp;%3C.gif", "a#" + kFffd + "&amp;amp;&lt;.gif"},
};

class PageUtf8 : public PageTest, public testing::WithParamInterface<Utf8Case> {};

TEST_P(PageUtf8, IllFormedBytesAreEscapedAndThePageIsUtf8)
{
    const Utf8Case& c = GetParam();
    recorder.rowLayout = true;
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {c.name}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + row("/p/" + c.url, "file:////p/" + c.url, "/p/" + c.text, 640, 480) + kFooter);
    EXPECT_EQ(imageList, "/p/" + c.name + "\r\n") << "the text list keeps the path's own bytes";
    recorder.rowLayout = false;
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {c.name}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + flow("/p/" + c.url) + kFooter);
}

INSTANTIATE_TEST_SUITE_P(Names, PageUtf8, testing::ValuesIn(kUtf8Cases),
                         [](const testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.label); });

TEST_F(PageTest, NegativeSizesAreWrittenWithTheirSign)
{
    std::string out;
    appendRowEntry(out, "/a.jpg", -5, 0);
    EXPECT_NE(out.find("width=\"-5\" height=\"0\""), std::string::npos);
}

TEST_F(PageTest, AYieldThatSaysStopEndsTheRunAfterTheCurrentPictureWithoutClosingLines)
{
    recorder.goOn = [this] { return recorder.yields != 2; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {"a.jpg", "b.jpg", "c.jpg"}}, sizes, imageList,
                       recorder.hooks()),
              RunResult::Stopped);
    expectPage(kHeader + flow("/p/a.jpg") + flow("/p/b.jpg"));
    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 1000.0f / 3.0f}));
    EXPECT_EQ(recorder.yields, 2) << "the yield is not asked again after it said stop";

    const auto list = writeList("/a.jpg\r\n/b.jpg\r\n\r\n");
    recorder = Recorder{};
    recorder.goOn = [] { return false; };
    EXPECT_EQ(makefile(pagePath, ListSource{list, 2}, sizes, imageList, recorder.hooks()), RunResult::Stopped);
    expectPage(kHeader + row("/a.jpg", "file:////a.jpg", "/a.jpg", 640, 480));
    // Both files were closed: the list can be replaced and the page written again.
    EXPECT_TRUE(std::filesystem::remove(list));
    recorder.goOn = [] { return true; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {}}, sizes, imageList, recorder.hooks()), RunResult::Completed);
}

TEST_F(PageTest, AStopAskedForAfterTheLastEntryLeavesTheWholePage)
{
    // The last yield comes after the closing lines: the page is whole, so the run is complete.
    recorder.goOn = [this] { return recorder.yields < 2; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {"a.jpg"}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    expectPage(kHeader + flow("/p/a.jpg") + kFooter);
}

TEST_F(PageTest, FailuresAreReportedAndTheNextRunCompletes)
{
    EXPECT_EQ(makefile((sandbox.root() / "missing/picture.htm").string(), FolderSource{"/p", {"a.jpg"}}, sizes,
                       imageList, recorder.hooks()),
              RunResult::Failed);
    EXPECT_EQ(makefile(pagePath, ListSource{(sandbox.root() / "none.tmp").string(), 1}, sizes, imageList,
                       recorder.hooks()),
              RunResult::Failed);
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(makefile("/dev/full", FolderSource{"/p", {"a.jpg"}}, sizes, imageList, recorder.hooks()),
                  RunResult::Failed);
    }
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {}}, sizes, imageList, recorder.hooks()), RunResult::Completed);
}

TEST(PageCounters, AListLongerThanASixteenBitCounterKeepsCounting)
{
    test::Sandbox sandbox;
    std::string lines;
    for (int i = 0; i < 40000; ++i)
        lines += "\r\n";
    const auto list = sandbox.write("opendir.tmp", lines).string();
    float last = 0.0f;
    int yields = 0;
    GalleryHooks hooks;
    hooks.frameWidth = [] { return 4000.0f; };
    hooks.setProgress = [&](float w) {
        if (w != 0.0f)
            last = w;
    };
    hooks.yield = [&] { return ++yields > 0; };
    SizeReader sizes{SizeQueries{}};
    std::string imageList;
    EXPECT_EQ(makefile((sandbox.root() / "p.htm").string(), ListSource{list, 40000}, sizes, imageList, hooks),
              RunResult::Completed);
    EXPECT_EQ(last, 4000.0f);
    EXPECT_EQ(yields, 40001);
}

}  // namespace
}  // namespace pictarre
