#pragma once

#include "composition/quillow_error.h"

#include <QString>

// The messages the user reads when a picture cannot be saved. They live in
// one place so that every writer and the save command speak alike.

// The file (or its temporary sibling) could not be opened for writing;
// `systemText` is the operating system's own explanation.
QuillowError cannotCreateFileError(const QString &path, const QString &systemText);

// Writing or finishing the file failed after it was created (full disk, file
// size limit, I/O error). Nothing was replaced; `targetExists` says whether
// there is an old file at `path` that the user can be told is unchanged.
QuillowError writeFailedError(const QString &path, const QString &systemText, bool targetExists);

// `path` names a folder, a device, a pipe or anything else that is not a
// plain file; it is never replaced.
QuillowError notRegularFileError(const QString &path);

// A picture with no pixels (zero width or height).
QuillowError emptyPictureError();

// A picture whose size the file format cannot describe.
QuillowError pictureTooLargeError(qint64 width, qint64 height);

// A pixel depth the BMP writer does not produce.
QuillowError unsupportedDepthError(int depth);
