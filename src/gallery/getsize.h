#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "gallery/header.h"

namespace pictarre {

// The detail columns that hold a picture's width and height in pixels.
inline constexpr int kWidthColumn = 27;
inline constexpr int kHeightColumn = 28;

// The platform queries behind getsize. Each may fail (nothing), and the step that asked is then
// abandoned with the previous values kept.
struct SizeQueries {
    // The detail text of a picture for kWidthColumn or kHeightColumn: a text that begins with
    // the size in pixels, or holds no leading number when there is none.
    std::function<std::optional<std::string>(const std::string& path, int column)> detailText;
    // Loads the picture (without decoding its pixels) and gives its size in twips, 15 a pixel.
    std::function<std::optional<std::pair<float, float>>(const std::string& path)> loadTwips;
    // The width of the gallery browser in twips.
    std::function<float()> webWidthTwips;
};

// The detail text our header reader gives for a column: the pixel size in decimal, or "" when
// the header gives no answer (or for another column); nothing when the file cannot be opened
// as a regular file (missing, unreadable, a FIFO, a device). getsize asks for the width and
// then the height of one picture, so the header is read once for both: the height query of
// the path the width query read uses that read up, and the next query reads anew.
class HeaderDetailText {
public:
    std::optional<std::string> operator()(const std::string& path, int column);

private:
    std::string path_;
    std::optional<std::optional<PixelSize>> header_;
    bool fresh_ = false;
};

// The image reader's size of the picture at `path` in twips, 15 a pixel, turned as the browser
// draws it; nothing when it is no regular file or the reader finds no size. The reader gets the
// file through an already checked descriptor, never by its path.
std::optional<std::pair<float, float>> imageReaderTwips(const std::string& path);

// Holds the values that live on between pictures: the last width and height written, and the
// size the hidden image control keeps from the last picture it loaded (its design-time size,
// 855 x 735 twips, before any).
class SizeReader {
public:
    explicit SizeReader(SizeQueries queries);

    // Sets PictureWidth and PictureHeight for `path`: the header's size, else the loaded
    // picture's, scaled down to fit the browser width less 24 pixels. Never fails.
    void getsize(const std::string& path);

    std::int32_t PictureWidth = 0;
    std::int32_t PictureHeight = 0;
    // PictureWidth before it was fitted to the browser width (the same when it fitted).
    std::int32_t unfittedWidth = 0;
    float imageWidthTwips = 855.0f;
    float imageHeightTwips = 735.0f;

private:
    SizeQueries queries_;
    float ratio_ = 0.0f;
};

// The queries the program uses: HeaderDetailText for the detail columns, imageReaderTwips for
// the fallback, and the browser width as the callback gives it.
SizeQueries defaultSizeQueries(std::function<float()> webWidthTwips);

}  // namespace pictarre
