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
// size as width and height, so that the layout stands before the picture arrives. Everything
// else, the text and the links included, passes unchanged. `prologue` goes before the first
// line.
class LazyPage {
public:
    using SizeLookup = std::function<std::optional<PixelSize>(const std::string& path)>;

    // Sizes come from `sizeOf`, by default from the picture's header.
    explicit LazyPage(std::string prologue, SizeLookup sizeOf = {});

    // Appends the served form of `line` (given with its line end) to `out`.
    void transform(std::string_view line, std::string& out);

private:
    void appendImageTag(std::string_view tag, std::string& out) const;

    std::string prologue_;
    SizeLookup sizeOf_;
    bool started_ = false;
};

}  // namespace pictarre
