#pragma once

#include "composition/font_request.h"
#include "composition/strip_layout.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <type_traits>

class QPainter;

// What lies under the characters: the output area's opaque white, or nothing,
// so that anti-aliased edges keep their coverage as partial alpha.
enum class StripGround { White, Transparent };

// Paints the strip of `layout` with its top-left corner at the painter's
// origin, in logical pixels: the ground (White fills layout.width x
// layout.height; Transparent paints none) and each cell's text clipped to its
// cell, in cellFont() turned into a QFont by fontFor(request, dpi), with its
// colour, or `ink` for a cell without one (see inkFromWindowText()), and the
// settings' alignments, inside kCellFrame. Bold thickens every size, also
// in a face without a bold style of its own; with layout.wholeGlyphs an
// italic glyph is drawn whole, else Qt cuts its slant. A colour emoji keeps
// its own colours. Leaves the painter's state as it found it. Reads no application
// state and touches no widget and no pixmap, so it may run on any thread with
// its own painter.
void paintStrip(QPainter &painter, const StripLayout &layout, StripGround ground, const QColor &ink,
                double dpi = kDesignDpi);

// `layout` (one row, no room in its cells yet) drawn whole: wholeGlyphs set,
// and every cell widened by what its glyph, drawn by paintStrip() at `dpi`,
// reaches beyond the cell on the left and on the right (overhangLeft,
// overhangRight), the cells after it moved along by as much, so that nothing
// is cut and no glyph reaches into its neighbour. A glyph within its cell
// leaves the cell as it is. Throws std::bad_alloc when memory runs short.
StripLayout withRoomForOverhang(const StripLayout &layout, double dpi = kDesignDpi);

// The strip as a new image of round(width * ratio) x round(height * ratio)
// physical pixels carrying `devicePixelRatio`: Format_RGB32 for White,
// Format_ARGB32_Premultiplied for Transparent, cells without a colour in
// `ink`. A layout with zero width or height gives a null image. The same
// layout, ground, ink, ratio and dpi give the same pixels every time,
// whatever was drawn before.
QImage renderStrip(const StripLayout &layout, StripGround ground, const QColor &ink,
                   qreal devicePixelRatio = 1.0, double dpi = kDesignDpi);

// Runs `work` on a thread of its own (or, once after markTextStateFresh(),
// on the calling thread) and waits for it, passing on whatever it throws.
// Text measured and drawn there starts from Qt's fresh font state,
// so the pixels depend only on what `work` does, never on what this process
// drew before; renderStrip() and makeSticker() go through it.
void withFreshTextState(const std::function<void()> &work);

// Declares that the calling thread has drawn no text (measuring is not
// drawing): the next withFreshTextState() called on it then runs its work
// right there instead of on a thread of its own, since the state it finds is
// the one a new thread would start from. Later calls start threads again.
// For a process that exists to render once, forked from one that only
// measures: it spares a thread and the font set-up that thread would repeat.
void markTextStateFresh();

// QColor takes a number as an RGB value, so a ratio or a dpi passed where the
// ink goes would compile and paint in near-black; these make it an error.
template <typename Number, typename... Rest, std::enable_if_t<std::is_arithmetic_v<Number>, int> = 0>
void paintStrip(QPainter &, const StripLayout &, StripGround, Number, Rest...) = delete;
template <typename Number, typename... Rest, std::enable_if_t<std::is_arithmetic_v<Number>, int> = 0>
QImage renderStrip(const StripLayout &, StripGround, Number, Rest...) = delete;
