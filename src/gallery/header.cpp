#include "gallery/header.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include <unistd.h>

namespace pictarre {

namespace {

// Random access to the picture's bytes. `get` gives a pointer to exactly `n` bytes at `offset`,
// or nullptr when they are not all there; the pointer is valid until the next call.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual const unsigned char* get(std::uint64_t offset, std::size_t n) = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    const unsigned char* get(std::uint64_t offset, std::size_t n) override { return bytesAt(bytes_, offset, n); }

private:
    std::span<const unsigned char> bytes_;
};

// Keeps one window of the file in memory and reads a new one only when a request falls
// outside it, so a JPEG's large segments are skipped by seeking, not read.
class FileSource final : public ByteSource {
public:
    static constexpr std::size_t kChunk = 4096;

    explicit FileSource(int fd) : fd_(fd) {}

    const unsigned char* get(std::uint64_t offset, std::size_t n) override
    {
        if (offset >= start_ && offset - start_ <= window_.size() && n <= window_.size() - (offset - start_))
            return window_.data() + (offset - start_);
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            return nullptr;
        window_.resize(std::max(n, kChunk));
        const std::size_t got = readAt(offset, window_.data(), window_.size());
        window_.resize(got);
        start_ = offset;
        return got >= n ? window_.data() : nullptr;
    }

private:
    std::size_t readAt(std::uint64_t offset, unsigned char* dst, std::size_t size) const
    {
        std::size_t total = 0;
        while (total < size) {
            const ssize_t r = ::pread(fd_, dst + total, size - total, static_cast<off_t>(offset + total));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            total += static_cast<std::size_t>(r);
        }
        return total;
    }

