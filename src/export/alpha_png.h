#pragma once

class QImage;
class QIODevice;
class QString;

// Writes `image` to `device` as a PNG with an alpha channel (colour type 6,
// RGBA, 8 bits per channel, straight alpha), so that anti-aliased edges keep
// their partial coverage on any background. The pixel density recorded is
// 96 dpi times the image's device pixel ratio. The whole file is encoded
// before the first byte reaches `device`.
//
// Throws QuillowError before writing anything for a null image (zero width or
// height) or when encoding fails; throws QuillowError if the device does not
// take every byte.
void writeAlphaPng(const QImage &image, QIODevice &device);

// Creates or replaces the file at `path` with that PNG; see
// writeFileReplacing() for the failure guarantees. The image is checked
// before the file is touched.
void writeAlphaPngFile(const QImage &image, const QString &path);
