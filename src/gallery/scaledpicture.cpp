#include "gallery/scaledpicture.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QTransform>

#include <unistd.h>

#include "gallery/areascaler.h"
#include "gallery/bmpdecoder.h"
#include "gallery/header.h"
#include "gallery/jpegdecoder.h"

namespace pictarre {

namespace {

// Files larger than this are served as they are rather than read into memory here.
constexpr std::size_t kMaxFile = std::size_t{1} << 30;

// The rest of the file from the descriptor's position; nothing when it cannot be read or is
// larger than kMaxFile.
std::optional<std::vector<unsigned char>> readRest(int fd)
{
    std::vector<unsigned char> bytes;
    std::size_t size = 0;
    for (;;) {
        if (bytes.size() - size < 65536)
            bytes.resize(std::max<std::size_t>(bytes.size() * 2, 1 << 20));
        const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
        if (size > kMaxFile)
            return std::nullopt;
    }
    bytes.resize(size);
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
    const auto bytes = readRest(fd);
    if (!bytes || bytes->size() < 2)
        return std::nullopt;
    // The same rule the page's box comes from: the size as drawn and the turn that gives it.
    const auto layout = readPictureLayout(*bytes);
    if (!layout)
        return std::nullopt;
    const bool bmp = (*bytes)[0] == 'B' && (*bytes)[1] == 'M';
    const bool jpeg = (*bytes)[0] == 0xFF && (*bytes)[1] == 0xD8;
    if (!bmp && !jpeg)
        return std::nullopt;  // a GIF may move: served as it is
    const QSize drawn(static_cast<int>(std::min<std::uint32_t>(layout->size.width, 1u << 30)),
                      static_cast<int>(std::min<std::uint32_t>(layout->size.height, 1u << 30)));
    const QSize box(static_cast<int>(std::min<std::uint32_t>(width, 1u << 15)),
                    static_cast<int>(std::min<std::uint32_t>(height, 1u << 15)));
    if (drawn.isEmpty() || qint64(drawn.width()) * drawn.height() < 2 * qint64(box.width()) * box.height())
        return std::nullopt;

    QSize target = drawn.scaled(box, Qt::KeepAspectRatio).boundedTo(drawn).expandedTo(QSize(1, 1));
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
