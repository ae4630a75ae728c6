#include "export/png_writer.h"

#include "export/export_errors.h"
#include "export/file_output.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <type_traits>

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

// Every IDAT but the last carries exactly this many bytes of the stream.
constexpr std::size_t kIdatLimit = 65535;

constexpr int kSubFilter = 1;

// Every zlib call that returns a status goes through here: anything but an
// expected code becomes the user's error, with zlib's own text if it has one.
int zlibCall(const char *function, int status, const z_stream &stream, std::initializer_list<int> expected)
{
    for (int ok : expected) {
        if (status == ok)
            return status;
    }
    const QString detail = stream.msg ? QString::fromLatin1(stream.msg) : QString::number(status);
    throw QuillowError(QStringLiteral("PNG 压缩失败（zlib %1：%2）。").arg(QLatin1String(function), detail));
}

// PNG allows dimensions up to 2^31 - 1, which a positive int32 never exceeds.
static_assert(std::is_same_v<decltype(IndexedPicture::width), std::int32_t>);

void checkPicture(const IndexedPicture &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    assert(picture.indices.size() == std::size_t(picture.width) * std::size_t(picture.height));
}

void writeChunk(QIODevice &device, std::string_view type, const std::uint8_t *data, std::size_t size)
{
    assert(type.size() == 4);
    assert(size <= kIdatLimit); // no chunk of ours comes near PNG's 2^31 - 1

    std::array<std::uint8_t, 8> head{};
    qToBigEndian(std::uint32_t(size), head.data());
    std::copy(type.begin(), type.end(), head.begin() + 4);

    // The PNG CRC covers the type and the data, not the length.
    uLong crc = crc32(0, head.data() + 4, 4);
    if (size > 0)
        crc = crc32(crc, data, uInt(size));
    std::array<std::uint8_t, 4> tail{};
    qToBigEndian(std::uint32_t(crc), tail.data());

    writeExactly(device, head.data(), qint64(head.size()));
    if (size > 0)
        writeExactly(device, data, qint64(size));
    writeExactly(device, tail.data(), qint64(tail.size()));
}

// One zlib stream whose output is cut into IDAT chunks as it fills the
// 65535-byte buffer.
class IdatStream {
public:
    explicit IdatStream(QIODevice &device) : m_device(device)
    {
        // Level 9, a 32 KB window (15 bits, with the zlib wrapper PNG
        // requires), memory level 8 and the default strategy: zlib's defaults
        // apart from the level.
        zlibCall("deflateInit2", deflateInit2(&m_stream, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), m_stream,
                 {Z_OK});
        m_open = true;
        resetOutput();
    }

    ~IdatStream()
    {
        // Reached with the stream still open only while another error
        // unwinds; deflateEnd's Z_DATA_ERROR then just says it was unfinished.
        if (m_open)
            deflateEnd(&m_stream);
    }

    IdatStream(const IdatStream &) = delete;
    IdatStream &operator=(const IdatStream &) = delete;

    void add(const std::uint8_t *data, std::size_t size)
    {
        while (size > 0) {
            const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
            m_stream.next_in = const_cast<Bytef *>(data);
            m_stream.avail_in = uInt(piece);
            while (m_stream.avail_in > 0) {
                // Z_BUF_ERROR only says no progress was possible this time.
                zlibCall("deflate", deflate(&m_stream, Z_NO_FLUSH), m_stream, {Z_OK, Z_BUF_ERROR});
                emitIfFull();
            }
            data += piece;
            size -= piece;
        }
    }

    void finish()
    {
        m_stream.next_in = nullptr;
        m_stream.avail_in = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            status = zlibCall("deflate", deflate(&m_stream, Z_FINISH), m_stream, {Z_OK, Z_STREAM_END});
            emitIfFull();
        }
        const std::size_t remainder = kIdatLimit - m_stream.avail_out;
        if (remainder > 0)
            writeChunk(m_device, "IDAT", m_buffer.data(), remainder);
        m_open = false;
        zlibCall("deflateEnd", deflateEnd(&m_stream), m_stream, {Z_OK});
    }

