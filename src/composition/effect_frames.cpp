#include "composition/effect_frames.h"

#include "composition/image_memory.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <iterator>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr std::array kEffects{
    EffectRow{Effect::Still, "still"_L1, "静止", false},
    EffectRow{Effect::Reveal, "reveal"_L1, "逐字出现", true},
    EffectRow{Effect::Shake, "shake"_L1, "抖动", true},
    EffectRow{Effect::RevealShake, "reveal-shake"_L1, "出现后抖动", true},
};

// SplitMix64: tiny, fast and well mixed from the first draw, so that
// neighbouring seeds do not shake alike. It is kept apart from the colour
// generator on purpose: drawing offsets must not change the colours.
class ShakeDraws {
public:
    explicit ShakeDraws(std::uint32_t seed) : m_state(seed) {}

    // Uniform in -kShakeReach..kShakeReach.
    int offset()
    {
        constexpr std::uint64_t choices = 2 * kShakeReach + 1;
        return int(((next() >> 32) * choices) >> 32) - kShakeReach;
    }

private:
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    std::uint64_t m_state;
};

std::vector<FramePlan> revealFrames(std::size_t cellCount, int frameMs)
{
    std::vector<FramePlan> frames;
    for (std::size_t shown = 1; shown <= cellCount; ++shown) {
        FramePlan frame{std::vector<CellPose>(cellCount), frameMs};
        for (std::size_t i = shown; i < cellCount; ++i)
            frame.poses[i].shown = false;
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::vector<FramePlan> shakeCycle(std::size_t cellCount, std::uint32_t seed)
{
    ShakeDraws draws(seed);
    std::vector<FramePlan> frames;
    for (int f = 0; f < kShakeFrames; ++f) {
        FramePlan frame{std::vector<CellPose>(cellCount), kShakeFrameMs};
        for (CellPose &pose : frame.poses) {
            const int dx = draws.offset();
            pose.offset = QPoint(dx, draws.offset());
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace

std::span<const EffectRow> effectRows()
{
    return kEffects;
}

const EffectRow &effectRow(Effect effect)
{
    for (const EffectRow &row : kEffects) {
        if (row.effect == effect)
            return row;
    }
    Q_UNREACHABLE();
}

QString effectName(Effect effect)
{
    return effectRow(effect).name;
}

QStringList effectNames()
{
    QStringList names;
    for (const EffectRow &row : kEffects)
        names << row.name;
    return names;
}

Effect effectFromName(const QString &name)
{
    const QString wanted = name.trimmed().toLower();
    for (const EffectRow &row : kEffects) {
        if (wanted == row.name)
            return row.effect;
    }
    throw QuillowError(QStringLiteral("动画效果只能是 %1，而不是“%2”。")
                           .arg(effectNames().join(QStringLiteral("、")), name));
}

void checkEffectTiming(const EffectTiming &timing)
{
    if (timing.frameMs < kMinFrameMs || timing.frameMs > kMaxFrameMs)
        throw QuillowError(QStringLiteral("每帧时长必须是 %1 到 %2 毫秒之间的整数，而不是 %3。")
                               .arg(kMinFrameMs)
                               .arg(kMaxFrameMs)
                               .arg(timing.frameMs));
    if (timing.holdMs < 0 || timing.holdMs > kMaxHoldMs)
        throw QuillowError(QStringLiteral("停留时长必须是 0 到 %1 毫秒之间的整数，而不是 %2。")
                               .arg(kMaxHoldMs)
                               .arg(timing.holdMs));
}

EffectPlan planEffect(const StripLayout &layout, Effect effect, const EffectTiming &timing,
                      std::uint32_t seed)
{
    const std::size_t cellCount = layout.cells.size();
    EffectPlan plan;
    if (cellCount == 0)
        return plan;

    const FramePlan atRest{std::vector<CellPose>(cellCount), 0};
    switch (effect) {
    case Effect::Still:
        plan.frames.push_back(atRest);
        break;
    case Effect::Reveal:
        plan.frames = revealFrames(cellCount, timing.frameMs);
        // The last reveal frame is the whole strip: holding it is only a
        // longer delay, not one more picture for the encoders to store.
        plan.frames.back().delayMs += timing.holdMs;
        break;
    case Effect::Shake:
        plan.margin = kShakeReach;
        plan.frames = shakeCycle(cellCount, seed);
        break;
    case Effect::RevealShake: {
        plan.margin = kShakeReach;
        plan.frames = revealFrames(cellCount, timing.frameMs);
        const std::vector<FramePlan> cycle = shakeCycle(cellCount, seed);
        for (int round = 0; round < 2; ++round)
            plan.frames.insert(plan.frames.end(), cycle.begin(), cycle.end());
        plan.frames.push_back(atRest);
        plan.frames.back().delayMs = timing.holdMs;
        break;
    }
    }
    return plan;
}

QImage renderPosedStrip(const StripLayout &layout, const QColor &ink, const std::vector<CellPose> &poses,
                        int margin, qreal devicePixelRatio, double dpi)
{
    assert(poses.size() == layout.cells.size());
    if (layout.width <= 0 || layout.height <= 0)
        return {};
    const QSize physical(int(std::lround((layout.width + 2 * margin) * devicePixelRatio)),
                         int(std::lround((layout.height + 2 * margin) * devicePixelRatio)));
    if (physical.isEmpty())
        return {};

    QImage image = newImage(physical, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(margin, margin);

    // Each cell is painted as a strip of its own, so that the one strip
    // painting draws every frame and its clip moves with the cell.
    StripLayout single = layout;
    for (std::size_t i = 0; i < layout.cells.size(); ++i) {
        if (!poses[i].shown)
            continue;
        // Each size is a font engine of its own, which fontconfig sets up
        // the first time the size is drawn: the margin it needs is checked
        // for each cell, as the frames before have taken their share.
        requireTextHeadroom();
        single.cells.assign(1, layout.cells[i]);
        painter.save();
        painter.translate(poses[i].offset);
        paintStrip(painter, single, StripGround::Transparent, ink, dpi);
        painter.restore();
    }
    return image;
}

Animation renderEffect(const StripLayout &layout, const QColor &ink, Effect effect,
                       const EffectTiming &timing, const StickerLook &look, std::uint32_t seed,
                       qreal devicePixelRatio, double dpi)
{
    checkEffectTiming(timing);
    checkStickerLook(look);

    Animation animation;
    if (layout.width <= 0 || layout.height <= 0)
        return animation;

    const EffectPlan plan = planEffect(layout, effect, timing, seed);
    for (std::size_t f = 0; f < plan.frames.size(); ++f) {
        const FramePlan &frame = plan.frames[f];
        // A shake's second cycle and the hold after it repeat pictures
        // already made; QImage shares them without copying.
        const auto same =
            std::find_if(plan.frames.begin(), plan.frames.begin() + std::ptrdiff_t(f),
                         [&](const FramePlan &earlier) { return earlier.poses == frame.poses; });
        QImage image =
            same != plan.frames.begin() + std::ptrdiff_t(f)
                ? animation.frames[std::size_t(std::distance(plan.frames.begin(), same))].image
                : applyStickerLook(
                      renderPosedStrip(layout, ink, frame.poses, plan.margin, devicePixelRatio, dpi), look);
        animation.frames.push_back({std::move(image), frame.delayMs});
    }
    return animation;
}
