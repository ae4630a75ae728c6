#include "export/alpha_png.h"
#include "export/bmp_writer.h"
#include "export/export_errors.h"
#include "export/file_output.h"
#include "export/png_writer.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

Raster noiseRaster(int width, int height)
{
    QRandomGenerator random(99);
    Raster picture;
    picture.width = width;
    picture.height = height;
    for (int i = 0; i < width * height; ++i)
        picture.pixels.push_back(random.generate() | 0xFF000000);
    return picture;
}

// The raster as an image with alpha, for the PNG that keeps it.
QImage alphaImage(const Raster &picture)
{
    QImage image(picture.width, picture.height, QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            image.setPixel(x, y, picture.pixel(x, y));
    return image;
}

// Writes `picture` in `format` ("bmp", "png" or "png-alpha") to `path`;
// returns the error message, or an empty string on success.
QString save(const QString &format, const Raster &picture, const QString &path)
{
    try {
        if (format == QLatin1String("bmp"))
            writeBmpFile(picture, path);
        else if (format == QLatin1String("png-alpha"))
            writeAlphaPngFile(alphaImage(picture), path);
        else
            writePngFile(reduce(picture), path);
    } catch (const QuillowError &error) {
        return error.message();
    }
    return {};
}

QByteArray encoded(const QString &format, const Raster &picture)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (format == QLatin1String("bmp"))
        writeBmp(picture, buffer);
    else if (format == QLatin1String("png-alpha"))
        writeAlphaPng(alphaImage(picture), buffer);
    else
        writePng(reduce(picture), buffer);
    return buffer.data();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Puts `bytes` in a file at `path`, standing for the user's old file.
bool writeOldFile(const QString &path, const QByteArray &bytes)
{
    QFile old(path);
    return old.open(QIODevice::WriteOnly) && old.write(bytes) == bytes.size();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QString writeFailedMessage(const QString &path, const QString &systemText, bool replacing)
{
    return (replacing ? QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存，原有文件保持不变。")
                      : QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存。"))
        .arg(path, systemText);
}

// Saves in a child process whose file size limit is `limitBytes`, so that
// writing fails the way it does on a full disk (EFBIG instead of ENOSPC)
// without privileges, and the limit dies with the child.
QString saveUnderFileSizeLimit(const QString &format, const Raster &picture, const QString &path,
                               rlim_t limitBytes)
{
    int channel[2];
    if (pipe(channel) != 0)
        return QStringLiteral("<pipe failed>");
    const pid_t child = fork();
    if (child < 0)
        return QStringLiteral("<fork failed>");
    if (child == 0) {
        close(channel[0]);
        const rlimit limit{limitBytes, limitBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        // Without this the kernel kills the process instead of failing write().
        signal(SIGXFSZ, SIG_IGN);
        const QByteArray message = save(format, picture, path).toUtf8();
        const ssize_t sent = write(channel[1], message.constData(), std::size_t(message.size()));
        _exit(sent == message.size() ? 0 : 1);
    }
    close(channel[1]);
    QByteArray message;
    char block[512];
    ssize_t got;
    while ((got = read(channel[0], block, sizeof block)) > 0)
        message.append(block, got);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<child failed>");
    return QString::fromUtf8(message);
}

// What `run` returns, run in a child process, so that what it changes in
// the process (a stop asked for is never taken back) dies with the child;
// -1 when the child fails.
int inChildProcess(const std::function<int()> &run)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(run());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// What abandonFileWriting() answered when the temporary-file listener asked
// for a stop: 1 for true, 2 for false, 0 before it was asked.
std::atomic<int> stopAnswer{0};

void stopOnFirstNamedFile(const QByteArray &)
{
    if (stopAnswer.load() == 0)
        stopAnswer.store(abandonFileWriting() ? 1 : 2);
}

// One row per format the program writes, for the tests that treat them alike.
void everyFormat()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("bmp") << QStringLiteral("bmp");
    QTest::newRow("png") << QStringLiteral("png");
    QTest::newRow("png with alpha") << QStringLiteral("png-alpha");
}

} // namespace

class TestFileOutput : public QObject {
    Q_OBJECT

private slots:
    void replacesExistingFile_data();
    void replacesExistingFile();
    void replacingKeepsModeAndOwner_data();
    void replacingKeepsModeAndOwner();
    void replacedFileIsNewFile();
    void replacesFileOfLongestName_data();
    void replacesFileOfLongestName();
    void cannotCreate_data();
    void cannotCreate();
    void systemReasonsReadInChinese_data();
    void systemReasonsReadInChinese();
    void refusesIrregularTarget_data();
    void refusesIrregularTarget();
    void savesThroughLinkKeepingIt();
    void refusesBrokenLink_data();
    void refusesBrokenLink();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void emptyPictureWritesNothing_data();
    void emptyPictureWritesNothing();
    void setIsWrittenWholeOrPutBack();
    void stoppedSetIsWholeOrUntouched_data();
    void stoppedSetIsWholeOrUntouched();
};

void TestFileOutput::replacesExistingFile_data()
{
    everyFormat();
}

void TestFileOutput::replacesExistingFile()
{
    QFETCH(QString, format);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("大声.") + format);
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(200000, 'x'));
    old.close();

    const Raster picture = noiseRaster(20, 10);
    QCOMPARE(save(format, picture, path), QString());
    QCOMPARE(contents(path), encoded(format, picture));
    QCOMPARE(entries(folder.path()), QStringList{QFileInfo(path).fileName()});
}

