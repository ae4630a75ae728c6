#include "export/file_output.h"

#include "export/export_errors.h"

#include <QByteArray>
#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<TemporaryFileListener> temporaryFileListener{nullptr};

// Tells the listener, if any, which name the temporary file behind `file`
// has. QSaveFile keeps the name to itself; the descriptor's entry in /proc
// names it. Where the system can, QSaveFile writes a file with no name at
// all (O_TMPFILE), which a killed writer cannot leave behind and /proc shows
// as "… (deleted)"; only a name that really is this file is told, so that
// nobody removes another file on its word.
void announceTemporaryFile(const QSaveFile &file)
{
    const TemporaryFileListener listener = temporaryFileListener.load();
    if (listener == nullptr)
        return;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", file.handle());
    char name[PATH_MAX];
    const ssize_t length = readlink(link, name, sizeof name - 1);
    if (length <= 0 || size_t(length) >= sizeof name - 1)
        return;
    name[length] = '\0';
    struct stat named {};
    struct stat opened {};
    if (stat(name, &named) == 0 && fstat(file.handle(), &opened) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        listener(QByteArray(name, length));
}

// A replaced file is a new file, so it would get the creating process's
// owner and default mode. It keeps the old one's instead: the owner and
// group where the process may give them (root may give any; others their
// own groups), then the permission bits, after the owner because a change
// of owner clears the set-user-ID bit.
void keepOwnerAndMode(QSaveFile &file, const QString &path)
{
    struct stat old {};
    if (stat(QFile::encodeName(path).constData(), &old) != 0)
        return;
    struct stat fresh {};
    if (fstat(file.handle(), &fresh) != 0)
        return;
    if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
        fchown(file.handle(), old.st_uid, old.st_gid) != 0 &&
        fchown(file.handle(), uid_t(-1), old.st_gid) != 0) {
        // Neither is allowed: like any new file, it belongs to its writer.
    }
    const mode_t mode = old.st_mode & 07777;
    if (fchmod(file.handle(), mode) != 0)
        throw writeFailedError(path, qt_error_string(errno), true);
}

// Replacing works by renaming a temporary file over the target. Over a
// folder that fails, but over a device node or a pipe the rename succeeds
// and silently removes the node (run as root, /dev/sda would become a
// picture). Only absent targets and regular files are acceptable.
//
// A symbolic link to a file is followed: the file it points to is replaced
// and the link stays. A link that leads nowhere is refused: QSaveFile would
// create its missing target wherever that is, or, for a loop, put a plain
// file in the link's place.
void refuseIrregularTarget(const QString &path)
{
    const QFileInfo target(path);
    // exists() and isFile() follow symbolic links, so a link to a device is
    // refused too.
    if (target.isSymbolicLink() && !target.exists())
        throw brokenLinkError(path);
    if (target.exists() && !target.isFile())
        throw notRegularFileError(path);
}

// Makes sure that every byte handed to `file` is on the disk before the
// temporary file may replace the target. QSaveFile::commit() syncs too, but
// ignores the result and renames anyway, so a late failure would put a short
// file in the target's place.
void requireComplete(QSaveFile &file, const QString &path)
{
    const auto failed = [&path](const QString &systemText) {
        return writeFailedError(path, systemText, QFileInfo::exists(path));
    };
    const qint64 meant = file.pos();
    // Some file systems (network ones, those that allocate blocks late)
    // report a full disk only when the data is synced.
    if (fsync(file.handle()) != 0)
        throw failed(qt_error_string(errno));
    struct stat written {};
    if (fstat(file.handle(), &written) != 0)
        throw failed(qt_error_string(errno));
    if (qint64(written.st_size) != meant)
        throw failed(
            QStringLiteral("文件应有 %1 字节，实际为 %2 字节").arg(meant).arg(qint64(written.st_size)));
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
        throw writeFailedError(file->fileName(), file->errorString(), QFileInfo::exists(file->fileName()));
    }
    throw writeFailedError(QString(), device.errorString(), false);
}

void writeFileReplacing(const QString &path, const std::function<void(QIODevice &)> &writeContent)
{
    refuseIrregularTarget(path);

    QSaveFile file(path);
    // Falling back to writing the target in place would truncate it first,
    // exactly what the temporary file is there to avoid.
    file.setDirectWriteFallback(false);
    // Unbuffered, each block reaches the file inside write(), where a full
    // disk is reported at once. Buffered, the blocks smaller than Qt's buffer
    // would be written only inside commit(), which renames the temporary file
    // over the target even when that last write fails.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // QSaveFile refuses an existing file it may not write with a text of
        // its own; the system's reason (a read-only file system, no
        // permission) says more, in the user's language.
        if (QFileInfo::exists(path) && access(QFile::encodeName(path).constData(), W_OK) != 0)
            throw cannotCreateFileError(path, qt_error_string(errno));
        throw cannotCreateFileError(path, file.errorString());
    }
    announceTemporaryFile(file);

    // On an exception QSaveFile's destructor removes the temporary file.
    writeContent(file);
    requireComplete(file, path);

    // The target could have been swapped for something else while we wrote.
    refuseIrregularTarget(path);
    const bool replacing = QFileInfo::exists(path);
    if (replacing)
        keepOwnerAndMode(file, path);
    if (!file.commit()) {
        // Everything is written by now, so only giving the new file its name
        // failed. Where there was no file that is a file that cannot be
        // created: the system may refuse a name (too long, say) only here,
        // since the temporary file has no name of its own until then.
        if (!replacing)
            throw cannotCreateFileError(path, file.errorString());
        throw writeFailedError(path, file.errorString(), true);
    }
}

void setTemporaryFileListener(TemporaryFileListener listener)
{
    temporaryFileListener.store(listener);
}