private:
    void resetOutput()
    {
        m_stream.next_out = m_buffer.data();
        m_stream.avail_out = uInt(m_buffer.size());
    }

    void emitIfFull()
    {
        if (m_stream.avail_out != 0)
            return;
        writeChunk(m_device, "IDAT", m_buffer.data(), m_buffer.size());
        resetOutput();
    }

    QIODevice &m_device;
    z_stream m_stream{};
    bool m_open = false;
    std::array<std::uint8_t, kIdatLimit> m_buffer{};
};

// Rows are filtered and deflated in batches of about this many bytes, so
// that the filtered copy of a large picture is never held whole.
constexpr std::size_t kBatchBytes = 256 * 1024;

} // namespace

void subFilterRows(const IndexedPicture &picture, std::size_t firstRow, std::size_t rowCount,
                   std::uint8_t *out)
{
    assert(firstRow + rowCount <= std::size_t(picture.height));
    const std::size_t width = std::size_t(picture.width);
    const std::uint8_t *indices = picture.indices.data() + firstRow * width;
    for (std::size_t row = 0; row < rowCount; ++row, indices += width) {
        *out++ = kSubFilter;
        std::uint8_t left = 0;
        for (std::size_t x = 0; x < width; ++x) {
            *out++ = std::uint8_t(indices[x] - left);
            left = indices[x];
        }
    }
}

std::vector<std::uint8_t> subFilteredScanlines(const IndexedPicture &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        return {};
    assert(picture.indices.size() == std::size_t(picture.width) * std::size_t(picture.height));
    std::vector<std::uint8_t> filtered((std::size_t(picture.width) + 1) * std::size_t(picture.height));
    subFilterRows(picture, 0, std::size_t(picture.height), filtered.data());
    return filtered;
}

void writePng(const IndexedPicture &picture, QIODevice &device)
{
    checkPicture(picture);
    const std::size_t width = std::size_t(picture.width);
    const std::size_t height = std::size_t(picture.height);

    writeExactly(device, kSignature.data(), qint64(kSignature.size()));

    std::array<std::uint8_t, 13> header{};
    qToBigEndian(std::uint32_t(picture.width), header.data());
    qToBigEndian(std::uint32_t(picture.height), header.data() + 4);
    header[8] = 8;  // bit depth
    header[9] = 3;  // colour type: indexed
    header[10] = 0; // compression method: deflate
    header[11] = 0; // filter method: adaptive, five types
    header[12] = 0; // no interlace
    writeChunk(device, "IHDR", header.data(), header.size());

    std::array<std::uint8_t, 3 * HalftonePalette::kSize> palette{};
    for (int i = 0; i < HalftonePalette::kSize; ++i) {
        const QRgb entry = HalftonePalette::colour(i);
        palette[std::size_t(3 * i)] = std::uint8_t(qRed(entry));
        palette[std::size_t(3 * i + 1)] = std::uint8_t(qGreen(entry));
        palette[std::size_t(3 * i + 2)] = std::uint8_t(qBlue(entry));
    }
    writeChunk(device, "PLTE", palette.data(), palette.size());

    // Entries after the white one are opaque by omission.
    std::array<std::uint8_t, HalftonePalette::kSize> alpha{};
    const std::size_t white = std::size_t(HalftonePalette::whiteIndex());
    std::fill(alpha.begin(), alpha.begin() + std::ptrdiff_t(white), std::uint8_t(255));
    alpha[white] = 0;
    writeChunk(device, "tRNS", alpha.data(), white + 1);

    IdatStream stream(device);
    const std::size_t rowBytes = width + 1;
    const std::size_t rowsPerBatch = std::max<std::size_t>(1, kBatchBytes / rowBytes);
    std::vector<std::uint8_t> batch(std::min(rowsPerBatch, height) * rowBytes);
    for (std::size_t y = 0; y < height; y += rowsPerBatch) {
        const std::size_t rows = std::min(rowsPerBatch, height - y);
        subFilterRows(picture, y, rows, batch.data());
        stream.add(batch.data(), rows * rowBytes);
    }
    stream.finish();

    writeChunk(device, "IEND", nullptr, 0);
}

void writePngFile(const IndexedPicture &picture, const QString &path)
{
    checkPicture(picture);
    writeFileReplacing(path, [&picture](QIODevice &device) { writePng(picture, device); });
}
