#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "collect/filedescriptor.h"
#include "gallery/lazypage.h"
#include "gallery/pagewriter.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

// Runs a whole page through LazyPage one line at a time, as the browser layer does, and
// records the paths it asked sizes for.
struct Served {
    std::string page;
    std::vector<std::string> asked;
};

Served serve(const std::vector<std::string>& lines, const std::map<std::string, PixelSize>& sizes = {})
{
    Served served;
    LazyPage lazy([&](const std::string& path) -> std::optional<PixelSize> {
        served.asked.push_back(path);
        const auto found = sizes.find(path);
        return found == sizes.end() ? std::nullopt : std::optional(found->second);
    });
    for (const auto& line : lines)
        lazy.transform(line, served.page);
    lazy.finish(served.page);
    return served;
}

// The page's text cut into lines, each with its line end (the last one may have none).
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Reads the script strings of a "[...]" list at `i` (just past the "["), the way a script
// reads them; `i` ends past the "]".
std::vector<std::string> scriptStrings(const std::string& script, std::size_t& i)
{
    std::vector<std::string> strings;
    while (script[i] == '"') {
        std::string text;
        for (++i; script[i] != '"'; ++i) {
            if (script[i] != '\\') {
                text += script[i];
            } else if (script[++i] == 'u') {
                text += static_cast<char>(std::stoi(script.substr(i + 1, 4), nullptr, 16));
                i += 4;
            } else {
                text += script[i];
            }
        }
        strings.push_back(text);
        i += script[i + 1] == ',' ? 2 : 1;
    }
    EXPECT_EQ(script[i], ']');
    return strings;
}

// The version stamp the page file has now.
std::string stampOf(const std::string& pageFile)
{
    return pageStamp(openRegularFile(pageFile).get());
}

// What the page script is given: every batch the served page describes, with its markup
// fetched as the engine fetches it; and the page without the batches' script elements.
struct Batches {
    std::vector<int> heights;
    std::vector<std::string> texts;
    std::vector<std::string> markup;
    std::vector<int> sizes;
    std::string rest;
};

Batches batchesOf(const std::string& served, const std::string& pageFile)
{
    const std::string open = "<script>pictarreGallery.batch(";
    Batches batches;
    std::size_t done = 0;
    for (std::size_t at = served.find(open); at != std::string::npos; at = served.find(open, done)) {
        batches.rest += served.substr(done, at - done);
        std::size_t i = at + open.size();
        const std::size_t comma = served.find(",[", i);
        const auto offset = std::stoull(served.substr(i, comma - i));
        const std::size_t close = served.find("],[", comma);
        int count = 0;
        for (std::size_t h = comma + 2; h < close;) {
            const std::size_t next = std::min(served.find(',', h), close);
            batches.heights.push_back(std::stoi(served.substr(h, next - h)));
            ++count;
            h = next + 1;
        }
        i = close + 3;
        for (auto& text : scriptStrings(served, i))
            batches.texts.push_back(text);
        EXPECT_EQ(served.substr(i, 13), "])</script>\r\n");
        done = i + 13;

        const std::string script = readRowsScript(pageFile, offset, count, stampOf(pageFile)).value_or("");
        const std::string rowsOpen = "pictarreGallery.rows(" + std::to_string(offset) + ",[";
        EXPECT_EQ(script.substr(0, rowsOpen.size()), rowsOpen);
        std::size_t r = rowsOpen.size();
        const auto markup = scriptStrings(script, r);
        EXPECT_EQ(script.substr(r), "]);\n");
        batches.sizes.push_back(count);
        batches.markup.insert(batches.markup.end(), markup.begin(), markup.end());
    }
    batches.rest += served.substr(done);
    return batches;
}

