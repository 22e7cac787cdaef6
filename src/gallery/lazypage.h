#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gallery/header.h"

namespace pictarre {

// The path a src or href value of the gallery page names: its character references and %XX
// escapes undone, giving the path's bytes. Nothing when a "%" is not followed by two hex digits.
std::optional<std::string> pathOfPageAddress(std::string_view address);

// A path (native bytes) as the path of a URL: every byte other than ASCII letters, digits and
// "-._~/" percent-encoded, so any name, in any encoding, survives the URL parser unchanged.
std::string percentEncodePath(std::string_view path);

// A file: URL for an absolute folder path (native bytes), ending in "/".
std::string fileUrlOfFolder(std::string_view folder);

// Turns the gallery page, line by line, into the page the browser view is given. Each picture's
// address moves from `src` into `data-src`, so the view fetches only the pictures its page
// script asks for (those near the screen); a picture tag without a size gets the picture's own
// size as width and height, so that the layout stands before the picture arrives. The table
// rows of the row layout (each picture's two rows) do not go into the page as markup: they go,
// unchanged otherwise, as strings to the page script's `pictarreGallery.rows([...])`, which
// puts into the page only the rows near the screen, since a page holding tens of thousands of
// rows would take the engine minutes and gigabytes to lay out. Everything else passes
// unchanged.
class LazyPage {
public:
    using SizeLookup = std::function<std::optional<PixelSize>(const std::string& path)>;

    // Sizes come from `sizeOf`, by default from the picture's header.
    explicit LazyPage(SizeLookup sizeOf = {});

    // Appends the served form of `line` (given with its line end) to `out`.
    void transform(std::string_view line, std::string& out);
    // Appends what is still held back at the end of the page.
    void finish(std::string& out);

private:
    void appendImages(std::string_view line, std::string& out) const;
    void appendImageTag(std::string_view tag, std::string& out) const;
    void flushRows(std::string& out);

    SizeLookup sizeOf_;
    std::string entry_;          // the rows of the picture being read
    int entryRowsClosed_ = 0;    // its "</tr>" lines so far
    std::string batch_;          // finished entries as script strings, comma-separated
    int batchEntries_ = 0;
    int entriesSent_ = 0;
};

}  // namespace pictarre
