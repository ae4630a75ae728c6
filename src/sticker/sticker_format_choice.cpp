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
    std::vector<const OutputFileFormat *> offered;
    for (const OutputFileFormat &format : outputFileFormats()) {
        if (isStickerFormat(format) && (animated ? format.animated : format.stickerStill))
            offered.push_back(&format);
    }
    return offered;
}

namespace {

bool isAnimatedStickerFormat(const OutputFileFormat &format)
{
    return isStickerFormat(format) && format.animated;
}

// The preset's refusal of `asked`, listing what it takes instead.
QuillowError notTakenBy(const StickerPreset &preset, const StickerKind &kind, bool animated)
{
    QStringList names;
    for (const OutputFileFormat *format : kind.formats)
        names << format->label.toString();
    return QuillowError(QStringLiteral("%1%2只接受 %3 格式")
                            .arg(preset.label, animated ? QStringLiteral("的动画") : QString(),
                                 names.join(QStringLiteral("、"))));
}

} // namespace

void checkFormatAnimates(const OutputFileFormat &format, Effect effect)
{
    if (effectRow(effect).animates && !format.animated)
        throw QuillowError(QStringLiteral("格式 %1 是静态图，不能做动画效果 %2：请用 %3。")
                               .arg(QString(format.name), effectName(effect),
                                    formatList(isAnimatedStickerFormat, false, ListJoin::Or)));
}

const OutputFileFormat &defaultStickerFormat(const StickerPreset *preset, Effect effect,
                                             QStringView typedSuffix)
{
    const bool animated = effectRow(effect).animates;
    if (preset && preset->kind(animated).formats.empty())
        throw QuillowError(preset->animatedRefusal);
    const std::vector<const OutputFileFormat *> offered = stickerFormatsOffered(preset, animated);
    Q_ASSERT(!offered.empty());
    if (typedSuffix.isEmpty())
        return *offered.front();
    for (const OutputFileFormat *format : offered) {
        if (formatSuffixes(*format).contains(typedSuffix, Qt::CaseInsensitive))
            return *format;
    }
    if (preset)
        throw notTakenBy(*preset, preset->kind(animated), animated);
    throw QuillowError(
        QStringLiteral("后缀 .%1 不是贴纸的格式：请用 %2")
            .arg(typedSuffix, formatList(animated ? isAnimatedStickerFormat : isStickerFormat)));
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
    if (asked && std::find(kind.formats.begin(), kind.formats.end(), asked) == kind.formats.end())
        throw notTakenBy(*preset, kind, animated);
    choice.format = asked ? asked : kind.formats.front();
    choice.kind = &kind;
    choice.cap = std::min(kind.cap.bytes(), maxBytes.value_or(kind.cap.bytes()));
    return choice;
}

QString stickerCapMessage(const StickerPreset *preset, const StickerFormatChoice &choice)
{
    Q_ASSERT(choice.cap);
    const qint64 cap = *choice.cap;
    if (preset && choice.kind && choice.kind->cap.bytes() == cap)
        return QStringLiteral("贴纸无法压缩到%1的上限 %2（%3 字节）以内，请减少字数或去掉效果")
            .arg(preset->label, choice.kind->cap.text())
            .arg(cap);
    return QStringLiteral("贴纸无法压缩到 %1 字节以内，请减少字数或去掉效果").arg(cap);
}

QString stickerFormatLabel(const OutputFileFormat &format)
{
    return format.label.toString();
}

QString stickerFormatFilter(const OutputFileFormat &format)
{
    QStringList patterns;
    for (const QString &suffix : formatSuffixes(format))
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
            if (formatSuffixes(*format).contains(suffix, Qt::CaseInsensitive))
                return {typedPath, format};
        }
    }
    return {typedPath + QLatin1Char('.') + fallback.suffix, &fallback};
}
