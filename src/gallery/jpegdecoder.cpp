#include "gallery/jpegdecoder.h"

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>

namespace pictarre {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// decodeJpeg. Every object with a destructor lives in Decode, made before the jump point, so
// the jump skips no destructor.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void noMessage(j_common_ptr, int) {}

// The whole file is in memory from the start, so running out of bytes means the file is cut:
// the source suspends, and libjpeg stops where the engine's decoder stops, instead of making
// up an end of file and decoding grey blocks.
void noop(j_decompress_ptr) {}
boolean suspend(j_decompress_ptr) { return FALSE; }
void skip(j_decompress_ptr info, long count)
{
    jpeg_source_mgr* src = info->src;
    const auto n = static_cast<std::size_t>(count < 0 ? 0 : count);
    const std::size_t step = n < src->bytes_in_buffer ? n : src->bytes_in_buffer;
    src->next_input_byte += step;
    src->bytes_in_buffer -= step;
}

enum class Model { Grey, Rgb, Cmyk };

struct Decode {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    jpeg_source_mgr source{};
    bool created = false;
    JOCTET* icc = nullptr;
    unsigned iccSize = 0;
    cmsHPROFILE profile = nullptr;
    cmsHPROFILE srgb = nullptr;
    cmsHTRANSFORM transform = nullptr;
    std::vector<unsigned char> line;
    std::vector<std::uint32_t> argb;

    Decode() = default;
    Decode(const Decode&) = delete;
    Decode& operator=(const Decode&) = delete;
    ~Decode()
    {
        if (transform)
            cmsDeleteTransform(transform);
        if (profile)
            cmsCloseProfile(profile);
        if (srgb)
            cmsCloseProfile(srgb);
        std::free(icc);
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

// A transform from the embedded profile to sRGB; false when the profile cannot be read, is not
// of the pixels' colour model, or is a CMYK profile.
bool makeTransform(Decode& d, Model model)
{
    d.profile = cmsOpenProfileFromMem(d.icc, d.iccSize);
    if (!d.profile)
        return false;
    cmsUInt32Number format = 0;
    const cmsColorSpaceSignature space = cmsGetColorSpace(d.profile);
    if (model == Model::Grey && space == cmsSigGrayData)
        format = TYPE_GRAY_8;
    else if (model == Model::Rgb && space == cmsSigRgbData)
        format = TYPE_RGB_8;
    else
        return false;
    // CMYK profiles are left to the engine: its colour engine and Little CMS were seen to
    // disagree on a valid CMYK profile by tens of levels, so a copy could not promise its colours.
    d.srgb = cmsCreate_sRGBProfile();
    if (!d.srgb)
        return false;
    d.transform = cmsCreateTransform(d.profile, format, d.srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
    return d.transform != nullptr;
}

std::uint32_t opaque(unsigned r, unsigned g, unsigned b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }

void toArgb(Decode& d, Model model)
{
    const unsigned char* in = d.line.data();
    std::uint32_t* out = d.argb.data();
    const std::size_t n = d.argb.size();
    if (d.transform) {
        // The transform writes colour only; the alpha bytes keep what is set here.
        std::fill(d.argb.begin(), d.argb.end(), 0xFF000000u);
        cmsDoTransform(d.transform, in, out, static_cast<cmsUInt32Number>(n));
        return;
    }
    for (std::size_t x = 0; x < n; ++x) {
        switch (model) {
        case Model::Grey: out[x] = opaque(in[x], in[x], in[x]); break;
        case Model::Rgb: out[x] = opaque(in[3 * x], in[3 * x + 1], in[3 * x + 2]); break;
        case Model::Cmyk: {
            const unsigned k = in[4 * x + 3];
            auto ink = [k](unsigned v) { return (v * k + 127) / 255; };
            out[x] = opaque(ink(in[4 * x]), ink(in[4 * x + 1]), ink(in[4 * x + 2]));
            break;
        }
        }
    }
}

}  // namespace

namespace {
constexpr long kMostDecodeMemory = 256L << 20;
}  // namespace

bool decodeJpeg(std::span<const unsigned char> bytes, int minWidth, int minHeight,
                const std::function<void(int width, int height)>& begin, const JpegRowSink& row)
{
    Decode d;
    d.info.err = jpeg_std_error(&d.errors.pub);
    d.errors.pub.error_exit = errorExit;
    d.errors.pub.emit_message = noMessage;
    if (setjmp(d.errors.jump))
        return false;
    jpeg_create_decompress(&d.info);
    d.created = true;
    // A header may ask for any size; what the decoder holds at once (a progressive file's
    // coefficients above all) is bounded, and a file past it is served as it is.
    d.info.mem->max_memory_to_use = kMostDecodeMemory;
    d.source.next_input_byte = bytes.data();
    d.source.bytes_in_buffer = bytes.size();
    d.source.init_source = noop;
    d.source.fill_input_buffer = suspend;
    d.source.skip_input_data = skip;
    d.source.resync_to_restart = jpeg_resync_to_restart;
    d.source.term_source = noop;
    d.info.src = &d.source;
    jpeg_save_markers(&d.info, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK)
        return false;

    Model model;
    switch (d.info.jpeg_color_space) {
    case JCS_GRAYSCALE: model = Model::Grey; d.info.out_color_space = JCS_GRAYSCALE; break;
    case JCS_YCbCr:
    case JCS_RGB: model = Model::Rgb; d.info.out_color_space = JCS_RGB; break;
    case JCS_CMYK:
    case JCS_YCCK: model = Model::Cmyk; d.info.out_color_space = JCS_CMYK; break;
    default: return false;
    }
    if (jpeg_read_icc_profile(&d.info, &d.icc, &d.iccSize) && !makeTransform(d, model))
        return false;

    for (unsigned num = 1; num <= 8; ++num) {
        d.info.scale_num = num;
        d.info.scale_denom = 8;
        jpeg_calc_output_dimensions(&d.info);
        if (int(d.info.output_width) >= minWidth && int(d.info.output_height) >= minHeight)
            break;
    }
    if (!jpeg_start_decompress(&d.info))
        return false;  // a multi-scan file cut before its last scan
    begin(int(d.info.output_width), int(d.info.output_height));
    d.line.resize(std::size_t(d.info.output_width) * d.info.output_components);
    d.argb.resize(d.info.output_width);
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW target = d.line.data();
        const int y = int(d.info.output_scanline);
        if (jpeg_read_scanlines(&d.info, &target, 1) != 1)
            break;  // the file ends here
        toArgb(d, model);
        row(y, d.argb);
    }
    return true;
}

}  // namespace pictarre
