#include "jobs/render_job.h"

#include "composition/colouring.h"
#include "composition/quillow_error.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "export/file_output.h"
#include "sticker/emoji_names.h"
#include "sticker/sticker_preset.h"

#include <algorithm>
#include <cerrno>
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
        report.key = error.key();
    } catch (const QuillowError &error) {
        // The window keeps the system's English words for a file over the
        // size limit; a script's log reads better in one language.
        report.error = error.message().replace(qt_error_string(EFBIG), QStringLiteral("文件过大"));
    } catch (const std::bad_alloc &) {
        report.error = outOfMemoryMessage();
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
