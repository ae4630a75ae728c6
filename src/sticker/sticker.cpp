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

using namespace Qt::Literals::StringLiterals;

// A glyph smaller than this is hard to read in a chat's sticker tray.
constexpr int kLegiblePixels = 12;
constexpr int kFullPalette = 256;

// Palette sizes tried, best first. Below the first ladder's floor gradients
// band visibly, so thinning the reveal comes before going further down.
const std::vector<int> kColourLadder = {256, 192, 128, 96, 64, 48, 32};
const std::vector<int> kFewColourLadder = {24, 16, 12, 8, 6, 4, 2};
const std::vector<int> kWebpQualityLadder = {90, 80, 70, 60, 50, 40, 30, 20, 10, 0};
// VP9's constant quality, from the default down: above about 50 glyph edges
// blur, but a file that fits beats none.
const std::vector<int> kWebmCrfLadder = {36, 40, 44, 48, 52, 56, 60, kMaxWebmCrf};

void stopIfCancelled(const std::atomic<bool> *cancel)
{
    if (cancel && cancel->load())
        throw StickerCancelled{};
}

// --- What the effects and the encoders provide -----------------------------

bool isFormat(const OutputFileFormat *format, QLatin1StringView name)
{
    return format && format->name == name;
}

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
    int revealFrames = 0; // the leading frames that build the strip up, which may be thinned
};

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

// The best file within the cap, following the order of sacrifices in
// makeSticker()'s contract; nullopt when none fits.
std::optional<Made> encodeWithinCap(CapSearch &search, const ComposedFrames &composed, EncodeRequest request)
{
    Attempt first{composed.animation, request};
    Encoded encoded = search.encode(first);
    if (search.fits(encoded))
        return Made{std::move(first), std::move(encoded)};

    // A video has no palette, and its frames are resampled to a constant
    // rate whatever the reveal holds: only its quality can give.
    if (isFormat(request.format, "webm"_L1)) {
        return search.bestOf(int(kWebmCrfLadder.size()), [&](int rung) {
            Attempt attempt{composed.animation, request};
            attempt.request.webmCrf = kWebmCrfLadder[std::size_t(rung)];
            return attempt;
        });
    }

    // An RGBA PNG has no palette to shrink; the same picture as an indexed
    // PNG with partial transparency has. Otherwise the full palette was the
    // first attempt.
    int triedColours = 0;
    if (isFormat(request.format, "png-alpha"_L1))
        request.format = outputFormatNamed(u"apng");
    else
        triedColours = 1;
    const auto withColours = [&](const Animation &animation, const std::vector<int> &ladder) {
        return [&animation, &ladder, request](int rung) {
            Attempt attempt{animation, request};
            attempt.request.maxColours = ladder[std::size_t(rung)];
            return attempt;
        };
    };
    if (auto made = search.bestOf(int(kColourLadder.size()), withColours(composed.animation, kColourLadder),
                                  triedColours - 1))
        return made;

    // Fewer reveal frames at the colour floor, then as many colours again as
    // the thinner animation allows.
    Animation thinnest = composed.animation;
    if (composed.revealFrames > 2) {
        const int thinnings = composed.revealFrames - 2;
        const auto keeping = [&](int rung) { return composed.revealFrames - 1 - rung; };
        std::optional<Made> thinner = search.bestOf(thinnings, [&](int rung) {
            Attempt attempt{withFewerRevealFrames(composed.animation, composed.revealFrames, keeping(rung)),
                            request};
            attempt.request.maxColours = kColourLadder.back();
            return attempt;
        });
        if (thinner) {
            const Animation thinned = thinner->attempt.animation;
            if (auto richer =
                    search.bestOf(int(kColourLadder.size()) - 1, withColours(thinned, kColourLadder)))
                return richer;
            return thinner;
        }
        thinnest = withFewerRevealFrames(composed.animation, composed.revealFrames, 2);
    }

    if (isFormat(request.format, "webp"_L1)) {
        std::optional<Made> lossy = search.bestOf(int(kWebpQualityLadder.size()), [&](int rung) {
            Attempt attempt{thinnest, request};
            attempt.request.webpQuality = kWebpQualityLadder[std::size_t(rung)];
            return attempt;
        });
        if (lossy)
            return lossy;
    }
    return search.bestOf(int(kFewColourLadder.size()), withColours(thinnest, kFewColourLadder));
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
    if (isFormat(made.attempt.request.format, "webm"_L1)) {
        const int frameRate = WebmOptions().frameRate;
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
        const int excess = int(composed.animation.frames.size()) - room;
        if (composed.revealFrames - excess < 2)
            throw QuillowError(QStringLiteral("%1最多 %2 帧，这个效果有 %3 帧")
                                   .arg(plan.preset->label)
                                   .arg(*kind->maxFrames)
                                   .arg(composed.animation.frames.size()));
        composed.animation =
            withFewerRevealFrames(composed.animation, composed.revealFrames, composed.revealFrames - excess);
        composed.revealFrames -= excess;
    }
    return {std::move(fit), std::move(composed)};
}

