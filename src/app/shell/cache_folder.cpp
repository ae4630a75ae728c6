#include "app/shell/cache_folder.h"

#include "app/shell/startup.h"

#include "composition/quillow_error.h"
#include "export/file_output.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

constexpr std::chrono::hours kCacheFileLifetime{24};

} // namespace

QString cacheFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        throw QuillowError(QStringLiteral("无法创建缓存文件夹“%1”").arg(QDir::toNativeSeparators(folder)));
    return folder;
}

QString cacheFileStem(const QString &phrase)
{
    const QString name = fileNameFromPhrase(phrase);
    if (name.trimmed().isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("Quillow");
    return name;
}

QString writeCacheFile(const QString &baseName, const QString &suffix, const QByteArray &bytes)
{
    const QDir folder(cacheFolder());
    const QString stem = cacheFileStem(baseName);
    QString path = folder.absoluteFilePath(stem + QLatin1Char('.') + suffix);
    // A file of the same name may still be read by the program it was
    // dropped on; a new one never takes its place.
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.absoluteFilePath(QStringLiteral("%1-%2.%3").arg(stem).arg(n).arg(suffix));
    writeBytesReplacing(path, bytes);
    return path;
}

int removeStaleCacheFiles(const QString &folder, std::chrono::seconds maxAge)
{
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addSecs(-maxAge.count());
    int removed = 0;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        if (file.lastModified().toUTC() < oldest && QFile::remove(file.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

void removeStaleCacheFilesAfterFirstPaint(QWidget &window)
{
    runAfterFirstPaint(window, [] {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!folder.isEmpty())
            removeStaleCacheFiles(folder, kCacheFileLifetime);
    });
}
