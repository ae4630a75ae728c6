#include "export/sticker.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"
#include "export/output_format.h"
#include "export/sticker_fit.h"
#include "export/sticker_format_choice.h"
#include "export/sticker_preset.h"
#include "export/sticker_rows.h"

#include <QBuffer>
#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <functional>

namespace {

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

// The sticker formats, by the names of the output format table.
const OutputFileFormat &stickerFormat(const QString &name)
{
    static const QStringList stickerNames = {QStringLiteral("png-alpha"), QStringLiteral("apng"),
                                             QStringLiteral("gif"), QStringLiteral("webp"),
                                             QStringLiteral("webm")};
    const OutputFileFormat *format = stickerNames.contains(name) ? outputFormatNamed(name) : nullptr;
    if (!format)
        throw QuillowError(QStringLiteral("未知的贴纸格式“%1”").arg(name));
    return *format;
}

StickerLook lookOf(const StickerOptions &options)
{
    StickerLook look;
    look.outlineWidth = options.outlinePx;
    look.outlineColour = options.outlineColour;
    look.edgeWidth = options.outlineEdgePx;
    look.shadow = options.shadow;
    look.shadowColour = options.shadowColour;
    look.shadowOffset = options.shadowOffset;
    look.shadowBlur = options.shadowBlur;
    return look;
}

bool shakes(Effect effect)
{
    return effect == Effect::Shake || effect == Effect::RevealShake;
}

// What the effect, outline and shadow add around the strip; they are in
// pixels of the sticker, whatever the dpi the strip is drawn at.
QMargins expectedMargins(const StickerOptions &options)
{
    const int shake = shakes(effectFromName(options.effect)) ? kShakeReach : 0;
    return stickerMargins(lookOf(options)) + QMargins(shake, shake, shake, shake);
}

struct ComposedFrames {
    Animation animation;
    int revealFrames = 0; // the leading frames that build the strip up, which may be thinned
};

ComposedFrames composeFrames(const StripLayout &layout, const QColor &ink, double dpi,
                             const StickerOptions &options, const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    const Effect effect = effectFromName(options.effect);
    ComposedFrames composed;
    composed.animation = renderEffect(layout, ink, effect, {options.frameMs, options.holdMs}, lookOf(options),
                                      options.seed, 1.0, dpi);
    if (effect == Effect::Reveal || effect == Effect::RevealShake)
        composed.revealFrames = int(layout.cells.size());
    return composed;
}

struct EncodeRequest {
    QString format;
    int maxColours = kFullPalette;
    int webpQuality = -1; // -1: lossless
    std::optional<QColor> matte;
    int webmCrf = kDefaultWebmCrf;
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
        stickerFormat(request.format)
            .encode(animation, {request.maxColours, request.webpQuality, request.matte, request.webmCrf});
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
    effectFromName(options.effect);
    checkEffectTiming({options.frameMs, options.holdMs});
    checkStickerLook(lookOf(options));
    if (options.maxBytes && *options.maxBytes <= 0)
        throw QuillowError(QStringLiteral("文件大小上限须大于 0 字节"));
    if (options.webpQuality < -1 || options.webpQuality > 100)
        throw QuillowError(QStringLiteral("WebP 质量须在 0 到 100 之间"));
}

QString chosenFormat(const StickerPreset *preset, bool animated, const QString &asked)
{
    if (!asked.isEmpty())
        stickerFormat(asked);
    if (!preset) {
        if (asked.isEmpty())
            return animated ? QStringLiteral("apng") : QStringLiteral("png-alpha");
        if (animated && !stickerFormat(asked).animated)
            throw QuillowError(QStringLiteral("PNG 只能保存静态图片，动画请选 APNG、GIF 或 WebP"));
        return asked;
    }
    if (animated && preset->animatedFormat.isEmpty())
        throw QuillowError(preset->animatedRefusal);
    const QStringList taken = animated ? QStringList{preset->animatedFormat} : preset->stillFormats;
    if (asked.isEmpty())
        return taken.front();
    if (!taken.contains(asked)) {
        QStringList names;
        for (const QString &name : taken)
            names << stickerFormatLabel(stickerFormat(name));
        throw QuillowError(QStringLiteral("%1%2只接受 %3 格式")
                               .arg(preset->label, animated ? QStringLiteral("的动画") : QString(),
                                    names.join(QStringLiteral("、"))));
    }
    return asked;
}

std::optional<qint64> chosenCap(const StickerPreset *preset, const StickerOptions &options)
{
    std::optional<qint64> cap = options.maxBytes;
    if (preset)
        cap = std::min(preset->capBytes, cap.value_or(preset->capBytes));
    return cap;
}

QString capMessage(const StickerPreset *preset, qint64 cap)
{
    if (preset && preset->capBytes == cap)
        return QStringLiteral("贴纸无法压缩到%1的上限 %2（%3 字节）以内，请减少字数或去掉效果")
            .arg(preset->label, preset->capText)
            .arg(cap);
    return QStringLiteral("贴纸无法压缩到 %1 字节以内，请减少字数或去掉效果").arg(cap);
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

    bool fits(const Encoded &encoded) const { return !m_cap || encoded.bytes.size() <= *m_cap; }

    Encoded encode(const Attempt &attempt)
    {
        stopIfCancelled(m_cancel);
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
    if (request.format == QLatin1String("webm")) {
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
    if (request.format == QLatin1String("png-alpha"))
        request.format = QStringLiteral("apng");
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

    if (request.format == QLatin1String("webp")) {
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
    if (effectFromName(options.effect) != Effect::Reveal || fit.layout.cells.size() != 1)
        return {};
    return QStringLiteral("只有一个字，逐字出现只有一帧：贴纸是一张静止的图片，不会播放");
}

Sticker makeStickerHere(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                        const std::atomic<bool> *cancel)
{
    stopIfCancelled(cancel);
    checkOptions(options);
    const StickerPreset *preset = options.preset.isEmpty() ? nullptr : &findStickerPreset(options.preset);
    const bool animated = effectFromName(options.effect) != Effect::Still;
    const QString format = chosenFormat(preset, animated, options.format);
    const std::optional<qint64> cap = chosenCap(preset, options);

    const StickerSizeRule rule = preset ? preset->sizeRule : StickerSizeRule::NaturalAtMost;
    const int side = preset ? preset->side : INT_MAX;
    QMargins margins = expectedMargins(options);
    StickerFit fit = fitStripInRows(layout, options.rows, rule, side, margins, cancel);
    ComposedFrames composed = composeFrames(fit.layout, ink, fit.dpi, options, cancel);
    QSize drawn = composed.animation.frames.front().image.size();
    if (drawn.width() > fit.canvas.width() || drawn.height() > fit.canvas.height()) {
        // The margins came out larger than expected: fit again with the ones
        // actually drawn. They do not depend on the dpi, so once is enough.
        const QSize extra = drawn - QSize(fit.layout.width, fit.layout.height);
        margins = QMargins(extra.width() / 2, extra.height() / 2, extra.width() - extra.width() / 2,
                           extra.height() - extra.height() / 2);
        fit = fitStripInRows(layout, fit.layout.rows, rule, side, margins, cancel);
        composed = composeFrames(fit.layout, ink, fit.dpi, options, cancel);
        drawn = composed.animation.frames.front().image.size();
        Q_ASSERT(drawn.width() <= fit.canvas.width() && drawn.height() <= fit.canvas.height());
    }
    composed.animation = centredOnCanvas(composed.animation, fit.canvas);

    if (preset && preset->maxFrames && int(composed.animation.frames.size()) > *preset->maxFrames) {
        const int excess = int(composed.animation.frames.size()) - *preset->maxFrames;
        if (composed.revealFrames - excess < 2)
            throw QuillowError(QStringLiteral("%1最多 %2 帧，这个效果有 %3 帧")
                                   .arg(preset->label)
                                   .arg(*preset->maxFrames)
                                   .arg(composed.animation.frames.size()));
        composed.animation =
            withFewerRevealFrames(composed.animation, composed.revealFrames, composed.revealFrames - excess);
        composed.revealFrames -= excess;
    }

    CapSearch search(cap, cancel);
    std::optional<Made> made =
        encodeWithinCap(search, composed, {format, kFullPalette, options.webpQuality, options.matte});
    if (!made)
        throw QuillowError(capMessage(preset, *cap));

    Sticker sticker;
    const OutputFileFormat &written = stickerFormat(made->attempt.request.format);
    sticker.bytes = std::move(made->encoded.bytes);
    sticker.formatName = written.name;
    sticker.suffix = written.suffix;
    sticker.mimeType = written.mimeType;
    sticker.size = fit.canvas;
    sticker.frames = made->encoded.frames;
    sticker.colours = made->encoded.colours;
    sticker.quality = made->encoded.quality;
    sticker.cap = cap;
    sticker.shown = std::move(made->attempt.animation);
    for (const QString &warning : {legibilityWarning(fit), revealWarning(fit, options)}) {
        if (!warning.isEmpty())
            sticker.warnings << warning;
    }
    sticker.warnings << made->encoded.warnings;
    sticker.encodes = search.encodes();
    sticker.capSearchNs = search.searchNs();
    return sticker;
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
