#include "sticker/sticker_format_choice.h"

#include "composition/quillow_error.h"
#include "export/output_format.h"
#include "sticker/sticker_preset.h"

#include <QFileInfo>

#include <algorithm>

std::vector<const OutputFileFormat *> stickerFormatsOffered(const StickerPreset *preset, bool animated)
{
    if (preset)
        return preset->kind(animated).formats;
    if (animated)
        return {outputFormatNamed(u"apng"), outputFormatNamed(u"gif"), outputFormatNamed(u"webp")};
    return {outputFormatNamed(u"png-alpha"), outputFormatNamed(u"gif"), outputFormatNamed(u"webp")};
}

void checkFormatAnimates(const OutputFileFormat &format, Effect effect)
{
    if (effectRow(effect).animates && !format.animated)
        throw QuillowError(QStringLiteral("格式 %1 是静态图，不能做动画效果 %2：请用 apng、gif 或 webp。")
                               .arg(QString(format.name), effectName(effect)));
}

StickerFormatChoice chooseStickerFormat(const StickerPreset *preset, Effect effect,
                                        const OutputFileFormat *asked, std::optional<qint64> maxBytes)
{
    if (asked) {
        checkFormatAnimates(*asked, effect);
        // The window's white-ground pictures are written by their own writers.
        if (asked->ground != StripGround::Transparent)
            throw QuillowError(QStringLiteral("未知的贴纸格式“%1”").arg(QString(asked->name)));
    }
    const bool animated = effectRow(effect).animates;
    StickerFormatChoice choice;
    choice.cap = maxBytes;
    if (!preset) {
        choice.format = asked ? asked : stickerFormatsOffered(nullptr, animated).front();
        return choice;
    }
    const StickerKind &kind = preset->kind(animated);
    if (kind.formats.empty())
        throw QuillowError(preset->animatedRefusal);
    if (asked && std::find(kind.formats.begin(), kind.formats.end(), asked) == kind.formats.end()) {
        QStringList names;
        for (const OutputFileFormat *format : kind.formats)
            names << stickerFormatLabel(*format);
        throw QuillowError(QStringLiteral("%1%2只接受 %3 格式")
                               .arg(preset->label, animated ? QStringLiteral("的动画") : QString(),
                                    names.join(QStringLiteral("、"))));
    }
    choice.format = asked ? asked : kind.formats.front();
    choice.kind = &kind;
    choice.cap = std::min(kind.capBytes, maxBytes.value_or(kind.capBytes));
    return choice;
}

QString stickerCapMessage(const StickerPreset *preset, const StickerFormatChoice &choice)
{
    Q_ASSERT(choice.cap);
    const qint64 cap = *choice.cap;
    if (preset && choice.kind && choice.kind->capBytes == cap)
        return QStringLiteral("贴纸无法压缩到%1的上限 %2（%3 字节）以内，请减少字数或去掉效果")
            .arg(preset->label, choice.kind->capText)
            .arg(cap);
    return QStringLiteral("贴纸无法压缩到 %1 字节以内，请减少字数或去掉效果").arg(cap);
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
