#pragma once

#include <QtGlobal>

#include <functional>

class QIODevice;
class QString;

// Writes all `size` bytes at `data` to `device`, or throws QuillowError
// (naming the file when the device is one) if the device takes fewer.
void writeExactly(QIODevice &device, const void *data, qint64 size);

// Creates or replaces the regular file at `path` with what `writeContent`
// writes into the device it is given. The content goes to a temporary file
// beside the target, which replaces the target only once it is complete, so
// on any failure an existing file keeps every byte and no temporary file is
// left behind.
//
// Throws QuillowError:
//  - "Cannot create file "<path>". <system text>" when the file cannot be
//    created (missing folder, a path through a file, no permission);
//  - a message naming the file when `path` exists but is not a regular file
//    (a folder, a device, a pipe), before anything is written;
//  - a message naming the file when writing or replacing fails;
//  - whatever `writeContent` throws, after discarding the temporary file.
void writeFileReplacing(const QString &path, const std::function<void(QIODevice &)> &writeContent);