EncodeRequest firstRequest(const StickerPlan &plan, const StickerOptions &options)
{
    return {plan.choice.format, kFullPalette, options.webpQuality, options.matte};
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
    std::optional<Made> made = encodeWithinCap(search, drawn.composed, firstRequest(plan, options));
    if (!made)
        throw QuillowError(stickerCapMessage(plan.preset, plan.choice));
    if (kind)
        checkKeepsKind(*plan.preset, *kind, drawn.fit.canvas, *made);

    Sticker sticker = stickerOf(std::move(*made), drawn.fit.canvas, plan.choice.cap);
    sticker.warnings = drawingWarnings(drawn.fit, options) + sticker.warnings;
    sticker.encodes = search.encodes();
    sticker.capSearchNs = search.searchNs();
    return sticker;
}

// Every tile of one set within the cap, or nullopt. Colours are chosen tile
// by tile, but reveal frames are dropped from the whole set at once, so that
// the tiles keep one timeline and play together when posted side by side.
std::optional<std::vector<Made>> encodeTilesWithinCap(CapSearch &search, const ComposedFrames &composed,
                                                      int columns, int side, const EncodeRequest &request)
{
    for (int keep = composed.revealFrames;; --keep) {
        const Animation whole = keep < composed.revealFrames
                                    ? withFewerRevealFrames(composed.animation, composed.revealFrames, keep)
                                    : composed.animation;
        const std::vector<Animation> pieces = cutIntoTiles(whole, columns, side);
        std::vector<Made> tiles;
        for (const Animation &piece : pieces) {
            // No reveal frames to thin here: that is the set's to do.
            std::optional<Made> made = encodeWithinCap(search, {piece, 0}, request);
            if (!made)
                break;
            tiles.push_back(std::move(*made));
        }
        if (tiles.size() == pieces.size())
            return tiles;
        if (keep <= 2)
            return std::nullopt;
    }
}

StickerTiles makeStickerTilesHere(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                                  TileGrid grid, const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    checkTileGrid(grid);
    const StickerPlan plan = planSticker(options);
    const StickerKind *kind = plan.choice.kind;
    if (!kind || kind->sizeRule != StickerSizeRule::Square) {
        QStringList square;
        for (const StickerPreset &preset : stickerPresets())
            if (preset.still.sizeRule == StickerSizeRule::Square)
                square << preset.name;
        throw QuillowError(QStringLiteral("只有方形的表情预设（%1）才能拆成多个表情")
                               .arg(square.join(QStringLiteral("、"))));
    }
    const int side = kind->side;
    const FitFor fitFor = [&](const QMargins &margins, const StickerFit *) {
        return fitTiles(layout, grid, side, margins, cancel);
    };
    const Drawn drawn = drawFitted(ink, options, plan, fitFor, cancel);
    const int columns = drawn.fit.canvas.width() / side;

    CapSearch search(plan.choice.cap, cancel);
    // Tiles posted side by side play together only with one timeline: a
    // tile whose neighbouring frames are equal keeps them apart too.
    EncodeRequest request = firstRequest(plan, options);
    request.keepEveryFrame = true;
    std::optional<std::vector<Made>> made =
        encodeTilesWithinCap(search, drawn.composed, columns, side, request);
    if (!made)
        throw QuillowError(stickerCapMessage(plan.preset, plan.choice));
    for (const Made &tile : *made)
        checkKeepsKind(*plan.preset, *kind, QSize(side, side), tile);

    StickerTiles tiles;
    tiles.grid = {columns, drawn.fit.canvas.height() / side};
    tiles.dpi = drawn.fit.dpi;
    tiles.warnings = drawingWarnings(drawn.fit, options);
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
