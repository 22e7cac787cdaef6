#include "gallery/areascaler.h"

#include <algorithm>
#include <cmath>

namespace pictarre {

AreaScaler::AreaScaler(int sourceWidth, int sourceHeight, int width, int height)
    : width_(width), height_(height), identity_(sourceWidth == width && sourceHeight == height),
      norm_(float(width) / float(sourceWidth) * float(height) / float(sourceHeight))
{
    if (identity_) {
        image_ = QImage(width, height, QImage::Format_ARGB32);
        image_.fill(0);  // rows that never come stay transparent
        return;
    }
    columns_ = shares(sourceWidth, width);
    rows_ = shares(sourceHeight, height);
    row_.resize(static_cast<std::size_t>(width) * 4 + 4);
    sums_.resize((static_cast<std::size_t>(height) + 1) * width * 4);
}

// Source pixel i spans [i·s, (i+1)·s) of the output, s = to / from ≤ 1: at most two output
// pixels. The share past the last one lands in a spare slot that result() never reads.
std::vector<AreaScaler::Share> AreaScaler::shares(int from, int to)
{
    std::vector<Share> out(static_cast<std::size_t>(from));
    const double s = double(to) / double(from);
    for (int i = 0; i < from; ++i) {
        const double start = i * s;
        const double end = (i + 1) * s;
        const int first = std::min(static_cast<int>(start), to - 1);
        const double inFirst = std::min(end, double(first + 1)) - start;
        out[static_cast<std::size_t>(i)] = {first, static_cast<float>(inFirst / s)};
    }
    return out;
}

void AreaScaler::addRow(int y, std::span<const std::uint32_t> pixels)
{
    if (identity_) {
        if (y >= 0 && y < height_ && pixels.size() == static_cast<std::size_t>(width_))
            std::copy(pixels.begin(), pixels.end(), reinterpret_cast<std::uint32_t*>(image_.scanLine(y)));
        return;
    }
    if (y < 0 || static_cast<std::size_t>(y) >= rows_.size() || pixels.size() != columns_.size())
        return;
    std::fill(row_.begin(), row_.end(), 0.0f);
    for (std::size_t x = 0; x < pixels.size(); ++x) {
        const std::uint32_t p = pixels[x];
        const float a = float(p >> 24);
        if (a == 0.0f)
            continue;
        const float k = a / 255.0f;
        const float v[4] = {a, float((p >> 16) & 0xFF) * k, float((p >> 8) & 0xFF) * k, float(p & 0xFF) * k};
        const Share share = columns_[x];
        float* first = &row_[static_cast<std::size_t>(share.first) * 4];
        const float rest = 1.0f - share.weight;
        for (int c = 0; c < 4; ++c) {
            first[c] += v[c] * share.weight;
            first[c + 4] += v[c] * rest;
        }
    }
    const Share share = rows_[static_cast<std::size_t>(y)];
    const std::size_t stride = static_cast<std::size_t>(width_) * 4;
    float* first = &sums_[static_cast<std::size_t>(share.first) * stride];
    float* second = first + stride;
    const float rest = 1.0f - share.weight;
    for (std::size_t i = 0; i < stride; ++i) {
        first[i] += row_[i] * share.weight;
        second[i] += row_[i] * rest;
    }
}

QImage AreaScaler::result() const
{
    if (identity_) {
        for (int y = 0; y < height_; ++y) {
            const auto* line = reinterpret_cast<const std::uint32_t*>(image_.constScanLine(y));
            if (std::any_of(line, line + width_, [](std::uint32_t p) { return (p >> 24) != 0xFF; }))
                return image_;
        }
        return image_.convertToFormat(QImage::Format_RGB32);
    }
    QImage image(width_, height_, QImage::Format_ARGB32);
    bool opaque = true;
    for (int y = 0; y < height_; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        const float* sum = &sums_[static_cast<std::size_t>(y) * width_ * 4];
        for (int x = 0; x < width_; ++x, sum += 4) {
            const float a = sum[0] * norm_;
            const auto alpha = static_cast<std::uint32_t>(std::clamp(std::lround(a), 0l, 255l));
            opaque = opaque && alpha == 255;
            if (alpha == 0) {
                line[x] = 0;
                continue;
            }
            // Colour over alpha: the average of the covered part, whatever its share.
            const float k = 255.0f / sum[0];
            auto channel = [&](int c) {
                return static_cast<std::uint32_t>(std::clamp(std::lround(sum[c] * k), 0l, 255l));
            };
            line[x] = (alpha << 24) | (channel(1) << 16) | (channel(2) << 8) | channel(3);
        }
    }
    return opaque ? image.convertToFormat(QImage::Format_RGB32) : image;
}

}  // namespace pictarre