void TestFileOutput::replacingKeepsModeAndOwner_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner"); // owned by another user and group: only root may write it
    QTest::newRow("private, bmp") << QStringLiteral("bmp") << 0600 << false;
    QTest::newRow("group-writable, png") << QStringLiteral("png") << 0664 << false;
    QTest::newRow("set-group-ID, png with alpha") << QStringLiteral("png-alpha") << 02640 << false;
    QTest::newRow("read-only, png") << QStringLiteral("png") << 0444 << true;
    QTest::newRow("another owner's, bmp") << QStringLiteral("bmp") << 0644 << true;
}

// A replaced file is a new file, which would get the writer's owner and its
// default mode: a read-only file would become writable, a shared one private
// to root.
void TestFileOutput::replacingKeepsModeAndOwner()
{
    QFETCH(QString, format);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    if (otherOwner && geteuid() != 0)
        QSKIP("only root may write a file that is not its own or is read-only");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("old.") + format);
    QVERIFY(writeOldFile(path, "old"));
    const QByteArray local = QFile::encodeName(path);
    if (otherOwner)
        QCOMPARE(chown(local.constData(), 12345, 23456), 0);
    QCOMPARE(chmod(local.constData(), mode_t(mode)), 0);
    struct stat before {};
    QCOMPARE(stat(local.constData(), &before), 0);

    const Raster picture = noiseRaster(6, 5);
    QCOMPARE(save(format, picture, path), QString());
    QCOMPARE(contents(path), encoded(format, picture));
    struct stat after {};
    QCOMPARE(stat(local.constData(), &after), 0);
    QCOMPARE(after.st_mode & 07777, before.st_mode & 07777);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(entries(folder.path()), QStringList{QFileInfo(path).fileName()});
}

// As with any atomic save, the target's name gets a new file; a second name
// for the old one still shows the old contents.
void TestFileOutput::replacedFileIsNewFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("a.bmp"));
    const QString second = folder.filePath(QStringLiteral("second-name"));
    QVERIFY(writeOldFile(path, "old"));
    QCOMPARE(link(QFile::encodeName(path).constData(), QFile::encodeName(second).constData()), 0);

    const Raster picture = noiseRaster(3, 3);
    QCOMPARE(save(QStringLiteral("bmp"), picture, path), QString());
    QCOMPARE(contents(path), encoded(QStringLiteral("bmp"), picture));
    QCOMPARE(contents(second), QByteArray("old"));
}

void TestFileOutput::replacesFileOfLongestName_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    // NAME_MAX is 255 bytes; the temporary file's name must not grow with
    // the target's.
    const auto ascii = [](int bytes, const char *suffix) {
        return QString(bytes - int(strlen(suffix)), QLatin1Char('x')) + QLatin1String(suffix);
    };
    QTest::newRow("249 bytes, bmp") << QStringLiteral("bmp") << ascii(249, ".bmp");
    QTest::newRow("255 bytes, png") << QStringLiteral("png") << ascii(255, ".png");
    QTest::newRow("255 bytes, png with alpha") << QStringLiteral("png-alpha") << ascii(255, ".png");
    QTest::newRow("253 bytes of Chinese, bmp")
        << QStringLiteral("bmp") << QString(83, QChar(0x558A)) + QStringLiteral(".bmp");
}

void TestFileOutput::replacesFileOfLongestName()
{
    QFETCH(QString, format);
    QFETCH(QString, name);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(name);
    QVERIFY(writeOldFile(path, "old"));

    const Raster picture = noiseRaster(7, 3);
    QCOMPARE(save(format, picture, path), QString());
    QCOMPARE(contents(path), encoded(format, picture));
    QCOMPARE(entries(folder.path()), QStringList{name});
}

