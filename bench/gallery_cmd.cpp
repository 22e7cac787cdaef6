#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "collect/folderlist.h"
#include "collect/listfile.h"
#include "commands.h"
#include "gallery/getsize.h"
#include "gallery/header.h"
#include "gallery/makefile.h"
#include "gallery/valnum.h"

namespace {

// The unscaled size the program would write: the header's, else the image reader's.
std::pair<long, long> unscaledSize(const std::string& path, const pictarre::SizeQueries& queries)
{
    if (const auto size = pictarre::readPictureSize(path); size && size->width != 0 && size->height != 0)
        return {size->width, size->height};
    if (const auto twips = queries.loadTwips(path)) {
        const auto width = pictarre::wholeNumber(twips->first / 15.0f);
        const auto height = pictarre::wholeNumber(twips->second / 15.0f);
        if (width && height)
            return {*width, *height};
    }
    return {0, 0};
}

}  // namespace

// pictarre-bench sizes [--header-only] < LIST: "width<TAB>height" for every path read.
int benchSizes(int argc, char** argv)
{
    const bool headerOnly = argc >= 1 && std::strcmp(argv[0], "--header-only") == 0;
    const auto queries = pictarre::defaultSizeQueries([] { return 0.0f; });
    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    // Standard input may be a pipe: it is read as it is, not only when it is a regular file.
    pictarre::ImageListReader list{pictarre::FileDescriptor(::dup(STDIN_FILENO))};
    while (const auto path = list.nextLine()) {
        std::pair<long, long> size{0, 0};
        if (headerOnly) {
            if (const auto header = pictarre::readPictureSize(*path))
                size = {header->width, header->height};
        } else {
            size = unscaledSize(*path, queries);
        }
        std::printf("%ld\t%ld\n", size.first, size.second);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// pictarre-bench page --source folder|list --layout flow|row --web-width TWIPS --out FILE PATH
int benchPage(int argc, char** argv)
{
    std::string source, layout = "row", out, path;
    float webWidth = 12000.0f;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--source" && hasValue)
            source = argv[++i];
        else if (arg == "--layout" && hasValue)
            layout = argv[++i];
        else if (arg == "--web-width" && hasValue)
            webWidth = std::strtof(argv[++i], nullptr);
        else if (arg == "--out" && hasValue)
            out = argv[++i];
        else
            path = arg;
    }
    if ((source != "folder" && source != "list") || (layout != "flow" && layout != "row") || out.empty() ||
        path.empty()) {
        std::fputs("usage: pictarre-bench page --source folder|list --layout flow|row --web-width TWIPS"
                   " --out FILE PATH\n",
                   stderr);
        return 2;
    }
    pictarre::SizeReader sizes(pictarre::defaultSizeQueries([webWidth] { return webWidth; }));
    std::string imageListText;
    pictarre::GalleryHooks hooks;
    hooks.listLayout = [row = layout == "row"] { return row; };
    pictarre::RunResult result = pictarre::RunResult::Failed;
    if (source == "folder") {
        std::string folder = path;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        const pictarre::FolderSource folderSource{folder, pictarre::listFolderPictures(folder)};
        result = pictarre::makefile(out, folderSource, sizes, imageListText, hooks);
    } else {
        // The count the search would have set: one picture per non-empty line.
        std::int32_t count = 0;
        pictarre::ImageListReader list(path);
        while (const auto line = list.nextLine())
            count += line->empty() ? 0 : 1;
        result = pictarre::makefile(out, pictarre::ListSource{path, count}, sizes, imageListText, hooks);
    }
    return result == pictarre::RunResult::Completed ? 0 : 1;
}
