#include "sticker/sticker_format_choice.h"

#include "export/output_format.h"
#include "sticker/sticker_preset.h"

#include <QFileInfo>

namespace {

std::vector<const OutputFileFormat *> formatsNamed(const QStringList &names)
{
    std::vector<const OutputFileFormat *> formats;
    for (const QString &name : names) {
        const OutputFileFormat *format = outputFormatNamed(name);
        Q_ASSERT(format);
        formats.push_back(format);
    }
    return formats;
}

} // namespace

std::vector<const OutputFileFormat *> stickerFormatsOffered(const StickerPreset *preset, bool animated)
{
    if (!preset)
        return formatsNamed(
            animated
                ? QStringList{QStringLiteral("apng"), QStringLiteral("gif"), QStringLiteral("webp")}
                : QStringList{QStringLiteral("png-alpha"), QStringLiteral("gif"), QStringLiteral("webp")});
    if (!animated)
        return formatsNamed(preset->stillFormats);
    if (preset->animatedFormat.isEmpty())
        return {};
    return formatsNamed({preset->animatedFormat});
}

QString stickerFormatLabel(const OutputFileFormat &format)
{
    if (format.name == QLatin1StringView("png-alpha") || format.name == QLatin1StringView("png"))
        return QStringLiteral("PNG");
    if (format.name == QLatin1StringView("webp"))
        return QStringLiteral("WebP");
    return format.name.toString().toUpper();
}

QStringList stickerFormatSuffixes(const OutputFileFormat &format)
{
    QStringList suffixes{format.suffix.toString()};
    // An APNG is a PNG to every program; ".apng" says so to the few that care.
    if (format.name == QLatin1StringView("apng"))
        suffixes << QStringLiteral("apng");
    return suffixes;
}

QString stickerFormatFilter(const OutputFileFormat &format)
{
    QStringList patterns;
    for (const QString &suffix : stickerFormatSuffixes(format))
        patterns << QStringLiteral("*.") + suffix;
    return QStringLiteral("%1 图片 (%2)").arg(stickerFormatLabel(format), patterns.join(QLatin1Char(' ')));
}

StickerFile stickerFileFor(const QString &typedPath, const std::vector<const OutputFileFormat *> &offered,
                           const OutputFileFormat &fallback)
{
    const QString fileName = QFileInfo(typedPath).fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        const QString suffix = fileName.mid(dot + 1);
        for (const OutputFileFormat *format : offered) {
            if (stickerFormatSuffixes(*format).contains(suffix, Qt::CaseInsensitive))
                return {typedPath, format};
        }
    }
    return {typedPath + QLatin1Char('.') + fallback.suffix, &fallback};
}
