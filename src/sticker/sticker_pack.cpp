#include "sticker/sticker_pack.h"

#include "composition/grapheme_clusters.h"
#include "composition/quillow_error.h"
#include "export/animation_decoding.h"
#include "export/output_format.h"
#include "sticker/emoji_names.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>

#include <algorithm>
#include <climits>

namespace {

const OutputFileFormat *format(const char16_t *name)
{
    const OutputFileFormat *named = outputFormatNamed(name);
    Q_ASSERT(named);
    return named;
}

// The kind an extra image is drawn with: the sticker's own rules where the
// app asks the same of it (LINE's moving main image plays as its stickers
// do), sized to the image's box.
StickerKind imageKind(StickerKind kind, const OutputFileFormat *imageFormat, QSize size, ByteCap cap)
{
    kind.formats = {imageFormat};
    // A square box is filled exactly; any other is drawn within and then
    // padded to the box by the pack maker.
    kind.sizeRule = size.width() == size.height() ? StickerSizeRule::Square : StickerSizeRule::WithinBox;
    kind.side = size.width();
    kind.height = size.width() == size.height() ? 0 : size.height();
    kind.margin = 0;
    kind.cap = cap;
    if (!imageFormat->animated)
        kind.maxFrames.reset();
    return kind;
}

// The drawing rows of the extra images live as long as the table.
std::vector<std::unique_ptr<StickerPreset>> &imageDrawings()
{
    static std::vector<std::unique_ptr<StickerPreset>> drawings;
    return drawings;
}

PackImageRule image(const QString &file, const QString &label, QSize size,
                    const OutputFileFormat *imageFormat, ByteCap cap, const StickerKind &like)
{
    auto drawing = std::make_unique<StickerPreset>();
    drawing->name = file;
    drawing->label = label;
    const StickerKind kind = imageKind(like, imageFormat, size, cap);
    drawing->still = kind;
    drawing->animated = kind;
    if (!imageFormat->animated)
        drawing->animated.formats = {};
    drawing->animatedRefusal = QStringLiteral("%1是静态图片").arg(label);
    PackImageRule rule{file, label, size, imageFormat, cap, drawing.get()};
    imageDrawings().push_back(std::move(drawing));
    return rule;
}

StickerPackRule packRule(const QString &app, const QString &label, const StickerPreset *preset)
{
    StickerPackRule rule;
    rule.app = app;
    rule.label = label;
    rule.preset = preset;
    return rule;
}

PackKindRule counts(std::vector<int> taken, int minCount, int maxCount)
{
    PackKindRule kind;
    kind.offered = true;
    kind.counts = std::move(taken);
    kind.minCount = minCount;
    kind.maxCount = maxCount;
    return kind;
}

std::vector<StickerPackRule> buildRules()
{
    const auto png = format(u"png-alpha");
    const auto apng = format(u"apng");
    const auto webm = format(u"webm");
    const StickerPreset &line = findStickerPreset(QStringLiteral("line"));
    const StickerPreset &whatsapp = findStickerPreset(QStringLiteral("whatsapp"));
    const StickerPreset &telegram = findStickerPreset(QStringLiteral("telegram"));
    const StickerPreset &discord = findStickerPreset(QStringLiteral("discord-emoji"));
    const StickerPreset &slack = findStickerPreset(QStringLiteral("slack"));

    std::vector<StickerPackRule> rules;

    StickerPackRule lineRule = packRule(QStringLiteral("line"), QStringLiteral("LINE"), &line);
    lineRule.still = counts({8, 16, 24, 32, 40}, 8, 40);
    lineRule.still.images = {
        image(QStringLiteral("main.png"), QStringLiteral("主图 main.png"), {240, 240}, png, {1, ByteUnit::MB},
              line.still),
        image(QStringLiteral("tab.png"), QStringLiteral("标签图 tab.png"), {96, 74}, png, {1, ByteUnit::MB},
              line.still),
    };
    lineRule.animated = counts({8, 16, 24}, 8, 24);
    lineRule.animated.images = {
        image(QStringLiteral("main.png"), QStringLiteral("主图 main.png"), {240, 240}, apng,
              {300, ByteUnit::KB}, line.animated),
        lineRule.still.images[1],
    };
    lineRule.archiveCap = {20, ByteUnit::MB};
    rules.push_back(lineRule);

    StickerPackRule whatsappRule =
        packRule(QStringLiteral("whatsapp"), QStringLiteral("WhatsApp"), &whatsapp);
    whatsappRule.still = counts({}, 3, 30);
    whatsappRule.still.images = {image(QStringLiteral("tray.png"), QStringLiteral("托盘图标 tray.png"),
                                       {96, 96}, png, {50, ByteUnit::KB}, whatsapp.still)};
    whatsappRule.animated = whatsappRule.still;
    whatsappRule.metadata = PackMetadata::StickerAppContents;
    whatsappRule.maxNameLength = 128;
    whatsappRule.maxEmoji = 3;
    rules.push_back(whatsappRule);

    StickerPackRule telegramRule =
        packRule(QStringLiteral("telegram"), QStringLiteral("Telegram"), &telegram);
    telegramRule.still = counts({}, 1, 120);
    telegramRule.still.images = {image(QStringLiteral("icon.png"), QStringLiteral("贴纸包图标 icon.png"),
                                       {100, 100}, png, {32, ByteUnit::KB}, telegram.still)};
    // A set of videos takes its icon as a video too; every kind of icon is
    // held to 32 KB.
    telegramRule.animated = counts({}, 1, 120);
    telegramRule.animated.images = {image(QStringLiteral("icon.webm"), QStringLiteral("贴纸包图标 icon.webm"),
                                          {100, 100}, webm, {32, ByteUnit::KB}, telegram.animated)};
    telegramRule.metadata = PackMetadata::EmojiList;
    telegramRule.maxEmoji = 20;
    rules.push_back(telegramRule);

    // A server starts with 50 slots for still emoji and 50 for moving ones.
    StickerPackRule discordRule =
        packRule(QStringLiteral("discord-emoji"), QStringLiteral("Discord"), &discord);
    discordRule.still = counts({}, 1, 50);
    discordRule.animated = discordRule.still;
    discordRule.naming = PackNaming::ChatName;
    rules.push_back(discordRule);

    StickerPackRule slackRule = packRule(QStringLiteral("slack"), QStringLiteral("Slack"), &slack);
    slackRule.still = counts({}, 1, 0);
    slackRule.animated = slackRule.still;
    slackRule.naming = PackNaming::ChatName;
    rules.push_back(slackRule);
    return rules;
}

bool isEmojiStart(char32_t code)
{
    return (code >= 0x1F000 && code <= 0x1FAFF) || (code >= 0x2600 && code <= 0x27BF) ||
           (code >= 0x2300 && code <= 0x23FF) || (code >= 0x2B05 && code <= 0x2B55) || code == 0x3030 ||
           code == 0x303D || code == 0x3297 || code == 0x3299;
}

// One grapheme cluster is an emoji when it starts with a pictograph, or
// asks for emoji presentation (a variation selector 16, a keycap).
bool isEmoji(const QString &cluster)
{
    const auto codes = cluster.toUcs4();
    if (codes.isEmpty())
        return false;
    if (isEmojiStart(codes.first()))
        return true;
    return codes.contains(0xFE0F) || codes.contains(0x20E3);
}

QString countList(const std::vector<int> &counts)
{
    QStringList parts;
    for (const int count : counts)
        parts << QString::number(count);
    if (parts.size() < 2)
        return parts.join(QString());
    const QString last = parts.takeLast();
    return parts.join(QStringLiteral("、")) + QStringLiteral(" 或 ") + last;
}

QString kindWord(bool animates)
{
    return animates ? QStringLiteral("动态") : QStringLiteral("静态");
}

// Every pack file is scanned once: the bounds are kept as numbers rather
// than by uniting rectangles pixel by pixel.
QRect inkOf(const Animation &animation)
{
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    for (const AnimationFrame &frame : animation.frames) {
        const QImage image = frame.image.format() == QImage::Format_ARGB32_Premultiplied
                                 ? frame.image
                                 : frame.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            int first = 0;
            while (first < image.width() && qAlpha(row[first]) == 0)
                ++first;
            if (first == image.width())
                continue;
            int last = image.width() - 1;
            while (qAlpha(row[last]) == 0)
                --last;
            left = std::min(left, first);
            right = std::max(right, last);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

PackFileFacts factsOf(const QByteArray &bytes, const OutputFileFormat &format)
{
    const Animation animation = decodeAnimation(bytes, format);
    PackFileFacts facts;
    if (!animation.frames.empty())
        facts.size = animation.frames.front().image.size();
    facts.frames = int(animation.frames.size());
    facts.ink = inkOf(animation);
    return facts;
}

QString sizeText(QSize size)
{
    return QStringLiteral("%1×%2").arg(size.width()).arg(size.height());
}

} // namespace

const std::vector<StickerPackRule> &stickerPackRules()
{
    static const std::vector<StickerPackRule> rules = buildRules();
    return rules;
}

const StickerPackRule *stickerPackNamed(QStringView app)
{
    for (const StickerPackRule &rule : stickerPackRules())
        if (rule.app == app)
            return &rule;
    return nullptr;
}

QString stickerPackNames()
{
    QStringList names;
    for (const StickerPackRule &rule : stickerPackRules())
        names << rule.app;
    return names.join(QStringLiteral("、"));
}

QStringList emojiIn(const QString &text)
{
    QStringList found;
    for (const QString &cluster : graphemeClusters(text))
        if (isEmoji(cluster))
            found << cluster;
    return found;
}

PackEntry packEntry(int line, const QString &phrase, const QString &tags, int maxEmoji)
{
    PackEntry entry{line, phrase, {}};
    for (const QString &cluster : graphemeClusters(tags)) {
        if (cluster.trimmed().isEmpty() || cluster == QLatin1String(",") || cluster == QStringLiteral("，"))
            continue;
        if (!isEmoji(cluster))
            throw QuillowError(
                QStringLiteral("第 %1 行：制表符后的“%2”不是表情符号；那里只能写这张贴纸的表情符号")
                    .arg(line)
                    .arg(cluster));
        entry.emoji << cluster;
    }
    if (entry.emoji.size() > maxEmoji)
        throw QuillowError(QStringLiteral("第 %1 行：每张贴纸最多 %2 个表情符号，这一行有 %3 个")
                               .arg(line)
                               .arg(maxEmoji)
                               .arg(entry.emoji.size()));
    if (entry.emoji.isEmpty()) {
        const QStringList own = emojiIn(phrase);
        entry.emoji << (own.isEmpty() ? QStringLiteral("💬") : own.first());
    }
    return entry;
}

std::vector<PackEntry> readPackPhrases(const QString &text, int maxEmoji)
{
    std::vector<PackEntry> entries;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype at = 0; at < lines.size(); ++at) {
        QString lineText = lines[at];
        if (lineText.endsWith(QLatin1Char('\r')))
            lineText.chop(1);
        const QString trimmed = lineText.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const int number = int(at) + 1;
        const qsizetype tab = lineText.indexOf(QLatin1Char('\t'));
        const PackEntry entry = packEntry(number, tab < 0 ? lineText : lineText.left(tab),
                                          tab < 0 ? QString() : lineText.mid(tab + 1), maxEmoji);
        entries.push_back(entry);
    }
    return entries;
}

void checkPackCount(const StickerPackRule &rule, bool animates, int count)
{
    const PackKindRule &kind = rule.kind(animates);
    if (!kind.offered)
        throw QuillowError(QStringLiteral("%1 不收%2贴纸包").arg(rule.label, kindWord(animates)));
    if (!kind.counts.empty()) {
        if (std::find(kind.counts.begin(), kind.counts.end(), count) == kind.counts.end())
            throw QuillowError(QStringLiteral("%1 的%2贴纸包只能有 %3 张，现有 %4 张")
                                   .arg(rule.label, kindWord(animates), countList(kind.counts))
                                   .arg(count));
        return;
    }
    if (count < kind.minCount || (kind.maxCount > 0 && count > kind.maxCount)) {
        const QString range = kind.maxCount == 0 ? QStringLiteral("至少 %1 张").arg(kind.minCount)
                              : kind.minCount <= 1
                                  ? QStringLiteral("最多 %1 张").arg(kind.maxCount)
                                  : QStringLiteral("要有 %1 到 %2 张").arg(kind.minCount).arg(kind.maxCount);
        throw QuillowError(QStringLiteral("%1 的%2贴纸包%3，现有 %4 张")
                               .arg(rule.label, kindWord(animates), range)
                               .arg(count));
    }
}

void checkPackNames(const StickerPackRule &rule, const QString &name, const QString &publisher)
{
    if (rule.maxNameLength == 0)
        return;
    const auto check = [&](const QString &value, const QString &what, const QString &option) {
        const qsizetype length = value.toUcs4().size();
        if (value.trimmed().isEmpty())
            throw QuillowError(QStringLiteral("%1 的贴纸包要有%2（%3）").arg(rule.label, what, option));
        if (length > rule.maxNameLength)
            throw QuillowError(QStringLiteral("%1 贴纸包的%2最多 %3 个字符，现有 %4 个")
                                   .arg(rule.label, what)
                                   .arg(rule.maxNameLength)
                                   .arg(length));
    };
    check(name, QStringLiteral("名称"), QStringLiteral("--pack-name"));
    check(publisher, QStringLiteral("发布者"), QStringLiteral("--publisher"));
}

void checkChatNamePrefix(const StickerPackRule &rule, const QString &prefix)
{
    if (rule.naming != PackNaming::ChatName || !rule.preset->emojiNames)
        return;
    const EmojiNameRule &names = *rule.preset->emojiNames;
    // The longest name adds "_" and three digits.
    if (prefix.isEmpty() || !emojiNameProblem(names, prefix + QStringLiteral("_000")).isEmpty())
        throw QuillowError(QStringLiteral("表情名前缀“%1”不能用：%2 的表情名须为 %3（前缀后还要加 _ 和编号）")
                               .arg(prefix, rule.label, QString::fromUtf8(names.description)));
}

QString packStickerFileName(const StickerPackRule &rule, int index, int count, const OutputFileFormat &format,
                            const QString &prefix)
{
    const int width = qMax(2, int(QString::number(count).size()));
    const QString number = QStringLiteral("%1").arg(index, width, 10, QLatin1Char('0'));
    // The APNG is saved as ".png": that is the name the apps look for.
    const QString suffix = QString(format.suffix);
    if (rule.naming == PackNaming::ChatName)
        return prefix + QLatin1Char('_') + number + QLatin1Char('.') + suffix;
    return number + QLatin1Char('.') + suffix;
}

PackFileFacts checkPackSticker(const QString &who, const StickerKind &kind, const OutputFileFormat &format,
                               const QByteArray &bytes)
{
    if (kind.cap.amount > 0 && bytes.size() > kind.cap.bytes())
        throw QuillowError(QStringLiteral("%1：文件有 %2 字节，超过了 %3 的上限")
                               .arg(who)
                               .arg(bytes.size())
                               .arg(kind.cap.text()));
    const PackFileFacts facts = factsOf(bytes, format);
    const QSize size = facts.size;
    const bool box = isBoxRule(kind.sizeRule);
    const int tallest = box ? kind.height : kind.side;
    const bool fits = size.width() <= kind.side && size.height() <= tallest;
    const bool exact = kind.sizeRule == StickerSizeRule::Square ? size == QSize(kind.side, kind.side)
                       : kind.sizeRule == StickerSizeRule::LongestExactly
                           ? qMax(size.width(), size.height()) == kind.side
                           : true;
    if (!fits || !exact)
        throw QuillowError(QStringLiteral("%1：图片是 %2 像素，不合规定的 %3")
                               .arg(who, sizeText(size), sizeText(QSize(kind.side, tallest))));
    if (box && (size.width() % 2 || size.height() % 2))
        throw QuillowError(QStringLiteral("%1：图片是 %2 像素，宽和高都必须是偶数").arg(who, sizeText(size)));
    if (kind.margin > 0 && !facts.ink.isEmpty() &&
        !QRect(QPoint(), size)
             .marginsRemoved(QMargins(kind.margin, kind.margin, kind.margin, kind.margin))
             .contains(facts.ink))
        throw QuillowError(QStringLiteral("%1：图案离边缘不到 %2 像素").arg(who).arg(kind.margin));
    if (kind.maxFrames && facts.frames > *kind.maxFrames)
        throw QuillowError(
            QStringLiteral("%1：有 %2 帧，最多 %3 帧").arg(who).arg(facts.frames).arg(*kind.maxFrames));
    return facts;
}

PackFileFacts checkPackImage(const PackImageRule &image, const QByteArray &bytes)
{
    if (image.cap.amount > 0 && bytes.size() > image.cap.bytes())
        throw QuillowError(QStringLiteral("%1有 %2 字节，超过了 %3 的上限")
                               .arg(image.label)
                               .arg(bytes.size())
                               .arg(image.cap.text()));
    const PackFileFacts facts = factsOf(bytes, *image.format);
    if (facts.size != image.size)
        throw QuillowError(QStringLiteral("%1是 %2 像素，必须是 %3")
                               .arg(image.label, sizeText(facts.size), sizeText(image.size)));
    return facts;
}

void checkPackArchiveSize(const StickerPackRule &rule, qint64 bytes)
{
    if (rule.archiveCap.amount > 0 && bytes > rule.archiveCap.bytes())
        throw QuillowError(QStringLiteral("%1 的贴纸包压缩后有 %2 字节，超过了 %3 的上限")
                               .arg(rule.label)
                               .arg(bytes)
                               .arg(rule.archiveCap.text()));
}

QString stickerAppIdentifier(const QString &name)
{
    QString identifier;
    for (const QChar c : name)
        if ((c.unicode() < 128 && c.isLetterOrNumber()) || c == u'_' || c == u'-' || c == u'.' || c == u' ')
            identifier += c;
    identifier = identifier.trimmed();
    if (!identifier.isEmpty())
        return identifier;
    const QByteArray digest = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("pack_") + QString::fromLatin1(digest.left(8));
}

QByteArray stickerAppContents(const QString &name, const QString &publisher, const QString &trayFile,
                              bool animated, const std::vector<PackListedSticker> &stickers)
{
    QJsonArray list;
    for (const PackListedSticker &sticker : stickers)
        list.append(QJsonObject{{QStringLiteral("image_file"), sticker.file},
                                {QStringLiteral("emojis"), QJsonArray::fromStringList(sticker.emoji)}});
    const QJsonObject pack{
        {QStringLiteral("identifier"), stickerAppIdentifier(name)},
        {QStringLiteral("name"), name},
        {QStringLiteral("publisher"), publisher},
        {QStringLiteral("tray_image_file"), trayFile},
        {QStringLiteral("image_data_version"), QStringLiteral("1")},
        {QStringLiteral("avoid_cache"), false},
        {QStringLiteral("publisher_email"), QString()},
        {QStringLiteral("publisher_website"), QString()},
        {QStringLiteral("privacy_policy_website"), QString()},
        {QStringLiteral("license_agreement_website"), QString()},
        {QStringLiteral("animated_sticker_pack"), animated},
        {QStringLiteral("stickers"), list},
    };
    const QJsonObject contents{
        {QStringLiteral("android_play_store_link"), QString()},
        {QStringLiteral("ios_app_store_link"), QString()},
        {QStringLiteral("sticker_packs"), QJsonArray{pack}},
    };
    return QJsonDocument(contents).toJson(QJsonDocument::Indented);
}

QByteArray emojiList(const std::vector<PackListedSticker> &stickers)
{
    QByteArray text;
    for (const PackListedSticker &sticker : stickers)
        text +=
            (sticker.file + QLatin1Char('\t') + sticker.emoji.join(QString()) + QLatin1Char('\n')).toUtf8();
    return text;
}
