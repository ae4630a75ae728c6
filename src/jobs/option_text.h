#pragma once

#include <QColor>
#include <QPoint>
#include <QString>

// The sticker look's values as options write them.

// A colour written as #RRGGBB, or also #RRGGBBAA when `allowAlpha` (hex
// digits in either case; surrounding spaces ignored). Throws QuillowError
// whose message starts with `what` (e.g. "描边颜色") and shows the accepted
// forms and the text given.
QColor parseStickerColour(const QString &text, bool allowAlpha, const QString &what);

// #RRGGBB in capitals for an opaque colour, #RRGGBBAA otherwise; what
// parseStickerColour() reads back.
QString formatStickerColour(const QColor &colour);

// An offset written "X,Y" (integers, spaces allowed around each), each in
// -kMaxShadowOffset..kMaxShadowOffset. Throws QuillowError starting with
// `what` otherwise.
QPoint parseShadowOffset(const QString &text, const QString &what);

// "X,Y", as parseShadowOffset() reads it.
QString formatShadowOffset(QPoint offset);
