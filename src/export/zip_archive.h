#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// One member of a ZIP archive: its name inside the archive ("01.png",
// "contents.json") and its bytes.
struct ZipMember {
    QString name;
    QByteArray bytes;
};

// The bytes of a plain ZIP archive holding `members` in the given order,
// made by libzip in memory. Pictures that are already compressed (PNG, GIF,
// WebP, WEBM) are stored as they are; text is deflated. Names are stored as
// UTF-8 and must be unique, relative, free of "..", backslashes and control
// characters. Throws QuillowError with the user's message when a name breaks
// that or libzip fails; std::bad_alloc when memory runs out.
QByteArray zipArchiveBytes(const std::vector<ZipMember> &members);

// Writes zipArchiveBytes(members) to `path` through writeBytesReplacing():
// the archive is complete before it takes the name, or no file is touched.
// Throws as both do.
void writeZipArchive(const QString &path, const std::vector<ZipMember> &members);
