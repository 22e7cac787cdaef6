#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "gallery/lazypage.h"
#include "gallery/pagewriter.h"

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
    return served;
}

// The page's text cut into lines, each with its line end.
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start) + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The strings of every pictarreGallery.rows([...]) call in `page`, decoded the way a script
// reads them, and the page with those calls taken out.
std::pair<std::vector<std::string>, std::string> rowCalls(const std::string& page)
{
    const std::string open = "<script>pictarreGallery.rows([";
    const std::string close = "])</script>\r\n";
    std::vector<std::string> strings;
    std::string rest;
    std::size_t done = 0;
    for (std::size_t at = page.find(open); at != std::string::npos; at = page.find(open, done)) {
        rest += page.substr(done, at - done);
        std::size_t i = at + open.size();
        while (page[i] == '"') {
            std::string text;
            for (++i; page[i] != '"'; ++i) {
                if (page[i] != '\\') {
                    text += page[i];
                } else if (page[++i] == 'u') {
                    text += static_cast<char>(std::stoi(page.substr(i + 1, 4), nullptr, 16));
                    i += 4;
                } else {
                    text += page[i];
                }
            }
            strings.push_back(text);
            i += page[i + 1] == ',' ? 2 : 1;
        }
        EXPECT_EQ(page.substr(i, close.size()), close);
        done = i + close.size();
    }
    rest += page.substr(done);
    return {strings, rest};
}

TEST(LazyPage, RowEntriesGoToThePageScriptAsTheirOwnMarkup)
{
    std::string header;
    appendPageHeader(header);
    std::string footer;
    appendPageFooter(footer);
    const std::vector<std::string> paths = {"/p/a b#1.jpg", "/p/q\"uote\\<tag>&amp;\x01.jpg", "/p/c.jpg",
                                            "/p/d.jpg", "/p/e.jpg"};
    std::string entries;
    std::vector<std::string> expectedEntries;
    for (const auto& path : paths) {
        std::string entry;
        appendRowEntry(entry, path, 776, 582);
        entries += entry;
        const std::string from = "<img border=\"0\" src=\"";
        entry.replace(entry.find(from), from.size(), "<img border=\"0\" data-src=\"");
        expectedEntries.push_back(entry);
    }
    const Served served = serve(linesOf(header + entries + footer));
    const auto [strings, rest] = rowCalls(served.page);
    EXPECT_EQ(strings, expectedEntries);
    EXPECT_EQ(rest, header + footer);
    // The first screen's rows come in a call of their own, before the rest.
    EXPECT_EQ(rowCalls(served.page.substr(0, served.page.find("])</script>") + 13)).first.size(), 4u);
    EXPECT_TRUE(served.asked.empty()) << "a row picture has its size already";
}

TEST(LazyPage, APageCutInsideAnEntryKeepsThatEntrysLines)
{
    std::string header;
    appendPageHeader(header);
    std::string entry;
    appendRowEntry(entry, "/p/a.jpg", 10, 10);
    const std::string cut = entry.substr(0, entry.find("<tr>", 4));  // the picture's row only
    LazyPage lazy;
    std::string page;
    for (const auto& line : linesOf(header + entry + cut))
        lazy.transform(line, page);
    lazy.finish(page);
    const auto [strings, rest] = rowCalls(page);
    ASSERT_EQ(strings.size(), 1u);
    std::string lazyCut = cut;
    lazyCut.replace(lazyCut.find(" src="), 5, " data-src=");
    EXPECT_EQ(rest, header + lazyCut);
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
