#include "gallery/scaledpicture.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <vector>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QTransform>

#include <sys/stat.h>
#include <unistd.h>

#include "gallery/areascaler.h"
#include "gallery/bmpdecoder.h"
#include "gallery/header.h"
#include "gallery/jpegdecoder.h"

namespace pictarre {

namespace {

// Files larger than this are served as they are rather than read into memory here.
constexpr std::size_t kMaxFile = std::size_t{256} << 20;
// The largest copy made, whatever box it is asked for: 4096 × 4096 pixels, 64 MB.
constexpr std::uint64_t kMostCopyPixels = std::uint64_t{1} << 24;
// The widest picture decoded for a copy: the BMP decoder holds one of its rows.
constexpr std::uint32_t kMostDecodedWidth = 1u << 20;

// Whether a file of `fileSize` bytes is far larger than any BMP or JPEG of `pixels` pixels can
// be: four bytes a pixel uncompressed, a JPEG's worst coding well under that, twice over, with
// room for profiles, thumbnails and other blocks beside the picture.
bool implausiblyLarge(std::uint64_t fileSize, std::uint64_t pixels)
{
    return fileSize > 8 * pixels + (std::uint64_t{64} << 20);
}

// The whole file of `size` bytes, read from its start; nothing when it cannot be read.
std::optional<std::vector<unsigned char>> readWhole(int fd, std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;  // cut meanwhile: what there is
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

QImage shrinkBmp(std::span<const unsigned char> bytes, QSize target)
{
    const auto header = readBmpHeader(bytes);
    if (!header || header->width < target.width() || header->height < target.height())
        return {};
    auto shrink = [&](bool ignoreAlpha, BmpDecodeResult& result) {
        AreaScaler scaler(header->width, header->height, target.width(), target.height());
        result = decodeBmp(bytes, *header, ignoreAlpha,
                           [&scaler](int y, std::span<const std::uint32_t> row) { scaler.addRow(y, row); });
        return result.ok ? scaler.result() : QImage();
    };
    BmpDecodeResult result;
    QImage image = shrink(false, result);
    // The engine draws a picture whose alpha channel is zero throughout as opaque.
    if (!image.isNull() && header->masks[3] != 0 && !result.sawAlpha)
        image = shrink(true, result);
    return image;
}

QImage shrinkJpeg(std::span<const unsigned char> bytes, QSize target)
{
    std::optional<AreaScaler> scaler;
    const bool ok = decodeJpeg(
        bytes, target.width(), target.height(),
        [&](int width, int height) {
            scaler.emplace(width, height, std::min(target.width(), width), std::min(target.height(), height));
        },
        [&](int y, std::span<const std::uint32_t> row) { scaler->addRow(y, row); });
    return ok && scaler ? scaler->result() : QImage();
}

// Turns a picture stored in EXIF orientation `orientation` upright.
QImage turnUpright(const QImage& image, unsigned orientation)
{
    const QTransform quarter = QTransform().rotate(90);
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(quarter).mirrored(true, false);
    case 6: return image.transformed(quarter);
    case 7: return image.transformed(quarter).mirrored(false, true);
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

std::optional<EncodedPicture> encode(const QImage& image, bool lossless)
{
    const bool png = lossless || image.hasAlphaChannel();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, png ? "png" : "jpeg");
    if (!png)
        writer.setQuality(90);
    if (!writer.write(image))
        return std::nullopt;
    return EncodedPicture{std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                          png ? "image/png" : "image/jpeg"};
}

}  // namespace

std::optional<EncodedPicture> scaledPicture(int fd, std::uint32_t width, std::uint32_t height)
{
    if (width == 0 || height == 0)
        return std::nullopt;
    // The same rule the page's box comes from: the size as drawn and the turn that gives it,
    // read by the header reader, which reads no more than the header.
    struct stat st {};
    const auto layout = readPictureLayoutAt(fd);
    unsigned char kind[2] = {};
    if (!layout || ::fstat(fd, &st) != 0 || ::pread(fd, kind, 2, 0) != 2)
        return std::nullopt;
    const bool bmp = kind[0] == 'B' && kind[1] == 'M';
    const bool jpeg = kind[0] == 0xFF && kind[1] == 0xD8;
    if (!bmp && !jpeg)
        return std::nullopt;  // a GIF may move: served as it is
    const std::uint64_t pixels = std::uint64_t(layout->size.width) * layout->size.height;
    if (pixels > kMostDrawnPixels || implausiblyLarge(std::uint64_t(st.st_size), pixels))
        return EncodedPicture{{}, {}, true};
    const QSize drawn(static_cast<int>(layout->size.width), static_cast<int>(layout->size.height));
    const QSize box(static_cast<int>(std::min<std::uint32_t>(width, 1u << 15)),
                    static_cast<int>(std::min<std::uint32_t>(height, 1u << 15)));
    if (drawn.isEmpty() || qint64(drawn.width()) * drawn.height() < 2 * qint64(box.width()) * box.height()
        || std::max(layout->size.width, layout->size.height) > kMostDecodedWidth
        || std::uint64_t(st.st_size) > kMaxFile)
        return std::nullopt;
    const auto bytes = readWhole(fd, static_cast<std::size_t>(st.st_size));
    if (!bytes || bytes->size() < 2)
        return std::nullopt;

    QSize target = drawn.scaled(box, Qt::KeepAspectRatio).boundedTo(drawn);
    // A box larger than any copy made gets the largest copy, which the engine stretches.
    if (const double area = double(target.width()) * target.height(); area > double(kMostCopyPixels))
        target = (QSizeF(target) * std::sqrt(double(kMostCopyPixels) / area)).toSize();
    target = target.expandedTo(QSize(1, 1));
    if (layout->orientation >= 5)
        target.transpose();
    const QImage image = bmp ? shrinkBmp(*bytes, target) : shrinkJpeg(*bytes, target);
    if (image.isNull())
        return std::nullopt;
    // A palette's colours and a 1-bit picture's grey edges survive only a lossless copy.
    const bool lossless = bmp && readBmpHeader(*bytes)->bitCount <= 8;
    return encode(turnUpright(image, layout->orientation), lossless);
}

}  // namespace pictarre
