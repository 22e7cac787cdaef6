#include <gtest/gtest.h>

#include <map>
#include <vector>

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
    LazyPage lazy("ROWS", [&](const std::string& path) -> std::optional<PixelSize> {
        served.asked.push_back(path);
        const auto found = sizes.find(path);
        return found == sizes.end() ? std::nullopt : std::optional(found->second);
    });
    for (const auto& line : lines)
        lazy.transform(line, served.page);
    lazy.finish(served.page);
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

// The strings of a pictarreGallery.rows([...]) script, decoded the way a script reads them.
std::vector<std::string> rowStrings(const std::string& script)
{
    const std::string open = "pictarreGallery.rows([";
    std::vector<std::string> strings;
    EXPECT_EQ(script.substr(0, open.size()), open);
    std::size_t i = open.size();
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
    EXPECT_EQ(script.substr(i), "]);\n");
    return strings;
}

// Every batch script the served page names, fetched as the engine fetches them; and the page
// without its script elements.
std::pair<std::vector<std::string>, std::string> batchesOf(const std::string& served, const std::string& pageFile)
{
    const std::string open = "<script defer src=\"ROWS?rows=";
    std::vector<std::string> entries;
    std::string rest;
    std::size_t done = 0;
    for (std::size_t at = served.find(open); at != std::string::npos; at = served.find(open, done)) {
        rest += served.substr(done, at - done);
        const std::size_t amp = served.find("&amp;count=", at);
        const std::size_t end = served.find("\"></script>\r\n", amp);
        const auto offset = std::stoull(served.substr(at + open.size(), amp - at - open.size()));
        const int count = std::stoi(served.substr(amp + 11, end - amp - 11));
        const auto script = readRowsScript(pageFile, offset, count);
        EXPECT_TRUE(script.has_value());
        for (auto& entry : rowStrings(script.value_or("")))
            entries.push_back(entry);
        done = end + 13;
    }
    rest += served.substr(done);
    return {entries, rest};
}

TEST(LazyPage, RowEntriesComeByBatchScriptsAsTheirOwnMarkup)
{
    std::string header;
    appendPageHeader(header);
    std::string footer;
    appendPageFooter(footer);
    std::vector<std::string> paths = {"/p/a b#1.jpg", "/p/q\"uote\\<tag>&amp;\x01.jpg"};
    for (int i = 0; i < 1100; ++i)
        paths.push_back("/p/" + std::to_string(i) + ".jpg");
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
    test::Sandbox folder;
    const std::string page = header + entries + footer;
    const std::string pageFile = folder.write("picture.htm", page).string();
    const Served served = serve(linesOf(page));
    const auto [fetched, rest] = batchesOf(served.page, pageFile);
    EXPECT_EQ(fetched, expectedEntries);
    EXPECT_EQ(rest, header + footer);
    // The first screen's rows come in a small batch of their own, before the large ones.
    EXPECT_NE(served.page.find("&amp;count=4\"></script>\r\n<script defer src=\"ROWS?rows="), std::string::npos);
    EXPECT_TRUE(served.asked.empty()) << "a row picture has its size already";
    EXPECT_EQ(readRowsScript(folder.root().string() + "/missing.htm", 0, 4), std::nullopt);
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
    const auto [fetched, rest] = batchesOf(serve(linesOf(page)).page, pageFile);
    EXPECT_EQ(fetched.size(), 1u);
    EXPECT_EQ(rest, header);
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
