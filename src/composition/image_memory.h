#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>

// Images made and converted on the calling thread, with a failed allocation
// reported as such.
//
// QImage gives a null image when it cannot allocate its pixels; passed on,
// that reads as an empty picture (a claim of bad input) to every writer.
// And Qt converts a large image in parts on its global thread pool, waiting
// for each part: a pool thread that cannot be started (under a memory limit,
// say) never does its part, and the wait never ends.

// A new image of `size` and `format`, its pixels not yet set. An empty size
// gives a null image. Throws std::bad_alloc when the pixels cannot be
// allocated.
QImage newImage(QSize size, QImage::Format format);

// `image` converted to `format` entirely on the calling thread: the same
// pixels, device pixel ratio and resolution as QImage::convertToFormat()
// gives for a format without a palette (which would need dithering across
// rows). A null image gives a null image. Throws std::bad_alloc when the
// result cannot be allocated.
QImage convertedHere(const QImage &image, QImage::Format format);

// Fontconfig and FreeType do not survive every failed allocation: one that
// fails inside them can crash the whole process. So text is laid out and
// drawn only while a margin of memory is still free for them; otherwise
// this throws std::bad_alloc, which is reported like any other lack of
// memory.
void requireTextHeadroom();

// Whether `bytes` more memory can be had at this moment: mapped and given
// back at once, without touching the heap.
bool memoryAvailable(std::size_t bytes);
