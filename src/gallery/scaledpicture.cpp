#include "gallery/scaledpicture.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

namespace pictarre {

std::optional<EncodedPicture> scaledPicture(int fd, std::uint32_t width, std::uint32_t height)
{
    if (width == 0 || height == 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    // A GIF may move; only the still formats are worth decoding here.
    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "bmp")
        return std::nullopt;
    QSize size = reader.size();
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    const QSize box(static_cast<int>(std::min<std::uint32_t>(width, 1u << 15)),
                    static_cast<int>(std::min<std::uint32_t>(height, 1u << 15)));
    if (size.isEmpty() || qint64(size.width()) * size.height() < 2 * qint64(box.width()) * box.height())
        return std::nullopt;

    // The reader scales before it turns, so it is given the box the stored picture fits.
    QSize stored = size.scaled(box, Qt::KeepAspectRatio);
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        stored.transpose();
    reader.setScaledSize(stored);
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;

    EncodedPicture picture;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool alpha = image.hasAlphaChannel();
    QImageWriter writer(&buffer, alpha ? "png" : "jpeg");
    if (!alpha)
        writer.setQuality(90);
    if (!writer.write(image))
        return std::nullopt;
    picture.bytes.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    picture.mimeType = alpha ? "image/png" : "image/jpeg";
    return picture;
}

}  // namespace pictarre
