#include "cli/render_job.h"

#include "composition/colouring.h"
#include "composition/quillow_error.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "export/alpha_png.h"
#include "export/bmp_writer.h"
#include "export/halftone_palette.h"
#include "export/png_writer.h"
#include "export/raster.h"

#include <cerrno>
#include <new>

void runRenderJob(const RenderJob &job)
{
    FontTextMeasurer measurer(job.dpi);
    // No preview region: where the strip would sit in a window is not part
    // of the picture.
    StripLayout layout = computeStripLayout(job.settings, measurer, QSize());
    LcgColourSource colours(job.seed.value_or(clockSeed()));
    applyColouring(layout, job.settings, colours);

    // The window saves device pixels at its screen's ratio; `scale` stands
    // for that ratio.
    const qreal ratio = job.scale;
    switch (job.format) {
    case OutputFormat::Png:
        writePngFile(
            reduce(rasterFromImage(renderStrip(layout, StripGround::White, Qt::black, ratio, job.dpi))),
            job.output);
        break;
    case OutputFormat::Bmp:
        writeBmpFile(rasterFromImage(renderStrip(layout, StripGround::White, Qt::black, ratio, job.dpi)),
                     job.output);
        break;
    case OutputFormat::PngAlpha:
        writeAlphaPngFile(renderStrip(layout, StripGround::Transparent, Qt::black, ratio, job.dpi),
                          job.output);
        break;
    }
}

QString outOfMemoryMessage()
{
    return QStringLiteral("内存不足，无法画出这张图片。");
}

QString renderJobError(const RenderJob &job) noexcept
{
    try {
        runRenderJob(job);
        return QString();
    } catch (const QuillowError &error) {
        // The window keeps the system's English words for a file over the
        // size limit; a script's log reads better in one language.
        return error.message().replace(qt_error_string(EFBIG), QStringLiteral("文件过大"));
    } catch (const std::bad_alloc &) {
        return outOfMemoryMessage();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
}
