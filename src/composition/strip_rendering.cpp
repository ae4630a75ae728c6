#include "composition/strip_rendering.h"

#include "composition/image_memory.h"
#include "composition/text_measurer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

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

// How the text of one cell is drawn.
struct CellText {
    QFont font;
    QRect box; // the text box, within the cell's room for overhang
    Qt::Alignment alignment;
    // Filled as its outline (widened by `widening` pixels across where that
    // is not 0) rather than drawn by Qt's text drawing.
    bool asOutline = false;
    qreal widening = 0;
    QString text;

    // The outline where the text is drawn; empty for a colour glyph, which
    // has none. The text's own underline and strike-out come with it.
    QPainterPath outline() const
    {
        QPainterPath path;
        path.addText(baselineOrigin(box, alignment, QFontMetricsF(font), text), font, text);
        return path;
    }
};

CellText cellText(const StripLayout &layout, const Cell &cell, double dpi)
{
    CellText drawn;
    drawn.font = fontFor(cellFont(layout.settings, cell), dpi);
    drawn.box = QRect(cell.x + kCellFrame + cell.overhangLeft, cell.y + kCellFrame,
                      cell.width - 2 * kCellFrame - cell.overhangLeft - cell.overhangRight,
                      cell.height - 2 * kCellFrame);
    drawn.alignment = alignmentFlags(layout.settings.horzAlign, layout.settings.vertAlign);
    drawn.text = cell.text;
    if (drawn.font.bold() && !hasOwnBold(drawn.font)) {
        // Qt emboldens a face without a bold style only in the glyphs it
        // caches (up to about 64 pixels) and draws larger glyphs as plain
        // outlines, so a strip would turn thin half-way. Here the regular
        // outline of every size is widened by a 24th of the pixel size, as
        // FreeType's emboldening does, so small characters look as they did
        // and large ones stay in proportion.
        drawn.asOutline = true;
        drawn.widening = drawn.font.pixelSize() / 24.0;
        drawn.font.setBold(false);
    } else if (layout.wholeGlyphs && drawn.font.italic()) {
        // Qt rasterises a glyph it slants itself within the upright glyph's
        // box, cutting off what leans beyond it; the slanted outline is whole.
        drawn.asOutline = true;
    }
    return drawn;
}

// Draws the text of `cell` of `layout` in its text box, without clipping it.
void paintCellText(QPainter &painter, const StripLayout &layout, const Cell &cell, const QColor &ink,
                   double dpi)
{
    const CellText drawn = cellText(layout, cell, dpi);
    painter.setPen(cell.colour ? toQColor(*cell.colour) : ink);
    const QPainterPath outline = drawn.asOutline ? drawn.outline() : QPainterPath();
    if (outline.isEmpty()) {
        painter.setFont(drawn.font);
        painter.drawText(drawn.box, int(drawn.alignment) | Qt::TextSingleLine, drawn.text);
        return;
    }
    QPainterPath shape = outline;
    if (drawn.widening > 0) {
        QPainterPathStroker stroker;
        stroker.setWidth(drawn.widening);
        stroker.setJoinStyle(Qt::RoundJoin);
        stroker.setCapStyle(Qt::RoundCap);
        // One shape filled once: a stroke painted over the fill would blend
        // twice along its soft edge and leave opaque pixels off the ink.
        shape = stroker.createStroke(outline).united(outline);
    }
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

    for (const Cell &cell : layout.cells) {
        painter.save();
        // A glyph that overhangs its cell (an italic slant, an oversize
        // glyph) is cut at the cell's edge rather than bleeding into its
        // neighbour; any clip the caller set still holds.
        painter.setClipRect(QRect(cell.x, cell.y, cell.width, cell.height), Qt::IntersectClip);
        paintCellText(painter, layout, cell, ink, dpi);
        painter.restore();
    }
    painter.restore();
}

StripLayout withRoomForOverhang(const StripLayout &layout, double dpi)
{
    assert(layout.rows == 1);
    StripLayout roomy = layout;
    roomy.wholeGlyphs = true;
    const auto measure = [&] {
        int shift = 0;
        for (Cell &cell : roomy.cells) {
            const CellText drawn = cellText(roomy, cell, dpi);
            // A round-joined widening reaches at most half its width beyond
            // the outline; a pixel the shape touches at all gets ink.
            const qreal reach = drawn.widening / 2;
            const QRectF ink =
                drawn.asOutline ? drawn.outline().boundingRect().adjusted(-reach, 0, reach, 0) : QRectF();
            if (!ink.isEmpty()) {
                cell.overhangLeft = std::max(0, cell.x - int(std::floor(ink.left())));
                cell.overhangRight = std::max(0, int(std::ceil(ink.right())) - (cell.x + cell.width));
            }
            cell.x += shift;
            cell.width += cell.overhangLeft + cell.overhangRight;
            shift += cell.overhangLeft + cell.overhangRight;
        }
        roomy.width += shift;
    };
    // Only outlines are measured, so only a face made bold or italic by hand
    // costs anything. Measuring loads outlines and rasterises nothing, so it
    // leaves the glyph cache as it was.
    if (layout.settings.bold || layout.settings.italic)
        measure();
    return roomy;
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

namespace {

// Set by markTextStateFresh(); taken by the first withFreshTextState().
thread_local bool textStateFresh = false;

} // namespace

void markTextStateFresh()
{
    textStateFresh = true;
}

void withFreshTextState(const std::function<void()> &work)
{
    if (std::exchange(textStateFresh, false)) {
        work();
        return;
    }
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
