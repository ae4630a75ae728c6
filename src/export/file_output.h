#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

class QIODevice;

// Writes all `size` bytes at `data` to `device`, or throws QuillowError
// (naming the file when the device is one) if the device takes fewer.
void writeExactly(QIODevice &device, const void *data, qint64 size);

// Creates or replaces the regular file at `path` with what `writeContent`
// writes into the device it is given. The content goes to a temporary file
// beside the target, written unbuffered and synced, whose size is checked
// against what was written; only then does it replace the target. So on any
// failure, wherever it strikes, an existing file keeps every byte and its
// inode, and no temporary file is left behind. The temporary file has no
// name while it is written where the file system allows, and otherwise a
// short one of its own ("quillow-XXXXXXXX.tmp"), so any name the target
// may have can be replaced. A symbolic link to a file is
// followed: the file is replaced and the link kept. The new file takes the
// old one's permission bits, and its owner and group as far as the process
// may give them; it is still a new file, so a hard link to the old one keeps
// the old contents.
//
// Throws QuillowError:
//  - "Cannot create file "<path>". <system text>" when the file cannot be
//    created (missing folder, a path through a file, no permission, an
//    existing file the user may not write, a name the system refuses,
//    which it may do only once everything is written);
//  - a message naming the file when `path` exists but is not a regular file
//    (a folder, a device, a pipe), or is a symbolic link that leads to no
//    file (missing target, loop), before anything is written;
//  - a message naming the file when writing or replacing fails, saying that
//    the old file is unchanged only when there is one;
//  - whatever `writeContent` throws, after discarding the temporary file.
void writeFileReplacing(const QString &path, const std::function<void(QIODevice &)> &writeContent);

// writeFileReplacing() with `bytes` as the whole content.
void writeBytesReplacing(const QString &path, const QByteArray &bytes);

// `phrase` as one file name, as typed: each "/" (which would make it a path
// into a folder) and each control character (no part of a name anyone can
// read) becomes "_"; everything else stays, spaces at the ends included.
QString fileNameFromPhrase(const QString &phrase);
// One file of a set written by writeFilesReplacing().
struct FileContent {
    QString path;
    QByteArray bytes;
};

// Writes every file of `files` as writeFileReplacing() does, all or none:
// each is complete in its temporary file before the first takes its
// target's name, and then they take their names one after another. Should
// one fail, those already renamed are put back as they were (their old
// bytes, or no file where there was none) and the failure is thrown. A stop
// (abandonFileWriting()) before the renaming begins leaves every old file;
// one during it lets the whole set finish. Targets that are not regular
// files are refused before anything is written. Their old contents are read
// into memory, so this is for small files (emoji, not videos).
void writeFilesReplacing(const std::vector<FileContent> &files);

// Told the local name of each named temporary file writeFileReplacing()
// creates, the moment it exists and before any content is written (where the
// system offers files without a name, there is none to tell until the
// moment just before it replaces the target). A process that
// writes on another's behalf passes the name on, so that the other can remove
// the file should the writer be killed before it has. Called on the writing
// thread; it must not throw. nullptr (the default) tells nobody.
using TemporaryFileListener = void (*)(const QByteArray &localPath);
void setTemporaryFileListener(TemporaryFileListener listener);

// For a handler of SIGINT or SIGTERM that ends the process at once: from
// now on no writeFileReplacing() of this process replaces its target, and
// the named temporary file of the one being written, if any, is removed
// (an unnamed one goes with the process). Returns false when complete files
// are taking their targets' names at this very moment (a single file or a
// set from writeFilesReplacing()): the handler should then let them finish.
// Async-signal-safe.
bool abandonFileWriting() noexcept;

// Whether a writeFileReplacing() or writeFilesReplacing() of this process
// has replaced its target (all of its set) since the process began. A
// handler that abandonFileWriting() let go on reads it to tell whether the
// new files are already in place. Async-signal-safe.
bool anyTargetReplaced() noexcept;
