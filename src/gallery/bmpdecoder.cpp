#include "gallery/bmpdecoder.h"

#include <bit>

#include "gallery/header.h"

namespace pictarre {

namespace {

// Bounds on the size of a picture this decoder takes on; beyond them the file is served as it is.
constexpr std::int64_t kMaxSide = 1 << 18;

std::uint32_t le16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t le32(const unsigned char* p) { return le16(p) | (le16(p + 2) << 16); }

class Bytes {
public:
    explicit Bytes(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    // A pointer to `n` bytes at `offset`, or nullptr when they are not all there.
    const unsigned char* at(std::uint64_t offset, std::uint64_t n) const { return bytesAt(bytes_, offset, n); }

private:
    std::span<const unsigned char> bytes_;
};

// A mask must be one run of set bits, and the four must not overlap.
bool validMasks(const std::array<std::uint32_t, 4>& masks, int bitCount)
{
    std::uint32_t seen = 0;
    for (const std::uint32_t m : masks) {
        if (m == 0)
            continue;
        const std::uint32_t low = m >> std::countr_zero(m);
        if ((low & (low + 1)) != 0 || (seen & m) != 0)
            return false;
        if (bitCount == 16 && m > 0xFFFF)
            return false;
        seen |= m;
    }
    return true;
}

// The value under `mask` widened to eight bits by repeating its bits, as the engine does.
std::uint32_t component(std::uint32_t value, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    std::uint32_t v = (value & mask) >> shift;
    if (bits >= 8)
        return v >> (bits - 8);
    v <<= 8 - bits;
    for (int have = bits; have < 8; have += bits)
        v |= v >> have;
    return v & 0xFF;
}

std::optional<BmpHeader> readCoreHeader(const Bytes& bytes, BmpHeader h)
{
    const unsigned char* p = bytes.at(18, 8);
    if (!p)
        return std::nullopt;
    h.width = static_cast<int>(le16(p));
    h.height = static_cast<int>(le16(p + 2));
    h.bitCount = static_cast<int>(le16(p + 6));
    if (h.width == 0 || h.height == 0)
        return std::nullopt;
    if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24)
        return std::nullopt;
    if (h.bitCount <= 8) {
        const std::uint32_t count = 1u << h.bitCount;
        const unsigned char* entries = bytes.at(26, count * 3);
        if (!entries)
            return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i)
            h.palette.push_back(0xFF000000u | (std::uint32_t{entries[3 * i + 2]} << 16) |
                                (std::uint32_t{entries[3 * i + 1]} << 8) | entries[3 * i]);
        if (h.pixelOffset < 26 + count * 3)
            return std::nullopt;
    }
    return h;
}

std::optional<BmpHeader> readInfoHeader(const Bytes& bytes, BmpHeader h, std::uint32_t dibSize)
{
    const unsigned char* p = bytes.at(14, dibSize);
    if (!p)
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(le32(p + 4));
    const auto height = static_cast<std::int32_t>(le32(p + 8));
    h.bitCount = static_cast<int>(le16(p + 14));
    const std::uint32_t compression = le32(p + 16);
    const std::uint32_t colorsUsed = le32(p + 32);
    if (width <= 0 || height == 0 || width > kMaxSide || height > kMaxSide || height < -kMaxSide)
        return std::nullopt;
    h.width = width;
    h.height = height < 0 ? -height : height;
    h.topDown = height < 0;
    // A V5 header may carry or name an ICC profile; such files are left to the engine.
    if (dibSize >= 124) {
        const std::uint32_t space = le32(p + 56);
        if (space == 0x4D424544u || space == 0x4C494E4Bu)  // 'MBED', 'LINK'
            return std::nullopt;
    }
    std::uint64_t tableAt = 14 + dibSize;
    switch (compression) {
    case 0:
        if (h.bitCount == 16)
            h.masks = {0x7C00, 0x03E0, 0x001F, 0};
        else if (h.bitCount == 32)
            h.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
        else if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24)
            return std::nullopt;
        break;
    case 1:
    case 2:
        if (h.bitCount != (compression == 1 ? 8 : 4) || h.topDown)
            return std::nullopt;
        h.coding = compression == 1 ? BmpHeader::Coding::Rle8 : BmpHeader::Coding::Rle4;
        break;
    case 3: {
        if (h.bitCount != 16 && h.bitCount != 32)
            return std::nullopt;
        const unsigned char* m = dibSize >= 52 ? p + 40 : bytes.at(tableAt, 12);
        if (!m)
            return std::nullopt;
        h.masks = {le32(m), le32(m + 4), le32(m + 8), dibSize >= 56 ? le32(p + 52) : 0};
        if (dibSize == 40)
            tableAt += 12;
        if (!validMasks(h.masks, h.bitCount))
            return std::nullopt;
        break;
    }
    default:
        return std::nullopt;
    }
    if (h.bitCount <= 8) {
        const std::uint32_t full = 1u << h.bitCount;
        const std::uint32_t count = colorsUsed == 0 || colorsUsed > full ? full : colorsUsed;
        const unsigned char* entries = bytes.at(tableAt, count * 4);
        if (!entries || h.pixelOffset < tableAt + count * 4)
            return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i)
            h.palette.push_back(0xFF000000u | (le32(entries + 4 * i) & 0xFFFFFF));
    } else if (h.pixelOffset < tableAt) {
        return std::nullopt;
    }
    return h;
}

class Decoder {
public:
    Decoder(const Bytes& bytes, const BmpHeader& h, bool ignoreAlpha, const BmpRowSink& sink)
        : bytes_(bytes), h_(h), ignoreAlpha_(ignoreAlpha || h.masks[3] == 0), sink_(sink),
          row_(static_cast<std::size_t>(h.width), 0)
    {
    }

