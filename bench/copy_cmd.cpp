// pictarre-bench copy: the time scaledPicture takes for each picture given, against Qt's own
// image reader doing the same job (scaled read with its own orientation, q90 JPEG), alternated
// in one run so both see the same machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include <fcntl.h>
#include <unistd.h>

#include "commands.h"
#include "gallery/scaledpicture.h"

namespace {

// The copy as Qt's reader makes it: decoded at the box by the reader, turned by Qt's own
// reading of the orientation, written as a q90 JPEG.
std::size_t qtReaderCopy(const char* path, int width, int height)
{
    QImageReader reader(QString::fromLocal8Bit(path));
    reader.setAutoTransform(true);
    QSize size = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    if (turned)
        size.transpose();
    QSize stored = size.scaled(QSize(width, height), Qt::KeepAspectRatio);
    if (turned)
        stored.transpose();
    reader.setScaledSize(stored);
    const QImage image = reader.read();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return static_cast<std::size_t>(bytes.size());
}

std::size_t ownCopy(const char* path, int width, int height)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const auto copy = pictarre::scaledPicture(fd, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    ::close(fd);
    return copy ? copy->bytes.size() : 0;
}

template <typename F>
double seconds(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int benchCopy(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: pictarre-bench copy WIDTH HEIGHT RUNS PICTURE...\n");
        return 2;
    }
    const int width = std::atoi(argv[0]);
    const int height = std::atoi(argv[1]);
    const int runs = std::max(1, std::atoi(argv[2]));
    for (int i = 3; i < argc; ++i) {
        std::vector<double> qt;
        std::vector<double> own;
        std::size_t qtBytes = 0;
        std::size_t ownBytes = 0;
        for (int r = 0; r < runs; ++r) {
            qt.push_back(seconds([&] { qtBytes = qtReaderCopy(argv[i], width, height); }));
            own.push_back(seconds([&] { ownBytes = ownCopy(argv[i], width, height); }));
        }
        std::printf("%s\tqt-reader %.1f ms (%zu B)\tscaledPicture %.1f ms (%zu B)\tratio %.2f\n", argv[i],
                    1000 * median(qt), qtBytes, 1000 * median(own), ownBytes, median(own) / median(qt));
    }
    return 0;
}
