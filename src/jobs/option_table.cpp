#include "jobs/option_table.h"
#include "jobs/option_text.h"

#include "composition/effect_frames.h"
#include "composition/sticker_look.h"
#include "export/output_format.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_rows.h"
#include "sticker/sticker_tiles.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kMinDpi = 1.0;
constexpr double kMaxDpi = 1200.0; // 110 points are then 1833 pixels high
constexpr double kMinScale = 0.25;
constexpr double kMaxScale = 8.0;
constexpr int kMaxQuality = 100;
constexpr qint64 kMaxCapBytes = qint64(1) << 30; // far above any chat's limit

QStringList presetNames()
{
    QStringList names;
    for (const StickerPreset &preset : stickerPresets())
        names << preset.name;
    return names;
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
        throw UsageError(option, QStringLiteral("%1（--%2）只能是 %3，而不是 %4。")
                                     .arg(what, option, names.join(QStringLiteral("、")), quotedText(value)));
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
        throw UsageError(option, QStringLiteral("%1（--%2）必须写成 #RRGGBB（如 #FF8000），而不是 %3。")
                                     .arg(what, option, quotedText(value)));
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
        throw UsageError(option, QStringLiteral("%1（--%2）必须是 %3 到 %4 之间的数，而不是 %5。")
                                     .arg(what, option)
                                     .arg(low)
                                     .arg(high)
                                     .arg(quotedText(value)));
    return number;
}

UsageError notIntegerInRange(const QString &option, const QString &what, const QString &value, qint64 low,
                             qint64 high)
{
    return UsageError(option, QStringLiteral("%1（--%2）必须是 %3 到 %4 之间的整数，而不是 %5。")
                                  .arg(what, option)
                                  .arg(low)
                                  .arg(high)
                                  .arg(quotedText(value)));
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

QString optionAndName(const char *what, const QString &option)
{
    return QStringLiteral("%1（--%2）").arg(QString::fromUtf8(what), option);
}

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
             throw UsageError(QStringLiteral("seed"), QStringLiteral("种子（--seed）必须是 0 到 4294967295 之间的整数，而不是 %1。")
                                  .arg(quotedText(value)));
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
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.effect = asUsageError(option, [&value] { return effectFromName(value); });
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
             asUsageError(option, [&] { return parseStickerColour(value, false, optionAndName("底色", option)); });
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
             asUsageError(option, [&] { return parseStickerColour(value, false, optionAndName("描边颜色", option)); });
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
             asUsageError(option, [&] { return parseStickerColour(value, true, optionAndName("阴影颜色", option)); });
     }, nullptr},
    {"shadow-offset", nullptr, "X,Y", "阴影的偏移，像素（默认 2,2，向右下）",
     [](JobDraft &draft, const QString &option, const QString &value) {
         draft.job.sticker.look.shadowOffset =
             asUsageError(option, [&] { return parseShadowOffset(value, optionAndName("阴影偏移", option)); });
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
     "把贴纸拆成 C 列 R 行个方形表情，按表情名写成文件（见 --tile-name），并打印粘贴用的 :NAME_1::NAME_2:；"
     "auto 让字按表情的整个高度排成一行，需要几列就拆几列。只用于聊天里能把表情并排发出的预设",
     [](JobDraft &draft, const QString &option, const QString &value) {
         try {
             draft.job.tiles = parseTileGrid(value);
         } catch (const QuillowError &error) {
             throw UsageError(option, QStringLiteral("拆成多个表情（--%1）：%2。").arg(option, error.message()));
         }
     }, nullptr},
    {"tile-name", nullptr, "NAME",
     "拆成的表情的名字（默认取输出文件名，不符合聊天软件的规则时用 shout）：表情名为 NAME_1、NAME_2…"
     "（Slack 为 NAME-1…），文件按表情名保存在输出文件旁",
     [](JobDraft &draft, const QString &, const QString &value) { draft.job.tileName = value; }, nullptr},
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

const OptionRow *findOption(const QString &name)
{
    for (const OptionRow &row : kOptions) {
        if (name == QLatin1String(row.name))
            return &row;
    }
    return nullptr;
}

} // namespace

QString quotedText(const QString &value)
{
    return QStringLiteral("“%1”").arg(value);
}

[[noreturn]] void rejectUnknownOption(const QString &name)
{
    throw UsageError(name, QStringLiteral("未知选项：%1。").arg(quotedText(name)));
}

std::span<const OptionRow> optionRows()
{
    return kOptions;
}

QString optionValueName(const OptionRow &row)
{
    if (row.valueName == kTableValues)
        return tableValues(QLatin1String(row.name));
    return QString::fromUtf8(row.valueName);
}

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
        rejectUnknownOption(name);
    row->setFlag(draft, on);
}

void applyOption(JobDraft &draft, const QString &name, const QString &value)
{
    const OptionRow *row = findOption(name);
    if (!row || !row->setValue)
        rejectUnknownOption(name);
    row->setValue(draft, name, value);
}
