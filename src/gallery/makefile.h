#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "collect/yield.h"
#include "gallery/gallery.h"
#include "gallery/getsize.h"

namespace pictarre {

// What the gallery writer asks of the window while it works. Every hook may be left empty.
struct GalleryHooks {
    std::function<void(std::string_view)> setStatus;  // status panel 1 (UTF-8)
    std::function<float()> frameWidth;                // progress frame width, twips
    std::function<void(float)> setProgress;           // progress bar width, twips
    YieldFn yield;                                    // the window's turn after each entry
    std::function<bool()> listLayout;                 // row layout for the folder source
    // When set, receives every entry written (a flowing picture with its header's size) and
    // the page's end, for the view that will show the page.
    Gallery* record = nullptr;
};

// The pictures of one folder, as the file list box lists them.
struct FolderSource {
    std::string folder;              // without a trailing separator except at "/"
    std::vector<std::string> names;  // file names in list order
};

// The image list file and the picture count the search found.
struct ListSource {
    std::string listFile;
    std::int32_t PictureCount = 0;
};

enum class [[nodiscard]] RunResult {
    Completed,  // the whole page was written and closed
    Stopped,    // the yield said stop; the page was closed without its closing lines
    Failed,     // the page or the list file could not be opened, read or written
};

// Writes the gallery page at `pagePath` from the folder source (flow or row layout, asked per
// entry) or the list source (always rows). Row entries append "path\r\n" to ImageListText.
// After each entry the yield gets its turn and may stop the run. Every file it opens is closed
// on every way out. The caller keeps a second run from starting while one writes (the window's
// busy guard): two runs would write the same page.
RunResult makefile(const std::string& pagePath, const FolderSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks);
RunResult makefile(const std::string& pagePath, const ListSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks);

}  // namespace pictarre
