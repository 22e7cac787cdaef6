#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "gallery/archive.h"
#include "gallery/gallery.h"
#include "gallery/makefile.h"
#include "gallery/pageencoding.h"
#include "gallery/pagewriter.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"
#include "support/servedreader.h"

namespace pictarre {
namespace {

using test::decodePage;

// The whole served page of a gallery, piece by piece as the engine reads it.
std::string servedPage(const std::shared_ptr<const Gallery>& gallery)
{
    ServedPage page(gallery, "<script>prologue</script>\r\n");
    std::string out;
    while (page.next(out)) {
    }
    return out;
}

std::string writtenPage(const Gallery& gallery)
{
    std::string out;
    EXPECT_TRUE(gallery.writePage([&out](std::string_view piece) {
        out += piece;
        return true;
    }));
    return out;
}

// Switches the process to a locale for one test (LOCPATH names the test's own locales).
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : old_(std::setlocale(LC_ALL, nullptr)), ok_(std::setlocale(LC_ALL, name)) {}
    ~LocaleScope() { std::setlocale(LC_ALL, old_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string old_;
    bool ok_;
};

// The page writer's file, the gallery it records and the page the view is given tell the same
// page: the gallery writes the file again byte for byte, and the served page, its batches
// filled in from the rows answers and its picture tags undone, reads as the same characters.
TEST(Gallery, TheWrittenTheKeptAndTheServedPageAreOnePage)
{
    test::Sandbox box;
    const std::string gif = test::makeGif({});
    const std::string jpeg = test::makeJpeg({.width = 40, .height = 30, .exif = true, .orientation = 6});
    std::vector<std::string> names;
    for (int i = 0; i < 530; ++i) {
        const std::string name = (i % 7 == 0 ? "照片 " : "a&amp;b#") + std::to_string(i) + (i % 2 ? ".gif" : ".jpg");
        box.write(name, i % 2 ? gif : jpeg);
        names.push_back(name);
    }
    names.push_back("missing<\xFF>.jpg");
    const std::string folder = box.root().string();
    for (const bool rows : {false, true}) {
        SCOPED_TRACE(rows ? "rows" : "flow");
        const std::string pagePath = box.root() / "picture.htm";
        auto gallery = std::make_shared<Gallery>(pagePath);
        SizeReader sizes(defaultSizeQueries([] { return 12000.0f; }));
        std::string list;
        GalleryHooks hooks;
        hooks.listLayout = [rows] { return rows; };
        hooks.record = gallery.get();
        ASSERT_EQ(makefile(pagePath, FolderSource{folder, names}, sizes, list, hooks), RunResult::Completed);

        const std::string file = test::readFileBytes(pagePath);
        EXPECT_EQ(writtenPage(*gallery), file);
        std::vector<std::u32string> texts;
        EXPECT_EQ(test::undoServedPage(servedPage(gallery), *gallery, &texts), decodePage(file));
        ASSERT_EQ(texts.size(), rows ? names.size() : 0);
        if (rows) {
            EXPECT_EQ(texts[0], decodePage(escapeText(folder + '/' + names[0])));
            // The first screen's rows come in a small batch of their own, then in large ones.
            ASSERT_EQ(gallery->batches().size(), 3u);
            EXPECT_EQ(gallery->batches()[0].count, 4u);
            EXPECT_EQ(gallery->batches()[1].count, 512u);
        } else {
            // A flowing picture carries its header's size, as the engine draws it (turned).
            EXPECT_EQ(gallery->entry(0).width, 30);
            EXPECT_EQ(gallery->entry(0).height, 40);
            EXPECT_EQ(gallery->entry(names.size() - 1).width, 0);
        }
    }
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The archive holds each readable picture once, under the Content-ID its page names; a picture
// that cannot be read keeps its own address, and no name can end a part early. A save stopped
// through its progress leaves nothing.
TEST(Gallery, TheArchiveHoldsEachPictureOnceUnderTheIdItsPageNames)
{
    test::Sandbox box;
    const std::string a = box.write("a.gif", test::makeGif({})).string();
    const std::string odd = box.write("----=_Part_pictarre_gallery.gif", test::makeGif({})).string();
    Gallery gallery(box.root() / "picture.htm");
    for (const std::string& path : {a, odd, a, box.root().string() + "/gone.gif"})
        gallery.addRow(path, 16, 8);
    gallery.close();
    std::vector<std::size_t> told;
    const std::string target = box.root() / "saved.mht";
    ASSERT_TRUE(saveArchive(gallery, target, [&told](std::size_t done, std::size_t total) {
        told.push_back(done * 10 + total);
        return true;
    }));
    EXPECT_EQ(told, (std::vector<std::size_t>{12, 22}));
    const std::string saved = test::readFileBytes(target);
    const std::size_t start = saved.find("boundary=\"") + 10;
    const std::string boundary = "\r\n--" + saved.substr(start, saved.find('"', start) - start);
    EXPECT_EQ(occurrences(saved, boundary), 4u);  // the page, two pictures, and the end
    EXPECT_EQ(occurrences(saved, "src=\"cid:picture"), 3u);
    EXPECT_EQ(occurrences(saved, "Content-ID: <picture"), 2u);
    EXPECT_EQ(occurrences(saved, "src=\"" + box.root().string() + "/gone.gif\""), 1u);
    EXPECT_NE(saved.find("Content-Location: " + gallery.folderUrl() + "picture.htm\r\n"), std::string::npos);

    ASSERT_FALSE(saveArchive(gallery, box.root() / "stopped.mht", [](std::size_t, std::size_t) { return false; }));
    EXPECT_FALSE(std::filesystem::exists(box.root() / "stopped.mht"));
    EXPECT_FALSE(std::filesystem::exists(box.root() / "stopped.mht.part"));
}

// Batches follow the rows of one run, end at a flowing entry, and stay within their byte
// budget however long the paths; the rows answer exists for those batches only.
TEST(Gallery, BatchesAreBoundedAndOnlyTheirRowsAreAnswered)
{
    auto gallery = std::make_shared<Gallery>("/p/picture.htm");
    for (int i = 0; i < 6; ++i)
        gallery->addRow("/p/" + std::to_string(i) + ".jpg", 10, 10);
    gallery->addFlow("/p/flow.gif", PixelSize{3, 4});
    gallery->addFlow("/p/ends in src=", PixelSize{5, 6});  // its link's closing quote makes ' src="'
    gallery->addRow("/p/ends in data-n=", 10, 10, 40);  // fitted from 40 wide
    const std::string longPath = "/" + std::string(300'000, 'x');
    for (int i = 0; i < 9; ++i)
        gallery->addRow(longPath, 10, -5);
    gallery->close();

    std::vector<std::uint32_t> counts;
    for (const auto& batch : gallery->batches())
        counts.push_back(batch.count);
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{4, 2, 4, 3, 3}));
    EXPECT_TRUE(rowsScript(*gallery, 4));
    EXPECT_FALSE(rowsScript(*gallery, 5));
    EXPECT_FALSE(rowsScript(*gallery, std::size_t{1} << 40));

    const std::string served = servedPage(gallery);
    EXPECT_NE(served.find("<img border=\"1\" data-n=\"6\" data-src=\"/p/flow.gif\" width=\"3\" height=\"4\">"),
              std::string::npos);
    EXPECT_NE(served.find(std::string(protocol::kBatchCall) + "(4,[0,0,0],"), std::string::npos);  // no negative heights
    EXPECT_NE(served.find("],[10,10,10,10],[40,10,10,10])</script>"), std::string::npos);  // widths, widest
    EXPECT_NE(served.find("<a href=\"/p/ends in src=\" target=\"_blank\"><img border=\"1\" data-n=\"7\" data-src=\"/p/ends in src=\""),
              std::string::npos);
    EXPECT_EQ(test::undoServedPage(served, *gallery), decodePage(writtenPage(*gallery)));
}

// Script strings are plain ASCII that read back as the characters the page's decoder sees, in
// UTF-8 and in a double-byte locale, where a quote after a character whose last byte is a
// backslash once broke a whole batch; the link text keeps every character valid in the locale.
TEST(Gallery, ScriptStringsAndLinkTextsReadBackInEveryLocale)
{
    struct Case {
        const char* locale;
        std::string path;
        std::u32string shown;  // the link text as the page shows it
    };
    const std::vector<Case> cases = {
        {"C.UTF-8", "/p/\xE4\xB8\xAD\",x.jpg", U"/p/中\",x.jpg"},
        {"C.UTF-8", "/p/bad\xFF\xC3.jpg", U"/p/bad\uFFFD\uFFFD.jpg"},
        {"C.UTF-8", "/p/\xF0\x9F\x98\x80</script>.jpg", U"/p/😀&lt;/script&gt;.jpg"},
        {"zh_CN.GB18030", "/p/\xD6\xD0\",x.jpg", U"/p/中\",x.jpg"},
        {"zh_CN.GB18030", "/p/\xD6\xD0\xCE\xC4.jpg", U"/p/中文.jpg"},
        {"zh_CN.GB18030", "/p/\x95\x5C\".jpg", U"/p/\u661E\".jpg"},  // a backslash as second byte
        {"zh_CN.GB18030", "/p/cut\xD6.jpg", U"/p/cut\uFFFD.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale + (": " + c.path));
        const LocaleScope scope(c.locale);
        if (!scope.ok())
            GTEST_SKIP() << c.locale << " is not available (LOCPATH)";
        auto gallery = std::make_shared<Gallery>("/p/picture.htm");
        gallery->addRow(c.path, 10, 10);
        gallery->addRow("/p/next.jpg", 10, 10);
        gallery->close();
        std::vector<std::u32string> texts;
        const std::string served = servedPage(gallery);
        EXPECT_EQ(test::undoServedPage(served, *gallery, &texts), decodePage(writtenPage(*gallery)));
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], c.shown);
        const std::size_t scripts = served.find(std::string(protocol::kBatchCall));
        for (std::size_t i = scripts; i < served.size(); ++i)
            EXPECT_LT(static_cast<unsigned char>(served[i]), 0x80) << "at " << i;
    }
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
