#pragma once

#include <QColor>

// The relative luminance of `colour` (WCAG 2: sRGB channels linearised and
// weighted 0.2126, 0.7152, 0.0722): 0 for black, 1 for white. Alpha is
// ignored.
double relativeLuminance(const QColor &colour);

// The WCAG contrast ratio between two colours, (L1 + 0.05) / (L2 + 0.05) with
// L1 the lighter: 1 for equal colours, 21 for black on white.
double contrastRatio(const QColor &a, const QColor &b);

// The ink of a cell without a colour of its own, drawn on the strip's white
// ground: `windowText` (opaque) when it reads on white, a contrast ratio of at
// least 4.5:1, otherwise black. A desktop's dark scheme has light window
// text, which would vanish on the white strip.
QColor inkFromWindowText(const QColor &windowText);
