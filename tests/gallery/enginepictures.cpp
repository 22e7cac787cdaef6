#include "enginepictures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QPainter>
#include <QRadialGradient>

#include <jpeglib.h>
#include <lcms2.h>

#include "support/picturefiles.h"

namespace pictarre::test {

namespace {


std::string saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    std::string out;
    if (cmsSaveProfileToMem(profile, nullptr, &size)) {
        out.resize(size);
        cmsSaveProfileToMem(profile, out.data(), &size);
    }
    cmsCloseProfile(profile);
    return out;
}

// CMYK (lcms's convention: 0 no ink, 65535 full ink) to Lab through sRGB: pale, warm inks.
int sampleCmyk(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo)
{
    double ink[4];
    for (int i = 0; i < 4; ++i)
        ink[i] = in[i] / 65535.0;
    const double paper = 1.0 - 0.8 * ink[3];
    const double rgb[3] = {(1.0 - 0.6 * ink[0]) * paper, (1.0 - 0.7 * ink[1]) * paper * 0.95,
                           (1.0 - 0.8 * ink[2]) * paper * 0.85};
    cmsCIELab lab;
    cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}

}  // namespace

QImage scene(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(250, 220, 120));
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(width / 10, height / 10, width / 4, height / 5), QColor(200, 30, 40));
    QRadialGradient sun(width * 0.72, height * 0.7, height / 4.0);
    sun.setColorAt(0, QColor(30, 160, 60));
    sun.setColorAt(1, QColor(20, 40, 30));
    p.setBrush(sun);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(width * 0.72, height * 0.7), height / 4.0, height / 4.0);
    return image;
}

std::string jpegFile(const QImage& picture, const JpegKind& kind)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = kind.model == JpegModel::Rgb ? 3 : kind.model == JpegModel::Grey ? 1 : 4;
    info.in_color_space = kind.model == JpegModel::Rgb ? JCS_RGB : kind.model == JpegModel::Grey ? JCS_GRAYSCALE : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (kind.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    for (const std::string& body : kind.app1)
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(body.data()),
                          static_cast<unsigned>(body.size()));
    if (!kind.icc.empty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(kind.icc.data()),
                               static_cast<unsigned>(kind.icc.size()));
    std::vector<unsigned char> line(std::size_t(rgb.width()) * 4);
    while (info.next_scanline < info.image_height) {
        const uchar* in = rgb.constScanLine(static_cast<int>(info.next_scanline));
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = in[3 * x], g = in[3 * x + 1], b = in[3 * x + 2];
            if (kind.model == JpegModel::Rgb) {
                std::copy(in + 3 * x, in + 3 * x + 3, &line[3 * std::size_t(x)]);
            } else if (kind.model == JpegModel::Grey) {
                line[std::size_t(x)] = static_cast<unsigned char>((r * 299 + g * 587 + b * 114) / 1000);
            } else {
                // Inverted ink: 255 is no ink.
                const int most = std::max({r, g, b});
                const auto inverted = [most](int v) { return most == 0 ? 255 : 255 - (most - v) * 255 / most; };
                unsigned char* out = &line[4 * std::size_t(x)];
                out[0] = static_cast<unsigned char>(inverted(r));
                out[1] = static_cast<unsigned char>(inverted(g));
                out[2] = static_cast<unsigned char>(inverted(b));
                out[3] = static_cast<unsigned char>(most);
            }
        }
        JSAMPROW row = line.data();
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return out;
}

std::string exifBody(std::uint16_t ifd0Orientation, std::uint16_t ifd1Orientation)
{
    std::string tiff = "II";
    putLe16(tiff, 42);
    putLe32(tiff, 8);
    auto ifd = [&tiff](std::uint16_t orientation, bool last) {
        const std::size_t count = orientation ? 1 : 0;
        putLe16(tiff, static_cast<unsigned>(count));
        if (orientation) {
            putLe16(tiff, 0x0112);
            putLe16(tiff, 3);
            putLe32(tiff, 1);
            putLe16(tiff, orientation);
            putLe16(tiff, 0);
        }
        putLe32(tiff, last ? 0 : static_cast<std::uint32_t>(tiff.size() + 4));
    };
    ifd(ifd0Orientation, ifd1Orientation == 0);
    if (ifd1Orientation)
        ifd(ifd1Orientation, true);
    return std::string("Exif\0\0", 6) + tiff;
}