    BmpDecodeResult run()
    {
        result_.ok = h_.coding == BmpHeader::Coding::Plain ? plain() : rle();
        return result_;
    }

private:
    int rowY(std::int64_t fileRow) const
    {
        return static_cast<int>(h_.topDown ? fileRow : h_.height - 1 - fileRow);
    }

    bool indexed(std::uint32_t index, std::uint32_t& out) const
    {
        if (index >= h_.palette.size())
            return false;
        out = h_.palette[index];
        return true;
    }

    std::uint32_t masked(std::uint32_t v)
    {
        std::uint32_t a = 255;
        if (!ignoreAlpha_) {
            a = component(v, h_.masks[3]);
            result_.sawAlpha = result_.sawAlpha || a != 0;
        }
        return (a << 24) | (component(v, h_.masks[0]) << 16) | (component(v, h_.masks[1]) << 8) |
               component(v, h_.masks[2]);
    }

    // Rows the file holds in full; the engine draws no part of a cut row.
    bool plain()
    {
        const std::uint64_t stride = (std::uint64_t(h_.width) * h_.bitCount + 31) / 32 * 4;
        for (std::int64_t r = 0; r < h_.height; ++r) {
            const unsigned char* p = bytes_.at(h_.pixelOffset + r * stride, stride);
            if (!p)
                return true;
            for (int x = 0; x < h_.width; ++x) {
                std::uint32_t& out = row_[static_cast<std::size_t>(x)];
                switch (h_.bitCount) {
                case 1:
                case 4:
                case 8: {
                    const std::size_t bit = std::size_t(x) * h_.bitCount;
                    const unsigned shift = 8 - h_.bitCount - bit % 8;
                    if (!indexed((p[bit / 8] >> shift) & ((1u << h_.bitCount) - 1), out))
                        return false;
                    break;
                }
                case 16: out = masked(le16(p + 2 * x)); break;
                case 24: out = 0xFF000000u | (std::uint32_t{p[3 * x + 2]} << 16) | (std::uint32_t{p[3 * x + 1]} << 8) | p[3 * x]; break;
                default: out = masked(le32(p + 4 * x)); break;
                }
            }
            sink_(rowY(r), row_);
        }
        return true;
    }

    void flush()
    {
        if (fileRow_ < h_.height && dirty_)
            sink_(rowY(fileRow_), row_);
        std::fill(row_.begin(), row_.end(), 0u);
        dirty_ = false;
    }

    bool put(std::uint32_t index)
    {
        if (x_ >= h_.width || !indexed(index, row_[static_cast<std::size_t>(x_)]))
            return false;
        ++x_;
        dirty_ = true;
        return true;
    }

    // RLE8 and RLE4: the pixels never written stay transparent.
    bool rle()
    {
        const bool four = h_.coding == BmpHeader::Coding::Rle4;
        std::uint64_t pos = h_.pixelOffset;
        while (fileRow_ < h_.height) {
            const unsigned char* p = bytes_.at(pos, 2);
            if (!p)
                break;
            pos += 2;
            const unsigned count = p[0];
            const unsigned code = p[1];
            if (count > 0) {
                for (unsigned i = 0; i < count; ++i)
                    if (!put(four ? (i % 2 == 0 ? code >> 4 : code & 0xF) : code))
                        return false;
            } else if (code == 0) {
                flush();
                ++fileRow_;
                x_ = 0;
            } else if (code == 1) {
                break;
            } else if (code == 2) {
                const unsigned char* d = bytes_.at(pos, 2);
                if (!d)
                    break;
                pos += 2;
                if (x_ + d[0] > h_.width)
                    return false;
                if (d[1] > 0)
                    flush();
                fileRow_ += d[1];
                x_ += d[0];
            } else {
                const std::uint64_t size = four ? (code + 1) / 2 : code;
                const unsigned char* run = bytes_.at(pos, size);
                if (!run)
                    break;
                pos += (size + 1) / 2 * 2;
                for (unsigned i = 0; i < code; ++i)
                    if (!put(four ? (i % 2 == 0 ? run[i / 2] >> 4 : run[i / 2] & 0xF) : run[i]))
                        return false;
            }
        }
        flush();
        return true;
    }

    const Bytes& bytes_;
    const BmpHeader& h_;
    bool ignoreAlpha_;
    const BmpRowSink& sink_;
    std::vector<std::uint32_t> row_;
    BmpDecodeResult result_;
    std::int64_t fileRow_ = 0;
    int x_ = 0;
    bool dirty_ = false;
};

}  // namespace

std::optional<BmpHeader> readBmpHeader(std::span<const unsigned char> data)
{
    const Bytes bytes(data);
    const unsigned char* p = bytes.at(0, 18);
    if (!p || p[0] != 'B' || p[1] != 'M')
        return std::nullopt;
    BmpHeader h;
    h.pixelOffset = le32(p + 10);
    const std::uint32_t dibSize = le32(p + 14);
    if (dibSize == 12)
        return readCoreHeader(bytes, std::move(h));
    if (dibSize == 40 || dibSize == 52 || dibSize == 56 || dibSize == 108 || dibSize == 124)
        return readInfoHeader(bytes, std::move(h), dibSize);
    return std::nullopt;
}

BmpDecodeResult decodeBmp(std::span<const unsigned char> bytes, const BmpHeader& header, bool ignoreAlpha,
                          const BmpRowSink& row)
{
    const Bytes source(bytes);
    return Decoder(source, header, ignoreAlpha, row).run();
}

}  // namespace pictarre
