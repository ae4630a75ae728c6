#include "composition/sticker_look.h"

#include "composition/image_memory.h"
#include "composition/quillow_error.h"

#include <QRect>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Far enough to stand for "no shape in this line" and still be added to a
// squared pixel distance without overflowing a double.
constexpr double kNowhere = 1e20;

// One line of the exact squared Euclidean distance transform (the lower
// envelope of the parabolas rooted at every sample): distance[i] becomes
// min over j of (i - j)^2 + cost[j], nearest[i] that j. Linear time.
class LineDistance {
public:
    explicit LineDistance(int length) : m_roots(std::size_t(length)), m_bounds(std::size_t(length) + 1) {}

    void run(const double *cost, int length, double *distance, int *nearest)
    {
        const auto meet = [cost](int p, int q) {
            return ((cost[q] + double(q) * q) - (cost[p] + double(p) * p)) / (2.0 * (q - p));
        };
        int k = 0;
        m_roots[0] = 0;
        m_bounds[0] = -std::numeric_limits<double>::infinity();
        m_bounds[1] = std::numeric_limits<double>::infinity();
        for (int q = 1; q < length; ++q) {
            double s = meet(m_roots[std::size_t(k)], q);
            while (s <= m_bounds[std::size_t(k)]) {
                --k;
                s = meet(m_roots[std::size_t(k)], q);
            }
            ++k;
            m_roots[std::size_t(k)] = q;
            m_bounds[std::size_t(k)] = s;
            m_bounds[std::size_t(k) + 1] = std::numeric_limits<double>::infinity();
        }
        k = 0;
        for (int q = 0; q < length; ++q) {
            while (m_bounds[std::size_t(k) + 1] < q)
                ++k;
            const int root = m_roots[std::size_t(k)];
            distance[q] = double(q - root) * (q - root) + cost[root];
            nearest[q] = root;
        }
    }

private:
    std::vector<int> m_roots;
    std::vector<double> m_bounds;
};

