#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pictarre {

// A picture re-encoded for the browser view; or, when `refused`, no bytes: the file is served
// as nothing at all, whatever size is asked for.
struct EncodedPicture {
    std::string bytes;
    std::string mimeType;
    bool refused = false;
};

// The engine draws no picture whose pixels, at four bytes each, pass 2^31 bytes: it shows
// its broken-picture box instead.
constexpr std::uint64_t kMostDrawnPixels = ((std::uint64_t{1} << 31) - 1) / 4;

// The still picture in the open file `fd` (BMP or JPEG), decoded at no more than `width` ×
// `height` pixels (its orientation applied) and encoded again, when its own size is at least
// twice that area; nothing when it is smaller, animated, or cannot be decoded, and the file's
// own bytes serve better. Refused (see EncodedPicture) when the engine would not draw it
// either: its header claims more than kMostDrawnPixels, or the file is far larger than any
// picture of its kind and size. What it reads and holds is bounded whatever the header says:
// the header by its own reader, the file only once its size is known to be plausible, the copy
// at most kMostCopyPixels. Reads the file from its start; never closes it.
std::optional<EncodedPicture> scaledPicture(int fd, std::uint32_t width, std::uint32_t height);

}  // namespace pictarre