void TestFileOutput::cannotCreate_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("reason");
    const QString missing = QStringLiteral("没有这个文件或文件夹。");
    const QString notFolder = QStringLiteral("路径中的一项不是文件夹。");
    QTest::newRow("missing folder, bmp")
        << QStringLiteral("bmp") << QStringLiteral("nowhere/x.bmp") << missing;
    QTest::newRow("missing folder, png")
        << QStringLiteral("png") << QStringLiteral("nowhere/x.png") << missing;
    QTest::newRow("path through a file, bmp")
        << QStringLiteral("bmp") << QStringLiteral("some-file/x.bmp") << notFolder;
    QTest::newRow("path through a file, png")
        << QStringLiteral("png") << QStringLiteral("some-file/x.png") << notFolder;
    // The temporary file has no name until it replaces the target, so the
    // system refuses a name this long only at the very end.
    const QString longName = QString(256, QLatin1Char('x'));
    QTest::newRow("name too long, bmp")
        << QStringLiteral("bmp") << longName + QStringLiteral(".bmp") << QStringLiteral("文件名太长。");
    QTest::newRow("name too long, png")
        << QStringLiteral("png") << longName + QStringLiteral(".png") << QStringLiteral("文件名太长。");
    QTest::newRow("missing folder, png with alpha")
        << QStringLiteral("png-alpha") << QStringLiteral("nowhere/x.png") << missing;
}

void TestFileOutput::cannotCreate()
{
    QFETCH(QString, format);
    QFETCH(QString, relativePath);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile someFile(folder.filePath(QStringLiteral("some-file")));
    QVERIFY(someFile.open(QIODevice::WriteOnly));
    someFile.close();

    const QString path = folder.filePath(relativePath);
    QCOMPARE(save(format, noiseRaster(4, 4), path),
             QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("some-file")});
    QCOMPARE(QFileInfo(someFile).size(), 0);
}

void TestFileOutput::systemReasonsReadInChinese_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cannotCreate");
    QTest::addColumn<QString>("writeFailed");
    const auto row = [](const char *name, int code, const QString &reason) {
        QTest::newRow(name) << code << QStringLiteral("Cannot create file \"/p/x.png\". %1。").arg(reason)
                            << QStringLiteral("写入文件 \"/p/x.png\" 失败：%1。文件未保存。").arg(reason);
    };
    row("no such file or folder", ENOENT, QStringLiteral("没有这个文件或文件夹"));
    row("not a folder", ENOTDIR, QStringLiteral("路径中的一项不是文件夹"));
    row("permission denied", EACCES, QStringLiteral("没有权限"));
    row("read-only file system", EROFS, QStringLiteral("文件系统是只读的"));
    row("no space left", ENOSPC, QStringLiteral("磁盘空间不足"));
    row("name too long", ENAMETOOLONG, QStringLiteral("文件名太长"));
    row("is a folder", EISDIR, QStringLiteral("这是一个文件夹"));
    // A rarer cause keeps the system's own words.
    QTest::newRow("file too large stays as given")
        << int(EFBIG) << QStringLiteral("Cannot create file \"/p/x.png\". %1").arg(qt_error_string(EFBIG))
        << QStringLiteral("写入文件 \"/p/x.png\" 失败：%1。文件未保存。").arg(qt_error_string(EFBIG));
}

void TestFileOutput::systemReasonsReadInChinese()
{
    QFETCH(int, code);
    QFETCH(QString, cannotCreate);
    QFETCH(QString, writeFailed);
    const QString path = QStringLiteral("/p/x.png");
    QCOMPARE(cannotCreateFileError(path, qt_error_string(code)).message(), cannotCreate);
    QCOMPARE(writeFailedError(path, qt_error_string(code), false).message(), writeFailed);
}

void TestFileOutput::refusesIrregularTarget_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("fifo");
    QTest::newRow("folder, bmp") << QStringLiteral("bmp") << false;
    QTest::newRow("folder, png") << QStringLiteral("png") << false;
    QTest::newRow("named pipe, bmp") << QStringLiteral("bmp") << true;
    QTest::newRow("named pipe, png") << QStringLiteral("png") << true;
    QTest::newRow("named pipe, png with alpha") << QStringLiteral("png-alpha") << true;
}

