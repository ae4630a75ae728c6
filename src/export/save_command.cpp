#include "export/save_command.h"

#include "export/bmp_writer.h"
#include "export/export_errors.h"
#include "export/halftone_palette.h"
#include "export/png_writer.h"

PictureFormat formatForTag(int tag)
{
    return tag == 0 ? PictureFormat::Bmp : PictureFormat::Png;
}

struct SaveCommand::Impl {
    Raster picture;         // kept for BMP
    IndexedPicture reduced; // kept for PNG
};

SaveCommand::SaveCommand(Raster picture, PictureFormat format)
    : m_format(format), m_impl(std::make_unique<Impl>())
{
    // Refused here rather than at writing time, so that the user is not
    // asked for a file name that nothing could be written to.
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    if (format == PictureFormat::Png)
        m_impl->reduced = reduce(picture);
    else
        m_impl->picture = std::move(picture);
}

SaveCommand::~SaveCommand() = default;

SaveDialogSetup SaveCommand::dialogSetup(const QString &rawPhrase) const
{
    if (m_format == PictureFormat::Png)
        return {QStringLiteral("png"), QStringLiteral("Png (*.png)"), rawPhrase + QStringLiteral(".png")};
    return {QStringLiteral("bmp"), QStringLiteral("Bitmaps (*.bmp)"), rawPhrase + QStringLiteral(".bmp")};
}

void SaveCommand::writeTo(const QString &path) const
{
    if (m_format == PictureFormat::Png)
        writePngFile(m_impl->reduced, path);
    else
        writeBmpFile(m_impl->picture, path);
}
