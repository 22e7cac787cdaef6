#include "gallery/getsize.h"

#include <exception>
#include <string>
#include <utility>

#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>
#include <QString>

#include "collect/filedescriptor.h"
#include "gallery/header.h"
#include "gallery/valnum.h"

namespace pictarre {

namespace {

constexpr float kTwipsPerPixel = 15.0f;
constexpr float kPaneMargin = 24.0f;

// Runs one step of getsize; a step that throws is abandoned and the next one runs.
template <typename Step>
void guarded(Step&& step) noexcept
{
    try {
        step();
    } catch (...) {
    }
}

struct StepFailed {};

std::int32_t wholeOrFail(double value)
{
    const auto whole = wholeNumber(value);
    if (!whole)
        throw StepFailed{};
    return *whole;
}

// The pane width available to a picture, in pixels, in single precision as the window reads it.
float availableWidth(const SizeQueries& queries)
{
    if (!queries.webWidthTwips)
        throw StepFailed{};
    return queries.webWidthTwips() / kTwipsPerPixel - kPaneMargin;
}

// The detail text of a size column for what the header gave: the number, or empty.
std::string columnText(const std::optional<PixelSize>& size, int column)
{
    if (!size)
        return std::string();
    return std::to_string(column == kWidthColumn ? size->width : size->height);
}

// What the header reader tells of the file at `path`: nothing when it cannot be opened as a
// regular file, else the header's size if it has one.
std::optional<std::optional<PixelSize>> headerOf(const std::string& path)
{
    const FileDescriptor file = openRegularFile(path);
    if (!file.isOpen())
        return std::nullopt;
    return readPictureSize(file);
}

}  // namespace

std::optional<std::string> HeaderDetailText::operator()(const std::string& path, int column)
{
    if (column != kWidthColumn && column != kHeightColumn)
        return std::string();
    if (!(column == kHeightColumn && fresh_ && path_ == path))
        header_ = headerOf(path);
    path_ = path;
    fresh_ = column == kWidthColumn && header_.has_value();
    // A file that cannot be opened has no detail text, one without a size in its header an
    // empty one.
    if (!header_)
        return std::nullopt;
    return columnText(*header_, column);
}

std::optional<std::pair<float, float>> imageReaderTwips(const std::string& path)
{
    const FileDescriptor file = openRegularFile(path);
    if (!file.isOpen())
        return std::nullopt;
    // The name is only the reader's hint at the format, as its suffix; the bytes come through
    // the descriptor.
    QFile device(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    if (!device.open(file.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QImageReader reader(&device);
    QSize size = reader.size();
    if (!size.isValid())
        return std::nullopt;
    // The browser draws an EXIF-rotated picture on its side.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    return std::pair{static_cast<float>(size.width()) * kTwipsPerPixel,
                     static_cast<float>(size.height()) * kTwipsPerPixel};
}

SizeReader::SizeReader(SizeQueries queries) : queries_(std::move(queries)) {}

void SizeReader::getsize(const std::string& path)
{
    const auto detailStep = [&](int column, std::int32_t& target) {
        guarded([&] {
            if (!queries_.detailText)
                return;
            const auto text = queries_.detailText(path, column);
            if (!text)
                return;
            target = wholeOrFail(Val(*text));
        });
    };
    detailStep(kWidthColumn, PictureWidth);
    detailStep(kHeightColumn, PictureHeight);

    if (PictureWidth == 0 || PictureHeight == 0) {
        guarded([&] {
            if (!queries_.loadTwips)
                return;
            if (const auto twips = queries_.loadTwips(path)) {
                imageWidthTwips = twips->first;
                imageHeightTwips = twips->second;
            }
        });
        guarded([&] { PictureWidth = wholeOrFail(imageWidthTwips / kTwipsPerPixel); });
        guarded([&] { PictureHeight = wholeOrFail(imageHeightTwips / kTwipsPerPixel); });
    }

    unfittedWidth = PictureWidth;
    guarded([&] {
        // A Single compared with a Long is compared in Double.
        if (!(static_cast<double>(availableWidth(queries_)) < static_cast<double>(PictureWidth)))
            return;
        guarded([&] {
            // A zero width would divide by zero: the step fails and the ratio keeps its last value.
            if (PictureWidth == 0)
                return;
            ratio_ = static_cast<float>(static_cast<double>(PictureHeight) / static_cast<double>(PictureWidth));
        });
        guarded([&] { PictureWidth = wholeOrFail(availableWidth(queries_)); });
        // A Single times a Long is computed in Double.
        guarded([&] { PictureHeight = wholeOrFail(static_cast<double>(ratio_) * PictureWidth); });
    });
}

SizeQueries defaultSizeQueries(std::function<float()> webWidthTwips)
{
    SizeQueries queries;
    queries.detailText = HeaderDetailText{};
    queries.loadTwips = imageReaderTwips;
    queries.webWidthTwips = std::move(webWidthTwips);
    return queries;
}

}  // namespace pictarre
