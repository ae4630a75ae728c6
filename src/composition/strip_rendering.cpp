#include "composition/strip_rendering.h"

#include "composition/image_memory.h"
#include "composition/text_measurer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
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

// True when the face `font` resolves to has a bold style of its own; Qt then
// draws that style at every size.
bool hasOwnBold(const QFont &font)
{
    const QString family = QFontInfo(font).family();
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(), [&family](const QString &style) {
        return QFontDatabase::weight(family, style) >= QFont::Bold;
    });
}

// Where drawText(box, flags, text) puts the start of the baseline, for a
// single line in `metrics`.
QPointF baselineOrigin(const QRectF &box, Qt::Alignment flags, const QFontMetricsF &metrics,
                       const QString &text)
{
    qreal x = box.left();
    const qreal spareWidth = box.width() - metrics.horizontalAdvance(text);
    if (flags & Qt::AlignHCenter)
        x += spareWidth / 2;
    else if (flags & Qt::AlignRight)
        x += spareWidth;
    qreal y = box.top();
    const qreal spareHeight = box.height() - metrics.height();
    if (flags & Qt::AlignVCenter)
        y += spareHeight / 2;
    else if (flags & Qt::AlignBottom)
        y += spareHeight;
    return {x, y + metrics.ascent()};
}

// Draws `text` in `font` emboldened by hand. Qt emboldens a face without a
// bold style only in the glyphs it caches (up to about 64 pixels) and draws
// larger glyphs as plain outlines, so a strip would turn thin half-way. Here
// the regular outline of every size is widened by a 24th of the pixel size,
// as FreeType's emboldening does, so small characters look as they did and
// large ones stay in proportion. The text's own underline and strike-out come
// with the outline.
void drawSyntheticBold(QPainter &painter, const QRectF &box, Qt::Alignment flags, QFont font,
                       const QString &text)
{
    font.setBold(false);
    QPainterPath outline;
    outline.addText(baselineOrigin(box, flags, QFontMetricsF(font), text), font, text);
    if (outline.isEmpty()) {
        // A colour glyph has no outline to widen; it keeps its own look.
        painter.setFont(font);
        painter.drawText(box, int(flags) | Qt::TextSingleLine, text);
        return;
    }
    QPainterPathStroker widening;
    widening.setWidth(font.pixelSize() / 24.0);
    widening.setJoinStyle(Qt::RoundJoin);
    widening.setCapStyle(Qt::RoundCap);
    // One shape filled once: a stroke painted over the fill would blend
    // twice along its soft edge and leave opaque pixels off the ink.
    const QPainterPath shape = widening.createStroke(outline).united(outline);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, painter.pen().color());
}

} // namespace

void paintStrip(QPainter &painter, const StripLayout &layout, StripGround ground, const QColor &ink,
                double dpi)
{
    painter.save();
    if (ground == StripGround::White)
        painter.fillRect(QRect(0, 0, layout.width, layout.height), Qt::white);

    const Qt::Alignment alignment = alignmentFlags(layout.settings.horzAlign, layout.settings.vertAlign);
    const int flags = int(alignment) | Qt::TextSingleLine;
    for (const Cell &cell : layout.cells) {
        const QRect bounds(cell.x, cell.y, cell.width, cell.height);
        painter.save();
        // A glyph that overhangs its cell (an italic slant, an oversize
        // glyph) is cut at the cell's edge rather than bleeding into its
        // neighbour; any clip the caller set still holds.
        painter.setClipRect(bounds, Qt::IntersectClip);
        const QFont font = fontFor(cellFont(layout.settings, cell), dpi);
        painter.setPen(cell.colour ? toQColor(*cell.colour) : ink);
        const QRect textBox = bounds.adjusted(kCellFrame, kCellFrame, -kCellFrame, -kCellFrame);
        if (font.bold() && !hasOwnBold(font)) {
            drawSyntheticBold(painter, textBox, alignment, font, cell.text);
        } else {
            painter.setFont(font);
            painter.drawText(textBox, flags, cell.text);
        }
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
