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

    RenderJob() { settings.faceName = kDefaultFace; }
};

// Lays the strip out, colours it, renders it and writes `job.output`, as the
// window's preview and save commands do for the same settings. Uses its own
// measurer and colour source, so jobs may run on several threads at once.
// Throws QuillowError with the user's message; on failure no file is left
// half-written and an existing file is untouched.
void runRenderJob(const RenderJob &job);
