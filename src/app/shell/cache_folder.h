#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

class QWidget;

// The folder Quillow keeps the files it hands to other programs in (a
// dragged strip, a copied sticker for programs that take only files): the
// application's cache location, created when missing. Throws QuillowError
// when it cannot be created.
QString cacheFolder();

// Writes `bytes` to a new file in cacheFolder() named after `baseName` (with
// "/" and control characters made "_", and a number added when the name is
// taken) with `suffix`, and returns its absolute path. The file is complete
// before its path is returned. Throws QuillowError on failure.
QString writeCacheFile(const QString &baseName, const QString &suffix, const QByteArray &bytes);

// Removes the regular files in `folder` last changed more than `maxAge` ago;
// the folder itself and anything else in it stay. Returns how many went.
int removeStaleCacheFiles(const QString &folder, std::chrono::seconds maxAge);

// After `window`'s first paint, on the next turn of the event loop, removes
// the cache files older than a day: the files a drop or a paste may still be
// reading are the recent ones, and start-up never waits for the disk.
void removeStaleCacheFilesAfterFirstPaint(QWidget &window);

// `phrase` made fit to name a cache file: fileNameFromPhrase(), and
// "Quillow" when nothing nameable is left.
QString cacheFileStem(const QString &phrase);
