#pragma once

#include <QImage>
#include <QString>

// The name of `family` drawn in its own face, `pixelSize` pixels high, as an
// alpha mask of `scale` device pixels per pixel, its baseline at the mask's
// ascent; null where the list's font draws the name instead: the family is
// not installed, is a colour or symbol face, lacks a character of its name,
// or draws it wider than `nameRoom` pixels.
//
// Reads only the few parts of the font file the name needs (its character
// map, the glyphs of the name) and keeps nothing once it returns: Qt would
// map the whole file and keep the face in its caches, which for a list of
// large faces costs more memory than the window itself. Safe on any thread.
QImage ownNameMask(const QString &family, int pixelSize, int nameRoom, qreal scale);