// A rename over a folder fails anyway, but over a pipe or a device node it
// would succeed and destroy the node. The test uses a pipe of its own: it
// never points at a real device.
void TestFileOutput::refusesIrregularTarget()
{
    QFETCH(QString, format);
    QFETCH(bool, fifo);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("target.") + format);
    if (fifo)
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QDir(folder.path()).mkdir(QFileInfo(path).fileName()));

    QCOMPARE(
        save(format, noiseRaster(4, 4), path),
        QStringLiteral("无法保存到 \"%1\"：它不是普通文件（可能是文件夹或设备），未做任何改动。").arg(path));

    struct stat status {};
    QCOMPARE(lstat(QFile::encodeName(path).constData(), &status), 0);
    QVERIFY(fifo ? S_ISFIFO(status.st_mode) : S_ISDIR(status.st_mode));
    QCOMPARE(entries(folder.path()), QStringList{QFileInfo(path).fileName()});
}

void TestFileOutput::savesThroughLinkKeepingIt()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString real = folder.filePath(QStringLiteral("real.png"));
    const QString link = folder.filePath(QStringLiteral("link.png"));
    QVERIFY(writeOldFile(real, "old picture"));
    QVERIFY(QFile::link(QStringLiteral("real.png"), link));

    const Raster picture = noiseRaster(20, 10);
    QCOMPARE(save(QStringLiteral("png"), picture, link), QString());
    QCOMPARE(contents(real), encoded(QStringLiteral("png"), picture));
    QVERIFY(QFileInfo(link).isSymbolicLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), real);
    QCOMPARE(entries(folder.path()), (QStringList{QStringLiteral("link.png"), QStringLiteral("real.png")}));
}

void TestFileOutput::refusesBrokenLink_data()
{
    QTest::addColumn<QStringList>("links"); // name, target, name, target, ...
    QTest::newRow("target missing") << QStringList{"x.png", "missing.png"};
    QTest::newRow("target in a missing folder") << QStringList{"x.png", "nowhere/missing.png"};
    QTest::newRow("loop of two") << QStringList{"x.png", "y.png", "y.png", "x.png"};
    QTest::newRow("link to itself") << QStringList{"x.png", "x.png"};
}

void TestFileOutput::refusesBrokenLink()
{
    QFETCH(QStringList, links);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QStringList names;
    for (qsizetype i = 0; i + 1 < links.size(); i += 2) {
        QVERIFY(QFile::link(links[i + 1], folder.filePath(links[i])));
        names.append(links[i]);
    }
    names.sort();
    const QString path = folder.filePath(QStringLiteral("x.png"));

    QCOMPARE(
        save(QStringLiteral("png"), noiseRaster(4, 4), path),
        QStringLiteral("无法保存到 \"%1\"：它是一个符号链接，指向的文件不存在或链接绕成了圈，未做任何改动。")
            .arg(path));
    QCOMPARE(entries(folder.path()), names);
    for (const QString &name : names)
        QVERIFY(QFileInfo(folder.filePath(name)).isSymbolicLink());
}

void TestFileOutput::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<qint64>("limitBytes");
    QTest::addColumn<bool>("replacing");
    // Noise of 300 x 300 is about 270 KB as BMP and 90 KB as PNG: the limit
    // is hit by a write too large for the device's buffer.
    QTest::newRow("bmp, large, replacing") << "bmp" << QSize(300, 300) << qint64(64 * 1024) << true;
    QTest::newRow("png, large, replacing") << "png" << QSize(300, 300) << qint64(64 * 1024) << true;
    // About 3 KB: every write is smaller than a buffer, so nothing reaches
    // the disk before the file is finished.
    QTest::newRow("png, few KB, replacing") << "png" << QSize(40, 40) << qint64(1024) << true;
    QTest::newRow("png, few KB, new file") << "png" << QSize(40, 40) << qint64(1024) << false;
    // 512 rows of 2048 bytes make one full 1 MiB block; the last 4 rows are a
    // short block of 8 KB, the only part the limit refuses.
    QTest::newRow("bmp, short last block, replacing")
        << "bmp" << QSize(512, 516) << qint64(1024 * 1024 + 1024) << true;
    QTest::newRow("bmp, short last block, new file")
        << "bmp" << QSize(512, 516) << qint64(1024 * 1024 + 1024) << false;
    QTest::newRow("png, refused at the first byte, new file") << "png" << QSize(40, 40) << qint64(0) << false;
    QTest::newRow("png with alpha, large, replacing")
        << "png-alpha" << QSize(300, 300) << qint64(64 * 1024) << true;
}