TEST(LazyPage, RowEntriesComeInBatchesOfHeightsTextsAndTheirOwnMarkup)
{
    std::string header;
    appendPageHeader(header);
    std::string footer;
    appendPageFooter(footer);
    std::vector<std::string> paths = {"/p/a b#1.jpg", "/p/q\"uote\\<tag>&amp;\x01.jpg"};
    for (int i = 0; i < 1100; ++i)
        paths.push_back("/p/" + std::to_string(i) + ".jpg");
    std::string entries;
    std::vector<std::string> expectedMarkup;
    std::vector<std::string> expectedTexts;
    std::vector<int> expectedHeights;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string entry;
        appendRowEntry(entry, paths[i], 776, static_cast<int>(i));
        entries += entry;
        const std::string from = "<img border=\"0\" src=\"";
        entry.replace(entry.find(from), from.size(), "<img border=\"0\" data-src=\"");
        expectedMarkup.push_back(entry);
        expectedTexts.push_back(escapeText(paths[i]));
        expectedHeights.push_back(static_cast<int>(i));
    }
    test::Sandbox folder;
    const std::string page = header + entries + footer;
    const std::string pageFile = folder.write("picture.htm", page).string();
    const Served served = serve(linesOf(page));
    const Batches batches = batchesOf(served.page, pageFile);
    EXPECT_EQ(batches.markup, expectedMarkup);
    EXPECT_EQ(batches.texts, expectedTexts);
    EXPECT_EQ(batches.heights, expectedHeights);
    EXPECT_EQ(batches.rest, header + footer);
    // The first screen's rows come in a small batch of their own.
    ASSERT_GE(batches.sizes.size(), 2u);
    EXPECT_EQ(batches.sizes[0], 4);
    EXPECT_TRUE(served.asked.empty()) << "a row picture has its size already";
    EXPECT_EQ(readRowsScript(folder.root().string() + "/missing.htm", 0, 4, ""), std::nullopt);

    // The next command writes the page anew while this one is on screen: its rows are not
    // this page's rows.
    const std::string stamp = stampOf(pageFile);
    EXPECT_NE(readRowsScript(pageFile, 0, 4, stamp), std::nullopt);
    folder.write("picture.htm", header + footer);
    EXPECT_EQ(readRowsScript(pageFile, 0, 4, stamp), std::nullopt);
}

TEST(LazyPage, APageCutInsideAnEntryLeavesThatEntryOut)
{
    std::string header;
    appendPageHeader(header);
    std::string entry;
    appendRowEntry(entry, "/p/a.jpg", 10, 10);
    const std::string cut = entry.substr(0, entry.find("<tr>", 4));  // the picture's row only
    test::Sandbox folder;
    const std::string page = header + entry + cut;
    const std::string pageFile = folder.write("picture.htm", page).string();
    const Batches batches = batchesOf(serve(linesOf(page)).page, pageFile);
    EXPECT_EQ(batches.markup.size(), 1u);
    EXPECT_EQ(batches.heights, std::vector<int>{10});
    EXPECT_EQ(batches.rest, header);
}

TEST(LazyPage, APageThatIsNotQuiteTheWritersStillServesWholeEntries)
{
    std::string header;
    appendPageHeader(header);
    std::string first;
    appendRowEntry(first, "/p/a.jpg", 10, 10);
    std::string last;
    appendRowEntry(last, "/p/b.jpg", 10, 20);
    // A height that is no number, and a page cut right after its last entry's "</tr>".
    first.replace(first.find("height=\"10\""), 11, "height=\"1);x(\"");
    last.resize(last.size() - 2);
    test::Sandbox folder;
    const std::string page = header + first + last;
    const std::string pageFile = folder.write("picture.htm", page).string();
    const Batches batches = batchesOf(serve(linesOf(page)).page, pageFile);
    EXPECT_EQ(batches.heights, (std::vector<int>{0, 20}));
    ASSERT_EQ(batches.markup.size(), 2u);
    EXPECT_NE(batches.markup[1].find("/p/b.jpg"), std::string::npos);
}

