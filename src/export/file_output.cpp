#include "export/file_output.h"

#include "export/export_errors.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<TemporaryFileListener> temporaryFileListener{nullptr};

// Set by abandonFileWriting(): no temporary file replaces its target any more.
std::atomic<bool> writingAbandoned{false};
// How many temporary files are being given their target's name right now.
std::atomic<int> replacingNow{0};
// Set once a file, or a whole set, has taken its target's name for good.
std::atomic<bool> someTargetReplaced{false};

// The one named temporary file that abandonFileWriting() removes, kept in
// a form a signal handler can use. The first writer to take the slot has it
// until its file is renamed or removed.
struct SignalledScratch {
    std::atomic_flag taken = ATOMIC_FLAG_INIT;
    std::atomic<bool> published{false};
    int folder = -1;
    char name[32] = {};
} signalledScratch;

// Names taken by others before a fresh one is given up on.
constexpr int kScratchNameTries = 100;

// A temporary file's name: short, so that it fits wherever the target's
// name does (a name may have 255 bytes; "<target>.XXXXXX" would need more).
QByteArray freshScratchName()
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name("quillow-");
    for (int i = 0; i < 8; ++i)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
    return name + ".tmp";
}

// The temporary file beside the target, written before it takes the
// target's name. Where the file system can, it has no name at all until
// then (O_TMPFILE), so a writer that is killed leaves nothing behind;
// elsewhere it has a short name of its own. The destructor removes it
// unless it has replaced the target.
class ScratchFile {
public:
    // Opens the file in `folder`; throws cannotCreateFileError() naming
    // `shownPath` when the folder refuses.
    ScratchFile(const QByteArray &folder, const QString &shownPath) : m_shownPath(shownPath)
    {
        m_folder = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_folder < 0)
            throw cannotCreateFileError(shownPath, qt_error_string(errno));
        m_fd = openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
            // Too old a kernel, or a file system without unnamed files.
            m_fd = openNamed(O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC);
            if (m_fd >= 0) {
                announce();
                publishForSignals();
            }
        }
        if (m_fd < 0) {
            const int error = errno;
            ::close(m_folder);
            throw cannotCreateFileError(shownPath, qt_error_string(error));
        }
    }

    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    ~ScratchFile()
    {
        ::close(m_fd);
        removeName();
        ::close(m_folder);
    }

    int handle() const { return m_fd; }

    // Gives the complete file the name `targetName` in its folder, replacing
    // the file there. Throws QuillowError naming the shown path; `replacing`
    // says whether there is an old file the message can call unchanged.
    // Called inside a RenameWindow, so that a signal cannot end the process
    // between giving the file a name and giving it the target's.
    void replace(const QByteArray &targetName, bool replacing)
    {
        const auto failed = [&](int error) {
            // Only the name failed: where there was no file, that is a
            // file that cannot be created (a name the system refuses).
            return replacing ? writeFailedError(m_shownPath, qt_error_string(error), true)
                             : cannotCreateFileError(m_shownPath, qt_error_string(error));
        };
        if (m_name.isEmpty()) {
            // The descriptor's entry in /proc is how an unnamed file gets a
            // name without privileges.
            char link[64];
            snprintf(link, sizeof link, "/proc/self/fd/%d", m_fd);
            for (int i = 0; i < kScratchNameTries && m_name.isEmpty(); ++i) {
                const QByteArray name = freshScratchName();
                if (linkat(AT_FDCWD, link, m_folder, name.constData(), AT_SYMLINK_FOLLOW) == 0)
                    m_name = name;
                else if (errno != EEXIST)
                    throw failed(errno);
            }
            if (m_name.isEmpty())
                throw failed(EEXIST);
            announce();
        }
        if (renameat(m_folder, m_name.constData(), m_folder, targetName.constData()) != 0)
            throw failed(errno);
        withdraw();
        m_name.clear();
    }