// Every failure, wherever it strikes, leaves the folder as it was: the old
// file with all its bytes and its inode, or no file at all.
void TestFileOutput::failedWriteKeepsOldFile()
{
    QFETCH(QString, format);
    QFETCH(QSize, pictureSize);
    QFETCH(qint64, limitBytes);
    QFETCH(bool, replacing);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("old.") + format);
    const QByteArray oldBytes = QByteArray("the picture saved last time ").repeated(100);
    struct stat before {};
    if (replacing) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(oldBytes);
        old.close();
        QCOMPARE(stat(QFile::encodeName(path).constData(), &before), 0);
    }

    const Raster picture = noiseRaster(pictureSize.width(), pictureSize.height());
    QVERIFY(encoded(format, picture).size() > limitBytes);
    const QString message = saveUnderFileSizeLimit(format, picture, path, rlim_t(limitBytes));

    QCOMPARE(message, writeFailedMessage(path, qt_error_string(EFBIG), replacing));
    if (replacing) {
        QCOMPARE(contents(path), oldBytes);
        struct stat after {};
        QCOMPARE(stat(QFile::encodeName(path).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(entries(folder.path()), QStringList{QFileInfo(path).fileName()});
    } else {
        QCOMPARE(entries(folder.path()), QStringList());
    }
}

void TestFileOutput::emptyPictureWritesNothing_data()
{
    everyFormat();
}

void TestFileOutput::emptyPictureWritesNothing()
{
    QFETCH(QString, format);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Raster empty;
    empty.height = 147;
    QCOMPARE(save(format, empty, folder.filePath(QStringLiteral("x.") + format)),
             QStringLiteral("图片为空（宽度或高度为 0），无法保存。"));
    QCOMPARE(entries(folder.path()), QStringList());
}

void TestFileOutput::setIsWrittenWholeOrPutBack()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString kept = folder.filePath(QStringLiteral("tile-1.gif"));
    const QString fresh = folder.filePath(QStringLiteral("tile-2.gif"));
    QFile old(kept);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the emoji posted last week");
    old.close();

    // The third file's folder is missing, which shows only when it is
    // created: the two before it are written by then and must be put back.
    const std::vector<FileContent> broken{
        {kept, "new 1"}, {fresh, "new 2"}, {folder.filePath(QStringLiteral("gone/tile-3.gif")), "new 3"}};
    QVERIFY_THROWS_EXCEPTION(QuillowError, writeFilesReplacing(broken));
    QCOMPARE(contents(kept), QByteArray("the emoji posted last week"));
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("tile-1.gif")});

    const std::vector<FileContent> whole{{kept, "new 1"}, {fresh, "new 2"}};
    writeFilesReplacing(whole);
    QCOMPARE(contents(kept), QByteArray("new 1"));
    QCOMPARE(contents(fresh), QByteArray("new 2"));
}

void TestFileOutput::stoppedSetIsWholeOrUntouched_data()
{
    QTest::addColumn<bool>("beforeWriting");
    QTest::newRow("stop before the set is written") << true;
    // A file without a name gets one only as it is renamed; with a named
    // temporary file the stop comes while the set is still being written.
    QTest::newRow("stop as the first file gets a name") << false;
}

// A signal handler that stops while tiles are written must find either
// every tile complete or every old file untouched, never the first few new.
void TestFileOutput::stoppedSetIsWholeOrUntouched()
{
    QFETCH(bool, beforeWriting);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QStringList names{QStringLiteral("tile-1.png"), QStringLiteral("tile-2.png"),
                            QStringLiteral("tile-3.png")};
    QVERIFY(writeOldFile(folder.filePath(names[1]), "old 2"));
    std::vector<FileContent> set;
    for (const QString &name : names)
        set.push_back({folder.filePath(name), "new " + name.toUtf8()});

    const int outcome = inChildProcess([&] {
        if (beforeWriting)
            stopAnswer.store(abandonFileWriting() ? 1 : 2);
        else
            setTemporaryFileListener(stopOnFirstNamedFile);
        try {
            writeFilesReplacing(set);
        } catch (const QuillowError &) {
            return 10 + stopAnswer.load();
        }
        return 20 + stopAnswer.load();
    });
    if (outcome == 22) {
        // The stop came while the set was taking its names: it finished.
        for (const FileContent &file : set)
            QCOMPARE(contents(file.path), file.bytes);
    } else {
        // The stop came first: nothing was renamed, nothing is left behind.
        QCOMPARE(outcome, 11);
        QCOMPARE(contents(folder.filePath(names[1])), QByteArray("old 2"));
        QCOMPARE(entries(folder.path()), QStringList{names[1]});
    }
}

QTEST_GUILESS_MAIN(TestFileOutput)
#include "tst_file_output.moc"