    int fd_;
    std::uint64_t start_ = 0;
    std::vector<unsigned char> window_;
};

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint16_t be16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t be32(const unsigned char* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// The DIB header sizes the engine accepts: the 12-byte core header, the Windows 40/52/56/108/124
// forms, and the OS/2 2.x forms of 16 to 64 bytes.
bool acceptedDibSize(std::uint32_t size)
{
    if (size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124)
        return true;
    return size >= 16 && size <= 64 && (size % 4 == 0 || size == 42 || size == 46);
}

std::optional<PixelSize> readBmp(ByteSource& src)
{
    const unsigned char* p = src.get(14, 4);
    if (!p)
        return std::nullopt;
    const std::uint32_t dibSize = le32(p);
    if (!acceptedDibSize(dibSize))
        return std::nullopt;
    if (dibSize == 12) {
        p = src.get(18, 4);
        if (!p)
            return std::nullopt;
        return PixelSize{le16(p), le16(p + 2)};
    }
    p = src.get(18, 8);
    if (!p)
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(le32(p));
    const auto height = static_cast<std::int32_t>(le32(p + 4));
    // A negative width is no picture; a negative height is a top-down bitmap.
    if (width < 0 || height == std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    return PixelSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height < 0 ? -height : height)};
}

std::optional<PixelSize> readGif(ByteSource& src)
{
    const unsigned char* p = src.get(6, 7);
    if (!p)
        return std::nullopt;
    const std::uint32_t screenW = le16(p);
    const std::uint32_t screenH = le16(p + 2);
    const unsigned flags = p[4];
    std::uint64_t pos = 13;
    if (flags & 0x80)
        pos += 3u * (2u << (flags & 7));
    for (;;) {
        p = src.get(pos, 1);
        if (!p)
            return std::nullopt;
        if (*p == 0x2C) {
            p = src.get(pos + 1, 8);
            if (!p)
                return std::nullopt;
            const std::uint32_t right = std::uint32_t{le16(p)} + le16(p + 4);
            const std::uint32_t bottom = std::uint32_t{le16(p + 2)} + le16(p + 6);
            return PixelSize{std::max(screenW, right), std::max(screenH, bottom)};
        }
        // A GIF that ends before any frame is drawn at its logical screen's size.
        if (*p == 0x3B)
            return PixelSize{screenW, screenH};
        if (*p != 0x21)
            return std::nullopt;  // garbage before any frame
        pos += 2;  // introducer and label
        for (;;) {
            p = src.get(pos, 1);
            if (!p)
                return std::nullopt;
            pos += 1u + *p;
            if (*p == 0)
                break;
        }
    }
}

bool isFrameMarker(unsigned m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// An EXIF orientation (1 to 8) read so far; kNeedMore when IFD0 runs past the bytes given.
constexpr unsigned kUpright = 1;
constexpr unsigned kNeedMore = 0;

// Reads tag 0x0112 of IFD0 from an APP1 body ("Exif\0\0" + TIFF). A body that is not a
// readable TIFF, a tag of the wrong type and a value outside 1 to 8 count as upright, as the
// engine treats them; kNeedMore when IFD0 runs past the bytes given but the segment holds more.
unsigned exifOrientation(const unsigned char* body, std::size_t size, bool whole)
{
    static constexpr unsigned char kExif[] = {'E', 'x', 'i', 'f', 0, 0};
    const unsigned missing = whole ? kUpright : kNeedMore;
    if (size < 6)
        return missing;
    if (std::memcmp(body, kExif, 6) != 0)
        return kUpright;
    if (size < 6 + 8)
        return missing;
    const unsigned char* tiff = body + 6;
    const std::size_t tiffSize = size - 6;
    bool big;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        big = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        big = true;
    else
        return kUpright;
    auto u16 = [&](std::size_t at) { return big ? be16(tiff + at) : le16(tiff + at); };
    auto u32 = [&](std::size_t at) { return big ? be32(tiff + at) : le32(tiff + at); };
    if (u16(2) != 42)
        return kUpright;
    const std::uint64_t ifd = u32(4);
    if (ifd + 2 > tiffSize)
        return missing;
    const unsigned count = u16(static_cast<std::size_t>(ifd));
    for (unsigned i = 0; i < count; ++i) {
        const std::uint64_t entry = ifd + 2 + 12ull * i;
        if (entry + 12 > tiffSize)
            return missing;
        const auto e = static_cast<std::size_t>(entry);
        if (u16(e) != 0x0112)
            continue;
        if (u16(e + 2) != 3 || u32(e + 4) != 1)
            return kUpright;
        const unsigned value = u16(e + 8);
        return value >= 1 && value <= 8 ? value : kUpright;
    }
    return kUpright;
}

bool swaps(unsigned orientation) { return orientation >= 5; }

PixelSize turned(PixelSize stored, unsigned orientation)
{
    return swaps(orientation) ? PixelSize{stored.height, stored.width} : stored;
}

std::optional<PictureLayout> readJpeg(ByteSource& src)
{
    // How much of an APP1 segment is read first; IFD0 lies at its start.
    static constexpr std::size_t kExifPrefix = 4096;
    std::uint64_t pos = 2;
    std::optional<unsigned> orientation;  // set by the first Exif APP1
    std::optional<PixelSize> frame;
    for (;;) {
        const unsigned char* p = src.get(pos, 1);
        if (!p || *p != 0xFF)
            return std::nullopt;
        unsigned marker;
        do {  // fill bytes: any number of 0xFF before the marker code
            p = src.get(++pos, 1);
            if (!p)
                return std::nullopt;
            marker = *p;
        } while (marker == 0xFF);
        ++pos;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            continue;
        if (marker == 0xDA) {
            // Markers past the frame header up to the scan can still carry the first Exif block.
            if (frame) {
                const unsigned o = orientation.value_or(kUpright);
                return PictureLayout{turned(*frame, o), o};
            }
            return std::nullopt;
        }
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9)
            return std::nullopt;
        p = src.get(pos, 2);
        if (!p)
            return std::nullopt;
        const std::uint16_t length = be16(p);
        if (length < 2)
            return std::nullopt;
        const std::size_t bodySize = length - 2u;
        if (isFrameMarker(marker) && !frame) {
            if (bodySize < 6)
                return std::nullopt;
            p = src.get(pos + 2, 5);
            if (!p)
                return std::nullopt;
            frame = PixelSize{be16(p + 3), be16(p + 1)};
            if (orientation)
                return PictureLayout{turned(*frame, *orientation), *orientation};
        } else if (marker == 0xE1 && !orientation) {
            const std::size_t first = std::min(bodySize, kExifPrefix);
            p = src.get(pos + 2, first);
            if (!p)
                return std::nullopt;
            unsigned o = exifOrientation(p, first, first == bodySize);
            if (o == kNeedMore) {
                p = src.get(pos + 2, bodySize);
                if (!p)
                    return std::nullopt;
                o = exifOrientation(p, bodySize, true);
            }
            if (first >= 6 && std::memcmp(p, "Exif\0\0", 6) == 0)
                orientation = o;
        }
        pos += length;
    }
}

std::optional<PictureLayout> upright(std::optional<PixelSize> size)
{
    if (!size)
        return std::nullopt;
    return PictureLayout{*size, kUpright};
}

std::optional<PictureLayout> readLayout(ByteSource& src)
{
    const unsigned char* p = src.get(0, 2);
    if (!p)
        return std::nullopt;
    if (p[0] == 'B' && p[1] == 'M')
        return upright(readBmp(src));
    if (p[0] == 0xFF && p[1] == 0xD8)
        return readJpeg(src);
    p = src.get(0, 6);
    if (p && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0))
        return upright(readGif(src));
    return std::nullopt;
}

std::optional<PixelSize> readHeader(ByteSource& src)
{
    if (auto layout = readLayout(src))
        return layout->size;
    return std::nullopt;
}

}  // namespace

std::optional<PixelSize> readPictureHeader(std::span<const unsigned char> bytes)
{
    SpanSource src(bytes);
    return readHeader(src);
}

std::optional<PictureLayout> readPictureLayout(std::span<const unsigned char> bytes)
{
    SpanSource src(bytes);
    return readLayout(src);
}

std::optional<PictureLayout> readPictureLayoutAt(int fd)
{
    FileSource src(fd);
    return readLayout(src);
}

std::optional<PixelSize> readPictureSize(const FileDescriptor& file)
{
    if (!file.isOpen())
        return std::nullopt;
    FileSource src(file.get());
    return readHeader(src);
}

std::optional<PixelSize> readPictureSize(const std::string& path)
{
    return readPictureSize(openRegularFile(path));
}

std::string_view pictureMimeType(std::string_view start)
{
    if (start.starts_with("\xFF\xD8"))
        return "image/jpeg";
    if (start.starts_with("GIF8"))
        return "image/gif";
    if (start.starts_with("BM"))
        return "image/bmp";
    if (start.starts_with("\x89PNG"))
        return "image/png";
    return "application/octet-stream";
}

}  // namespace pictarre
