#include "jobs/option_rules.h"

#include "composition/effect_frames.h"
#include "composition/grapheme_clusters.h"
#include "export/output_format.h"
#include "jobs/output_names.h"
#include "sticker/emoji_names.h"
#include "sticker/sticker_format_choice.h"
#include "sticker/sticker_preset.h"

#include <QFile>

#include <climits>

namespace {

// Whether some sticker format is saved with `suffix`: a window's picture
// of that suffix (".png") becomes such a sticker when the options ask for one.
bool takesMatte(const OutputFileFormat &format)
{
    return format.takesMatte;
}

bool takesQuality(const OutputFileFormat &format)
{
    return format.shrinking == Shrinking::Quality;
}

bool stickerFormatCarries(QStringView suffix)
{
    for (const OutputFileFormat &format : outputFileFormats()) {
        if (isStickerFormat(format) && formatSuffixes(format).contains(suffix, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString suffixList()
{
    QStringList suffixes;
    for (const OutputFileFormat &format : outputFileFormats()) {
        if (!format.ownSuffix.isEmpty())
            suffixes << QStringLiteral(".") + format.ownSuffix;
    }
    return chineseList(suffixes, ListJoin::Or);
}

// The format of `job`: given, or chosen by the output's suffix; when the
// options ask for a sticker (an animated effect, a look, a preset, a cap,
// rows or tiles) the sticker rule chooses among the formats of that suffix,
// or, where the output names no format at all, among all the preset takes.
// Otherwise it is the window's own picture.
const OutputFileFormat *chooseFormat(const JobDraft &draft)
{
    if (draft.format)
        return draft.format;
    const RenderJob &job = draft.job;
    const StickerOptions &sticker = job.sticker;
    const OutputFileFormat *bySuffix = outputFormatForPath(job.output);
    const QStringView suffix = pathSuffix(job.output);
    const bool asksForSticker = effectRow(sticker.effect).animates || stickerLookOrRulesGiven(sticker) ||
                                draft.rowsGiven || job.tiles.has_value();
    const bool stickerBySuffix =
        bySuffix && bySuffix->ground == StripGround::White && stickerFormatCarries(suffix);
    if (asksForSticker && (stickerBySuffix || (!bySuffix && draft.formatByOptions)))
        return asUsageError(QStringLiteral("format"), [&] {
            return &defaultStickerFormat(sticker.preset, sticker.effect, bySuffix ? suffix : QStringView());
        });
    if (bySuffix)
        return bySuffix;
    if (draft.formatByOptions)
        return RenderJob().format;
    throw UsageError(QStringLiteral("output"),
                     QStringLiteral("无法从文件名 %1 判断格式：后缀应为 %2，或用 --format 指定。")
                         .arg(quotedText(job.output), suffixList()));
}

// Refuses sticker options the chosen format cannot carry, before anything
// is drawn.
void checkFormatTakesOptions(const RenderJob &job)
{
    const StickerOptions &sticker = job.sticker;
    const QString format = job.format->name;
    asUsageError(QStringLiteral("format"), [&] { checkFormatAnimates(*job.format, sticker.effect); });
    const bool whiteGround = job.format->ground == StripGround::White;
    if (whiteGround && stickerLookOrRulesGiven(sticker))
        throw UsageError(QStringLiteral("format"),
                         QStringLiteral("格式 %1 是窗口保存的白底图片：描边、阴影、预设和大小上限只用于 %2。")
                             .arg(format, formatList(isStickerFormat)));
    if (sticker.matte && !job.format->takesMatte)
        throw UsageError(QStringLiteral("matte"),
                         QStringLiteral("底色（--matte）只用于 %1，而输出格式是 %2。")
                             .arg(formatList(takesMatte, true), format));
    if (sticker.webpQuality >= 0 && job.format->shrinking != Shrinking::Quality)
        throw UsageError(QStringLiteral("quality"),
                         QStringLiteral("质量（--quality）只用于 %1，而输出格式是 %2。")
                             .arg(formatList(takesQuality, true), format));
    // A sticker is drawn at the size its preset or the strip gives; the
    // window's density and screen scale belong to the window's pictures.
    if (needsStickerMaker(job) && (job.dpi != kDesignDpi || job.scale != 1.0))
        throw UsageError(job.dpi != kDesignDpi ? QStringLiteral("dpi") : QStringLiteral("scale"),
                         QStringLiteral("--dpi 和 --scale 只用于 %1 静态图，而这张是 %2 贴纸。")
                             .arg(formatList(isStillFormat), format));
}

} // namespace

RenderJob finishJob(const JobDraft &draft)
{
    RenderJob job = draft.job;
    if (job.output.isEmpty())
        throw UsageError(
            QStringLiteral("output"),
            QStringLiteral("缺少输出文件：命令行用 -o FILE 给出，批处理的行用 \"output\" 给出。"));
    if (nameTooLong(job.output))
        throw UsageError(QStringLiteral("output"),
                         QStringLiteral("文件名太长：文件或文件夹名最多 %1 字节，整个路径不到 %2 字节。")
                             .arg(NAME_MAX)
                             .arg(PATH_MAX));

    // Only the ends are trimmed, as the window does; the length that counts
    // is what remains, in UTF-16 code units.
    const QString phrase = trimmedCodeUnits(job.settings.text);
    if (phrase.isEmpty())
        throw UsageError(QStringLiteral("phrase"),
                         QStringLiteral("短语为空（去掉首尾空白后没有字），没有可画的内容。"));
    if (!hasVisibleCharacter(phrase))
        throw UsageError(
            QStringLiteral("phrase"),
            QStringLiteral("短语为空（只有零宽空格、单独的组合符号这类看不见的字符），没有可画的内容。"));
    if (phrase.size() > kMaxPhraseLength)
        throw UsageError(QStringLiteral("phrase"),
                         QStringLiteral("短语太长：去掉首尾空白后有 %1 个 UTF-16 码元，最多 %2 个。")
                             .arg(phrase.size())
                             .arg(kMaxPhraseLength));
    job.settings.text = phrase;
    job.format = chooseFormat(draft);
    checkFormatTakesOptions(job);
    // What the preset takes is known before anything is drawn: a format it
    // does not take is the format's fault, not the drawing's.
    if (needsStickerMaker(job))
        asUsageError(QStringLiteral("format"), [&] {
            return chooseStickerFormat(job.sticker.preset, job.sticker.effect, job.format,
                                       job.sticker.maxBytes);
        });
    // The window's own pictures are one row; rows are for stickers.
    if (draft.rowsGiven && job.format->ground == StripGround::White)
        throw UsageError(QStringLiteral("rows"),
                         QStringLiteral("格式 %1 是窗口保存的白底图片，只有一行：行数（--rows）只用于 %2。")
                             .arg(QString(job.format->name), formatList(isStickerFormat)));
    if (job.tiles) {
        if (job.format->ground == StripGround::White)
            throw UsageError(
                QStringLiteral("tiles"),
                QStringLiteral("格式 %1 是窗口保存的白底图片：拆成多个表情（--tiles）只用于 %2。")
                    .arg(QString(job.format->name), formatList(isStickerFormat)));
        if (const StickerPreset *preset = job.sticker.preset;
            preset && preset->emojiNames && !job.tileName.isEmpty())
            asUsageError(QStringLiteral("tile-name"),
                         [&] { return tileBaseName(*preset->emojiNames, job.tileName, job.output, 1); });
        if (draft.rowsGiven)
            throw UsageError(
                QStringLiteral("rows"),
                QStringLiteral("--rows 和 --tiles 不能同时使用：拆成多个表情时，字排成 --tiles 的行数。"));
    }
    // Said before anything is drawn: a name too long only with its tile
    // number would otherwise fail at the first tile's write.
    checkTileNames(job);
    if (!job.tileName.isEmpty() && !job.tiles)
        throw UsageError(QStringLiteral("tile-name"),
                         QStringLiteral("表情名（--tile-name）只用于拆成多个表情（--tiles）。"));
    return job;
}
