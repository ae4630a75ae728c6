#include "export/sticker_preset.h"

#include "composition/quillow_error.h"

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kKB = 1000;

StickerPreset preset(const char *name, const QString &label, StickerSizeRule rule, int side,
                     const QStringList &stillFormats, const QString &animatedFormat, qint64 capBytes,
                     const char *capText)
{
    StickerPreset made;
    made.name = QString::fromLatin1(name);
    made.label = label;
    made.sizeRule = rule;
    made.side = side;
    made.stillFormats = stillFormats;
    made.animatedFormat = animatedFormat;
    made.capBytes = capBytes;
    made.capText = QString::fromLatin1(capText);
    return made;
}

std::vector<StickerPreset> buildPresets()
{
    const QStringList png{QStringLiteral("png-alpha")};
    const QString gif = QStringLiteral("gif");
    using enum StickerSizeRule;
    // The apps publish their limits in different units: a KB here is 1000
    // bytes and a KiB 1024, exactly as each app states it. QQ publishes no
    // limit; WeChat's is the safe choice.
    std::vector<StickerPreset> presets{
        preset("wechat", QStringLiteral("微信"), NaturalAtMost, 1000, png, gif, 1024 * kKiB, "1 MiB"),
        preset("qq", QStringLiteral("QQ"), NaturalAtMost, 1000, png, gif, 1024 * kKiB, "1 MiB"),
        preset("telegram", QStringLiteral("Telegram 贴纸"), LongestExactly, 512, png + QStringList{"webp"},
               {}, 512 * kKB, "512 KB"),
        preset("discord-emoji", QStringLiteral("Discord 表情"), Square, 128, png, gif, 256 * kKiB, "256 KiB"),
        preset("discord-sticker", QStringLiteral("Discord 贴纸"), Square, 320, png, QStringLiteral("apng"),
               512 * kKiB, "512 KiB"),
        preset("slack", QStringLiteral("Slack 表情"), Square, 128, png, gif, 128 * kKB, "128 KB"),
    };
    // Telegram's animated stickers are WEBM video, which we do not make.
    presets[2].animatedRefusal =
        QStringLiteral("Telegram 贴纸只能是静态图片（动态贴纸须为 WEBM 视频），请不要使用动画效果");
    presets[5].maxFrames = 50;
    return presets;
}

} // namespace

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
    return !preset || !preset->animatedFormat.isEmpty();
}

QString customPresetLabel()
{
    return QStringLiteral("自定义");
}
