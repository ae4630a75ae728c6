#pragma once

#include "composition/quillow_error.h"

#include <QString>

// The messages the user reads when a picture cannot be saved. They live in
// one place so that every writer and the save command speak alike.

// The file (or its temporary sibling) could not be opened for writing, or
// could not be given its name; `systemText` is the operating system's own
// explanation, shown in Chinese for the common causes (no such file or
// folder, not a folder, no permission, read-only file system, full disk,
// name too long, a folder) and as given otherwise. The same holds for the
// explanation in writeFailedError().
QuillowError cannotCreateFileError(const QString &path, const QString &systemText);

// Writing or finishing the file failed after it was created (full disk, file
// size limit, I/O error). Nothing was replaced; `targetExists` says whether
// there is an old file at `path` that the user can be told is unchanged.
QuillowError writeFailedError(const QString &path, const QString &systemText, bool targetExists);

// `path` names a folder, a device, a pipe or anything else that is not a
// plain file; it is never replaced.
QuillowError notRegularFileError(const QString &path);

// `path` is a symbolic link that leads to no file: its target is missing, or
// the links form a loop. Nothing is created.
QuillowError brokenLinkError(const QString &path);

// A picture with no pixels (zero width or height).
QuillowError emptyPictureError();

// A picture whose size the file format cannot describe.
QuillowError pictureTooLargeError(qint64 width, qint64 height);

// A pixel depth the BMP writer does not produce.
QuillowError unsupportedDepthError(int depth);

// An animation to be written has no frames.
QuillowError noFramesError();

// The frames of an animation differ in size.
QuillowError frameSizeMismatchError();

// A frame lasts a negative time, or longer than the format can say.
QuillowError frameDelayError(int delayMs);

// A count of palette colours outside 2 .. 256.
QuillowError paletteSizeError(int colours);

// A quality outside 0 .. 100.
QuillowError qualityRangeError(int quality);

// A library call of an encoder failed; `format` names the file format
// ("GIF"), `detail` the call and the library's reason.
QuillowError encoderFailedError(const QString &format, const QString &detail);
