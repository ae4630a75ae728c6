#include "cli/render_job.h"

#include "composition/colouring.h"
#include "composition/quillow_error.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "export/file_output.h"

#include <cerrno>
#include <new>

namespace {

void writeSticker(const StripLayout &layout, const RenderJob &job, std::uint32_t seed, JobReport *report)
{
    StickerOptions options = job.sticker;
    options.format = QString(job.format->name);
    options.seed = seed;
    Sticker sticker;
    try {
        sticker = makeSticker(layout, Qt::black, options);
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        // Nothing is written yet: the options, or a cap that no file meets,
        // are the caller's to change.
        throw UsageError(error.message());
    }
    writeFileReplacing(job.output, [&sticker](QIODevice &device) {
        writeExactly(device, sticker.bytes.constData(), sticker.bytes.size());
    });
    if (report) {
        report->sticker = StickerFacts{sticker.bytes.size(), sticker.frames, sticker.quality, sticker.colours,
                                       sticker.cap ? sticker.cap : options.maxBytes};
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
    return !sticker.preset.isEmpty() || sticker.outlinePx > 0 || sticker.outlineEdgePx > 0 ||
           sticker.shadow || sticker.maxBytes || sticker.rows > 1;
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
