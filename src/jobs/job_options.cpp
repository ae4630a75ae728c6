#include "jobs/job_options.h"
#include "jobs/option_text.h"
#include "jobs/output_names.h"

#include "composition/effect_frames.h"
#include "composition/grapheme_clusters.h"
#include "composition/sticker_look.h"
#include "export/output_format.h"
#include "sticker/sticker_format_choice.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_rows.h"
#include "sticker/sticker_tiles.h"

#include <QCommandLineParser>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr double kMinDpi = 1.0;
constexpr double kMaxDpi = 1200.0; // 110 points are then 1833 pixels high
constexpr double kMinScale = 0.25;
constexpr double kMaxScale = 8.0;
constexpr int kMaxQuality = 100;
constexpr qint64 kMaxCapBytes = qint64(1) << 30; // far above any chat's limit

const QString kUsageLine = QStringLiteral("用法：quillow-render [选项] -o FILE 短语\n"
                                          "      quillow-render [选项] --batch FILE|-");

QString quoted(const QString &value)
{
    return QStringLiteral("“%1”").arg(value);
}

QStringList presetNames()
{
    QStringList names;
    for (const StickerPreset &preset : stickerPresets())
        names << preset.name;
    return names;
}

QString presetLabels()
{
    QStringList labels;
    for (const StickerPreset &preset : stickerPresets())
        labels << preset.label;
    return labels.join(QStringLiteral("、"));
}

QStringList lookNames()
{
    QStringList names;
    for (const NamedStickerLook &look : namedStickerLooks())
        names << look.name;
    return names;
}

QStringList formatNames()
{
    QStringList names;
    for (const OutputFileFormat &format : outputFileFormats())
        names << QString(format.name);
    return names;
}

// The value name of an option whose values are the names of one of the
// program's tables, so that a new row shows in the help without a word here.
const char kTableValues[] = "";

QString tableValues(const QString &option)
{
    if (option == QLatin1String("format"))
        return formatNames().join(u'|');
    if (option == QLatin1String("effect"))
        return effectNames().join(u'|');
    if (option == QLatin1String("preset"))
        return presetNames().join(u'|');
    if (option == QLatin1String("look"))
        return lookNames().join(u'|');
    return QString();
}

// The one of `names` that `value` is (case and surrounding spaces ignored).
QString choice(const QString &option, const QString &what, const QString &value, const QStringList &names)
{
    const QString wanted = value.trimmed().toLower();
    if (!names.contains(wanted))
        throw UsageError(QStringLiteral("%1（--%2）只能是 %3，而不是 %4。")
                             .arg(what, option, names.join(QStringLiteral("、")), quoted(value)));
    return wanted;
}

// choice() for the enumerations the settings keep 1-based.
template <typename Enum>
Enum settingChoice(const QString &option, const QString &what, const QString &value, const QStringList &names)
{
    return Enum(names.indexOf(choice(option, what, value, names)) + 1);
}

ColourValue colour(const QString &option, const QString &what, const QString &value)
{
    static const QRegularExpression hexColour(
        QStringLiteral("^#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})$"));
    const auto match = hexColour.match(value.trimmed());
    if (!match.hasMatch())
        throw UsageError(QStringLiteral("%1（--%2）必须写成 #RRGGBB（如 #FF8000），而不是 %3。")
                             .arg(what, option, quoted(value)));
    return colourValue(match.captured(1).toInt(nullptr, 16), match.captured(2).toInt(nullptr, 16),
                       match.captured(3).toInt(nullptr, 16));
}

// A finite number from `low` to `high`.
double boundedNumber(const QString &option, const QString &what, const QString &value, double low,
                     double high)
{
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < low || number > high)
        throw UsageError(QStringLiteral("%1（--%2）必须是 %3 到 %4 之间的数，而不是 %5。")
                             .arg(what, option)
                             .arg(low)
                             .arg(high)
                             .arg(quoted(value)));
    return number;
}