private:
    int openNamed(int flags)
    {
        for (int i = 0; i < kScratchNameTries; ++i) {
            const QByteArray name = freshScratchName();
            const int fd = openat(m_folder, name.constData(), flags, 0666);
            if (fd >= 0) {
                m_name = name;
                return fd;
            }
            if (errno != EEXIST)
                return -1;
        }
        return -1;
    }

    // Tells the listener, if any, the file's name the moment it has one.
    void announce() const
    {
        const TemporaryFileListener listener = temporaryFileListener.load();
        if (listener == nullptr)
            return;
        char folder[64];
        snprintf(folder, sizeof folder, "/proc/self/fd/%d", m_folder);
        char path[PATH_MAX];
        const ssize_t length = readlink(folder, path, sizeof path - 1);
        if (length <= 0)
            return;
        listener(QByteArray(path, length) + '/' + m_name);
    }

    void publishForSignals()
    {
        if (signalledScratch.taken.test_and_set())
            return;
        m_holdsSignalSlot = true;
        static_assert(sizeof signalledScratch.name > sizeof "quillow-12345678.tmp");
        memcpy(signalledScratch.name, m_name.constData(), size_t(m_name.size()) + 1);
        signalledScratch.folder = m_folder;
        signalledScratch.published.store(true);
    }

    void withdraw()
    {
        if (!m_holdsSignalSlot)
            return;
        signalledScratch.published.store(false);
        signalledScratch.taken.clear();
        m_holdsSignalSlot = false;
    }

    void removeName()
    {
        withdraw();
        if (!m_name.isEmpty())
            unlinkat(m_folder, m_name.constData(), 0);
    }

    QString m_shownPath;
    int m_folder = -1;
    int m_fd = -1;
    QByteArray m_name; // empty while the file has none
    bool m_holdsSignalSlot = false;
};

// The temporary file as the device the content is written to, unbuffered,
// so that each block reaches the file inside write(), where a full disk is
// reported at once. Its messages name the target, not the temporary file.
class ScratchDevice : public QFile {
public:
    ScratchDevice(int fd, const QString &shownPath) : m_shownPath(shownPath)
    {
        if (!open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
            throw writeFailedError(shownPath, errorString(), QFileInfo::exists(shownPath));
    }

    QString fileName() const override { return m_shownPath; }

private:
    QString m_shownPath;
};

// A replaced file is a new file, so it would get the creating process's
// owner and default mode. It keeps the old one's instead: the owner and
// group where the process may give them (root may give any; others their
// own groups), then the permission bits, after the owner because a change
// of owner clears the set-user-ID bit.
void keepOwnerAndMode(int file, const QString &path)
{
    struct stat old {};
    if (stat(QFile::encodeName(path).constData(), &old) != 0)
        return;
    struct stat fresh {};
    if (fstat(file, &fresh) != 0)
        return;
    if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
        fchown(file, old.st_uid, old.st_gid) != 0 && fchown(file, uid_t(-1), old.st_gid) != 0) {
        // Neither is allowed: like any new file, it belongs to its writer.
    }
    const mode_t mode = old.st_mode & 07777;
    if (fchmod(file, mode) != 0)
        throw writeFailedError(path, qt_error_string(errno), true);
}

// Replacing works by renaming a temporary file over the target. Over a
// folder that fails, but over a device node or a pipe the rename succeeds
// and silently removes the node (run as root, /dev/sda would become a
// picture). Only absent targets and regular files are acceptable.
//
// A symbolic link to a file is followed: the file it points to is replaced
// and the link stays. A link that leads nowhere is refused: following it
// would create its missing target wherever that is, and for a loop there is
// no file to replace.
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
// temporary file may replace the target, so that a late failure never puts
// a short file in the target's place.
void requireComplete(QFileDevice &file, const QString &path)
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

namespace {

std::function<void(QIODevice &)> writingAll(const QByteArray &bytes)
{
    return [&bytes](QIODevice &device) { writeExactly(device, bytes.constData(), bytes.size()); };
}

// A file whose complete content waits in its temporary file for its
// target's name.
class PreparedFile {
public:
    PreparedFile(const QString &path, const std::function<void(QIODevice &)> &writeContent) : m_path(path)
    {
        refuseIrregularTarget(path);
        // A link to a file is followed: the file it leads to is replaced, in
        // its own folder, and the link stays.
        const QFileInfo given(path);
        const QFileInfo target(given.isSymbolicLink() ? given.canonicalFilePath() : path);
        m_targetName = QFile::encodeName(target.fileName());
        // A file the user may not write is not replaced, though the folder
        // would allow it.
        if (target.exists() && access(QFile::encodeName(target.filePath()).constData(), W_OK) != 0)
            throw cannotCreateFileError(path, qt_error_string(errno));

        m_scratch = std::make_unique<ScratchFile>(QFile::encodeName(target.path()), path);
        ScratchDevice file(m_scratch->handle(), path);
        writeContent(file);
        requireComplete(file, path);
    }

