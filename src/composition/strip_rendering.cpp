#include "composition/strip_rendering.h"

#include "composition/image_memory.h"
#include "composition/text_measurer.h"

#include <QPainter>

#include <cmath>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

namespace {

Qt::Alignment alignmentFlags(HorzAlign horz, VertAlign vert)
{
    Qt::Alignment flags;
    switch (horz) {
    case HorzAlign::Centre:
        flags |= Qt::AlignHCenter;
        break;
    case HorzAlign::Right:
        flags |= Qt::AlignRight;
        break;
    default:
        flags |= Qt::AlignLeft;
        break;
    }
    switch (vert) {
    case VertAlign::Middle:
        flags |= Qt::AlignVCenter;
        break;
    case VertAlign::Bottom:
        flags |= Qt::AlignBottom;
        break;
    default:
        flags |= Qt::AlignTop;
        break;
    }
    return flags;
}

} // namespace

void paintStrip(QPainter &painter, const StripLayout &layout, StripGround ground, const QColor &ink,
                double dpi)
{
    painter.save();
    if (ground == StripGround::White)
        painter.fillRect(QRect(0, 0, layout.width, layout.height), Qt::white);

    const int flags =
        int(alignmentFlags(layout.settings.horzAlign, layout.settings.vertAlign)) | Qt::TextSingleLine;
    for (const Cell &cell : layout.cells) {
        const QRect bounds(cell.x, 0, cell.width, cell.height);
        painter.save();
        // A glyph that overhangs its cell (an italic slant, an oversize
        // glyph) is cut at the cell's edge rather than bleeding into its
        // neighbour; any clip the caller set still holds.
        painter.setClipRect(bounds, Qt::IntersectClip);
        painter.setFont(fontFor(cellFont(layout.settings, cell), dpi));
        painter.setPen(cell.colour ? toQColor(*cell.colour) : ink);
        const QRect textBox = bounds.adjusted(kCellFrame, kCellFrame, -kCellFrame, -kCellFrame);
        painter.drawText(textBox, flags, cell.text);
        painter.restore();
    }
    painter.restore();
}

QImage renderStrip(const StripLayout &layout, StripGround ground, const QColor &ink, qreal devicePixelRatio,
                   double dpi)
{
    const QSize physical(int(std::lround(layout.width * devicePixelRatio)),
                         int(std::lround(layout.height * devicePixelRatio)));
    if (physical.isEmpty())
        return {};

    const bool white = ground == StripGround::White;
    QImage image = newImage(physical, white ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    // The physical rounding can leave a last row or column that the logical
    // ground does not reach; start from the ground everywhere.
    image.fill(white ? Qt::white : Qt::transparent);
    requireTextHeadroom();
    withFreshTextState([&] {
        QPainter painter(&image);
        paintStrip(painter, layout, ground, ink, dpi);
    });
    return image;
}

void withFreshTextState(const std::function<void()> &work)
{
    // FreeType faces and Qt's font engines are kept per thread, and a face
    // remembers the sub-pixel offset of the last glyph rasterised into the
    // glyph cache; Qt then applies that offset to the outlines of glyphs too
    // large for the cache. So text drawn on a thread that drew text before
    // can come out a fraction of a pixel apart. A thread of its own starts
    // from the same state every time.
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error &) {
        // The system has no room for another thread's stack: the process is
        // out of memory, whatever the error code says.
        throw std::bad_alloc();
    }
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}