UsageError notIntegerInRange(const QString &option, const QString &what, const QString &value, qint64 low,
                             qint64 high)
{
    return UsageError(QStringLiteral("%1（--%2）必须是 %3 到 %4 之间的整数，而不是 %5。")
                          .arg(what, option)
                          .arg(low)
                          .arg(high)
                          .arg(quoted(value)));
}

// A whole number from `low` to `high`.
qint64 boundedInteger(const QString &option, const QString &what, const QString &value, qint64 low,
                      qint64 high)
{
    bool ok = false;
    const qint64 number = value.trimmed().toLongLong(&ok);
    if (!ok || number < low || number > high)
        throw notIntegerInRange(option, what, value, low, high);
    return number;
}

// A byte count exactly as typed, digits only: a cap is a promise about the
// file, so " 5000" or "+5000" is refused rather than guessed at.
qint64 byteCount(const QString &option, const QString &what, const QString &value, qint64 high)
{
    const bool digitsOnly = !value.isEmpty() && std::all_of(value.begin(), value.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!digitsOnly)
        throw notIntegerInRange(option, what, value, 1, high);
    return boundedInteger(option, what, value, 1, high);
}

// The sticker look's own readers, their refusals as the command's.
template <typename Parse> auto asUsage(Parse parse)
{
    try {
        return parse();
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        throw UsageError(error.message());
    }
}

QString optionAndName(const char *what, const QString &option)
{
    return QStringLiteral("%1（--%2）").arg(QString::fromUtf8(what), option);
}

[[noreturn]] void rejectUnknown(const QString &name)
{
    throw UsageError(QStringLiteral("未知选项：%1。").arg(quoted(name)));
}

using ValueSetter = void (*)(JobDraft &draft, const QString &option, const QString &value);
using FlagSetter = void (*)(JobDraft &draft, bool on);

// Every option: its long name (also its batch field), the short name if
// any, the value's placeholder (none for a flag), the help line, and what
// it sets. Parsing, the help and batch lines all read this one table.
struct OptionRow {
    const char *name;
    const char *shortName;
    const char *valueName; // nullptr: a flag
    const char *help;
    ValueSetter setValue; // for an option with a value
    FlagSetter setFlag;   // for a flag
};

