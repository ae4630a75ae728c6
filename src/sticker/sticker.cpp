#include "sticker/sticker.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"
#include "export/output_format.h"
#include "export/webm_writer.h"
#include "sticker/sticker_fit.h"
#include "sticker/sticker_format_choice.h"
#include "sticker/sticker_plays.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_rows.h"
#include "sticker/sticker_tiles.h"

#include <QBuffer>
#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <functional>

namespace {

// A glyph smaller than this is hard to read in a chat's sticker tray.
constexpr int kLegiblePixels = 12;
constexpr int kFullPalette = 256;

// Palette sizes tried, best first. Gradients band below about 32 colours,
// but the effect the user chose still plays; it gives way only after them.
const std::vector<int> kColourLadder = {256, 192, 128, 96, 64, 48, 32, 24, 16, 12, 8, 6, 4, 2};
const std::vector<int> kWebpQualityLadder = {90, 80, 70, 60, 50, 40, 30, 20, 10, 0};
// Poses in one shake cycle, from the whole cycle down: fewer poses still
// read as a tremble, and the cycle lasts as long as before. Each step of a
// reveal (one per character) is never given up: without them the reveal
// is gone.
const std::vector<int> kShakeLadder = {kShakeFrames, 4, 3, 2};
// VP9's constant quality, from the default down: above about 50 glyph edges
// blur, but a file that fits beats none.
const std::vector<int> kWebmCrfLadder = {36, 40, 44, 48, 52, 56, 60, kMaxWebmCrf};

void stopIfCancelled(const std::atomic<bool> *cancel)
{
    if (cancel && cancel->load())
        throw StickerCancelled{};
}

// --- What the effects and the encoders provide -----------------------------

bool shakes(Effect effect)
{
    return effect == Effect::Shake || effect == Effect::RevealShake;
}

// What the effect, outline and shadow add around the strip; they are in
// pixels of the sticker, whatever the dpi the strip is drawn at.
QMargins expectedMargins(const StickerOptions &options)
{
    const int shake = shakes(options.effect) ? kShakeReach : 0;
    return stickerMargins(options.look) + QMargins(shake, shake, shake, shake);
}

// Whether stickers of `kind` (null: none) play a few times and stop.
bool finitePlays(const StickerKind *kind)
{
    return kind && kind->maxTotalPlayMs > 0;
}

struct ComposedFrames {
    Animation animation;
    int revealFrames = 0;           // the leading frames that build the strip up, one per character
    int shakeStart = 0;             // the first frame of the shake's cycles
    int shakeCycles = 0;            // 0: no shake
    int shakeFrames = kShakeFrames; // poses in each cycle
};

// `composed` with each shake cycle in `keep` poses (see withShorterShake()).
ComposedFrames withShakeOf(const ComposedFrames &composed, int keep)
{
    if (composed.shakeCycles == 0 || keep >= composed.shakeFrames)
        return composed;
    ComposedFrames shorter = composed;
    shorter.animation = withShorterShake(composed.animation, composed.shakeStart, composed.shakeCycles,
                                         composed.shakeFrames, keep);
    shorter.shakeFrames = keep;
    return shorter;
}

ComposedFrames composeFrames(const StripLayout &layout, const QColor &ink, double dpi,
                             const StickerOptions &options, const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    const Effect effect = options.effect;
    ComposedFrames composed;
    composed.animation =
        renderEffect(layout, ink, effect, options.timing, options.look, options.seed, 1.0, dpi);
    if (effect == Effect::Reveal || effect == Effect::RevealShake)
        composed.revealFrames = int(layout.cells.size());
    // As planEffect() lays them out: one cycle alone, or two after the reveal.
    if (effect == Effect::Shake)
        composed.shakeCycles = 1;
    if (effect == Effect::RevealShake) {
        composed.shakeStart = composed.revealFrames;
        composed.shakeCycles = 2;
    }
    return composed;
}

struct EncodeRequest {
    const OutputFileFormat *format = nullptr;
    int maxColours = kFullPalette;
    int webpQuality = -1; // -1: lossless
    std::optional<QColor> matte;
    int webmCrf = kDefaultWebmCrf;
    bool keepEveryFrame = false; // WebP: no frame merged into an equal neighbour
};

struct Encoded {
    QByteArray bytes;
    int frames = 1; // in the file: an encoder may merge equal neighbours
    int colours = 0;
    int quality = 100;
    QStringList warnings;
};

Encoded encodeFrames(const Animation &animation, const EncodeRequest &request)
{
    const EncodedAnimation made =
        request.format->encode(animation, {request.maxColours, request.webpQuality, request.matte,
                                           request.webmCrf, request.keepEveryFrame});
    Encoded encoded;
    encoded.bytes = made.bytes;
    encoded.warnings = made.warnings;
    encoded.frames = made.frames;
    encoded.colours = made.quality < 0 ? 0 : request.maxColours;
    encoded.quality = made.quality < 0 ? 100 : made.quality;
    return encoded;
}

// --- Choosing ----------------------------------------------------------------

void checkOptions(const StickerOptions &options)
{
    checkEffectTiming(options.timing);
    checkStickerLook(options.look);
    if (options.maxBytes && *options.maxBytes <= 0)
        throw QuillowError(QStringLiteral("文件大小上限须大于 0 字节"));
    if (options.webpQuality < -1 || options.webpQuality > 100)
        throw QuillowError(QStringLiteral("WebP 质量须在 0 到 100 之间"));
}

// --- Meeting the cap ---------------------------------------------------------

struct Attempt {
    Animation animation;
    EncodeRequest request;
};

struct Made {
    Attempt attempt;
    Encoded encoded;
    int shakeFrames = 0; // poses in each shake cycle; 0: no shake
};

class CapSearch {
public:
    CapSearch(std::optional<qint64> cap, const std::atomic<bool> *cancel) : m_cap(cap), m_cancel(cancel) {}