std::string xmpBody()
{
    return std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Orientation=\"1\"/>"
           "</rdf:RDF></x:xmpmeta>";
}

std::string greyLinearProfile()
{
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    cmsFreeToneCurve(linear);
    return saved(profile);
}

std::string wideRgbProfile()
{
    const cmsCIExyYTRIPLE primaries = {{0.7347, 0.2653, 1.0}, {0.1152, 0.8264, 1.0}, {0.1566, 0.0177, 1.0}};
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return saved(profile);
}

std::string cmykProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(grid, sampleCmyk, toLab, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "Pale warm inks");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(labProfile);
    cmsCloseProfile(srgb);
    return saved(profile);
}

std::string bmpFile(const BmpKind& kind, int width, int height, const std::string& pixels)
{
    const bool core = kind.headerSize == 12;
    const bool separateMasks = kind.headerSize == 40 && kind.compression == 3;
    const std::uint32_t table = static_cast<std::uint32_t>(kind.palette.size()) * (core ? 3 : 4);
    const std::uint32_t offset = 14 + kind.headerSize + (separateMasks ? 12 : 0) + table;
    std::string out = "BM";
    putLe32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    putLe32(out, 0);
    putLe32(out, offset);
    putLe32(out, kind.headerSize);
    if (core) {
        putLe16(out, static_cast<unsigned>(width));
        putLe16(out, static_cast<unsigned>(height));
        putLe16(out, 1);
        putLe16(out, static_cast<unsigned>(kind.bitCount));
    } else {
        putLe32(out, static_cast<std::uint32_t>(width));
        putLe32(out, static_cast<std::uint32_t>(kind.topDown ? -height : height));
        putLe16(out, 1);
        putLe16(out, static_cast<unsigned>(kind.bitCount));
        putLe32(out, kind.compression);
        putLe32(out, static_cast<std::uint32_t>(pixels.size()));
        putLe32(out, 2835);
        putLe32(out, 2835);
        putLe32(out, static_cast<std::uint32_t>(kind.palette.size()));
        putLe32(out, 0);
        if (kind.headerSize > 40)
            for (const std::uint32_t m : kind.masks)
                putLe32(out, m);
        if (kind.headerSize > 56)
            putLe32(out, 0x73524742);  // 'sRGB'
        out.resize(14 + kind.headerSize, '\0');
        if (separateMasks)
            for (int i = 0; i < 3; ++i)
                putLe32(out, kind.masks[static_cast<std::size_t>(i)]);
    }
    for (const std::uint32_t c : kind.palette) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
        out += static_cast<char>((c >> 16) & 0xFF);
        if (!core)
            out += '\0';
    }
    return out + pixels;
}

std::string bmpRows(int width, int height, int bitCount, bool topDown,
                    const std::function<std::uint32_t(int x, int y)>& value)
{
    const std::size_t stride = (std::size_t(width) * bitCount + 31) / 32 * 4;
    std::string out(stride * std::size_t(height), '\0');
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        char* row = &out[stride * std::size_t(r)];
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = value(x, y);
            if (bitCount < 8) {
                const std::size_t bit = std::size_t(x) * bitCount;
                row[bit / 8] = static_cast<char>(row[bit / 8] | (v << (8 - bitCount - bit % 8)));
            } else {
                for (int b = 0; b < bitCount / 8; ++b)
                    row[std::size_t(x) * (bitCount / 8) + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
            }
        }
    }
    return out;
}

}  // namespace pictarre::test