// clang-format off
const OptionRow kOptions[] = {
    {"output", "o", "FILE",
     "输出文件；格式由后缀决定：.png、.bmp、.apng（动画 PNG）、.gif、.webp、.webm（视频）",
     [](JobDraft &draft, const QString &, const QString &value) { draft.job.output = value; }, nullptr},
    {"format", nullptr, kTableValues,
     "输出格式：png 为窗口保存的索引 PNG（白色透明），bmp 为位图，png-alpha 为透明背景、边缘柔和的 RGBA PNG，"
     "apng、gif、webp 为动图（也可做静态贴纸），webm 为带透明的 VP9 视频（30 帧/秒，最长 3 秒）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         const QString name = choice(option, QStringLiteral("格式"), value, formatNames());
         draft.format = outputFormatNamed(name);
     }, nullptr},
    {"face", nullptr, "NAME", "字体名称（默认“微软雅黑”；未安装或不能写简体中文时按同一规则换用中文字体）",
     [](JobDraft &draft, const QString &, const QString &value) { draft.job.settings.faceName = value; },
     nullptr},
    {"halign", nullptr, "left|centre|right", "横对齐（默认 left）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.horzAlign = settingChoice<HorzAlign>(option, QStringLiteral("横对齐"), value,
                                                                 {"left", "centre", "right"});
     }, nullptr},
    {"valign", nullptr, "top|middle|bottom", "纵对齐（默认 top）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.vertAlign = settingChoice<VertAlign>(option, QStringLiteral("纵对齐"), value,
                                                                 {"top", "middle", "bottom"});
     }, nullptr},
    {"spacing", nullptr, "0..36", "每个字格额外的间隔，像素（默认 0）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.spacing =
             int(boundedInteger(option, QStringLiteral("间隔"), value, kMinSpacing, kMaxSpacing));
     }, nullptr},
    {"colours", nullptr, "random|gradient|default", "颜色：随机、渐变或默认文字颜色（默认 random）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.colourMode = settingChoice<ColourMode>(option, QStringLiteral("颜色"), value,
                                                                   {"random", "gradient", "default"});
     }, nullptr},
    {"start", nullptr, "#RRGGBB", "渐变的起始色（默认 #0000FF）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.startColour = colour(option, QStringLiteral("起始色"), value);
     }, nullptr},
    {"end", nullptr, "#RRGGBB", "渐变的终止色（默认 #FF0000）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.settings.endColour = colour(option, QStringLiteral("终止色"), value);
     }, nullptr},
    {"seed", nullptr, "N",
     "随机颜色和抖动的种子（0..4294967295），同一种子得到同样的颜色和抖动；不给则按时钟取种子",
     [](JobDraft &draft, const QString &, const QString &value) {
         bool ok = false;
         const qulonglong seed = value.trimmed().toULongLong(&ok);
         if (!ok || seed > std::numeric_limits<std::uint32_t>::max())
             throw UsageError(QStringLiteral("种子（--seed）必须是 0 到 4294967295 之间的整数，而不是 %1。")
                                  .arg(quoted(value)));
         draft.job.seed = std::uint32_t(seed);
     }, nullptr},
    {"dpi", nullptr, "N", "磅转像素所用的每英寸点数（默认 96；只用于 png、bmp 和 png-alpha 静态图）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.dpi = boundedNumber(option, QStringLiteral("每英寸点数"), value, kMinDpi, kMaxDpi);
     }, nullptr},
    {"scale", nullptr, "F",
     "设备像素比（默认 1）：与窗口在缩放为 F 的屏幕上保存的文件逐字节相同（只用于 png、bmp 和 png-alpha 静态图）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.scale = boundedNumber(option, QStringLiteral("设备像素比"), value, kMinScale, kMaxScale);
     }, nullptr},
    {"effect", nullptr, kTableValues,
     "动画效果（默认 still）：reveal 逐字出现，shake 整体抖动，reveal-shake 先逐字出现再抖动；"
     "动画写成 APNG、GIF、WebP 或 WEBM 视频",
     [](JobDraft &draft, const QString &, const QString &value) {
         draft.job.sticker.effect = asUsage([&value] { return effectFromName(value); });
     }, nullptr},
    {"frame-ms", nullptr, "10..10000", "逐字出现时每一帧的时长，毫秒（默认 120）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.timing.frameMs =
             int(boundedInteger(option, QStringLiteral("每帧时长"), value, kMinFrameMs, kMaxFrameMs));
     }, nullptr},
    {"hold-ms", nullptr, "0..60000", "整句出现后停留的时长，毫秒（默认 1500）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.timing.holdMs =
             int(boundedInteger(option, QStringLiteral("停留时长"), value, 0, kMaxHoldMs));
     }, nullptr},
    {"matte", nullptr, "#RRGGBB",
     "GIF 的底色：柔和的边缘先与这个颜色混合（如聊天的深色或浅色主题）；不给则按透明度 50% 取舍",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.matte =
             asUsage([&] { return parseStickerColour(value, false, optionAndName("底色", option)); });
     }, nullptr},
    {"quality", nullptr, "0..100", "WebP 有损压缩的质量；不给则无损",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.webpQuality =
             int(boundedInteger(option, QStringLiteral("质量"), value, 0, kMaxQuality));
     }, nullptr},
    {"look", nullptr, kTableValues,
     "贴纸的外观（默认 plain，不描边）：readable 为白色描边外加深色细边，浅色和深色的聊天背景上都看得清；"
     "同时给出的 --outline、--outline-colour、--outline-edge 各改其中一项",
     [](JobDraft &draft, const QString &option, const QString &value) {
         const StickerLook &look = stickerLookNamed(choice(option, QStringLiteral("外观"), value, lookNames()));
         draft.job.sticker.look.outlineWidth = look.outlineWidth;
         draft.job.sticker.look.outlineColour = look.outlineColour;
         draft.job.sticker.look.edgeWidth = look.edgeWidth;
     }, nullptr},
    {"outline", nullptr, "0..12", "每个字外围描边的宽度，像素（默认 0，不描边）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.outlineWidth =
             int(boundedInteger(option, QStringLiteral("描边宽度"), value, 0, kMaxOutlineWidth));
     }, nullptr},
    {"outline-colour", nullptr, "#RRGGBB", "描边颜色（默认 #FFFFFF 白色）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.outlineColour =
             asUsage([&] { return parseStickerColour(value, false, optionAndName("描边颜色", option)); });
     }, nullptr},
    {"outline-edge", nullptr, "0..4", "描边外缘深色细边的宽度，像素（默认 0，没有细边）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.edgeWidth =
             int(boundedInteger(option, QStringLiteral("细边宽度"), value, 0, kMaxOutlineEdge));
     }, nullptr},
    {"shadow", nullptr, nullptr, "在字和描边下面加一层柔和的阴影", nullptr,
     [](JobDraft &draft, bool on) { draft.job.sticker.look.shadow = on; }},
    {"shadow-colour", nullptr, "#RRGGBB[AA]", "阴影颜色（默认 #00000080，半透明黑色）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.shadowColour =
             asUsage([&] { return parseStickerColour(value, true, optionAndName("阴影颜色", option)); });
     }, nullptr},
    {"shadow-offset", nullptr, "X,Y", "阴影的偏移，像素（默认 2,2，向右下）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.shadowOffset =
             asUsage([&] { return parseShadowOffset(value, optionAndName("阴影偏移", option)); });
     }, nullptr},
    {"shadow-blur", nullptr, "0..20", "阴影边缘模糊的半径，像素（默认 3）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.shadowBlur =
             int(boundedInteger(option, QStringLiteral("阴影模糊半径"), value, 0, kMaxShadowBlur));
     }, nullptr},
    {"preset", nullptr, kTableValues,
     "按聊天软件的要求做贴纸：尺寸、格式和文件大小上限",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.preset = &findStickerPreset(choice(option, QStringLiteral("预设"), value, presetNames()));
     }, nullptr},
    {"max-bytes", nullptr, "N", "文件大小的上限，字节；超出时减少颜色、帧数或降低质量，仍做不到则不写文件",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.maxBytes = byteCount(option, QStringLiteral("大小上限"), value, kMaxCapBytes);
     }, nullptr},
    {"rows", nullptr, "1..4|auto",
     "贴纸的字排成几行（按阅读顺序，字仍逐个变大）；auto 取让最小的字最大的行数，是正方形预设的默认，其余默认 1 行",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.rowsGiven = true;
         draft.job.sticker.rows = value.trimmed() == QLatin1String("auto")
                                      ? kAutomaticRows
                                      : int(boundedInteger(option, QStringLiteral("行数"), value, 1, kMaxRows));
     }, nullptr},
    {"tiles", nullptr, "CxR|auto",
     "把贴纸拆成 C 列 R 行个方形表情，写成 NAME-1.EXT … NAME-K.EXT，并打印粘贴用的 :NAME-1::NAME-2:；"
     "auto 让字按表情的整个高度排成一行，需要几列就拆几列。只用于正方形预设",
     [](JobDraft &draft, const QString &option, const QString &value) {
         try {
             draft.job.tiles = parseTileGrid(value);
         } catch (const QuillowError &error) {
             throw UsageError(QStringLiteral("拆成多个表情（--%1）：%2。").arg(option, error.message()));
         }
     }, nullptr},
    {"bold", nullptr, nullptr, "加粗", nullptr, [](JobDraft &draft, bool on) { draft.job.settings.bold = on; }},
    {"italic", nullptr, nullptr, "斜体", nullptr,
     [](JobDraft &draft, bool on) { draft.job.settings.italic = on; }},
    {"underline", nullptr, nullptr, "下划线", nullptr,
     [](JobDraft &draft, bool on) { draft.job.settings.underline = on; }},
    {"strike-out", nullptr, nullptr, "删除线", nullptr,
     [](JobDraft &draft, bool on) { draft.job.settings.strikeOut = on; }},
    // Read by parseCommandLine() itself; not a field of a batch line.
    {"batch", nullptr, "FILE|-", "批处理：JSON Lines 文件（- 为标准输入），每行一个图片", nullptr, nullptr},
};
// clang-format on

