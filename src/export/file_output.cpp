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
    // A file device may take part of a block and report no error (the file
    // size limit is reached mid-write); only the next attempt fails. Going
    // on until everything is taken or a write fails makes sure a short
    // write is never mistaken for a complete one.
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        const qint64 written = device.write(at, size);
        if (written <= 0)
            break;
        at += written;
        size -= written;
    }
    if (size == 0)
        return;

    if (auto *file = qobject_cast<QFileDevice *>(&device)) {
        // The failing write() can leave the generic "Unknown error"; a flush
        // attempt records the operating system's reason.
        file->flush();
        throw writeFailedError(file->fileName(), file->errorString());
    }
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
