#pragma once

#include "composition/colouring.h"
#include "composition/strip_layout.h"

// A strip laid out and coloured as the preview does it, in the test font
// unless the settings name another, in the window's preview region.
inline StripLayout laidOutStrip(StripSettings settings)
{
    if (settings.faceName.isEmpty())
        settings.faceName = QStringLiteral("WenQuanYi Micro Hei");
    FontTextMeasurer measurer;
    StripLayout layout = computeStripLayout(settings, measurer, QSize(1045, 319));
    // A fixed seed, so that a failure shows the same colours when run again.
    LcgColourSource colours(20240611);
    applyColouring(layout, settings, colours);
    return layout;
}
