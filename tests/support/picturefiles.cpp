#include "support/picturefiles.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pictarre::test {

void putLe16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void putLe32(std::string& out, std::uint32_t v)
{
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

namespace {

void putBe16(std::string& out, unsigned v)
{
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}
void putBe32(std::string& out, std::uint32_t v)
{
    putBe16(out, v >> 16);
    putBe16(out, v & 0xFFFF);
}

std::uint32_t dibSize(BmpForm form)
{
    switch (form) {
    case BmpForm::Core12: return 12;
    case BmpForm::Os2Short16: return 16;
    case BmpForm::Info40: return 40;
    case BmpForm::Info52: return 52;
    case BmpForm::Info56: return 56;
    case BmpForm::Os2Long64: return 64;
    case BmpForm::V4Header108: return 108;
    case BmpForm::V5Header124: return 124;
    }
    return 40;
}

// LSB-first bit packing as GIF's LZW stream wants it.
class GifBits {
public:
    void put(unsigned code, int width)
    {
        for (int i = 0; i < width; ++i) {
            if (used_ == 0)
                bytes_.push_back(0);
            if (code & (1u << i))
                bytes_.back() = static_cast<char>(bytes_.back() | (1 << used_));
            used_ = (used_ + 1) % 8;
        }
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
    int used_ = 0;
};

// MSB-first bit packing for a JPEG scan; every symbol used here is a one-bit "0".
std::string zeroBitScan(std::size_t bits)
{
    std::string out(bits / 8, '\0');
    if (bits % 8 != 0)
        out += static_cast<char>(0xFF >> (bits % 8));  // pad the last byte with ones
    return out;
}

void putMarker(std::string& out, unsigned char marker, int fill)
{
    out.append(static_cast<std::size_t>(fill), static_cast<char>(0xFF));
    out += static_cast<char>(0xFF);
    out += static_cast<char>(marker);
}

void putSegment(std::string& out, unsigned char marker, const std::string& body, int fill)
{
    putMarker(out, marker, fill);
    putBe16(out, static_cast<unsigned>(body.size() + 2));
    out += body;
}

std::string exifBody(const JpegOptions& o)
{
    const bool big = o.exifBigEndian;
    auto u16 = [big](std::string& s, unsigned v) { big ? putBe16(s, v) : putLe16(s, v); };
    auto u32 = [big](std::string& s, std::uint32_t v) { big ? putBe32(s, v) : putLe32(s, v); };
    auto entry = [&](std::string& s, unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
        u16(s, tag);
        u16(s, type);
        u32(s, count);
        if (type == 3) {  // a SHORT value sits left-justified in the value field
            u16(s, value);
            u16(s, 0);
        } else {
            u32(s, value);
        }
    };
    std::string thumb;
    if (o.thumbWidth != 0)
        thumb = makeJpeg(JpegOptions{.width = o.thumbWidth, .height = o.thumbHeight});

    std::string tiff = big ? "MM" : "II";
    u16(tiff, 42);
    u32(tiff, 8);
    const unsigned ifd0Count = o.orientation != 0 ? 2 : 1;
    const std::uint32_t ifd1 = 8 + 2 + 12 * ifd0Count + 4;
    u16(tiff, ifd0Count);
    u16(tiff, 0x010F);  // Make, four ASCII bytes held in the entry itself
    u16(tiff, 2);
    u32(tiff, 4);
    tiff += std::string("Pic\0", 4);
    if (o.orientation != 0)
        entry(tiff, 0x0112, 3, 1, o.orientation);
    u32(tiff, thumb.empty() ? 0 : ifd1);
    if (!thumb.empty()) {
        u16(tiff, 2);
        entry(tiff, 0x0201, 4, 1, ifd1 + 2 + 24 + 4);
        entry(tiff, 0x0202, 4, 1, static_cast<std::uint32_t>(thumb.size()));
        u32(tiff, 0);
        tiff += thumb;
    }
    return std::string("Exif\0\0", 6) + tiff;
}

}  // namespace

std::string makeBmp(BmpForm form, std::int32_t width, std::int32_t height, bool topDown)
{
    const std::uint32_t headerSize = dibSize(form);
    const std::uint32_t rowSize = (static_cast<std::uint32_t>(width) * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = rowSize * static_cast<std::uint32_t>(height);
    std::string out = "BM";
    putLe32(out, 14 + headerSize + pixelBytes);
    putLe32(out, 0);
    putLe32(out, 14 + headerSize);
    putLe32(out, headerSize);
    if (form == BmpForm::Core12) {
        putLe16(out, static_cast<unsigned>(width));
        putLe16(out, static_cast<unsigned>(height));
    } else {
        putLe32(out, static_cast<std::uint32_t>(width));
        putLe32(out, static_cast<std::uint32_t>(topDown ? -height : height));
    }
    putLe16(out, 1);   // planes
    putLe16(out, 24);  // bits per pixel
    if (headerSize >= 40) {
        putLe32(out, 0);  // no compression
        putLe32(out, pixelBytes);
        putLe32(out, 2835);
        putLe32(out, 2835);
        putLe32(out, 0);
        putLe32(out, 0);
    }
    out.resize(14 + headerSize, '\0');  // masks, colour space and the rest stay zero
    out.append(pixelBytes, static_cast<char>(0x80));
    return out;
}

std::string makeGif(const GifOptions& o)
{
    std::string out = o.version89a ? "GIF89a" : "GIF87a";
    putLe16(out, o.screenWidth);
    putLe16(out, o.screenHeight);
    out += static_cast<char>(0x80);  // a global colour table of two entries
    out += '\0';
    out += '\0';
    out += std::string("\x20\x40\x60\xE0\xC0\xA0", 6);
    if (o.version89a && o.extensions) {
        out += std::string("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);
        out += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
        // A comment holding an image separator byte, to catch readers that scan for one.
        out += std::string("\x21\xFE\x05,\x2C\x10\x00\x3B\x00", 9);
    }
    out += static_cast<char>(0x2C);
    putLe16(out, o.frameLeft);
    putLe16(out, o.frameTop);
    putLe16(out, o.frameWidth);
    putLe16(out, o.frameHeight);
    out += '\0';
    out += static_cast<char>(2);  // LZW minimum code size
    // A clear code before every pixel keeps the code width at three bits.
    GifBits bits;
    const std::size_t pixels = std::size_t{o.frameWidth} * o.frameHeight;
    for (std::size_t i = 0; i < pixels; ++i) {
        bits.put(4, 3);
        bits.put(0, 3);
    }
    bits.put(5, 3);
    const std::string& data = bits.bytes();
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out += static_cast<char>(n);
        out += data.substr(at, n);
    }
    out += '\0';
    out += static_cast<char>(0x3B);
    return out;
}

std::string makeJpeg(const JpegOptions& o)
{
    const int fill = o.fillBytes;
    std::string out = "\xFF\xD8";
    if (o.exif)
        putSegment(out, 0xE1, exifBody(o), fill);
    for (std::size_t left = o.padding; left > 0;) {
        const std::size_t n = std::min<std::size_t>(left, 65533);
        std::string body(n, '\0');
        std::copy_n("PAD", std::min<std::size_t>(3, n), body.begin());
        putSegment(out, 0xE2, body, fill);
        left -= n;
    }
    putSegment(out, 0xDB, '\0' + std::string(64, '\x01'), fill);

    std::string frame;
    frame += '\x08';
    putBe16(frame, o.height);
    putBe16(frame, o.width);
    frame += std::string("\x01\x01\x11\x00", 4);
    putSegment(out, o.progressive ? 0xC2 : 0xC0, frame, fill);

    // One DC and one AC table, each with a single one-bit code for symbol 0: DC difference 0,
    // and end of block.
    std::string tables;
    for (char tableClass : {'\x00', '\x10'}) {
        tables += tableClass;
        tables += '\x01';
        tables += std::string(15, '\0');
        tables += '\0';
    }
    putSegment(out, 0xC4, tables, fill);

    const std::size_t blocks = std::size_t{(o.width + 7u) / 8u} * ((o.height + 7u) / 8u);
    if (o.progressive) {
        putSegment(out, 0xDA, std::string("\x01\x01\x00\x00\x00\x00", 6), fill);
        out += zeroBitScan(blocks);
        putSegment(out, 0xDA, std::string("\x01\x01\x00\x01\x3F\x00", 6), 0);
        out += zeroBitScan(blocks);
    } else {
        putSegment(out, 0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6), fill);
        out += zeroBitScan(2 * blocks);
    }
    out += "\xFF\xD9";
    return out;
}

}  // namespace pictarre::test
