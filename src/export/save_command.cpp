#include "export/save_command.h"

#include "export/bmp_writer.h"
#include "export/export_errors.h"
#include "export/png_writer.h"

PictureFormat formatForTag(int tag)
{
    return tag == 0 ? PictureFormat::Bmp : PictureFormat::Png;
}

SaveDialogSetup dialogSetup(PictureFormat format, const QString &rawPhrase)
{
    if (format == PictureFormat::Png)
        return {QStringLiteral("png"), QStringLiteral("Png (*.png)"), rawPhrase + QStringLiteral(".png")};
    return {QStringLiteral("bmp"), QStringLiteral("Bitmaps (*.bmp)"), rawPhrase + QStringLiteral(".bmp")};
}

namespace {

// Refused here rather than at writing time, so that the user is not asked
// for a file name that nothing could be written to.
Raster checkedPicture(Raster picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    return picture;
}

} // namespace

SaveCommand::SaveCommand(Raster picture, PictureFormat format)
    : m_picture(format == PictureFormat::Png
                    ? std::variant<Raster, IndexedPicture>(reduce(checkedPicture(std::move(picture))))
                    : std::variant<Raster, IndexedPicture>(checkedPicture(std::move(picture))))
{}

void SaveCommand::writeTo(const QString &path) const
{
    if (const auto *reduced = std::get_if<IndexedPicture>(&m_picture))
        writePngFile(*reduced, path);
    else
        writeBmpFile(std::get<Raster>(m_picture), path);
}
