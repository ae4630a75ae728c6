#include "export/png_chunks.h"

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
#include <utility>

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

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

} // namespace

void writePngSignature(QIODevice &device)
{
    writeExactly(device, kSignature.data(), qint64(kSignature.size()));
}

void writePngChunk(QIODevice &device, std::string_view type, const std::uint8_t *data, std::size_t size)
{
    assert(type.size() == 4);
    // No chunk of ours comes near PNG's 2^31 - 1; fdAT adds its sequence
    // number to a full piece of stream.
    assert(size <= kPngDataLimit + 4);

    std::array<std::uint8_t, 8> head{};
    qToBigEndian(std::uint32_t(size), head.data());
    // Four bytes whatever `type` holds, so that no build can write past the head.
    std::copy_n(type.begin(), 4, head.begin() + 4);

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

void writePngHeader(QIODevice &device, std::int32_t width, std::int32_t height, PngColourType colourType)
{
    assert(width > 0 && height > 0);
    std::array<std::uint8_t, 13> header{};
    qToBigEndian(std::uint32_t(width), header.data());
    qToBigEndian(std::uint32_t(height), header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = std::uint8_t(colourType);
    header[10] = 0; // compression method: deflate
    header[11] = 0; // filter method: adaptive, five types
    header[12] = 0; // no interlace
    writePngChunk(device, "IHDR", header.data(), header.size());
}

struct PngDeflater::State {
    z_stream stream{};
    bool open = false;
    std::array<std::uint8_t, kPngDataLimit> buffer{};

    void resetOutput()
    {
        stream.next_out = buffer.data();
        stream.avail_out = uInt(buffer.size());
    }
};

PngDeflater::PngDeflater(Emit emitPiece, int matchSearch)
    : m_state(std::make_unique<State>()), m_emit(std::move(emitPiece))
{
    // Level 9, a 32 KB window (15 bits, with the zlib wrapper PNG requires),
    // memory level 8 and the default strategy: zlib's defaults apart from
    // the level.
    z_stream &stream = m_state->stream;
    zlibCall("deflateInit2", deflateInit2(&stream, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), stream, {Z_OK});
    m_state->open = true;
    if (matchSearch != kFullMatchSearch) {
        // Level 9's own good, lazy and nice lengths, with the shorter search.
        zlibCall("deflateTune", deflateTune(&stream, 32, 258, 258, matchSearch), stream, {Z_OK});
    }
    m_state->resetOutput();
}

PngDeflater::~PngDeflater()
{
    // Reached with the stream still open only while another error unwinds;
    // deflateEnd's Z_DATA_ERROR then just says it was unfinished.
    if (m_state->open)
        deflateEnd(&m_state->stream);
}

void PngDeflater::add(const std::uint8_t *data, std::size_t size)
{
    z_stream &stream = m_state->stream;
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
        stream.next_in = const_cast<Bytef *>(data);
        stream.avail_in = uInt(piece);
        while (stream.avail_in > 0) {
            // Z_BUF_ERROR only says no progress was possible this time.
            zlibCall("deflate", deflate(&stream, Z_NO_FLUSH), stream, {Z_OK, Z_BUF_ERROR});
            emitIfFull();
        }
        data += piece;
        size -= piece;
    }
}

void PngDeflater::finish()
{
    z_stream &stream = m_state->stream;
    stream.next_in = nullptr;
    stream.avail_in = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        status = zlibCall("deflate", deflate(&stream, Z_FINISH), stream, {Z_OK, Z_STREAM_END});
        emitIfFull();
    }
    const std::size_t remainder = kPngDataLimit - stream.avail_out;
    if (remainder > 0)
        m_emit(m_state->buffer.data(), remainder);
    m_state->open = false;
    zlibCall("deflateEnd", deflateEnd(&stream), stream, {Z_OK});
}

void PngDeflater::emitIfFull()
{
    if (m_state->stream.avail_out != 0)
        return;
    m_emit(m_state->buffer.data(), m_state->buffer.size());
    m_state->resetOutput();
}
