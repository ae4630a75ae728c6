#pragma once

#include <QColor>
#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QString>

constexpr int kMaxOutlineWidth = 12;
constexpr int kMaxShadowBlur = 20;
constexpr int kMaxShadowOffset = 20; // in x and in y, either way

// What makes a transparent-ground picture read on any chat background: a
// stroke around every shape and a soft shadow beneath it. Lengths are in
// logical pixels, scaled by the picture's device pixel ratio.
struct StickerLook {
    int outlineWidth = 0; // 0: no outline
    QColor outlineColour = Qt::white;
    bool shadow = false;
    QColor shadowColour = QColor(0, 0, 0, 128);
    QPoint shadowOffset = QPoint(2, 2);
    int shadowBlur = 3; // how far the shadow's soft edge reaches beyond its shape
};

// Throws QuillowError (the user's message) when the outline width is outside
// 0..kMaxOutlineWidth, the blur outside 0..kMaxShadowBlur, an offset outside
// -kMaxShadowOffset..kMaxShadowOffset, or a colour invalid.
void checkStickerLook(const StickerLook &look);

// How many physical pixels the look adds on each side of a picture at
// `devicePixelRatio`: the outline's width on every side, and where there is
// a shadow, its blur plus its offset on the side it falls to (the outline
// already covers what reaches less far). All zero for the plain look.
QMargins stickerMargins(const StickerLook &look, qreal devicePixelRatio = 1.0);

// `picture` (premultiplied or not, any alpha format) grown by
// stickerMargins() at its device pixel ratio, with, beneath its pixels, an
// outline of look.outlineWidth around everything it covers (its alpha, so a
// colour emoji gets one around its shape; round joins, soft outer edge) and,
// beneath that, the shadow of the outlined shape, moved and blurred. The
// picture itself lands unchanged at the top-left margin: a pixel it covers
// fully keeps its colour. Returns Format_ARGB32_Premultiplied with the
// picture's ratio; the plain look returns the picture as it is (converted to
// that format). A null picture stays null. Does not check the look.
QImage applyStickerLook(const QImage &picture, const StickerLook &look);