// What the help shows for the option's value; empty for a flag.
QString valueNameOf(const OptionRow &row)
{
    if (row.valueName == kTableValues)
        return tableValues(QLatin1String(row.name));
    return QString::fromUtf8(row.valueName);
}

const OptionRow *findOption(const QString &name)
{
    for (const OptionRow &row : kOptions) {
        if (name == QLatin1String(row.name))
            return &row;
    }
    return nullptr;
}

} // namespace

bool isValueOption(const QString &name)
{
    const OptionRow *row = findOption(name);
    return row && row->setValue;
}

bool isFlagOption(const QString &name)
{
    const OptionRow *row = findOption(name);
    return row && row->setFlag;
}

void applyFlag(JobDraft &draft, const QString &name, bool on)
{
    const OptionRow *row = findOption(name);
    if (!row || !row->setFlag)
        rejectUnknown(name);
    row->setFlag(draft, on);
}

void applyOption(JobDraft &draft, const QString &name, const QString &value)
{
    const OptionRow *row = findOption(name);
    if (!row || !row->setValue)
        rejectUnknown(name);
    row->setValue(draft, name, value);
}

namespace {

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
            .arg(quoted(job.output)));
}

// Refuses sticker options the chosen format cannot carry, before anything
// is drawn.
void checkFormatTakesOptions(const RenderJob &job)
{
    const StickerOptions &sticker = job.sticker;
    const QString format = job.format->name;
    asUsage([&] { checkFormatAnimates(*job.format, sticker.effect); });
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
    if (job.tiles)
        checkTileNames(job.output, *job.tiles);

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

QString usageText()
{
    QString text =
        kUsageLine +
        QStringLiteral("\n\n把一句短语画成“喊叫”图片：字排成一行，逐字放大 10 磅，最后一个字 110 磅。\n"
                       "与窗口使用同样的设置、默认值和绘制，保存的文件逐字节相同；\n"
                       "也能做聊天用的贴纸：动画（APNG、GIF、WebP、WEBM "
                       "视频）、描边、阴影，以及按聊天软件要求的预设。\n\n"
                       "选项：\n");
    for (const OptionRow &row : kOptions) {
        const QString shortName =
            row.shortName ? QStringLiteral("-%1, ").arg(QLatin1String(row.shortName)) : QString();
        const QString values = row.valueName == kTableValues ? tableValues(QLatin1String(row.name))
                                                             : QString::fromUtf8(row.valueName);
        const QString valueName = row.valueName ? QStringLiteral(" ") + values : QString();
        // Each app by the name the window shows it under.
        const QString help = QString::fromUtf8(row.help) + (QLatin1String(row.name) == QLatin1String("preset")
                                                                ? QStringLiteral("（%1）").arg(presetLabels())
                                                                : QString());
        text +=
            QStringLiteral("  %1--%2%3\n      %4\n").arg(shortName, QLatin1String(row.name), valueName, help);
    }
    text += QStringLiteral("  -h, --help\n      显示本帮助\n  -v, --version\n      显示版本\n");
    text +=
        QStringLiteral("\n批处理的每一行是一个 JSON 对象，含 \"phrase\"、\"output\"，以及任何选项的长名（如 "
                       "\"bold\": true、\"seed\": 3、\"effect\": \"reveal\"、\"outline\": 3）；\n"
                       "命令行上的选项是每一行的默认值。每个非空行输出一行 JSON 结果，顺序同输入；\n"
                       "贴纸的结果还有 \"bytes\"、\"frames\"、\"quality\"，有大小上限时还有 \"cap\" 和 "
                       "\"colours\"。\n"
                       "空行跳过，但计入行号。超过 1 MiB 的行是该行的错误。\n"
                       "收到 SIGINT 或 SIGTERM 时停止读入，已开始的行画完并报告，退出状态 130 或 143。\n\n"
                       "退出状态：0 成功；1 写文件失败或批处理有失败的行；2 输入有误、选项不能同时使用或"
                       "达不到大小上限（不写任何文件）。\n");
    return text;
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionRow &row : kOptions) {
        QStringList names{QLatin1String(row.name)};
        if (row.shortName)
            names.prepend(QLatin1String(row.shortName));
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(row.help), valueNameOf(row)));
    }
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, QString()));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            rejectUnknown((unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                          unknown.first());
        // The only other failures are a value missing after an option that
        // needs one, or a value given to one that takes none.
        static const QRegularExpression named(QStringLiteral("'([^']*)'"));
        const QString option = named.match(parser.errorText()).captured(1);
        const QString bare = option.mid(option.startsWith(QLatin1String("--")) ? 2 : 1);
        if (isFlagOption(bare))
            throw UsageError(QStringLiteral("选项 --%1 不带值。").arg(bare));
        throw UsageError(QStringLiteral("选项 %1 缺少值。").arg(option));
    }

    CommandLine command;
    if (parser.isSet(QStringLiteral("help"))) {
        command.action = CommandLine::Action::Help;
        return command;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        command.action = CommandLine::Action::Version;
        return command;
    }

    for (const OptionRow &row : kOptions) {
        const QString name = QLatin1String(row.name);
        if (row.setFlag)
            row.setFlag(command.draft, parser.isSet(name));
        else if (row.setValue && parser.isSet(name))
            row.setValue(command.draft, name, parser.value(name));
    }

    const QStringList phrases = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("batch"))) {
        if (!phrases.isEmpty() || parser.isSet(QStringLiteral("output")))
            throw UsageError(
                QStringLiteral("使用 --batch 时，短语和输出文件由每一行给出，命令行上不能再给。"));
        command.action = CommandLine::Action::Batch;
        command.batchSource = parser.value(QStringLiteral("batch"));
        return command;
    }

    if (phrases.size() > 1)
        throw UsageError(QStringLiteral("只能给一个短语（含空格的短语请加引号），多余的参数：%1。")
                             .arg(quoted(phrases.mid(1).join(QLatin1Char(' ')))));
    if (phrases.isEmpty() && parser.isSet(QStringLiteral("output")))
        throw UsageError(QStringLiteral("缺少短语。\n") + kUsageLine);
    if (!phrases.isEmpty())
        command.draft.job.settings.text = phrases.first();
    command.draft.job = finishJob(command.draft);
    return command;
}

