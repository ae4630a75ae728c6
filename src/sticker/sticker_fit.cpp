#include "sticker/sticker_fit.h"

#include "composition/image_memory.h"
#include "composition/quillow_error.h"
#include "composition/row_layout.h"
#include "composition/strip_rendering.h"
#include "sticker/sticker.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Below this the smallest character (20 points) would round to no pixel.
constexpr double kSmallestDpi = 4.0;
constexpr int kBisectionSteps = 24;

QSize withMargins(const StripLayout &layout, const QMargins &margins)
{
    return {layout.width + margins.left() + margins.right(),
            layout.height + margins.top() + margins.bottom()};
}

int longestSide(QSize size)
{
    return std::max(size.width(), size.height());
}

QSize paddedCanvas(QSize natural, StickerSizeRule rule, int side)
{
    switch (rule) {
    case StickerSizeRule::Square:
        return {side, side};
    case StickerSizeRule::LongestExactly:
        return natural.width() >= natural.height() ? QSize(side, natural.height())
                                                   : QSize(natural.width(), side);
    case StickerSizeRule::NaturalAtMost:
    case StickerSizeRule::WithinBox: // fitted by fitStripInKindBox()
    case StickerSizeRule::FillsBox:
        break;
    }
    return natural;
}

void stopIfCancelled(const std::atomic<bool> *cancel)
{
    if (cancel && cancel->load())
        throw StickerCancelled{};
}

} // namespace

StripLayout layoutAtDpi(const StripLayout &layout, double dpi)
{
    StripSettings settings = layout.settings;
    settings.spacing = int(std::lround(settings.spacing * dpi / kDesignDpi));
    FontTextMeasurer measurer(dpi);
    StripLayout scaled = inRows(withRoomForOverhang(computeStripLayout(settings, measurer, QSize()), dpi),
                                layout.rows, measurer);
    scaled.left = 0;
    scaled.top = 0;
    for (std::size_t i = 0; i < scaled.cells.size() && i < layout.cells.size(); ++i)
        scaled.cells[i].colour = layout.cells[i].colour;
    return scaled;
}

namespace {

// The largest drawing of `layout` whose size with `margins` lies within
// `box`, searched from `estimate` (the dpi expected to fit) and `high` (one
// expected not to). Measuring rounds every glyph to whole pixels, so the size
// does not grow strictly with the dpi: the search keeps the best drawing it
// has seen rather than trusting the last step. The canvas is the drawing's
// size with the margins.
StickerFit searchFit(const StripLayout &layout, const QMargins &margins, QSize box, double estimate,
                     double high, const std::atomic<bool> *cancel)
{
    struct Probe {
        double dpi = 0;
        StripLayout layout;
        QSize size;
    };
    // How much of the box a size fills, along its tighter side; on a square
    // box this orders sizes by their longest side.
    const auto extent = [&](QSize size) {
        return std::max(qint64(size.width()) * box.height(), qint64(size.height()) * box.width());
    };
    std::optional<Probe> best;
    const auto fits = [&](double dpi) {
        stopIfCancelled(cancel);
        Probe probe{dpi, layoutAtDpi(layout, dpi), {}};
        probe.size = withMargins(probe.layout, margins);
        if (probe.size.width() > box.width() || probe.size.height() > box.height())
            return false;
        if (!best || extent(probe.size) > extent(best->size) ||
            (extent(probe.size) == extent(best->size) && dpi > best->dpi))
            best = std::move(probe);
        return true;
    };

    for (int doubling = 0; doubling < 8 && fits(high); ++doubling)
        high *= 2;
    double low = std::min(estimate * 0.8, high / 2);
    while (!fits(low)) {
        low /= 2;
        if (low < kSmallestDpi)
            throw QuillowError(QStringLiteral("贴纸放不进 %1 像素以内：外框、阴影或抖动留出的边太宽")
                                   .arg(std::min(box.width(), box.height())));
    }
    for (int step = 0; step < kBisectionSteps; ++step) {
        const double middle = (low + high) / 2;
        (fits(middle) ? low : high) = middle;
    }

    StickerFit fit;
    fit.dpi = best->dpi;
    fit.layout = std::move(best->layout);
    fit.canvas = best->size;
    return fit;
}

void refuseEmpty(const StripLayout &layout)
{
    if (layout.width <= 0 || layout.height <= 0)
        throw QuillowError(QStringLiteral("没有可导出的图片"));
}

} // namespace

