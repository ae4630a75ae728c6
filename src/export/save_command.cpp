#include "export/save_command.h"

#include "export/bmp_writer.h"
#include "export/export_errors.h"
#include "export/png_writer.h"

PictureFormat formatForTag(int tag)
{
    return tag == 0 ? PictureFormat::Bmp : PictureFormat::Png;
}

namespace {

// The phrase as one file name: a "/" would make it a path into a folder that
// does not exist, and a control character is no name a user could type or
// read back. Each becomes "_"; everything else stays as typed.
QString fileNameFor(const QString &rawPhrase)
{
    QString name = rawPhrase;
    for (QChar &unit : name)
        if (unit == u'/' || unit.category() == QChar::Other_Control)
            unit = u'_';
    return name;
}

} // namespace

SaveDialogSetup dialogSetup(PictureFormat format, const QString &rawPhrase)
{
    const QString name = fileNameFor(rawPhrase);
    if (format == PictureFormat::Png)
        return {QStringLiteral("png"), QStringLiteral("Png (*.png)"), name + QStringLiteral(".png")};
    return {QStringLiteral("bmp"), QStringLiteral("Bitmaps (*.bmp)"), name + QStringLiteral(".bmp")};
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
