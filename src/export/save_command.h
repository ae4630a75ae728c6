#pragma once

#include "export/halftone_palette.h"
#include "export/raster.h"

#include <QString>

#include <variant>

enum class PictureFormat { Bmp, Png };

// The menu entry's tag chooses the format: 0 is BMP, anything else PNG.
PictureFormat formatForTag(int tag);

// What the save dialog is set to each time the command runs.
struct SaveDialogSetup {
    QString defaultSuffix;    // "png" / "bmp"
    QString nameFilter;       // Qt filter text, e.g. "Png (*.png)"
    QString proposedFileName; // the raw, untrimmed phrase + ".png" / ".bmp"
};

// The dialog's set-up for saving in `format`, proposing `rawPhrase` as the
// name, untrimmed, with each "/" and control character made "_".
SaveDialogSetup dialogSetup(PictureFormat format, const QString &rawPhrase);

// One run of the save command: holds the captured picture (reduced to the
// halftone palette at once for PNG) until it is written or dropped.
class SaveCommand {
public:
    // Throws QuillowError, before any dialog is shown, for a picture that
    // cannot be saved (zero width or height).
    SaveCommand(Raster picture, PictureFormat format);

    // Writes the picture to `path`, replacing an existing regular file only
    // once the new one is complete. Throws QuillowError with the user's
    // message on any failure; never leaves a partial file.
    void writeTo(const QString &path) const;

private:
    // The BMP keeps the picture as captured; the PNG its reduction.
    std::variant<Raster, IndexedPicture> m_picture;
};