StickerFit fitStrip(const StripLayout &layout, StickerSizeRule rule, int side, const QMargins &margins,
                    const std::atomic<bool> *cancel)
{
    refuseEmpty(layout);
    if (rule == StickerSizeRule::NaturalAtMost && longestSide(withMargins(layout, margins)) <= side) {
        StickerFit fit;
        fit.layout = layout;
        fit.canvas = withMargins(layout, margins);
        return fit;
    }

    const int marginSpan = std::max(margins.left() + margins.right(), margins.top() + margins.bottom());
    const double estimate =
        kDesignDpi * std::max(1, side - marginSpan) / std::max(layout.width, layout.height);
    const double high = rule == StickerSizeRule::NaturalAtMost ? kDesignDpi : estimate * 1.25 + 1.0;
    StickerFit fit = searchFit(layout, margins, QSize(side, side), estimate, high, cancel);
    fit.canvas = paddedCanvas(fit.canvas, rule, side);
    return fit;
}

StickerFit fitStripInBox(const StripLayout &layout, QSize box, const QMargins &margins,
                         const std::atomic<bool> *cancel)
{
    refuseEmpty(layout);
    const double estimate =
        kDesignDpi *
        std::min(double(std::max(1, box.width() - margins.left() - margins.right())) / layout.width,
                 double(std::max(1, box.height() - margins.top() - margins.bottom())) / layout.height);
    return searchFit(layout, margins, box, estimate, estimate * 1.25 + 1.0, cancel);
}

Animation centredOnCanvas(const Animation &animation, QSize canvas)
{
    Animation centred;
    centred.loopCount = animation.loopCount;
    for (const AnimationFrame &frame : animation.frames) {
        Q_ASSERT(frame.image.width() <= canvas.width() && frame.image.height() <= canvas.height());
        if (frame.image.size() == canvas) {
            centred.frames.push_back(frame);
            continue;
        }
        QImage image = newImage(canvas, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(
            QPoint((canvas.width() - frame.image.width()) / 2, (canvas.height() - frame.image.height()) / 2),
            frame.image);
        painter.end();
        centred.frames.push_back({image, frame.delayMs});
    }
    return centred;
}

namespace {

// The `count` frames from `first` thinned to `keep` and appended to `to`.
void appendThinned(const Animation &animation, int first, int count, int keep, Animation &to)
{
    const auto keptIndex = [&](int j) { return first + (j * (count - 1) + (keep - 1) / 2) / (keep - 1); };
    for (int j = 0; j < keep; ++j) {
        const int from = keptIndex(j);
        const int next = j + 1 < keep ? keptIndex(j + 1) : first + count;
        AnimationFrame frame = animation.frames[std::size_t(from)];
        for (int dropped = from + 1; dropped < next; ++dropped)
            frame.delayMs += animation.frames[std::size_t(dropped)].delayMs;
        to.frames.push_back(std::move(frame));
    }
}

} // namespace

Animation withFewerRevealFrames(const Animation &animation, int revealFrames, int keep)
{
    Q_ASSERT(keep >= 2 && revealFrames <= int(animation.frames.size()));
    if (keep >= revealFrames)
        return animation;

    Animation thinned;
    thinned.loopCount = animation.loopCount;
    appendThinned(animation, 0, revealFrames, keep, thinned);
    thinned.frames.insert(thinned.frames.end(), animation.frames.begin() + revealFrames,
                          animation.frames.end());
    return thinned;
}

Animation withShorterShake(const Animation &animation, int firstShakeFrame, int cycles, int cycleFrames,
                           int keep)
{
    Q_ASSERT(keep >= 2 && firstShakeFrame + cycles * cycleFrames <= int(animation.frames.size()));
    if (keep >= cycleFrames)
        return animation;

    Animation thinned;
    thinned.loopCount = animation.loopCount;
    thinned.frames.assign(animation.frames.begin(), animation.frames.begin() + firstShakeFrame);
    for (int cycle = 0; cycle < cycles; ++cycle)
        appendThinned(animation, firstShakeFrame + cycle * cycleFrames, cycleFrames, keep, thinned);
    thinned.frames.insert(thinned.frames.end(),
                          animation.frames.begin() + firstShakeFrame + cycles * cycleFrames,
                          animation.frames.end());
    return thinned;
}
