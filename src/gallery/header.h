#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "collect/filedescriptor.h"

namespace pictarre {

// A picture's size in pixels, as the browser engine draws it.
struct PixelSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// A picture's size as drawn and the EXIF orientation (1 to 8) the engine applies to draw it;
// 1 for everything but a JPEG whose first Exif block says otherwise in IFD0.
struct PictureLayout {
    PixelSize size;
    unsigned orientation = 1;
};

// The `n` bytes at `offset` of `bytes`, or nullptr when they are not all there: the one way the
// readers of untrusted files reach into what they were given.
inline const unsigned char* bytesAt(std::span<const unsigned char> bytes, std::uint64_t offset, std::uint64_t n)
{
    if (offset > bytes.size() || n > bytes.size() - offset)
        return nullptr;
    return bytes.data() + offset;
}

// Reads the size from the first bytes of a BMP, GIF or JPEG held in memory. Never reads past
// `bytes`; answers nothing rather than a guess when the header is cut short or malformed.
std::optional<PixelSize> readPictureHeader(std::span<const unsigned char> bytes);

// The same rule as readPictureHeader, with the orientation that gives the size: the one rule
// for the box a picture is drawn in and for the turn of a copy made of it.
std::optional<PictureLayout> readPictureLayout(std::span<const unsigned char> bytes);

// readPictureLayout for the picture file open as `fd`, read from its start and only as far as
// the layout needs.
std::optional<PictureLayout> readPictureLayoutAt(int fd);

// Reads the size from an open picture file, reading only what it needs (a JPEG's large APPn
// segments are skipped by their length, not read). Nothing when the file cannot be read or has
// no answer.
std::optional<PixelSize> readPictureSize(const FileDescriptor& file);

// The same for the file at `path`, opened only if it is a regular file (openRegularFile): a
// FIFO or a device answers nothing at once.
std::optional<PixelSize> readPictureSize(const std::string& path);

// The media type of a picture from its first bytes, as a browser sniffs it:
// "application/octet-stream" for anything else.
std::string_view pictureMimeType(std::string_view start);

}  // namespace pictarre