TEST(LineSplitter, KeepsLinesWholeAcrossBlocksAndCutsOnlyOverlongOnes)
{
    const std::string longLine(LineSplitter::kLongestLine * 2 + 5, 'x');
    const std::string text = "a\r\nbb\n" + longLine + "\nlast";
    std::vector<std::string> lines;
    LineSplitter splitter;
    const auto each = [&lines](std::string_view line) {
        lines.emplace_back(line);
        return true;
    };
    for (std::size_t at = 0; at < text.size(); at += 3000)
        ASSERT_TRUE(splitter.feed(std::string_view(text).substr(at, 3000), each));
    ASSERT_TRUE(splitter.finish(each));
    // Compared by length and ends: a failure would print megabytes of "x" otherwise.
    std::vector<std::string> shapes;
    for (const auto& line : lines)
        shapes.push_back(std::to_string(line.size()) + ":" + line.substr(0, 2) + ":" + line.substr(line.size() - 1));
    const std::string piece = std::to_string(LineSplitter::kLongestLine) + ":xx:x";
    EXPECT_EQ(shapes, (std::vector<std::string>{"3:a\r:\n", "3:bb:\n", piece, piece, "6:xx:\n", "4:la:t"}));

    // A reader that wants no more lines stops the splitter.
    LineSplitter stopping;
    int seen = 0;
    EXPECT_FALSE(stopping.feed("1\n2\n3\n", [&seen](std::string_view) { return ++seen < 2; }));
    EXPECT_EQ(seen, 2);
}

TEST(LazyPage, FlowEntriesGetThePicturesOwnSizeFromTheirDecodedPath)
{
    const std::string odd = "/p/a&amp #?\"<>%\\\xE9\xFF.gif";  // escaped every way the writer knows
    std::string entry;
    appendFlowEntry(entry, odd);
    std::string plain;
    appendFlowEntry(plain, "/p/unknown.jpg");
    const Served served = serve({entry.substr(0, entry.size() - 2), "\r\n", plain}, {{odd, {40, 30}}});

    ASSERT_EQ(served.asked.size(), 2u);
    EXPECT_EQ(served.asked[0], odd);
    const std::string url = escapeUrl(odd);
    EXPECT_EQ(served.page, "<a href=\"" + url + "\" target=\"_blank\"><img border=\"1\" data-src=\"" + url +
                               "\" width=\"40\" height=\"30\"></a> \r\n\r\n"
                               "<a href=\"/p/unknown.jpg\" target=\"_blank\"><img border=\"1\" "
                               "data-src=\"/p/unknown.jpg\"></a> \r\n\r\n");
}

TEST(LazyPage, AsksNoSizeItCannotTrustAndLeavesOtherTagsAlone)
{
    const Served served = serve({"<img alt=\"x\">\r\n", "<p>an <img without end\r\n", "<imgs src=\"a\">\r\n",
                                 "<img src=\"relative.jpg\">\r\n", "<img src=\"/bad%zz.jpg\">\r\n"});
    EXPECT_EQ(served.page, "<img alt=\"x\">\r\n<p>an <img without end\r\n<imgs src=\"a\">\r\n"
                           "<img data-src=\"relative.jpg\">\r\n<img data-src=\"/bad%zz.jpg\">\r\n");
    EXPECT_TRUE(served.asked.empty());
}

TEST(PageAddress, DecodesEveryAddressThePageWriterWrites)
{
    for (const std::string& path : std::vector<std::string>{"/plain/a.jpg", "/a&b.jpg", "/a&amp;b.jpg", "/n&#35.bmp", "/a&copy.gif",
                                   "/100%/x#y?z.jpg", "/q\"<>.bmp", "/back\\slash/\t\x01.bmp", "/中文 照片.jpg",
                                   "/lat\xE9/gbk\xD5\xD5/bad\xFF\xFE.gif"}) {
        EXPECT_EQ(pathOfPageAddress(escapeUrl(path)), path) << escapeUrl(path);
    }
    EXPECT_EQ(pathOfPageAddress("/a%4"), std::nullopt);
    EXPECT_EQ(pathOfPageAddress("/a%G1"), std::nullopt);
}

TEST(PageAddress, FolderUrlsNameEveryByte)
{
    EXPECT_EQ(fileUrlOfFolder("/"), "file:///");
    EXPECT_EQ(fileUrlOfFolder("/home/u/pics"), "file:///home/u/pics/");
    EXPECT_EQ(fileUrlOfFolder("/a b/#?%&\"/"), "file:///a%20b/%23%3F%25%26%22/");
    EXPECT_EQ(fileUrlOfFolder("/\xE5\x8F\xAF\xE8\xA7\x81/\xE9"), "file:///%E5%8F%AF%E8%A7%81/%E9/");
}

}  // namespace
}  // namespace pictarre
