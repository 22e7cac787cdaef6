#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pictarre {

// A picture re-encoded for the browser view.
struct EncodedPicture {
    std::string bytes;
    std::string mimeType;
};

// The still picture in the open file `fd` (BMP or JPEG), decoded at no more than `width` ×
// `height` pixels (its orientation applied) and encoded again, when its own size is at least
// twice that area; nothing when it is smaller, animated, or cannot be decoded, and the file's
// own bytes serve better. Reads from the descriptor's current position; never closes it.
std::optional<EncodedPicture> scaledPicture(int fd, std::uint32_t width, std::uint32_t height);

}  // namespace pictarre
