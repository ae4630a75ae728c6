#include "sticker/sticker_preset.h"

#include "composition/quillow_error.h"
#include "export/output_format.h"
#include "sticker/emoji_names.h"

namespace {

const OutputFileFormat *format(const char16_t *name)
{
    const OutputFileFormat *named = outputFormatNamed(name);
    Q_ASSERT(named);
    return named;
}

StickerKind kind(std::vector<const OutputFileFormat *> formats, StickerSizeRule rule, int side, ByteCap cap,
                 std::optional<int> maxFrames = std::nullopt)
{
    return {std::move(formats), rule, side, cap, maxFrames};
}

std::vector<StickerPreset> buildPresets()
{
    const auto png = format(u"png-alpha");
    const auto apng = format(u"apng");
    const auto gif = format(u"gif");
    const auto webp = format(u"webp");
    using enum StickerSizeRule;
    using enum ByteUnit;
    // The apps publish their limits in different units: each is kept
    // exactly as its app states it. QQ publishes no limit; WeChat's is the
    // safe choice.
    const StickerKind wechat = kind({png}, NaturalAtMost, 1000, {1, MiB});
    const StickerKind telegram = kind({png, webp}, LongestExactly, 512, {512, KB});
    const StickerKind discordEmoji = kind({png}, Square, 128, {256, KiB});
    const StickerKind discordSticker = kind({png}, Square, 320, {512, KiB});
    const StickerKind slack = kind({png}, Square, 128, {128, KB});
    const auto webm = format(u"webm");
    // Telegram takes moving stickers as VP9 video of at most 3 seconds, which
    // the WEBM writer keeps to by itself.
    const StickerKind telegramVideo = kind({webm}, LongestExactly, 512, {256, KB});
    const StickerKind telegramEmoji = kind({png, webp}, Square, 100, {256, KB});
    const StickerKind whatsapp = kind({webp}, Square, 512, {100, KB});
    StickerKind whatsappMoving = kind({webp}, Square, 512, {500, KB});
    whatsappMoving.minFrameMs = 8;
    whatsappMoving.maxDurationMs = 10000;
    // LINE shows a moving sticker's first frame when it is not playing, and
    // plays it a few times only.
    StickerKind line = kind({png}, WithinBox, 370, {1, MB});
    line.height = 320;
    line.margin = 10;
    StickerKind lineMoving = kind({apng}, FillsBox, 320, {300, KB}, 20);
    lineMoving.height = 270;
    lineMoving.minFrames = 5;
    lineMoving.maxPlays = 4;
    lineMoving.maxTotalPlayMs = 4000;
    const auto moving = [](StickerKind still, const OutputFileFormat *format,
                           std::optional<int> maxFrames = std::nullopt) {
        still.formats = {format};
        still.maxFrames = maxFrames;
        return still;
    };
    return {
        {QStringLiteral("wechat"), QStringLiteral("微信"), wechat, moving(wechat, gif), {}},
        {QStringLiteral("qq"), QStringLiteral("QQ"), wechat, moving(wechat, gif), {}},
        {QStringLiteral("telegram"), QStringLiteral("Telegram 贴纸"), telegram, telegramVideo, {}},
        {QStringLiteral("telegram-emoji"),
         QStringLiteral("Telegram 表情"),
         telegramEmoji,
         moving(telegramEmoji, webm),
         {}},
        {QStringLiteral("whatsapp"), QStringLiteral("WhatsApp 贴纸"), whatsapp, whatsappMoving, {}},
        {QStringLiteral("discord-emoji"),
         QStringLiteral("Discord 表情"),
         discordEmoji,
         moving(discordEmoji, gif),
         {},
         &discordEmojiNames()},
        {QStringLiteral("discord-sticker"),
         QStringLiteral("Discord 贴纸"),
         discordSticker,
         moving(discordSticker, apng),
         {}},
        {QStringLiteral("line"), QStringLiteral("LINE 贴图"), line, lineMoving, {}},
        {QStringLiteral("slack"),
         QStringLiteral("Slack 表情"),
         slack,
         moving(slack, gif, 50),
         {},
         &slackEmojiNames()},
    };
}

} // namespace

qint64 ByteCap::bytes() const
{
    switch (unit) {
    case ByteUnit::KB:
        return amount * 1000;
    case ByteUnit::KiB:
        return amount * 1024;
    case ByteUnit::MB:
        return amount * 1000 * 1000;
    case ByteUnit::MiB:
        return amount * 1024 * 1024;
    }
    return 0;
}

QString ByteCap::text() const
{
    static const char *const names[] = {"KB", "KiB", "MB", "MiB"};
    return QStringLiteral("%1 %2").arg(amount).arg(QLatin1String(names[int(unit)]));
}

QString sizeInUnitOf(qint64 bytes, const ByteCap *cap)
{
    const bool binary = cap && cap->binary();
    const qint64 unit = binary ? 1024 : 1000;
    const qint64 tenths = bytes * 10 / unit;
    const QString amount = tenths % 10 == 0 ? QString::number(tenths / 10)
                                            : QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
    return QStringLiteral("%1 %2").arg(amount, binary ? QStringLiteral("KiB") : QStringLiteral("KB"));
}

const std::vector<StickerPreset> &stickerPresets()
{
    static const std::vector<StickerPreset> presets = buildPresets();
    return presets;
}

const StickerPreset &findStickerPreset(const QString &name)
{
    for (const StickerPreset &preset : stickerPresets())
        if (preset.name == name)
            return preset;
    throw QuillowError(QStringLiteral("没有名为“%1”的贴纸预设").arg(name));
}

const StickerPreset *stickerPresetNamed(QStringView name)
{
    for (const StickerPreset &preset : stickerPresets())
        if (preset.name == name)
            return &preset;
    return nullptr;
}

bool presetAnimates(const StickerPreset *preset)
{
    return !preset || !preset->animated.formats.empty();
}

QString tilePresetNames()
{
    QStringList names;
    for (const StickerPreset &preset : stickerPresets())
        if (preset.emojiNames)
            names << preset.name;
    return names.join(QStringLiteral("、"));
}

QString customPresetLabel()
{
    return QStringLiteral("自定义");
}
