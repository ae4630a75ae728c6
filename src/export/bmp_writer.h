#pragma once

#include "export/raster.h"

class QIODevice;
class QString;

// Writes `picture` to `device` as an uncompressed Windows bitmap: the 54-byte
// file and info header, no colour table, then the rows bottom row first,
// each pixel blue, green, red (and a zero byte at 32 bits per pixel), each
// row padded with zeros to a multiple of 4 bytes. Writes at the picture's
// depth, 32 or 24 bits per pixel.
//
// Throws QuillowError before the first byte for a picture with zero width or
// height, an unsupported depth, or a size the header cannot hold; throws
// QuillowError if the device does not take every byte.
void writeBmp(const Raster &picture, QIODevice &device);

// Creates or replaces the file at `path` with the bitmap of `picture`; see
// writeFileReplacing() for the failure guarantees. The picture is checked
// before the file is touched.
void writeBmpFile(const Raster &picture, const QString &path);