    // Every attempt's animation, after any thinning, made to play this way
    // before it is encoded; its frames leave room for the leading copy of
    // the finished picture, so none is thinned here.
    void playFinitely(const FinitePlayRules &rules) { m_plays = rules; }

    bool fits(const Encoded &encoded) const { return !m_cap || encoded.bytes.size() <= *m_cap; }

    Encoded encode(Attempt &attempt)
    {
        stopIfCancelled(m_cancel);
        if (m_plays)
            attempt.animation = withFinitePlays(attempt.animation, 0, *m_plays);
        QElapsedTimer timer;
        timer.start();
        Encoded encoded = encodeFrames(attempt.animation, attempt.request);
        if (++m_encodes > 1)
            m_searchNs += timer.nsecsElapsed();
        return encoded;
    }

    // The first rung of `ladder` (best first, files shrinking down it) found
    // to fit: the last rung is tried first, then a bisection. Sizes need not
    // shrink strictly; whatever is returned fits.
    std::optional<Made> bestOf(int rungs, const std::function<Attempt(int)> &rung, int knownFailing = -1)
    {
        if (rungs <= 0)
            return std::nullopt;
        Attempt last = rung(rungs - 1);
        Encoded encoded = encode(last);
        if (!fits(encoded))
            return std::nullopt;
        Made best{std::move(last), std::move(encoded)};
        int failing = knownFailing;
        int fitting = rungs - 1;
        while (fitting - failing > 1) {
            const int middle = (failing + fitting) / 2;
            Attempt attempt = rung(middle);
            Encoded made = encode(attempt);
            if (fits(made)) {
                fitting = middle;
                best = {std::move(attempt), std::move(made)};
            } else {
                failing = middle;
            }
        }
        return best;
    }

