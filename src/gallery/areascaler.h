#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <QImage>

namespace pictarre {

// Shrinks a picture by area averaging while its rows arrive, in any order, so a decoder never
// holds more than one source row: each source pixel adds its share of area to the one or two
// output pixels it covers in each direction. Rows that never arrive count as transparent, which
// is how the engine draws the rows a cut or sparse file leaves undefined. Averages are taken
// over premultiplied colour, so transparent pixels lend no colour to their neighbours. A source
// of the output's own size is copied as it comes.
class AreaScaler {
public:
    // Output size at most the source size in each direction; both at least 1.
    AreaScaler(int sourceWidth, int sourceHeight, int width, int height);

    // Adds source row `y` (0 at the top): `sourceWidth` pixels as 0xAARRGGBB, not premultiplied.
    void addRow(int y, std::span<const std::uint32_t> pixels);

    // The averaged picture: RGB32 when every pixel came out opaque, else ARGB32.
    QImage result() const;

private:
    struct Share {
        int first;  // output index the pixel covers first
        float weight;  // its share of that output pixel; the rest goes to first + 1
    };
    static std::vector<Share> shares(int from, int to);

    int width_;
    int height_;
    // A source already at the output size (the JPEG decoder's own scaling often lands there):
    // its rows are taken as they come, with nothing to average.
    bool identity_;
    QImage image_;
    std::vector<Share> columns_;
    std::vector<Share> rows_;
    std::vector<float> row_;  // the current source row, shrunk across: a, r·a, g·a, b·a
    std::vector<float> sums_;  // the output so far, same layout
    float norm_;  // total share of one output pixel
};

}  // namespace pictarre
