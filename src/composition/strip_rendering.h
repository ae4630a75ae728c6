#pragma once

#include "composition/font_request.h"
#include "composition/strip_layout.h"

#include <QColor>
#include <QImage>

class QPainter;

// What lies under the characters: the output area's opaque white, or nothing,
// so that anti-aliased edges keep their coverage as partial alpha.
enum class StripGround { White, Transparent };

// The colour of a cell without a colour of its own: the application palette's
// active WindowText, read on the first call and kept for the life of the
// process. Reading it once makes the routine below safe on worker threads
// (the palette itself is not); call it once on the main thread before
// rendering elsewhere. Black when no application object exists yet.
QColor defaultTextColour();

// Paints the strip of `layout` with its top-left corner at the painter's
// origin, in logical pixels: the ground (White fills layout.width x
// layout.height; Transparent paints none) and each cell's character clipped to
// its cell, in cellFont() turned into a QFont by fontFor(request, dpi), with
// its colour (or defaultTextColour()) and the settings' alignments, inside
// kCellFrame. Leaves the painter's state as it found it. Touches no widget
// and no pixmap, so it may run on any thread with its own painter.
void paintStrip(QPainter &painter, const StripLayout &layout, StripGround ground, double dpi = kDesignDpi);

// The strip as a new image of round(width * ratio) x round(height * ratio)
// physical pixels carrying `devicePixelRatio`: Format_RGB32 for White,
// Format_ARGB32_Premultiplied for Transparent. A layout with zero width or
// height gives a null image. The same layout, ground, ratio and dpi give the
// same pixels every time, whatever was drawn before.
QImage renderStrip(const StripLayout &layout, StripGround ground, qreal devicePixelRatio = 1.0,
                   double dpi = kDesignDpi);