namespace {

// Qt's parse errors in the user's language.
QString jsonProblem(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("对象没有以 } 结束");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("字段名后缺少冒号");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("数组没有以 ] 结束");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("值之间缺少逗号");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("不是合法的值");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("数字没有写完");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("不是合法的数字");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("字符串中有非法的转义");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("字符串不是有效的 UTF-8");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("字符串没有以引号结束");
    case QJsonParseError::MissingObject:
        return QStringLiteral("应是一个对象");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("嵌套太深");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("内容太大");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("对象之后还有多余的内容");
    default:
        return QStringLiteral("格式错误");
    }
}

// The number fields of a line's top-level object exactly as they are written
// there, so that a message shows "1e300" as typed rather than Qt's reading
// of it. The line is valid JSON already.
QHash<QString, QString> numbersAsTyped(const QByteArray &line)
{
    QHash<QString, QString> typed;
    int depth = 0;
    QByteArray key;
    bool afterKey = false;
    for (qsizetype at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            const qsizetype start = ++at;
            while (at < line.size() && line[at] != '"')
                at += line[at] == '\\' ? 2 : 1;
            if (depth == 1 && !afterKey)
                key = line.mid(start, at - start);
        } else if (c == ':' && depth == 1) {
            afterKey = true;
            continue;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (depth == 1 && afterKey && (c == '-' || (c >= '0' && c <= '9'))) {
            const qsizetype start = at;
            while (at + 1 < line.size() && QByteArrayView("+-.eE0123456789").contains(line[at + 1]))
                ++at;
            // Keys are compared as Qt reads them, escapes resolved.
            const QString name = QJsonDocument::fromJson("{\"" + key + "\":0}").object().keys().value(0);
            typed.insert(name, QString::fromLatin1(line.mid(start, at + 1 - start)));
        }
        if (c != ' ' && c != '\t' && c != '\r')
            afterKey = false;
    }
    return typed;
}

