#include "export/bmp_writer.h"

#include "export/export_errors.h"
#include "export/file_output.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr std::uint32_t kHeaderSize = 14 + 40; // file header + BITMAPINFOHEADER

struct BmpGeometry {
    std::uint32_t stride;    // bytes per stored row, padding included
    std::uint32_t imageSize; // stride * height
    int bytesPerPixel;
};

// Validates the picture and works out the sizes in 64 bits, so that no
// header field can silently wrap.
BmpGeometry checkedGeometry(const Raster &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    if (picture.depth != 32 && picture.depth != 24)
        throw unsupportedDepthError(picture.depth);
    assert(picture.pixels.size() == std::size_t(picture.width) * std::size_t(picture.height));

    const int bytesPerPixel = picture.depth / 8;
    const std::uint64_t stride = (std::uint64_t(picture.width) * std::uint64_t(bytesPerPixel) + 3) / 4 * 4;
    const std::uint64_t imageSize = stride * std::uint64_t(picture.height);
    if (imageSize > std::numeric_limits<std::uint32_t>::max() - kHeaderSize)
        throw pictureTooLargeError(picture.width, picture.height);
    return {std::uint32_t(stride), std::uint32_t(imageSize), bytesPerPixel};
}

// Appends little-endian fields to the header as it is built.
class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::uint8_t *at) : m_at(at) {}
    void u16(std::uint16_t value)
    {
        qToLittleEndian(value, m_at);
        m_at += sizeof value;
    }
    void u32(std::uint32_t value)
    {
        qToLittleEndian(value, m_at);
        m_at += sizeof value;
    }

private:
    std::uint8_t *m_at;
};

std::array<std::uint8_t, kHeaderSize> header(const Raster &picture, const BmpGeometry &geometry)
{
    std::array<std::uint8_t, kHeaderSize> bytes{};
    LittleEndianWriter out(bytes.data());
    out.u16(0x4D42); // "BM"
    out.u32(kHeaderSize + geometry.imageSize);
    out.u16(0); // reserved
    out.u16(0); // reserved
    out.u32(kHeaderSize);
    out.u32(40); // BITMAPINFOHEADER
    out.u32(std::uint32_t(picture.width));
    out.u32(std::uint32_t(picture.height)); // positive: bottom-up rows
    out.u16(1);                             // planes
    out.u16(std::uint16_t(picture.depth));
    out.u32(0); // BI_RGB, uncompressed
    out.u32(geometry.imageSize);
    out.u32(0); // horizontal resolution
    out.u32(0); // vertical resolution
    out.u32(0); // colours used
    out.u32(0); // important colours
    return bytes;
}

// Rows are gathered into blocks of about this size so that the device sees a
// few large writes rather than one per row, without holding the whole file.
constexpr std::size_t kBlockBytes = 1 << 20;

} // namespace

void writeBmp(const Raster &picture, QIODevice &device)
{
    const BmpGeometry geometry = checkedGeometry(picture);
    const auto head = header(picture, geometry);
    writeExactly(device, head.data(), qint64(head.size()));

    const std::size_t width = std::size_t(picture.width);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kBlockBytes / geometry.stride);
    std::vector<std::uint8_t> block(rowsPerBlock * geometry.stride);

    std::size_t rowsInBlock = 0;
    for (int y = picture.height - 1; y >= 0; --y) {
        std::uint8_t *out = block.data() + rowsInBlock * geometry.stride;
        const QRgb *in = picture.pixels.data() + std::size_t(y) * width;
        if (geometry.bytesPerPixel == 4) {
            // 0x00RRGGBB stored little-endian is exactly blue, green, red, 0.
            for (std::size_t x = 0; x < width; ++x, out += 4)
                qToLittleEndian<quint32>(in[x] & 0x00FFFFFF, out);
        } else {
            for (std::size_t x = 0; x < width; ++x, out += 3) {
                out[0] = std::uint8_t(qBlue(in[x]));
                out[1] = std::uint8_t(qGreen(in[x]));
                out[2] = std::uint8_t(qRed(in[x]));
            }
            // The block is reused, so the padding is cleared every time.
            std::fill(out, block.data() + (rowsInBlock + 1) * geometry.stride, std::uint8_t(0));
        }
        if (++rowsInBlock == rowsPerBlock || y == 0) {
            writeExactly(device, block.data(), qint64(rowsInBlock * geometry.stride));
            rowsInBlock = 0;
        }
    }
}

void writeBmpFile(const Raster &picture, const QString &path)
{
    checkedGeometry(picture);
    writeFileReplacing(path, [&picture](QIODevice &device) { writeBmp(picture, device); });
}
