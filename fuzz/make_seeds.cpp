// Writes the seed corpora of the fuzz targets into <folder>/<target>/: pictures from the tests'
// own makers, list files, number texts and picture paths. Seeds are made at run time, not kept.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/picturefiles.h"

namespace fs = std::filesystem;
using namespace pictarre::test;

namespace {

void writeSeeds(const fs::path& folder, const std::vector<std::string>& seeds)
{
    fs::create_directories(folder);
    int index = 0;
    for (const std::string& seed : seeds) {
        std::ofstream out(folder / ("seed-" + std::to_string(index++)), std::ios::binary | std::ios::trunc);
        out.write(seed.data(), static_cast<std::streamsize>(seed.size()));
    }
}

std::vector<std::string> pictureSeeds()
{
    std::vector<std::string> seeds;
    for (const BmpForm form : {BmpForm::Core12, BmpForm::Os2Short16, BmpForm::Info40, BmpForm::Info52,
                               BmpForm::Info56, BmpForm::Os2Long64, BmpForm::V4Header108, BmpForm::V5Header124})
        seeds.push_back(makeBmp(form, 3, 2, false));
    seeds.push_back(makeBmp(BmpForm::Info40, 5, 4, true));
    GifOptions gif;
    seeds.push_back(makeGif(gif));
    gif.extensions = true;
    gif.frameLeft = 10;
    gif.frameTop = 3;
    seeds.push_back(makeGif(gif));
    gif = {};
    gif.version89a = false;
    seeds.push_back(makeGif(gif));
    JpegOptions jpeg;
    seeds.push_back(makeJpeg(jpeg));
    jpeg.progressive = true;
    jpeg.fillBytes = 2;
    seeds.push_back(makeJpeg(jpeg));
    for (const bool bigEndian : {false, true}) {
        jpeg = {};
        jpeg.exif = true;
        jpeg.exifBigEndian = bigEndian;
        jpeg.orientation = 6;
        jpeg.thumbWidth = 4;
        jpeg.thumbHeight = 2;
        seeds.push_back(makeJpeg(jpeg));
    }
    jpeg = {};
    jpeg.padding = 300;
    seeds.push_back(makeJpeg(jpeg));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    writeSeeds(root / "header", pictureSeeds());
    writeSeeds(root / "copy", pictureSeeds());
    writeSeeds(root / "listfile", {
        "\r\n",
        "/p/a.jpg\r\n/p/sub/b.GIF\r\n\r\n",
        "/p/a.jpg\n/p/b.bmp\n",
        "/p/no end.gif",
        "/p/cr\rinside.jpg\r\n\r\n\r\n",
        std::string("/p/nul\0byte.bmp\r\n", 17),
    });
    writeSeeds(root / "valnum", {
        "1600", "1600 pixels", " 1 2\t3\n4", "-.5", "+2.5", "1e10", "1d3", "2147483647.5",
        "-2147483648.5", "1,024", "", "abc", "1e-400", "1e400", ".e5", "0.4999999999999999",
    });
    writeSeeds(root / "pagewriter", {
        "/p/a.jpg", "/p/a#1.jpg", "/p/a&amp;b.jpg", "/p/&copy 1.gif", "/p/a&b c.bmp",
        "/p/<b>\"x\"?q=1%20.gif", "/p/back\\slash.jpg", "/p/\xe7\x85\xa7\xe7\x89\x87.jpg",
        "/p/\xff\xfe bad utf8.bmp", "/p/tab\there.jpg", "/p/&#38;.jpg", "/p/&lt;&gt;.gif",
        "/p/caf\xe9.gif", "/p/\xd5\xd5\xc6\xac.gif", "/p/\xe5\x9b.gif", "/p/\xc0\xaf\xe0\x80\xaf.gif",
        "/p/\xed\xa0\x80.gif", "/p/\xf4\x90\x80\x80\xf0\x9f\x98", "/p/\xf4\x8f\xbf\xbf\xef\xbf\xbd.jpg",
    });
    // Galleries: entries separated by NUL, each led by a byte that picks its layout and size.
    const std::string nul(1, '\0');
    writeSeeds(root / "gallery", {
        "\x10/p/a.jpg" + nul + "\x12/p/b#1.gif" + nul + "\x14/p/\xe4\xb8\xad\",x.jpg" + nul + "\x20/p/d.jpg",
        "\x03/p/flow.gif" + nul + "\x01/p/\xd6\xd0\x5c.gif" + nul + "\x40/p/row&amp;<x>.bmp" + nul,
        "\x08/p/\xff\xfe.jpg" + nul + "\x07/p/\x95\x5c\".gif" + nul + "\x0a/p/\xf0\x9f\x98\x80.jpg",
    });
    return 0;
}
