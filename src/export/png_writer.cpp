#include "export/png_writer.h"

#include "export/export_errors.h"
#include "export/file_output.h"
#include "export/png_chunks.h"

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

constexpr int kSubFilter = 1;

// PNG allows dimensions up to 2^31 - 1, which a positive int32 never exceeds.
static_assert(std::is_same_v<decltype(IndexedPicture::width), std::int32_t>);

void checkPicture(const IndexedPicture &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    assert(picture.indices.size() == std::size_t(picture.width) * std::size_t(picture.height));
}

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

    writePngSignature(device);
    writePngHeader(device, picture.width, picture.height, PngColourType::Indexed);

    std::array<std::uint8_t, 3 * HalftonePalette::kSize> palette{};
    for (int i = 0; i < HalftonePalette::kSize; ++i) {
        const QRgb entry = HalftonePalette::colour(i);
        palette[std::size_t(3 * i)] = std::uint8_t(qRed(entry));
        palette[std::size_t(3 * i + 1)] = std::uint8_t(qGreen(entry));
        palette[std::size_t(3 * i + 2)] = std::uint8_t(qBlue(entry));
    }
    writePngChunk(device, "PLTE", palette.data(), palette.size());

    // Entries after the white one are opaque by omission.
    std::array<std::uint8_t, HalftonePalette::kSize> alpha{};
    const std::size_t white = std::size_t(HalftonePalette::whiteIndex());
    std::fill(alpha.begin(), alpha.begin() + std::ptrdiff_t(white), std::uint8_t(255));
    alpha[white] = 0;
    writePngChunk(device, "tRNS", alpha.data(), white + 1);

    PngDeflater stream(
        [&device](const std::uint8_t *data, std::size_t size) { writePngChunk(device, "IDAT", data, size); });
    const std::size_t rowBytes = width + 1;
    const std::size_t rowsPerBatch = std::max<std::size_t>(1, kBatchBytes / rowBytes);
    std::vector<std::uint8_t> batch(std::min(rowsPerBatch, height) * rowBytes);
    for (std::size_t y = 0; y < height; y += rowsPerBatch) {
        const std::size_t rows = std::min(rowsPerBatch, height - y);
        subFilterRows(picture, y, rows, batch.data());
        stream.add(batch.data(), rows * rowBytes);
    }
    stream.finish();

    writePngChunk(device, "IEND", nullptr, 0);
}

void writePngFile(const IndexedPicture &picture, const QString &path)
{
    checkPicture(picture);
    writeFileReplacing(path, [&picture](QIODevice &device) { writePng(picture, device); });
}
