#pragma once

#include "export/raster.h"

#include <QString>

#include <memory>

enum class PictureFormat { Bmp, Png };

// The menu entry's tag chooses the format: 0 is BMP, anything else PNG.
PictureFormat formatForTag(int tag);

// What the save dialog is set to each time the command runs.
struct SaveDialogSetup {
    QString defaultSuffix;    // "png" / "bmp"
    QString nameFilter;       // Qt filter text, e.g. "Png (*.png)"
    QString proposedFileName; // the raw, untrimmed phrase + ".png" / ".bmp"
};

// One run of the save command: holds the captured picture (reduced to the
// halftone palette at once for PNG) until it is written or dropped.
class SaveCommand {
public:
    // Throws QuillowError, before any dialog is shown, for a picture that
    // cannot be saved (zero width or height).
    SaveCommand(Raster picture, PictureFormat format);
    ~SaveCommand();

    PictureFormat format() const { return m_format; }
    SaveDialogSetup dialogSetup(const QString &rawPhrase) const;

    // Writes the picture to `path`, replacing an existing regular file only
    // once the new one is complete. Throws QuillowError with the user's
    // message on any failure; never leaves a partial file.
    void writeTo(const QString &path) const;

private:
    struct Impl;
    PictureFormat m_format;
    std::unique_ptr<Impl> m_impl;
};
