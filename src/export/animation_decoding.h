#pragma once

#include "composition/animation.h"

#include <QByteArray>

struct OutputFileFormat;

// The frames a viewer plays of `bytes`, a file in `format`: every frame the
// whole canvas as shown (after the file's own blending and disposal), in
// QImage::Format_ARGB32_Premultiplied, with the delay the file gives it; a
// still is one frame. GIF is read by Qt's reader, APNG by readApng(), WebP by
// libwebp's animation decoder, WEBM by libvpx through FFmpeg's libraries
// (loaded on first use; alpha included, every video frame, the picture of a
// repeated frame shared), the still PNG and BMP by Qt. Throws
// QuillowError when the bytes are not a readable file of that format.
Animation decodeAnimation(const QByteArray &bytes, const OutputFileFormat &format);

// The decoders the format table names, one per kind of file; each reads
// `bytes` as decodeAnimation() describes.
Animation decodeWithQt(const QByteArray &bytes, const OutputFileFormat &format);
Animation decodeApng(const QByteArray &bytes, const OutputFileFormat &format);
Animation decodeWebp(const QByteArray &bytes, const OutputFileFormat &format);
Animation decodeWebm(const QByteArray &bytes, const OutputFileFormat &format);
