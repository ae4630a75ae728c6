#include "jobs/option_rules.h"

#include "composition/effect_frames.h"
#include "composition/grapheme_clusters.h"
#include "export/output_format.h"
#include "sticker/sticker_format_choice.h"
#include "sticker/sticker_preset.h"

#include <QFile>

#include <climits>

// Whether the system would refuse `path` for its length: a folder or file
// name longer than NAME_MAX bytes, or a whole path of PATH_MAX bytes or more.
// Said first, since any other complaint about such a name (its suffix) would
// send the user after the wrong fault.
namespace {

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

// The format of `job`, given or chosen by the output's suffix and, for
// ".png", by the other options: an animated effect makes an APNG, a look,
// preset or cap an RGBA sticker, and otherwise it is the window's PNG.
const OutputFileFormat *chooseFormat(const JobDraft &draft)
{
    if (draft.format)
        return draft.format;
    const RenderJob &job = draft.job;
    const OutputFileFormat *bySuffix = outputFormatForPath(job.output);
    if (bySuffix && bySuffix->name == QLatin1String("png")) {
        const StickerOptions &sticker = job.sticker;
        if (effectRow(sticker.effect).animates)
            return outputFormatNamed(u"apng");
        if (sticker.preset || sticker.look.outlineWidth > 0 || sticker.look.edgeWidth > 0 ||
            sticker.look.shadow || sticker.maxBytes || draft.rowsGiven || job.tiles)
            return outputFormatNamed(u"png-alpha");
        return bySuffix;
    }
    if (bySuffix)
        return bySuffix;
    throw UsageError(
        QStringLiteral("无法从文件名 %1 判断格式：后缀应为 .png、.apng、.gif、.webp、.webm 或 .bmp，"
                       "或用 --format 指定。")
            .arg(quotedText(job.output)));
}

// Refuses sticker options the chosen format cannot carry, before anything
// is drawn.
void checkFormatTakesOptions(const RenderJob &job)
{
    const StickerOptions &sticker = job.sticker;
    const QString format = job.format->name;
    asUsageError([&] { checkFormatAnimates(*job.format, sticker.effect); });
    const bool whiteGround = job.format->ground == StripGround::White;
    if (whiteGround && (sticker.look.outlineWidth > 0 || sticker.look.edgeWidth > 0 || sticker.look.shadow ||
                        sticker.preset || sticker.maxBytes))
        throw UsageError(QStringLiteral("格式 %1 是窗口保存的白底图片：描边、阴影、预设和大小上限只用于 "
                                        "png-alpha、apng、gif、webp 和 webm。")
                             .arg(format));
    if (sticker.matte && format != QLatin1String("gif"))
        throw UsageError(QStringLiteral("底色（--matte）只用于 GIF，而输出格式是 %1。").arg(format));
    if (sticker.webpQuality >= 0 && format != QLatin1String("webp"))
        throw UsageError(QStringLiteral("质量（--quality）只用于 WebP，而输出格式是 %1。").arg(format));
    // A sticker is drawn at the size its preset or the strip gives; the
    // window's density and screen scale belong to the window's pictures.
    if (isStickerJob(job) && (job.dpi != kDesignDpi || job.scale != 1.0))
        throw UsageError(
            QStringLiteral("--dpi 和 --scale 只用于 png、bmp 和 png-alpha 静态图，而这张是 %1 贴纸。")
                .arg(format));
}

} // namespace

RenderJob finishJob(const JobDraft &draft)
{
    RenderJob job = draft.job;
    if (job.output.isEmpty())
        throw UsageError(
            QStringLiteral("缺少输出文件：命令行用 -o FILE 给出，批处理的行用 \"output\" 给出。"));
    if (nameTooLong(job.output))
        throw UsageError(QStringLiteral("文件名太长：文件或文件夹名最多 %1 字节，整个路径不到 %2 字节。")
                             .arg(NAME_MAX)
                             .arg(PATH_MAX));

    // Only the ends are trimmed, as the window does; the length that counts
    // is what remains, in UTF-16 code units.
    const QString phrase = trimmedCodeUnits(job.settings.text);
    if (phrase.isEmpty())
        throw UsageError(QStringLiteral("短语为空（去掉首尾空白后没有字），没有可画的内容。"));
    if (!hasVisibleCharacter(phrase))
        throw UsageError(
            QStringLiteral("短语为空（只有零宽空格、单独的组合符号这类看不见的字符），没有可画的内容。"));
    if (phrase.size() > kMaxPhraseLength)
        throw UsageError(QStringLiteral("短语太长：去掉首尾空白后有 %1 个 UTF-16 码元，最多 %2 个。")
                             .arg(phrase.size())
                             .arg(kMaxPhraseLength));
    job.settings.text = phrase;
    job.format = chooseFormat(draft);
    checkFormatTakesOptions(job);
    // The window's own pictures are one row; rows are for stickers.
    if (draft.rowsGiven && job.format->ground == StripGround::White)
        throw UsageError(QStringLiteral("格式 %1 是窗口保存的白底图片，只有一行：行数（--rows）只用于 "
                                        "png-alpha、apng、gif、webp 和 webm。")
                             .arg(QString(job.format->name)));
    if (job.tiles) {
        if (job.format->ground == StripGround::White)
            throw UsageError(QStringLiteral("格式 %1 是窗口保存的白底图片：拆成多个表情（--tiles）只用于 "
                                            "png-alpha、apng 和 gif。")
                                 .arg(QString(job.format->name)));
        if (draft.rowsGiven)
            throw UsageError(
                QStringLiteral("--rows 和 --tiles 不能同时使用：拆成多个表情时，字排成 --tiles 的行数。"));
    }
    return job;
}
