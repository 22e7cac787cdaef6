#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pictarre {

// The platform queries behind getsize. Each may fail (nothing), and the step that asked is then
// abandoned with the previous values kept.
struct SizeQueries {
    // The detail text of a picture for column 27 (width) or 28 (height): a text that begins with
    // the size in pixels, or holds no leading number when there is none.
    std::function<std::optional<std::string>(const std::string& path, int column)> detailText;
    // Loads the picture (without decoding its pixels) and gives its size in twips, 15 a pixel.
    std::function<std::optional<std::pair<float, float>>(const std::string& path)> loadTwips;
    // The width of the gallery browser in twips.
    std::function<float()> webWidthTwips;
};

// The detail text our header reader gives for a column: the pixel size in decimal, or "" when
// the header gives no answer; nothing when the file cannot be opened.
std::optional<std::string> headerDetailText(const std::string& path, int column);

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
    float imageWidthTwips = 855.0f;
    float imageHeightTwips = 735.0f;

private:
    SizeQueries queries_;
    float ratio_ = 0.0f;
};

// The queries the program uses: our header reader for the detail columns, Qt's image reader
// (size only, no decode) for the fallback, and the browser width as the callback gives it.
SizeQueries defaultSizeQueries(std::function<float()> webWidthTwips);

}  // namespace pictarre
