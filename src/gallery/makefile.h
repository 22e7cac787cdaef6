#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "getsize.h"

namespace pictarre {

// What the gallery writer asks of the window while it works.
struct GalleryHooks {
    std::function<void(std::string_view)> setStatus;  // status panel 1 (UTF-8)
    std::function<float()> frameWidth;                // progress frame width, twips
    std::function<void(float)> setProgress;           // progress bar width, twips
    std::function<void()> yield;                      // one turn of the message loop
    std::function<bool()> unloading;                  // the window was asked to close
    std::function<bool()> listLayout;                 // row layout for the folder source
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

enum class RunResult {
    Completed,  // the whole page was written and closed
    Stopped,    // the window is closing; the page was closed without its closing lines
    Failed,     // the page or the list file could not be opened or written
    Busy,       // another run is writing; nothing was done
};

// Writes the gallery page at `pagePath` from the folder source (flow or row layout, asked per
// entry) or the list source (always rows). Row entries append "path\r\n" to ImageListText.
// Every file it opens is closed on every way out; a second run cannot start while one writes.
RunResult makefile(const std::string& pagePath, const FolderSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks);
RunResult makefile(const std::string& pagePath, const ListSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks);

}  // namespace pictarre
