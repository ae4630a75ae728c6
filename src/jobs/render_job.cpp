#include "jobs/render_job.h"

#include "composition/colouring.h"
#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "export/file_output.h"
#include "sticker/emoji_names.h"
#include "sticker/sticker_preset.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

namespace {

StickerFacts factsOf(const Sticker &sticker, const StickerOptions &options)
{
    StickerFacts facts;
    facts.bytes = sticker.bytes.size();
    facts.frames = sticker.frames;
    facts.quality = sticker.quality;
    facts.colours = sticker.colours;
    facts.cap = sticker.cap ? sticker.cap : options.maxBytes;
    facts.fitted = sticker.fitted;
    return facts;
}

StickerOptions stickerOptionsOf(const RenderJob &job, std::uint32_t seed)
{
    StickerOptions options = job.sticker;
    options.format = job.format;
    options.seed = seed;
    return options;
}

// The job's strip laid out and coloured, and the seed of its colours.
struct LaidOutJob {
    StripLayout layout;
    std::uint32_t seed = 0;
};

LaidOutJob layOut(const RenderJob &job)
{
    FontTextMeasurer measurer(job.dpi);
    // No preview region: where the strip would sit in a window is not part
    // of the picture.
    LaidOutJob laidOut{computeStripLayout(job.settings, measurer, QSize())};
    // One seed for the colours and the shake, so that a seed given once
    // repeats the whole sticker.
    laidOut.seed = job.seed.value_or(clockSeed());
    LcgColourSource colours(laidOut.seed);
    applyColouring(laidOut.layout, job.settings, colours);
    return laidOut;
}

// What a job will draw, known from its layout before anything is drawn.
struct PlannedPicture {
    qint64 width = 0;
    qint64 height = 0;
    qint64 frames = 1;
};

// The sticker's canvas and frames, at most: the strip in its rows with the
// margins the look and the shake add, within what its preset's size rule
// allows; the effect's frames, no more than the preset takes.
PlannedPicture plannedSticker(const RenderJob &job, const StripLayout &layout)
{
    const StickerOptions &options = job.sticker;
    const bool animates = effectRow(options.effect).animates;
    const StickerKind *kind = options.preset ? &options.preset->kind(animates) : nullptr;
    // Rows left to the sticker maker are one, but on the rules below that
    // give the canvas its size whatever the strip's.
    const int rows = std::max(1, options.rows);
    qint64 widest = 0;
    for (const Cell &cell : layout.cells)
        widest = std::max<qint64>(widest, cell.width);
    // A row holds its share of the strip and at most one cell more.
    const qint64 rowWidth =
        rows > 1 ? std::min<qint64>(layout.width, (layout.width + rows - 1) / rows + widest) : layout.width;
    const bool shakes = options.effect == Effect::Shake || options.effect == Effect::RevealShake;
    const int shake = shakes ? kShakeReach : 0;
    const QMargins margins = stickerMargins(options.look) + QMargins(shake, shake, shake, shake);
    PlannedPicture planned;
    planned.width = rowWidth + margins.left() + margins.right();
    planned.height = qint64(layout.height) * rows + margins.top() + margins.bottom();
    if (kind && kind->side > 0) {
        switch (kind->sizeRule) {
        case StickerSizeRule::NaturalAtMost:
            planned.width = std::min<qint64>(planned.width, kind->side);
            planned.height = std::min<qint64>(planned.height, kind->side);
            break;
        case StickerSizeRule::LongestExactly:
        case StickerSizeRule::Square:
            planned.width = planned.height = kind->side;
            break;
        case StickerSizeRule::WithinBox:
        case StickerSizeRule::FillsBox:
            planned.width = kind->side;
            planned.height = kind->height > 0 ? kind->height : kind->side;
            break;
        }
    }
    if (animates) {
        planned.frames = qint64(planEffect(layout, options.effect, options.timing, 0).frames.size());
        if (kind && kind->maxFrames)
            planned.frames = std::min<qint64>(planned.frames, *kind->maxFrames);
    }
    return planned;
}

PlannedPicture plannedPicture(const RenderJob &job, const StripLayout &layout)
{
    if (needsStickerMaker(job))
        return plannedSticker(job, layout);
    // The window's still at the job's device pixel ratio, as renderStrip() sizes it.
    return {std::lround(layout.width * job.scale), std::lround(layout.height * job.scale), 1};
}

// The option a refusal of the sticker maker is about. What the options
// alone decide was settled by finishJob(); what is left is a file the app's
// rules or the cap do not let through: the user's own cap when there is
// one, else the preset, else the effect that made the file too large.
QString stickerRefusalKey(const RenderJob &job)
{
    if (job.sticker.maxBytes)
        return QStringLiteral("max-bytes");
    if (job.sticker.preset)
        return QStringLiteral("preset");
    return QStringLiteral("effect");
}

QByteArray encodeSticker(const LaidOutJob &laidOut, const RenderJob &job, JobReport *report)
{
    const StickerOptions options = stickerOptionsOf(job, laidOut.seed);
    const Sticker sticker =
        asUsageError(stickerRefusalKey(job), [&] { return makeSticker(laidOut.layout, Qt::black, options); });
    if (report) {
        report->sticker = factsOf(sticker, options);
        report->warnings = sticker.warnings;
    }
    return sticker.bytes;
}

void writeTiles(const RenderJob &job, JobReport *report)
{
    const LaidOutJob laidOut = layOut(job);
    checkRenderCap(job, laidOut.layout);
    const StickerOptions options = stickerOptionsOf(job, laidOut.seed);
    const StickerTiles made = asUsageError(stickerRefusalKey(job), [&] {
        return makeStickerTiles(laidOut.layout, Qt::black, options, *job.tiles);
    });
    // makeStickerTiles() takes only presets that name emoji.
    const EmojiNameRule &names = *job.sticker.preset->emojiNames;
    const int count = int(made.tiles.size());
    const QString base = asUsageError(QStringLiteral("tile-name"),
                                      [&] { return tileBaseName(names, job.tileName, job.output, count); });
    std::vector<FileContent> files;
    for (int index = 0; index < count; ++index)
        files.push_back(
            {tileFilePath(names, job.output, base, index + 1), made.tiles[std::size_t(index)].bytes});
    writeFilesReplacing(files);
    if (report) {
        const Sticker &largest =
            *std::max_element(made.tiles.begin(), made.tiles.end(), [](const Sticker &a, const Sticker &b) {
                return a.bytes.size() < b.bytes.size();
            });
        StickerFacts facts = factsOf(largest, options);
        for (const FileContent &file : files)
            facts.tileFiles << file.path;
        for (const Sticker &tile : made.tiles)
            facts.tileFrames << tile.frames;
        facts.pasteText = tilePasteText(names, base, count);
        facts.tileDpi = made.dpi;
        facts.fitted = made.fitted;
        report->sticker = facts;
        report->warnings = made.warnings;
    }
}

} // namespace

