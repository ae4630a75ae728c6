#pragma once

#include "export/halftone_palette.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class QIODevice;
class QString;

// The image data of rows `firstRow` .. `firstRow + rowCount - 1` of `picture`
// before compression, written to `out`: for each row, the filter type 1 (Sub)
// and then each index minus the one to its left, modulo 256 (the first index
// unchanged). `out` must hold (width + 1) * rowCount bytes.
void subFilterRows(const IndexedPicture &picture, std::size_t firstRow, std::size_t rowCount,
                   std::uint8_t *out);

// The whole image data of `picture` before compression, through
// subFilterRows(): (width + 1) * height bytes; empty for an empty picture.
std::vector<std::uint8_t> subFilteredScanlines(const IndexedPicture &picture);

// Writes `picture` to `device` as an indexed PNG (ISO/IEC 15948): IHDR (bit
// depth 8, colour type 3), PLTE with the 256 HalftonePalette entries, tRNS
// making the white entry fully transparent and every entry before it opaque,
// the Sub-filtered rows deflated at level 9 as one zlib stream cut into IDAT
// chunks of exactly 65535 bytes with a shorter last one, and IEND.
//
// Throws QuillowError before the first byte for a picture with zero width or
// height or one too large for PNG; throws QuillowError if zlib fails or the
// device does not take every byte.
void writePng(const IndexedPicture &picture, QIODevice &device);

// Creates or replaces the file at `path` with the PNG of `picture`; see
// writeFileReplacing() for the failure guarantees. The picture is checked
// before the file is touched.
void writePngFile(const IndexedPicture &picture, const QString &path);
