#include "composition/image_memory.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace {

// Qt converts an image of fewer than 2 x 65536 pixels at once, on the
// calling thread; larger ones it splits over its thread pool. A band of at
// most this many pixels (or a single row) stays below that.
constexpr int kBandPixels = 65536;

// Far more than the font libraries take to set up a face and render a
// glyph at the largest size drawn, and little beside the strip's frames.
constexpr std::size_t kTextHeadroomBytes = std::size_t(8) << 20;

bool hasPalette(QImage::Format format)
{
    return format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
           format == QImage::Format_Indexed8;
}

} // namespace

QImage newImage(QSize size, QImage::Format format)
{
    if (size.isEmpty())
        return {};
    QImage image(size, format);
    if (image.isNull())
        throw std::bad_alloc();
    return image;
}

QImage convertedHere(const QImage &image, QImage::Format format)
{
    assert(!hasPalette(format));
    if (image.isNull())
        return {};
    if (image.format() == format)
        return image;

    QImage result = newImage(image.size(), format);
    const int bandRows = std::max(1, kBandPixels / image.width());
    for (int top = 0; top < image.height(); top += bandRows) {
        const int rows = std::min(bandRows, image.height() - top);
        // A view of the source's rows, not a copy.
        QImage band(image.constScanLine(top), image.width(), rows, image.bytesPerLine(), image.format());
        if (hasPalette(image.format()))
            band.setColorTable(image.colorTable());
        const QImage converted = band.convertToFormat(format);
        if (converted.isNull())
            throw std::bad_alloc();
        const auto rowBytes = std::size_t(std::min(result.bytesPerLine(), converted.bytesPerLine()));
        for (int y = 0; y < rows; ++y)
            std::memcpy(result.scanLine(top + y), converted.constScanLine(y), rowBytes);
    }
    result.setDevicePixelRatio(image.devicePixelRatio());
    result.setDotsPerMeterX(image.dotsPerMeterX());
    result.setDotsPerMeterY(image.dotsPerMeterY());
    return result;
}

bool memoryAvailable(std::size_t bytes)
{
    // Mapped and unmapped directly, so that the test leaves the heap as it
    // was; a mapping counts against an address-space limit like any
    // allocation of the libraries.
    void *probe = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED)
        return false;
    munmap(probe, bytes);
    return true;
}

void requireTextHeadroom()
{
    if (!memoryAvailable(kTextHeadroomBytes))
        throw std::bad_alloc();
}
