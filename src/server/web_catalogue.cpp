#include "server/web_catalogue.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_settings.h"
#include "export/output_format.h"
#include "sticker/sticker_format_choice.h"
#include "sticker/sticker_preset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString text(QLatin1StringView name)
{
    return QString(name);
}

QJsonArray formatNames(const std::vector<const OutputFileFormat *> &formats)
{
    QJsonArray names;
    for (const OutputFileFormat *format : formats)
        names.append(text(format->name));
    return names;
}

// One kind of sticker of `preset` (null: no preset). Empty formats: the
// preset takes no such sticker.
QJsonObject kindObject(const StickerPreset *preset, bool animated)
{
    QJsonObject kind{{QStringLiteral("formats"), formatNames(stickerFormatsOffered(preset, animated))}};
    if (!preset)
        return kind;
    const StickerKind &rules = preset->kind(animated);
    kind.insert(QStringLiteral("side"), rules.side);
    if (rules.height > 0)
        kind.insert(QStringLiteral("height"), rules.height);
    if (rules.cap.amount > 0) {
        kind.insert(QStringLiteral("capBytes"), double(rules.cap.bytes()));
        kind.insert(QStringLiteral("capText"), rules.cap.text());
    }
    if (rules.maxFrames)
        kind.insert(QStringLiteral("maxFrames"), *rules.maxFrames);
    return kind;
}

// The format each effect's sticker is made in when none is asked for, by
// the rule every front end follows; an effect the preset refuses is left
// out (asking for it gets the preset's own message).
QJsonObject formatsByEffect(const StickerPreset *preset)
{
    QJsonObject formats;
    for (const EffectRow &row : effectRows()) {
        try {
            formats.insert(text(row.name), text(defaultStickerFormat(preset, row.effect, {}).name));
        } catch (const QuillowError &) {
        }
    }
    return formats;
}

QJsonObject presetObject(const StickerPreset *preset)
{
    QJsonObject object{
        {QStringLiteral("name"), preset ? preset->name : QString()},
        {QStringLiteral("label"), preset ? preset->label : customPresetLabel()},
        {QStringLiteral("still"), kindObject(preset, false)},
        {QStringLiteral("animated"), kindObject(preset, true)},
        {QStringLiteral("formatFor"), formatsByEffect(preset)},
    };
    if (preset && !preset->animatedRefusal.isEmpty())
        object.insert(QStringLiteral("animatedRefusal"), preset->animatedRefusal);
    return object;
}

} // namespace

std::string stickerCatalogueJson()
{
    // No preset first, as the window lists it: its name is empty, which
    // a request expresses by leaving "preset" out.
    QJsonArray presets{presetObject(nullptr)};
    for (const StickerPreset &preset : stickerPresets())
        presets.append(presetObject(&preset));

    QJsonArray effects;
    for (const EffectRow &row : effectRows())
        effects.append(QJsonObject{{QStringLiteral("name"), text(row.name)},
                                   {QStringLiteral("label"), QString::fromUtf8(row.label)},
                                   {QStringLiteral("animates"), row.animates}});

    QJsonArray formats;
    for (const OutputFileFormat &format : outputFileFormats())
        formats.append(QJsonObject{{QStringLiteral("name"), text(format.name)},
                                   {QStringLiteral("suffix"), text(format.suffix)},
                                   {QStringLiteral("mimeType"), text(format.mimeType)},
                                   {QStringLiteral("label"), stickerFormatLabel(format)},
                                   {QStringLiteral("animated"), format.animated}});

    QJsonArray looks;
    for (const NamedStickerLook &look : namedStickerLooks())
        looks.append(look.name);

    const QJsonObject catalogue{
        {QStringLiteral("maxPhraseLength"), kMaxPhraseLength},
        {QStringLiteral("presets"), presets},
        {QStringLiteral("effects"), effects},
        {QStringLiteral("formats"), formats},
        {QStringLiteral("looks"), looks},
    };
    return QJsonDocument(catalogue).toJson(QJsonDocument::Compact).toStdString() + '\n';
}