    const QString &path() const { return m_path; }

    // Replaces the target. Only inside a RenameWindow.
    void giveTargetName()
    {
        // The target could have been swapped for something else while we
        // wrote.
        refuseIrregularTarget(m_path);
        const bool replacing = QFileInfo::exists(m_path);
        if (replacing)
            keepOwnerAndMode(m_scratch->handle(), m_path);
        m_scratch->replace(m_targetName, replacing);
    }

private:
    QString m_path;
    QByteArray m_targetName;
    std::unique_ptr<ScratchFile> m_scratch;
};

// While one is open, abandonFileWriting() leaves the process to finish the
// renames inside it: files that are complete take their names, all of them,
// so a signal never leaves half a set. Opening one after a stop was asked
// for throws instead, naming `shownPath`.
class RenameWindow {
public:
    explicit RenameWindow(const QString &shownPath)
    {
        ++replacingNow;
        if (writingAbandoned.load()) {
            --replacingNow;
            throw writeFailedError(shownPath, QStringLiteral("已停止"), QFileInfo::exists(shownPath));
        }
    }
    RenameWindow(const RenameWindow &) = delete;
    RenameWindow &operator=(const RenameWindow &) = delete;
    ~RenameWindow() { --replacingNow; }

    // Every file of the window has its target's name. Said before the
    // window closes, so that a handler that finds no window open and
    // nothing replaced knows that nothing will be.
    void replaced() { someTargetReplaced.store(true); }
};

} // namespace

void writeFileReplacing(const QString &path, const std::function<void(QIODevice &)> &writeContent)
{
    PreparedFile file(path, writeContent);
    RenameWindow window(path);
    file.giveTargetName();
    window.replaced();
}

void writeBytesReplacing(const QString &path, const QByteArray &bytes)
{
    writeFileReplacing(path, writingAll(bytes));
}

QString fileNameFromPhrase(const QString &phrase)
{
    QString name = phrase;
    for (QChar &unit : name)
        if (unit == u'/' || unit.category() == QChar::Other_Control)
            unit = u'_';
    return name;
}

void writeFilesReplacing(const std::vector<FileContent> &files)
{
    for (const FileContent &file : files)
        refuseIrregularTarget(file.path);

    // Every file is complete before the first takes its name, so that a
    // failure or a stop while writing leaves every old file as it was.
    struct Previous {
        QString path;
        std::optional<QByteArray> bytes; // none: there was no file
    };
    std::vector<Previous> previous;
    std::vector<PreparedFile> prepared;
    prepared.reserve(files.size());
    for (const FileContent &file : files) {
        Previous old{file.path, std::nullopt};
        if (QFileInfo::exists(file.path)) {
            QFile reader(file.path);
            if (!reader.open(QIODevice::ReadOnly))
                throw cannotCreateFileError(file.path, reader.errorString());
            old.bytes = reader.readAll();
        }
        previous.push_back(std::move(old));
        prepared.emplace_back(file.path, writingAll(file.bytes));
    }
    if (prepared.empty())
        return;

    RenameWindow window(prepared.front().path());
    std::size_t renamed = 0;
    try {
        for (; renamed < prepared.size(); ++renamed)
            prepared[renamed].giveTargetName();
    } catch (...) {
        // A name the system refuses shows only now. Putting back is best
        // effort, still inside the window: the failure the user must read
        // is the first one.
        while (renamed > 0) {
            const Previous &old = previous[--renamed];
            try {
                if (old.bytes) {
                    PreparedFile(old.path, writingAll(*old.bytes)).giveTargetName();
                } else {
                    QFile::remove(old.path);
                }
            } catch (...) {
            }
        }
        throw;
    }
    window.replaced();
}

bool abandonFileWriting() noexcept
{
    // Sequentially consistent, against ScratchFile::replace(): either that
    // sees the flag and does not rename, or this sees the count and leaves
    // the file to be completed.
    writingAbandoned.store(true);
    if (replacingNow.load() != 0)
        return false;
    if (signalledScratch.published.load())
        unlinkat(signalledScratch.folder, signalledScratch.name, 0);
    return true;
}

bool anyTargetReplaced() noexcept
{
    return someTargetReplaced.load();
}

void setTemporaryFileListener(TemporaryFileListener listener)
{
    temporaryFileListener.store(listener);
}