    int encodes() const { return m_encodes; }
    qint64 searchNs() const { return m_searchNs; }

private:
    std::optional<qint64> m_cap;
    std::optional<FinitePlayRules> m_plays;
    const std::atomic<bool> *m_cancel;
    int m_encodes = 0;
    qint64 m_searchNs = 0;
};

// `composed` as drawn, then with each shorter shake cycle in turn; only
// as drawn when it does not shake.
std::vector<ComposedFrames> shakeGivingWay(const ComposedFrames &composed)
{
    std::vector<ComposedFrames> levels{composed};
    for (const int keep : kShakeLadder) {
        if (composed.shakeCycles > 0 && keep < composed.shakeFrames)
            levels.push_back(withShakeOf(composed, keep));
    }
    return levels;
}

// What the format may give up to make a file smaller, the request as asked
// first, then each rung worse than the one before: a palette's colours (an
// RGBA PNG becoming an indexed one), a lossy WebP's quality, a video's
// constant quality.
std::vector<EncodeRequest> shrinkingRungs(const EncodeRequest &asked)
{
    std::vector<EncodeRequest> rungs{asked};
    EncodeRequest rung = asked;
    switch (asked.format->shrinking) {
    case Shrinking::None:
        break;
    case Shrinking::Palette:
        rung.format = &palettedForm(*asked.format);
        for (const int colours : kColourLadder) {
            rung.maxColours = colours;
            if (rung.format != asked.format || colours < asked.maxColours)
                rungs.push_back(rung);
        }
        break;
    case Shrinking::Quality:
        for (const int quality : kWebpQualityLadder) {
            rung.webpQuality = quality;
            if (asked.webpQuality < 0 || quality < asked.webpQuality)
                rungs.push_back(rung);
        }
        break;
    case Shrinking::Video:
        for (const int crf : kWebmCrfLadder) {
            rung.webmCrf = crf;
            if (crf > asked.webmCrf)
                rungs.push_back(rung);
        }
        break;
    }
    return rungs;
}

// The best file of `animation` within the cap, down the format's rungs;
// nullopt when even the last is too large. `tryAsAskedFirst`: the request
// as asked is encoded first, the common case being that it fits.
std::optional<Made> bestWithin(CapSearch &search, const Animation &animation, const EncodeRequest &asked,
                               bool tryAsAskedFirst)
{
    const std::vector<EncodeRequest> rungs = shrinkingRungs(asked);
    if (tryAsAskedFirst) {
        Attempt first{animation, asked};
        Encoded encoded = search.encode(first);
        if (search.fits(encoded))
            return Made{std::move(first), std::move(encoded)};
        if (rungs.size() == 1)
            return std::nullopt;
    }
    return search.bestOf(
        int(rungs.size()),
        [&](int rung) {
            return Attempt{animation, rungs[std::size_t(rung)]};
        },
        tryAsAskedFirst ? 0 : -1);
}

// The best file within the cap, giving up what keeps the chosen effect
// recognisable first: colours or quality at the whole shake, then a shorter
// shake cycle at the best quality that then fits. The reveal keeps every
// step. Nullopt when nothing fits; `made.shakeFrames` tells the cycle kept.
std::optional<Made> encodeWithinCap(CapSearch &search, const ComposedFrames &composed,
                                    const EncodeRequest &request)
{
    for (const ComposedFrames &tried : shakeGivingWay(composed)) {
        if (std::optional<Made> made =
                bestWithin(search, tried.animation, request, tried.shakeFrames == composed.shakeFrames)) {
            made->shakeFrames = tried.shakeCycles ? tried.shakeFrames : 0;
            return made;
        }
    }
    return std::nullopt;
}

QString legibilityWarning(const StickerFit &fit)
{
    if (fit.layout.cells.empty())
        return {};
    const int firstPixels = pointsToPixels(fit.layout.cells.front().pointSize, fit.dpi);
    if (firstPixels >= kLegiblePixels)
        return {};
    return QStringLiteral("第一个字只有 %1 像素高，可能看不清；建议减少字数").arg(firstPixels);
}

// Characters that appear one by one need more than one character.
QString revealWarning(const StickerFit &fit, const StickerOptions &options)
{
    if (options.effect != Effect::Reveal || fit.layout.cells.size() != 1)
        return {};
    return QStringLiteral("只有一个字，逐字出现只有一帧：贴纸是一张静止的图片，不会播放");
}

// Whether a canvas of `size` is what `kind`'s size rule makes.
bool keepsSizeRule(const StickerKind &kind, QSize size)
{
    const int longest = std::max(size.width(), size.height());
    const bool inBox = size.width() <= kind.side && size.height() <= kind.height && size.width() % 2 == 0 &&
                       size.height() % 2 == 0;
    switch (kind.sizeRule) {
    case StickerSizeRule::WithinBox:
        return inBox;
    case StickerSizeRule::FillsBox:
        return inBox && (size.width() == kind.side || size.height() == kind.height);
    case StickerSizeRule::Square:
        return size == QSize(kind.side, kind.side);
    case StickerSizeRule::LongestExactly:
        return longest == kind.side;
    case StickerSizeRule::NaturalAtMost:
        break;
    }
    return longest <= kind.side;
}

// Refuses a file that breaks a rule of the app it is made for, so that none
// is ever written: its size, frame count, frame times and length. A video
// shows its frames at a constant rate whatever the animation's delays.
void checkKeepsKind(const StickerPreset &preset, const StickerKind &kind, QSize size, const Made &made)
{
    if (!keepsSizeRule(kind, size))
        throw QuillowError(QStringLiteral("%1不接受 %2 × %3 像素的贴纸")
                               .arg(preset.label)
                               .arg(size.width())
                               .arg(size.height()));
    const int frames = made.encoded.frames;
    if (kind.maxFrames && frames > *kind.maxFrames)
        throw QuillowError(QStringLiteral("%1最多 %2 帧，这个效果有 %3 帧")
                               .arg(preset.label)
                               .arg(*kind.maxFrames)
                               .arg(frames));
    int shortestMs = INT_MAX;
    qint64 playedMs = 0;
    if (const int frameRate = made.attempt.request.format->frameRate; frameRate > 0) {
        shortestMs = 1000 / frameRate;
        playedMs = (qint64(frames) * 1000 + frameRate - 1) / frameRate;
    } else if (frames > 1) {
        for (const AnimationFrame &frame : made.attempt.animation.frames) {
            shortestMs = std::min(shortestMs, frame.delayMs);
            playedMs += frame.delayMs;
        }
    }
    if (kind.minFrameMs > 0 && shortestMs < kind.minFrameMs)
        throw QuillowError(QStringLiteral("%1的动画每帧至少显示 %2 毫秒，这个效果有只显示 %3 毫秒的帧")
                               .arg(preset.label)
                               .arg(kind.minFrameMs)
                               .arg(shortestMs));
    if (kind.maxTotalPlayMs > 0) {
        const int plays = made.attempt.animation.loopCount;
        if (frames < kind.minFrames || plays < 1 || plays > kind.maxPlays ||
            playedMs * plays > kind.maxTotalPlayMs)
            throw QuillowError(QStringLiteral("%1的动画须有 %2 到 %3 帧、播放 1 到 %4 遍、合计不超过 %5 "
                                              "秒，这个效果有 %6 帧、播放 %7 遍、每遍 %8 毫秒")
                                   .arg(preset.label)
                                   .arg(kind.minFrames)
                                   .arg(*kind.maxFrames)
                                   .arg(kind.maxPlays)
                                   .arg(kind.maxTotalPlayMs / 1000.0)
                                   .arg(frames)
                                   .arg(plays)
                                   .arg(playedMs));
    }
    if (kind.maxDurationMs > 0 && playedMs > kind.maxDurationMs)
        throw QuillowError(QStringLiteral("%1的动画最长 %2 秒，这个效果要 %3 毫秒：请缩短停留时长或每帧时长")
                               .arg(preset.label)
                               .arg(kind.maxDurationMs / 1000.0)
                               .arg(playedMs));
}

// What the options settle before anything is drawn.
struct StickerPlan {
    const StickerPreset *preset = nullptr;
    StickerFormatChoice choice;
};

StickerPlan planSticker(const StickerOptions &options)
{
    checkOptions(options);
    return {options.preset,
            chooseStickerFormat(options.preset, options.effect, options.format, options.maxBytes)};
}

// Where the strip goes for margins of the given size; `previous`, when
// given, is the fit made with smaller margins, whose choices (such as the
// row count) should hold.
using FitFor = std::function<StickerFit(const QMargins &margins, const StickerFit *previous)>;

struct Drawn {
    StickerFit fit;
    ComposedFrames composed; // centred on the fit's canvas, within the preset's frame count
};

Drawn drawFitted(const QColor &ink, const StickerOptions &options, const StickerPlan &plan,
                 const FitFor &fitFor, const std::atomic<bool> *cancel)
{
    QMargins margins = expectedMargins(options);
    StickerFit fit = fitFor(margins, nullptr);
    ComposedFrames composed = composeFrames(fit.layout, ink, fit.dpi, options, cancel);
    QSize drawn = composed.animation.frames.front().image.size();
    if (drawn.width() > fit.canvas.width() || drawn.height() > fit.canvas.height()) {
        // The margins came out larger than expected: fit again with the ones
        // actually drawn. They do not depend on the dpi, so once is enough.
        const QSize extra = drawn - QSize(fit.layout.width, fit.layout.height);
        margins = QMargins(extra.width() / 2, extra.height() / 2, extra.width() - extra.width() / 2,
                           extra.height() - extra.height() / 2);
        fit = fitFor(margins, &fit);
        composed = composeFrames(fit.layout, ink, fit.dpi, options, cancel);
        drawn = composed.animation.frames.front().image.size();
        Q_ASSERT(drawn.width() <= fit.canvas.width() && drawn.height() <= fit.canvas.height());
    }
    composed.animation = centredOnCanvas(composed.animation, fit.canvas);

    const StickerKind *kind = plan.choice.kind;
    // A sticker played a few times gains a leading copy of the finished
    // picture (see withFinitePlays()), so it leaves room for it here, where
    // the reveal is still whole.
    const int room = kind && kind->maxFrames ? *kind->maxFrames - (finitePlays(kind) ? 1 : 0) : 0;
    if (kind && kind->maxFrames && int(composed.animation.frames.size()) > room) {
        // The shake gives way to the frame limit as it does to the cap; the
        // reveal needs one frame per character.
        const int drawnFrames = int(composed.animation.frames.size());
        for (const int keep : kShakeLadder) {
            if (int(composed.animation.frames.size()) <= room)
                break;
            composed = withShakeOf(composed, keep);
        }
        if (int(composed.animation.frames.size()) > room)
            throw QuillowError(
                QStringLiteral("%1最多 %2 帧，这个效果有 %3 帧：逐字出现每个字要一帧，请减少字数")
                    .arg(plan.preset->label)
                    .arg(*kind->maxFrames)
                    .arg(drawnFrames));
    }
    return {std::move(fit), std::move(composed)};
}

EncodeRequest firstRequest(const StickerPlan &plan, const StickerOptions &options)
{
    return {plan.choice.format, kFullPalette, options.webpQuality, options.matte};
}

// What was given up to make `made` from `asked` and the frames drawn with
// `drawnShake` poses per shake cycle (before any frame limit), said for the
// user: "为满足 500 KB：有损压缩（质量 70）；抖动缩短为 4 帧". Empty when
// nothing was.
QString fittedNote(const StickerPlan &plan, const EncodeRequest &asked, const Made &made, int shakeForFrames)
{
    const EncodeRequest &got = made.attempt.request;
    QStringList forCap;
    if (got.format != asked.format)
        forCap << QStringLiteral("改用 %1 色调色板").arg(got.maxColours);
    else if (got.maxColours < asked.maxColours)
        forCap << QStringLiteral("颜色减为 %1 种").arg(got.maxColours);
    if (got.webpQuality != asked.webpQuality)
        forCap << QStringLiteral("有损压缩（质量 %1）").arg(got.webpQuality);
    if (got.webmCrf != asked.webmCrf)
        forCap << QStringLiteral("视频质量降低（CRF %1）").arg(got.webmCrf);
    const bool capGaveWay = !forCap.isEmpty() || (made.shakeFrames > 0 && made.shakeFrames < shakeForFrames);
    const bool framesGaveWay = made.shakeFrames > 0 && shakeForFrames < kShakeFrames;
    if (made.shakeFrames > 0 && made.shakeFrames < kShakeFrames)
        forCap << QStringLiteral("抖动缩短为 %1 帧").arg(made.shakeFrames);
    if (forCap.isEmpty())
        return {};
    const StickerKind *kind = plan.choice.kind;
    QStringList reasons;
    if (capGaveWay) {
        Q_ASSERT(plan.choice.cap);
        reasons << (kind && kind->cap.bytes() == *plan.choice.cap
                        ? kind->cap.text()
                        : QStringLiteral("%1 字节").arg(*plan.choice.cap));
    }
    if (framesGaveWay)
        reasons << QStringLiteral("%1最多 %2 帧").arg(plan.preset->label).arg(*kind->maxFrames);
    return QStringLiteral("为满足 %1：%2")
        .arg(reasons.join(QStringLiteral("和")), forCap.join(QStringLiteral("；")));
}

QStringList drawingWarnings(const StickerFit &fit, const StickerOptions &options)
{
    QStringList warnings;
    for (const QString &warning : {legibilityWarning(fit), revealWarning(fit, options)}) {
        if (!warning.isEmpty())
            warnings << warning;
    }
    return warnings;
}

Sticker stickerOf(Made &&made, QSize size, std::optional<qint64> cap)
{
    Sticker sticker;
    sticker.bytes = std::move(made.encoded.bytes);
    sticker.format = made.attempt.request.format;
    sticker.size = size;
    sticker.frames = made.encoded.frames;
    sticker.colours = made.encoded.colours;
    sticker.quality = made.encoded.quality;
    sticker.cap = cap;
    sticker.shown = std::move(made.attempt.animation);
    sticker.warnings = made.encoded.warnings;
    return sticker;
}

Sticker makeStickerHere(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                        const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    const StickerPlan plan = planSticker(options);
    const StickerKind *kind = plan.choice.kind;
    const StickerSizeRule rule = kind ? kind->sizeRule : StickerSizeRule::NaturalAtMost;
    const int side = kind ? kind->side : INT_MAX;
    const FitFor fitFor = [&](const QMargins &margins, const StickerFit *previous) {
        const int rows = previous ? previous->layout.rows : options.rows;
        if (isBoxRule(rule))
            return fitStripInKindBox(layout, rows, *kind, margins, cancel);
        return fitStripInRows(layout, rows, rule, side, margins, cancel);
    };
    const Drawn drawn = drawFitted(ink, options, plan, fitFor, cancel);

    CapSearch search(plan.choice.cap, cancel);
    if (finitePlays(kind))
        search.playFinitely(
            {kind->minFrames, *kind->maxFrames, kind->maxPlays, kind->maxTotalPlayMs, options.preset->label});
    const EncodeRequest asked = firstRequest(plan, options);
    std::optional<Made> made = encodeWithinCap(search, drawn.composed, asked);
    if (!made)
        throw QuillowError(stickerCapMessage(plan.preset, plan.choice));
    if (kind)
        checkKeepsKind(*plan.preset, *kind, drawn.fit.canvas, *made);

    const QString fitted = fittedNote(plan, asked, *made, drawn.composed.shakeFrames);
    Sticker sticker = stickerOf(std::move(*made), drawn.fit.canvas, plan.choice.cap);
    sticker.fitted = fitted;
    sticker.warnings = drawingWarnings(drawn.fit, options) + sticker.warnings;
    sticker.encodes = search.encodes();
    sticker.capSearchNs = search.searchNs();
    return sticker;
}

// Every tile of one set within the cap, or nullopt. Colours are chosen tile
// by tile, but the shake is shortened for the whole set at once, so that the
// tiles keep one timeline and play together when posted side by side.
std::optional<std::vector<Made>> encodeTilesWithinCap(CapSearch &search, const ComposedFrames &composed,
                                                      int columns, int side, const EncodeRequest &request)
{
    for (const ComposedFrames &tried : shakeGivingWay(composed)) {
        const std::vector<Animation> pieces = cutIntoTiles(tried.animation, columns, side);
        std::vector<Made> tiles;
        for (const Animation &piece : pieces) {
            std::optional<Made> made = bestWithin(search, piece, request, true);
            if (!made)
                break;
            made->shakeFrames = tried.shakeCycles ? tried.shakeFrames : 0;
            tiles.push_back(std::move(*made));
        }
        if (tiles.size() == pieces.size())
            return tiles;
    }
    return std::nullopt;
}

StickerTiles makeStickerTilesHere(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                                  TileGrid grid, const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    checkTileGrid(grid);
    const StickerPlan plan = planSticker(options);
    const StickerKind *kind = plan.choice.kind;
    // Tiles are for chats that show emoji side by side; each is a square.
    if (!kind || !plan.preset->emojiNames) {
        throw QuillowError(
            QStringLiteral("只有能把表情并排发出的聊天预设（%1）才能拆成多个表情").arg(tilePresetNames()));
    }
    Q_ASSERT(kind->sizeRule == StickerSizeRule::Square);
    const int side = kind->side;
    const FitFor fitFor = [&](const QMargins &margins, const StickerFit *) {
        return fitTiles(layout, grid, side, margins, cancel);
    };
    const Drawn drawn = drawFitted(ink, options, plan, fitFor, cancel);
    const int columns = drawn.fit.canvas.width() / side;

    CapSearch search(plan.choice.cap, cancel);
    // Tiles posted side by side play together only with one timeline: a
    // tile whose neighbouring frames are equal keeps them apart too.
    EncodeRequest asked = firstRequest(plan, options);
    asked.keepEveryFrame = true;
    std::optional<std::vector<Made>> made =
        encodeTilesWithinCap(search, drawn.composed, columns, side, asked);
    if (!made)
        throw QuillowError(stickerCapMessage(plan.preset, plan.choice));
    for (const Made &tile : *made)
        checkKeepsKind(*plan.preset, *kind, QSize(side, side), tile);
    QStringList fitted;
    for (const Made &tile : *made) {
        const QString note = fittedNote(plan, asked, tile, drawn.composed.shakeFrames);
        if (!note.isEmpty() && !fitted.contains(note))
            fitted << note;
    }

    StickerTiles tiles;
    tiles.grid = {columns, drawn.fit.canvas.height() / side};
    tiles.dpi = drawn.fit.dpi;
    tiles.warnings = drawingWarnings(drawn.fit, options);
    tiles.fitted = fitted.join(QStringLiteral("；"));
    for (Made &tile : *made) {
        tiles.tiles.push_back(stickerOf(std::move(tile), QSize(side, side), plan.choice.cap));
        for (const QString &warning : tiles.tiles.back().warnings)
            if (!tiles.warnings.contains(warning))
                tiles.warnings << warning;
    }
    if (!tiles.tiles.empty()) {
        tiles.tiles.front().encodes = search.encodes();
        tiles.tiles.front().capSearchNs = search.searchNs();
    }
    return tiles;
}

} // namespace

Sticker makeSticker(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                    const std::atomic<bool> *cancel)
{
    // The window makes stickers on a worker that has drawn other text
    // before; the command line in a fresh process. Both must give the same
    // bytes.
    Sticker sticker;
    withFreshTextState([&] { sticker = makeStickerHere(layout, ink, options, cancel); });
    return sticker;
}

StickerTiles makeStickerTiles(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                              TileGrid grid, const std::atomic<bool> *cancel)
{
    StickerTiles tiles;
    withFreshTextState([&] { tiles = makeStickerTilesHere(layout, ink, options, grid, cancel); });
    return tiles;
}