// A coverage map (0..1) the size of the grown canvas.
struct Coverage {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    float &at(int x, int y) { return values[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
    float at(int x, int y) const { return values[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// The shape grown by `radius` physical pixels, from the exact distance to the
// nearest covered pixel. A partly covered pixel's edge is taken to lie
// (alpha - 1/2) pixel beyond its centre, so the stroke follows the glyph's
// anti-aliased edge rather than its pixel staircase, and a pixel is covered
// by the share of it that lies within the radius: a soft outer edge and, the
// distance being Euclidean, round joins.
Coverage grown(const Coverage &shape, double radius)
{
    const int w = shape.width, h = shape.height;
    const auto columns = std::size_t(w), rows = std::size_t(h);
    // Along a column the nearest covered pixel is simply the closer of the
    // last one above and the first one below: two sweeps over the rows, in
    // memory order.
    std::vector<int> columnNearest(columns * rows);
    std::vector<double> columnDistance(columns * rows);
    {
        std::vector<int> last(columns, -1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (shape.at(x, y) > 0)
                    last[std::size_t(x)] = y;
                columnNearest[std::size_t(y) * columns + std::size_t(x)] = last[std::size_t(x)];
            }
        std::fill(last.begin(), last.end(), -1);
        for (int y = h - 1; y >= 0; --y)
            for (int x = 0; x < w; ++x) {
                const std::size_t at = std::size_t(y) * columns + std::size_t(x);
                if (shape.at(x, y) > 0)
                    last[std::size_t(x)] = y;
                const int above = columnNearest[at], below = last[std::size_t(x)];
                const int nearest = above < 0 || (below >= 0 && below - y < y - above) ? below : above;
                columnNearest[at] = nearest;
                columnDistance[at] = nearest < 0 ? kNowhere : double(y - nearest) * (y - nearest);
            }
    }

    Coverage result{w, h, std::vector<float>(shape.values.size())};
    LineDistance line(w);
    std::vector<double> distance(columns);
    std::vector<int> nearest(columns);
    for (int y = 0; y < h; ++y) {
        const std::size_t row = std::size_t(y) * columns;
        line.run(columnDistance.data() + row, w, distance.data(), nearest.data());
        for (int x = 0; x < w; ++x) {
            // Beyond radius + 1 nothing is covered: spare the square root.
            const double squared = distance[std::size_t(x)];
            if (squared > (radius + 1) * (radius + 1))
                continue;
            const int nx = nearest[std::size_t(x)];
            const int ny = columnNearest[row + std::size_t(nx)];
            const double toEdge = std::sqrt(squared) + 0.5 - shape.at(nx, ny);
            const double covered = std::clamp(radius + 0.5 - toEdge, 0.0, 1.0);
            result.at(x, y) = std::max(float(covered), shape.at(x, y));
        }
    }
    return result;
}

// One box filter pass of `radius` along every row; what lies beyond the
// canvas counts as empty.
void boxRows(Coverage &coverage, int radius)
{
    const float scale = 1.0f / float(2 * radius + 1);
    const int w = coverage.width;
    std::vector<float> line(std::size_t(w), 0.0f);
    for (int y = 0; y < coverage.height; ++y) {
        float *row = &coverage.at(0, y);
        std::copy(row, row + w, line.begin());
        double sum = 0;
        for (int x = 0; x < std::min(radius, w); ++x)
            sum += line[std::size_t(x)];
        for (int x = 0; x < w; ++x) {
            if (x + radius < w)
                sum += line[std::size_t(x + radius)];
            if (x - radius - 1 >= 0)
                sum -= line[std::size_t(x - radius - 1)];
            row[x] = float(sum) * scale;
        }
    }
}

// The same down every column, a row at a time so that memory is read in
// order.
void boxColumns(Coverage &coverage, int radius)
{
    const float scale = 1.0f / float(2 * radius + 1);
    const int w = coverage.width, h = coverage.height;
    const std::vector<float> source = coverage.values;
    const auto rowOf = [&](int y) { return source.data() + std::size_t(y) * std::size_t(w); };
    std::vector<double> sums(std::size_t(w), 0.0);
    for (int y = 0; y < std::min(radius, h); ++y)
        for (int x = 0; x < w; ++x)
            sums[std::size_t(x)] += rowOf(y)[x];
    for (int y = 0; y < h; ++y) {
        const float *entering = y + radius < h ? rowOf(y + radius) : nullptr;
        const float *leaving = y - radius - 1 >= 0 ? rowOf(y - radius - 1) : nullptr;
        float *row = &coverage.at(0, y);
        for (int x = 0; x < w; ++x) {
            double &sum = sums[std::size_t(x)];
            if (entering)
                sum += entering[x];
            if (leaving)
                sum -= leaving[x];
            row[x] = float(sum) * scale;
        }
    }
}

// Three box passes each way come close to a Gaussian and, unlike one, reach
// exactly `reach` pixels: the sum of the three radii.
void blur(Coverage &coverage, int reach)
{
    const std::array<int, 3> radii{(reach + 2) / 3, (reach + 1) / 3, reach / 3};
    for (const int radius : radii) {
        if (radius == 0)
            continue;
        boxRows(coverage, radius);
        boxColumns(coverage, radius);
    }
}

// A premultiplied pixel in floating point, channels 0..255.
struct Layered {
    float alpha = 0, red = 0, green = 0, blue = 0;

    // `layer` is a colour at full coverage, as premultiplied channels.
    void under(const Layered &layer, float coverage)
    {
        const float keep = 1.0f - layer.alpha / 255.0f * coverage;
        alpha = layer.alpha * coverage + alpha * keep;
        red = layer.red * coverage + red * keep;
        green = layer.green * coverage + green * keep;
        blue = layer.blue * coverage + blue * keep;
    }

    static Layered of(const QColor &colour)
    {
        const float a = float(colour.alpha()) / 255.0f;
        return {float(colour.alpha()), float(colour.red()) * a, float(colour.green()) * a,
                float(colour.blue()) * a};
    }
};

int physical(int logical, qreal devicePixelRatio)
{
    return int(std::lround(logical * devicePixelRatio));
}

// The smallest rectangle holding every pixel of `image` that is not fully
// transparent; empty when there is none.
QRect coveredRect(const QImage &image)
{
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) == 0)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = y;
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

[[noreturn]] void rejectNumber(const QString &what, int low, int high, int value)
{
    throw QuillowError(QStringLiteral("%1必须是 %2 到 %3 之间的整数（像素），而不是 %4。")
                           .arg(what)
                           .arg(low)
                           .arg(high)
                           .arg(value));
}

} // namespace

const std::vector<NamedStickerLook> &namedStickerLooks()
{
    static const std::vector<NamedStickerLook> looks = [] {
        StickerLook readable;
        readable.outlineWidth = 3;
        readable.outlineColour = Qt::white;
        // Two pixels of near black close the outline off from a white ground
        // even where it runs at a slant (one leaves grey gaps there); on a
        // dark ground the white does that.
        readable.edgeWidth = 2;
        return std::vector<NamedStickerLook>{{QStringLiteral("plain"), StickerLook{}},
                                             {QStringLiteral("readable"), readable}};
    }();
    return looks;
}

const StickerLook &stickerLookNamed(const QString &name)
{
    const QString wanted = name.trimmed().toLower();
    QStringList names;
    for (const NamedStickerLook &named : namedStickerLooks()) {
        if (named.name == wanted)
            return named.look;
        names << named.name;
    }
    throw QuillowError(
        QStringLiteral("外观只能是 %1，而不是“%2”。").arg(names.join(QStringLiteral("、")), name));
}

const StickerLook &readableStickerLook()
{
    return stickerLookNamed(QStringLiteral("readable"));
}

void checkStickerLook(const StickerLook &look)
{
    if (look.outlineWidth < 0 || look.outlineWidth > kMaxOutlineWidth)
        rejectNumber(QStringLiteral("描边宽度"), 0, kMaxOutlineWidth, look.outlineWidth);
    if (look.edgeWidth < 0 || look.edgeWidth > kMaxOutlineEdge)
        rejectNumber(QStringLiteral("描边细边宽度"), 0, kMaxOutlineEdge, look.edgeWidth);
    if (look.shadowBlur < 0 || look.shadowBlur > kMaxShadowBlur)
        rejectNumber(QStringLiteral("阴影模糊半径"), 0, kMaxShadowBlur, look.shadowBlur);
    for (const int offset : {look.shadowOffset.x(), look.shadowOffset.y()}) {
        if (std::abs(offset) > kMaxShadowOffset)
            rejectNumber(QStringLiteral("阴影偏移"), -kMaxShadowOffset, kMaxShadowOffset, offset);
    }
    if (!look.outlineColour.isValid() || !look.edgeColour.isValid() || !look.shadowColour.isValid())
        throw QuillowError(QStringLiteral("描边或阴影的颜色无效。"));
}

QMargins stickerMargins(const StickerLook &look, qreal devicePixelRatio)
{
    const int outline = int(std::ceil((look.outlineWidth + look.edgeWidth) * devicePixelRatio - 1e-9));
    if (!look.shadow)
        return {outline, outline, outline, outline};
    const int reach = physical(look.shadowBlur, devicePixelRatio);
    const int dx = physical(look.shadowOffset.x(), devicePixelRatio);
    const int dy = physical(look.shadowOffset.y(), devicePixelRatio);
    return {outline + std::max(0, reach - dx), outline + std::max(0, reach - dy),
            outline + std::max(0, reach + dx), outline + std::max(0, reach + dy)};
}

QImage applyStickerLook(const QImage &picture, const StickerLook &look)
{
    if (picture.isNull())
        return {};
    const QImage source = convertedHere(picture, QImage::Format_ARGB32_Premultiplied);
    const qreal ratio = source.devicePixelRatio();
    const QMargins margins = stickerMargins(look, ratio);
    if (look.outlineWidth == 0 && look.edgeWidth == 0 && !look.shadow)
        return source;

    QImage result = newImage(source.size().grownBy(margins), QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(ratio);
    result.fill(Qt::transparent);
    const QRect covered = coveredRect(source);
    if (covered.isEmpty())
        return result;
    // Only near what the picture covers can the look reach: an early reveal
    // frame is mostly empty, and so is the space around each strip.
    const QPoint shift(margins.left(), margins.top());
    const QRect work = covered.translated(shift).marginsAdded(margins);
    const int w = work.width(), h = work.height();
    const QPoint toSource = work.topLeft() - shift;

    Coverage shape{w, h, std::vector<float>(std::size_t(w) * std::size_t(h))};
    for (int y = 0; y < covered.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(source.constScanLine(covered.top() + y));
        for (int x = covered.left(); x <= covered.right(); ++x)
            shape.at(x - toSource.x(), covered.top() + y - toSource.y()) = float(qAlpha(row[x])) / 255.0f;
    }

    const Coverage outlined = look.outlineWidth > 0 ? grown(shape, look.outlineWidth * ratio) : shape;
    const Coverage edged =
        look.edgeWidth > 0 ? grown(shape, (look.outlineWidth + look.edgeWidth) * ratio) : Coverage{};
    const Coverage &outermost = look.edgeWidth > 0 ? edged : outlined;
    Coverage shadow;
    if (look.shadow) {
        shadow = Coverage{w, h, std::vector<float>(shape.values.size())};
        const int dx = physical(look.shadowOffset.x(), ratio);
        const int dy = physical(look.shadowOffset.y(), ratio);
        for (int y = std::max(0, dy); y < std::min(h, h + dy); ++y)
            for (int x = std::max(0, dx); x < std::min(w, w + dx); ++x)
                shadow.at(x, y) = outermost.at(x - dx, y - dy);
        blur(shadow, physical(look.shadowBlur, ratio));
    }

    const Layered shadowLayer = Layered::of(look.shadowColour);
    const Layered edgeLayer = Layered::of(look.edgeColour);
    const Layered outlineLayer = Layered::of(look.outlineColour);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(result.scanLine(work.top() + y)) + work.left();
        const int sy = y + toSource.y();
        const auto *sourceRow = sy >= 0 && sy < source.height()
                                    ? reinterpret_cast<const QRgb *>(source.constScanLine(sy))
                                    : nullptr;
        for (int x = 0; x < w; ++x) {
            Layered beneath;
            if (look.shadow)
                beneath.under(shadowLayer, shadow.at(x, y));
            if (look.edgeWidth > 0)
                beneath.under(edgeLayer, edged.at(x, y));
            if (look.outlineWidth > 0)
                beneath.under(outlineLayer, outlined.at(x, y));
            const int sx = x + toSource.x();
            const QRgb top = sourceRow && sx >= 0 && sx < source.width() ? sourceRow[sx] : 0;
            // Premultiplied "over": where the picture is opaque, nothing
            // beneath shows and its pixel stays exactly as it was.
            const float keep = float(255 - qAlpha(top)) / 255.0f;
            const auto part = [keep](float channel) { return int(channel * keep + 0.5f); };
            row[x] = qRgba(qRed(top) + part(beneath.red), qGreen(top) + part(beneath.green),
                           qBlue(top) + part(beneath.blue), qAlpha(top) + part(beneath.alpha));
        }
    }
    return result;
}
