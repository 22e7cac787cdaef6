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
    std::function<bool()> unloading = [] { return false; };

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
        };
        h.unloading = [this] { return unloading(); };
        h.listLayout = [this] { return rowLayout; };
        return h;
    }
};

SizeReader fixedSizes()
{
    SizeQueries q;
    q.detailText = [](const std::string&, int column) { return std::optional<std::string>(column == 27 ? "640" : "480"); };
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
    makefile(pagePath, FolderSource{"/p", {"a.jpg", "b.jpg"}}, sizes, imageList, recorder.hooks());
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
    makefile(pagePath, ListSource{list, 3}, sizes, imageList, recorder.hooks());
    EXPECT_EQ(recorder.progress.front(), static_cast<float>(1000.0 / 3.0));
}

TEST_F(PageTest, AwkwardNamesAreEscapedOnlyWhereTheBrowserWouldMisreadThem)
{
    recorder.rowLayout = true;
    const std::vector<std::string> names = {"a b&c.jpg", "a&amp;b.jpg", "x#1.jpg", "照片 100%.jpg", "q?.gif",
                                            "<i>\".bmp", "back\\slash.jpg", "a&copy.jpg", "n&#35.jpg"};
    makefile(pagePath, FolderSource{"/p", names}, sizes, imageList, recorder.hooks());
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

TEST_F(PageTest, NegativeSizesAreWrittenWithTheirSign)
{
    std::string out;
    appendRowEntry(out, "/a.jpg", -5, 0);
    EXPECT_NE(out.find("width=\"-5\" height=\"0\""), std::string::npos);
}

TEST_F(PageTest, UnloadingStopsAfterTheCurrentPictureWithoutClosingLines)
{
    recorder.unloading = [this] { return recorder.yields == 2; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {"a.jpg", "b.jpg", "c.jpg"}}, sizes, imageList,
                       recorder.hooks()),
              RunResult::Stopped);
    expectPage(kHeader + flow("/p/a.jpg") + flow("/p/b.jpg"));
    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 1000.0f / 3.0f}));

    const auto list = writeList("/a.jpg\r\n/b.jpg\r\n\r\n");
    recorder = Recorder{};
    recorder.unloading = [] { return true; };
    EXPECT_EQ(makefile(pagePath, ListSource{list, 2}, sizes, imageList, recorder.hooks()), RunResult::Stopped);
    expectPage(kHeader + row("/a.jpg", "file:////a.jpg", "/a.jpg", 640, 480));
    // Both files were closed: the list can be replaced and the page written again.
    EXPECT_TRUE(std::filesystem::remove(list));
    recorder.unloading = [] { return false; };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {}}, sizes, imageList, recorder.hooks()), RunResult::Completed);
}

TEST_F(PageTest, ASecondRunFromInsideAHookIsRefused)
{
    std::vector<RunResult> nested;
    std::string otherList;
    recorder.onYield = [&] {
        nested.push_back(makefile(pagePath, FolderSource{"/q", {"z.jpg"}}, sizes, otherList, GalleryHooks{}));
    };
    EXPECT_EQ(makefile(pagePath, FolderSource{"/p", {"a.jpg"}}, sizes, imageList, recorder.hooks()),
              RunResult::Completed);
    EXPECT_EQ(nested, (std::vector<RunResult>{RunResult::Busy, RunResult::Busy}));
    expectPage(kHeader + flow("/p/a.jpg") + kFooter);
    recorder.onYield = nullptr;
    EXPECT_EQ(makefile(pagePath, FolderSource{"/q", {}}, sizes, imageList, recorder.hooks()), RunResult::Completed);
}

TEST_F(PageTest, FailuresAreReportedAndReleaseTheRun)
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
    hooks.yield = [&] { ++yields; };
    SizeReader sizes{SizeQueries{}};
    std::string imageList;
    EXPECT_EQ(makefile((sandbox.root() / "p.htm").string(), ListSource{list, 40000}, sizes, imageList, hooks),
              RunResult::Completed);
    EXPECT_EQ(last, 4000.0f);
    EXPECT_EQ(yields, 40001);
}

}  // namespace
}  // namespace pictarre