bool stickerLookOrRulesGiven(const StickerOptions &sticker)
{
    return sticker.preset || sticker.look.outlineWidth > 0 || sticker.look.edgeWidth > 0 ||
           sticker.look.shadow || sticker.maxBytes;
}

bool needsStickerMaker(const RenderJob &job)
{
    if (job.format->ground == StripGround::White)
        return false;
    if (job.format->animated)
        return true;
    return stickerLookOrRulesGiven(job.sticker) || job.sticker.rows > 1 || job.tiles.has_value();
}

QByteArray encodeRenderJob(const RenderJob &job, JobReport *report)
{
    // Tiles are several files; one answer holds one.
    if (job.tiles)
        throw UsageError(QStringLiteral("tiles"),
                         QStringLiteral("拆成多个表情（tiles）会写出几个文件，只能写到文件夹里"));
    const LaidOutJob laidOut = layOut(job);
    checkRenderCap(job, laidOut.layout);
    if (needsStickerMaker(job))
        return encodeSticker(laidOut, job, report);
    // The window saves device pixels at its screen's ratio; `scale` stands
    // for that ratio.
    const qreal ratio = job.scale;
    Animation still;
    still.frames.push_back({renderStrip(laidOut.layout, job.format->ground, Qt::black, ratio, job.dpi), 0});
    return job.format->encode(still, EncodeOptions()).bytes;
}

void runRenderJob(const RenderJob &job, JobReport *report)
{
    JobReport made;
    if (job.tiles) {
        writeTiles(job, &made);
    } else {
        const QByteArray bytes = encodeRenderJob(job, &made);
        writeBytesReplacing(job.output, bytes);
    }
    if (report) {
        report->sticker = made.sticker;
        report->warnings = made.warnings;
    }
}

void checkRenderCap(const RenderJob &job, const StripLayout &layout)
{
    if (!job.cap)
        return;
    const PlannedPicture planned = plannedPicture(job, layout);
    const qint64 pixelFrames = planned.width * planned.height * planned.frames;
    if (pixelFrames > job.cap->pixelFrames)
        throw TooLargeError(
            QStringLiteral("dpi"),
            QStringLiteral(
                "图片太大：%1 × %2 像素、%3 帧，共 %4 像素，超过了每张 %5 像素（宽 × 高 × 帧数）的上限。"
                "请减小 dpi、scale 或字数，或用更少帧的效果。")
                .arg(planned.width)
                .arg(planned.height)
                .arg(planned.frames)
                .arg(pixelFrames)
                .arg(job.cap->pixelFrames));
    if (job.format->uncompressedBytes) {
        const qint64 bytes = job.format->uncompressedBytes(planned.width, planned.height);
        constexpr double kMiB = 1024.0 * 1024.0;
        if (bytes > job.cap->uncompressedBytes)
            throw TooLargeError(QStringLiteral("format"),
                                QStringLiteral("图片太大：这个 BMP 文件会有 %1 字节（%2 MiB），超过了 %3 MiB "
                                               "的上限。请减小 dpi 或 scale，或改用压缩的格式（png）。")
                                    .arg(bytes)
                                    .arg(double(bytes) / kMiB, 0, 'f', 1)
                                    .arg(double(job.cap->uncompressedBytes) / kMiB, 0, 'g', 4));
    }
}

JobReport renderJob(const RenderJob &job, QByteArray *bytes) noexcept
{
    JobReport report;
    try {
        if (bytes)
            *bytes = encodeRenderJob(job, &report);
        else
            runRenderJob(job, &report);
    } catch (const UsageError &error) {
        report.error = error.message();
        report.badInput = true;
        report.tooLarge = dynamic_cast<const TooLargeError *>(&error) != nullptr;
        report.key = error.key();
    } catch (const QuillowError &error) {
        // The window keeps the system's English words for a file over the
        // size limit; a script's log reads better in one language.
        report.error = error.message().replace(qt_error_string(EFBIG), QStringLiteral("文件过大"));
    } catch (const std::bad_alloc &) {
        report.error = outOfMemoryMessage();
        report.tooLarge = true;
    } catch (const std::exception &error) {
        report.error = QString::fromLocal8Bit(error.what());
    }
    if (!report.ok()) {
        report.sticker.reset();
        report.warnings.clear();
        if (bytes)
            bytes->clear();
    }
    return report;
}
