#include "jobs/output_names.h"

#include "jobs/render_job.h"
#include "sticker/emoji_names.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_tiles.h"

#include <QFile>
#include <QFileInfo>

#include <QStringList>

#include <climits>
#include <cstdlib>

#include <unistd.h>

namespace {

// Where the first unit of `name` that is not part of a Unicode character
// sits (a high surrogate without its low one, or a low one alone), or -1.
qsizetype loneSurrogateAt(const QString &name)
{
    for (qsizetype at = 0; at < name.size(); ++at) {
        const QChar unit = name.at(at);
        if (unit.isHighSurrogate() && at + 1 < name.size() && name.at(at + 1).isLowSurrogate())
            ++at;
        else if (unit.isSurrogate())
            return at;
    }
    return -1;
}

// The highest tile number `grid` can make.
int highestTileNumber(TileGrid grid)
{
    return grid.automatic() ? kMaxTileColumns : grid.columns * grid.rows;
}

// As many links as the system follows in one path before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

// `folder` with every link and "." or ".." in it resolved, as the system
// will when the file is written; as an absolute path when it does not exist.
QByteArray resolvedFolder(const QByteArray &folder)
{
    char real[PATH_MAX];
    if (realpath(folder.constData(), real))
        return QByteArray(real);
    return QFile::encodeName(QFileInfo(QFile::decodeName(folder)).absoluteFilePath());
}

} // namespace

bool nameTooLong(const QString &path)
{
    const QByteArray local = QFile::encodeName(path);
    if (local.size() >= PATH_MAX)
        return true;
    for (const QByteArray &part : local.split('/')) {
        if (part.size() > NAME_MAX)
            return true;
    }
    return false;
}

QString checkedOutputName(const QString &name)
{
    // Counted in characters as an editor shows them, from 1.
    const auto position = [&name](qsizetype unit) {
        return QStringView(name).left(unit).toUcs4().size() + 1;
    };
    if (const qsizetype nul = name.indexOf(QChar(0)); nul >= 0)
        throw UsageError(QStringLiteral("output"),
                         QStringLiteral("输出文件名的第 %1 个字符是 NUL（\\u0000）：文件名里不能有它，"
                                        "没有写任何文件。")
                             .arg(position(nul)));
    if (const qsizetype lone = loneSurrogateAt(name); lone >= 0)
        throw UsageError(QStringLiteral("output"),
                         QStringLiteral("输出文件名的第 %1 个字符是单独的代理项（\\u%2），不是有效的 "
                                        "Unicode，没有写任何文件。")
                             .arg(position(lone))
                             .arg(name.at(lone).unicode(), 4, 16, QLatin1Char('0')));
    return name;
}

namespace {

// The paths of the tiles of a set of `count`, named as the job's chat names
// its emoji: the base name may depend on the count (a name that fits the
// chat's rule with one digit may not with two). Empty when the job makes
// no tiles its chat names, or its tile name is refused (as finishJob() says).
QStringList tilePaths(const RenderJob &job, int count)
{
    const StickerPreset *preset = job.sticker.preset;
    if (!job.tiles || !preset || !preset->emojiNames)
        return {};
    const EmojiNameRule &rule = *preset->emojiNames;
    QString base;
    try {
        base = tileBaseName(rule, job.tileName, job.output, count);
    } catch (const QuillowError &) {
        return {};
    }
    QStringList paths;
    for (int index = 1; index <= count; ++index)
        paths << tileFilePath(rule, job.output, base, index);
    return paths;
}

// The fewest tiles `grid` can make: a grid of its own size makes exactly
// that many, an automatic one as many as the shout takes.
int fewestTileNumber(TileGrid grid)
{
    return grid.automatic() ? 1 : highestTileNumber(grid);
}

} // namespace

void checkTileNames(const RenderJob &job)
{
    if (!job.tiles)
        return;
    for (int count = fewestTileNumber(*job.tiles); count <= highestTileNumber(*job.tiles); ++count) {
        const QStringList paths = tilePaths(job, count);
        if (paths.isEmpty() || !nameTooLong(paths.last()))
            continue;
        throw UsageError(QStringLiteral("output"),
                         QStringLiteral("文件名太长：拆成的表情写成 %1 这样的文件，而文件或文件夹名最多 %2 "
                                        "字节，整个路径不到 %3 字节。")
                             .arg(QFileInfo(paths.last()).fileName())
                             .arg(NAME_MAX)
                             .arg(PATH_MAX));
    }
}

QStringList outputPaths(const RenderJob &job)
{
    if (!job.tiles)
        return {job.output};
    QStringList paths;
    for (int count = fewestTileNumber(*job.tiles); count <= highestTileNumber(*job.tiles); ++count) {
        for (const QString &path : tilePaths(job, count)) {
            if (!paths.contains(path))
                paths << path;
        }
    }
    return paths;
}

QString fileIdentity(const QString &path)
{
    QByteArray at = QFile::encodeName(path);
    for (int hop = 0;; ++hop) {
        const qsizetype slash = at.lastIndexOf('/');
        const QByteArray folder = resolvedFolder(slash < 0    ? QByteArray(".")
                                                 : slash == 0 ? QByteArray("/")
                                                              : at.left(slash));
        at = folder + (folder.endsWith('/') ? "" : "/") + at.mid(slash + 1);
        char target[PATH_MAX];
        const ssize_t length = hop < kMaxLinkHops ? readlink(at.constData(), target, sizeof target) : -1;
        if (length <= 0)
            return QFile::decodeName(at);
        // A relative target is read from the link's own folder.
        const QByteArray link(target, length);
        at = link.startsWith('/') ? link : folder + '/' + link;
    }
}
