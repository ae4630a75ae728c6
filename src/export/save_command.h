#pragma once

#include "export/raster.h"

#include <QByteArray>
#include <QString>

struct OutputFileFormat;

// One run of the save command: holds the captured picture, encoded at once
// in its still format (the PNG reduced to the halftone palette, the BMP as
// captured), until it is written or dropped.
class SaveCommand {
public:
    // Throws QuillowError, before any dialog is shown, for a picture that
    // cannot be saved (zero width or height).
    SaveCommand(const Raster &picture, const OutputFileFormat &format);

    // Writes the picture to `path`, replacing an existing regular file only
    // once the new one is complete. Throws QuillowError with the user's
    // message on any failure; never leaves a partial file.
    void writeTo(const QString &path) const;

private:
    QByteArray m_bytes;
};
