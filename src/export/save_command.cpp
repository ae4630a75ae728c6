#include "export/save_command.h"

#include "composition/animation.h"
#include "export/export_errors.h"
#include "export/file_output.h"
#include "export/output_format.h"

#include <cstring>

namespace {

// Refused here rather than at writing time, so that the user is not asked
// for a file name that nothing could be written to.
const Raster &checkedPicture(const Raster &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        throw emptyPictureError();
    return picture;
}

// The picture as the one frame the format's encoder takes; its pixels are
// copied unchanged, so the encoder reads back exactly what was captured.
Animation stillOf(const Raster &picture)
{
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(image.scanLine(y), picture.pixels.data() + std::size_t(y) * std::size_t(picture.width),
                    std::size_t(picture.width) * sizeof(QRgb));
    Animation still;
    still.frames.push_back({image, 0});
    return still;
}

} // namespace

SaveCommand::SaveCommand(const Raster &picture, const OutputFileFormat &format)
    : m_bytes(format.encode(stillOf(checkedPicture(picture)), EncodeOptions()).bytes)
{}

void SaveCommand::writeTo(const QString &path) const
{
    writeBytesReplacing(path, m_bytes);
}
