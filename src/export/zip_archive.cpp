#include "export/zip_archive.h"

#include "composition/quillow_error.h"
#include "export/file_output.h"

#include <QSet>

#include <zip.h>

#include <memory>
#include <new>

namespace {

struct ZipSourceDeleter {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};
using ZipSource = std::unique_ptr<zip_source_t, ZipSourceDeleter>;

struct ZipDeleter {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using Zip = std::unique_ptr<zip_t, ZipDeleter>;

QString failure(const char *what, zip_error_t *error)
{
    const QString text = QStringLiteral("无法生成 ZIP 压缩包（%1：%2）")
                             .arg(QLatin1String(what), QString::fromUtf8(zip_error_strerror(error)));
    if (zip_error_code_zip(error) == ZIP_ER_MEMORY)
        throw std::bad_alloc();
    return text;
}

void checkName(const QString &name, QSet<QString> &seen)
{
    bool bad = name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
               name.split(QLatin1Char('/')).contains(QStringLiteral(".."));
    for (const QChar c : name)
        bad = bad || c.category() == QChar::Other_Control;
    if (bad)
        throw QuillowError(QStringLiteral("压缩包里的文件名“%1”不能用").arg(name));
    if (seen.contains(name))
        throw QuillowError(QStringLiteral("压缩包里有两个文件都叫“%1”").arg(name));
    seen.insert(name);
}

// Deflating a PNG or a video again gains nothing and costs time.
bool alreadyCompressed(const QString &name)
{
    static const QStringList suffixes{QStringLiteral(".png"), QStringLiteral(".gif"), QStringLiteral(".webp"),
                                      QStringLiteral(".webm")};
    for (const QString &suffix : suffixes)
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

QByteArray zipArchiveBytes(const std::vector<ZipMember> &members)
{
    QSet<QString> seen;
    for (const ZipMember &member : members)
        checkName(member.name, seen);

    zip_error_t error;
    zip_error_init(&error);
    // The archive is written into a buffer source; libzip keeps it alive
    // after zip_close() only while we hold a reference of our own.
    ZipSource target(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!target)
        throw QuillowError(failure("zip_source_buffer_create", &error));
    Zip archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error));
    if (!archive)
        throw QuillowError(failure("zip_open_from_source", &error));
    zip_source_keep(target.get());

    for (const ZipMember &member : members) {
        // The bytes stay in `members` until zip_close() has read them.
        zip_source_t *source =
            zip_source_buffer(archive.get(), member.bytes.constData(), zip_uint64_t(member.bytes.size()), 0);
        if (!source)
            throw QuillowError(failure("zip_source_buffer", zip_get_error(archive.get())));
        const QByteArray name = member.name.toUtf8();
        const zip_int64_t index = zip_file_add(archive.get(), name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            throw QuillowError(failure("zip_file_add", zip_get_error(archive.get())));
        }
        const zip_int32_t method = alreadyCompressed(member.name) ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        if (zip_set_file_compression(archive.get(), zip_uint64_t(index), method, 9) < 0)
            throw QuillowError(failure("zip_set_file_compression", zip_get_error(archive.get())));
        // A fixed time keeps the same pack the same bytes.
        if (zip_file_set_dostime(archive.get(), zip_uint64_t(index), 0, (1 << 5) | 1, 0) < 0)
            throw QuillowError(failure("zip_file_set_dostime", zip_get_error(archive.get())));
    }
    if (zip_close(archive.get()) < 0)
        throw QuillowError(failure("zip_close", zip_get_error(archive.get())));
    archive.release(); // closed: zip_close() freed it

    if (zip_source_open(target.get()) < 0)
        throw QuillowError(failure("zip_source_open", zip_source_error(target.get())));
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(target.get(), &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE)) {
        zip_source_close(target.get());
        throw QuillowError(failure("zip_source_stat", zip_source_error(target.get())));
    }
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    const zip_int64_t got = zip_source_read(target.get(), bytes.data(), stat.size);
    zip_source_close(target.get());
    if (got != zip_int64_t(stat.size))
        throw QuillowError(failure("zip_source_read", zip_source_error(target.get())));
    return bytes;
}

void writeZipArchive(const QString &path, const std::vector<ZipMember> &members)
{
    writeBytesReplacing(path, zipArchiveBytes(members));
}
