#include "export/file_output.h"

#include "export/export_errors.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

// Replacing works by renaming a temporary file over the target. Over a
// folder that fails, but over a device node or a pipe the rename succeeds
// and silently removes the node (run as root, /dev/sda would become a
// picture). Only absent targets and regular files are acceptable.
void refuseIrregularTarget(const QString &path)
{
    const QFileInfo target(path);
    // exists() and isFile() follow symbolic links, so a link to a device is
    // refused too; a broken link is not a target QSaveFile would rename over.
    if (target.exists() && !target.isFile())
        throw notRegularFileError(path);
}

} // namespace

void writeExactly(QIODevice &device, const void *data, qint64 size)
{
    if (device.write(static_cast<const char *>(data), size) == size)
        return;
    if (const auto *file = qobject_cast<const QFileDevice *>(&device))
        throw writeFailedError(file->fileName(), device.errorString());
    throw writeFailedError(QString(), device.errorString());
}

void writeFileReplacing(const QString &path, const std::function<void(QIODevice &)> &writeContent)
{
    refuseIrregularTarget(path);

    QSaveFile file(path);
    // Falling back to writing the target in place would truncate it first,
    // exactly what the temporary file is there to avoid.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw cannotCreateFileError(path, file.errorString());

    // On an exception QSaveFile's destructor removes the temporary file.
    writeContent(file);

    // The target could have been swapped for something else while we wrote.
    refuseIrregularTarget(path);
    if (!file.commit())
        throw writeFailedError(path, file.errorString());
}
