#pragma once

#include "composition/strip_layout.h"

#include <QMimeData>
#include <QtGlobal>

#include <memory>

// The MIME type chat programs and browsers take a pasted picture from.
inline const QString kPngMimeType = QStringLiteral("image/png");

// The strip of `layout` as the clipboard offers it: rendered on a transparent
// ground at `devicePixelRatio` with `ink` for cells without a colour, anti-aliased edges kept as partial
// alpha, so it pastes without a white fringe on any background. Offered first as "image/png" (the PNG with
// alpha, see writeAlphaPng()), then as Qt's image (QMimeData::setImageData), from which Qt makes every other
// picture type a program may ask for (BMP, JPEG, ...): that image is the strip on its opaque white ground, as
// saved, since those types keep no alpha. Null when the strip is empty (no cells, or zero width or height):
// there is nothing to copy. The caller owns the result; QClipboard::setMimeData() takes it over. Throws
// QuillowError if the PNG cannot be encoded.
std::unique_ptr<QMimeData> stripMimeData(const StripLayout &layout, const QColor &ink,
                                         qreal devicePixelRatio);