// The byte offset of the first byte of `text` that is not UTF-8, or -1.
qsizetype invalidUtf8At(const QByteArray &text)
{
    for (qsizetype at = 0; at < text.size();) {
        const auto lead = uchar(text[at]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || at + length > text.size())
            return at;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int i = 1; i < length; ++i) {
            const auto next = uchar(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return at;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return at;
        at += length;
    }
    return -1;
}

} // namespace

qsizetype invalidUtf8Offset(const QByteArray &text)
{
    return invalidUtf8At(text);
}

RenderJob jobFromJsonLine(const QByteArray &line, const JobDraft &defaults, int lineNumber)
{
    const qsizetype badByte = invalidUtf8At(line);
    if (badByte >= 0)
        throw UsageError(
            QStringLiteral("第 %1 行第 %2 个字节不是有效的 UTF-8。").arg(lineNumber).arg(badByte + 1));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt counts from the start of the line in bytes; a column is what
        // an editor shows, one per character.
        const int column = int(QString::fromUtf8(line.left(error.offset)).size()) + 1;
        throw UsageError(QStringLiteral("不是有效的 JSON（第 %1 行第 %2 列：%3）。")
                             .arg(lineNumber)
                             .arg(column)
                             .arg(jsonProblem(error.error)));
    }
    if (!document.isObject())
        throw UsageError(QStringLiteral("每一行必须是一个 JSON 对象。"));

    JobDraft draft = defaults;
    const QJsonObject object = document.object();
    const QHash<QString, QString> typed = numbersAsTyped(line);
    // The command line refuses to draw without a phrase; so does a line.
    if (!object.contains(QStringLiteral("phrase")))
        throw UsageError(QStringLiteral("缺少字段 “phrase”：每一行必须给出短语。"));
    for (auto field = object.begin(); field != object.end(); ++field) {
        const QString name = field.key();
        const QJsonValue value = field.value();
        if (name == QLatin1String("phrase") || name == QLatin1String("output")) {
            if (!value.isString())
                throw UsageError(QStringLiteral("字段 %1 必须是字符串。").arg(quoted(name)));
            if (name == QLatin1String("phrase"))
                draft.job.settings.text = value.toString();
            else
                draft.job.output = checkedOutputName(value.toString());
        } else if (isFlagOption(name)) {
            if (!value.isBool())
                throw UsageError(QStringLiteral("字段 %1 必须是 true 或 false。").arg(quoted(name)));
            applyFlag(draft, name, value.toBool());
        } else if (!isValueOption(name) || name == QLatin1String("batch")) {
            throw UsageError(QStringLiteral("未知字段：%1。").arg(quoted(name)));
        } else if (value.isString()) {
            applyOption(draft, name, value.toString());
        } else if (value.isDouble()) {
            // As typed first, so that a refusal quotes the user's own
            // text; then whole numbers as integers, so that "seed": 3.0 or
            // 1e3 reads as an integer option wants it.
            const double number = value.toDouble();
            const bool whole = std::trunc(number) == number && std::abs(number) < 1e15;
            try {
                applyOption(draft, name, typed.value(name, QString::number(number, 'g', 17)));
            } catch (const UsageError &asTyped) {
                if (!whole)
                    throw;
                try {
                    applyOption(draft, name, QString::number(qint64(number)));
                } catch (const UsageError &) {
                    throw asTyped;
                }
            }
        } else {
            throw UsageError(QStringLiteral("字段 %1 的值必须是字符串或数字。").arg(quoted(name)));
        }
    }
    return finishJob(draft);
}
