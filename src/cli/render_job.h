#pragma once

#include "composition/font_request.h"
#include "composition/strip_settings.h"

#include <QString>

#include <cstdint>
#include <optional>

enum class OutputFormat {
    Png,      // indexed to the halftone palette, white transparent: the window's PNG
    Bmp,      // the window's BMP
    PngAlpha, // RGBA on a transparent ground, soft edges: the clipboard's picture
};

// One strip to render and the file to write it to.
struct RenderJob {
    StripSettings settings; // `text` is the phrase
    QString output;
    OutputFormat format = OutputFormat::Png;
    std::optional<std::uint32_t> seed; // random colours; empty: seeded from the clock
    double dpi = kDesignDpi;
    // Device pixels per logical pixel, as a window on a scaled screen saves:
    // the picture is `scale` times as wide and high, drawn at that ratio.
    double scale = 1.0;

    RenderJob() { settings.faceName = kDefaultFace; }
};

// Lays the strip out, colours it, renders it and writes `job.output`, as the
// window's preview and save commands do for the same settings. Uses its own
// measurer and colour source, so jobs may run on several threads at once.
// Throws QuillowError with the user's message; on failure no file is left
// half-written and an existing file is untouched.
void runRenderJob(const RenderJob &job);

// Runs the job as runRenderJob() does and returns the user's message for a
// failure, empty when the file was written. Never throws: single runs and
// batch lines report their failures through this one path.
QString renderJobError(const RenderJob &job) noexcept;

// The message for a job that ran out of memory.
QString outOfMemoryMessage();
