#include "cli/render_job.h"

#include "composition/colouring.h"
#include "composition/quillow_error.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "export/file_output.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

// Runs `make`, turning its refusals into the caller's: nothing is written
// yet, so the options, or a cap that no file meets, are the caller's to
// change.
template <typename Make> auto madeOrRefused(Make make)
{
    try {
        return make();
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        throw UsageError(error.message());
    }
}

StickerFacts factsOf(const Sticker &sticker, const StickerOptions &options)
{
    StickerFacts facts;
    facts.bytes = sticker.bytes.size();
    facts.frames = sticker.frames;
    facts.quality = sticker.quality;
    facts.colours = sticker.colours;
    facts.cap = sticker.cap ? sticker.cap : options.maxBytes;
    return facts;
}

void writeTiles(const StripLayout &layout, const RenderJob &job, const StickerOptions &options,
                JobReport *report)
{
    const StickerTiles made =
        madeOrRefused([&] { return makeStickerTiles(layout, Qt::black, options, *job.tiles); });
    std::vector<FileContent> files;
    for (std::size_t index = 0; index < made.tiles.size(); ++index)
        files.push_back({tileFilePath(job.output, int(index) + 1), made.tiles[index].bytes});
    writeFilesReplacing(files);
    if (report) {
        const Sticker &largest =
            *std::max_element(made.tiles.begin(), made.tiles.end(), [](const Sticker &a, const Sticker &b) {
                return a.bytes.size() < b.bytes.size();
            });
        StickerFacts facts = factsOf(largest, options);
        for (const FileContent &file : files)
            facts.tileFiles << file.path;
        facts.pasteText = tilePasteText(job.output, int(files.size()));
        facts.tileDpi = made.dpi;
        report->sticker = facts;
        report->warnings = made.warnings;
    }
}

void writeSticker(const StripLayout &layout, const RenderJob &job, std::uint32_t seed, JobReport *report)
{
    StickerOptions options = job.sticker;
    options.format = job.format;
    options.seed = seed;
    if (job.tiles) {
        writeTiles(layout, job, options, report);
        return;
    }
    const Sticker sticker = madeOrRefused([&] { return makeSticker(layout, Qt::black, options); });
    writeBytesReplacing(job.output, sticker.bytes);
    if (report) {
        report->sticker = factsOf(sticker, options);
        report->warnings = sticker.warnings;
    }
}

} // namespace

bool isStickerJob(const RenderJob &job)
{
    if (job.format->ground == StripGround::White)
        return false;
    if (job.format->animated)
        return true;
    const StickerOptions &sticker = job.sticker;
    return sticker.preset || sticker.look.outlineWidth > 0 || sticker.look.shadow || sticker.maxBytes ||
           sticker.rows > 1 || job.tiles.has_value();
}

void runRenderJob(const RenderJob &job, JobReport *report)
{
    FontTextMeasurer measurer(job.dpi);
    // No preview region: where the strip would sit in a window is not part
    // of the picture.
    StripLayout layout = computeStripLayout(job.settings, measurer, QSize());
    // One seed for the colours and the shake, so that a seed given once
    // repeats the whole sticker.
    const std::uint32_t seed = job.seed.value_or(clockSeed());
    LcgColourSource colours(seed);
    applyColouring(layout, job.settings, colours);

    if (isStickerJob(job)) {
        writeSticker(layout, job, seed, report);
        return;
    }
    // The window saves device pixels at its screen's ratio; `scale` stands
    // for that ratio.
    const qreal ratio = job.scale;
    Animation still;
    still.frames.push_back({renderStrip(layout, job.format->ground, Qt::black, ratio, job.dpi), 0});
    writeOutputFile(*job.format, still, EncodeOptions(), job.output);
}

JobReport renderJob(const RenderJob &job) noexcept
{
    JobReport report;
    try {
        runRenderJob(job, &report);
    } catch (const UsageError &error) {
        report.error = error.message();
        report.badInput = true;
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
    }
    return report;
}
