#pragma once

#include "sticker/sticker_preset.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct OutputFileFormat;

// An image a pack carries besides its stickers: LINE's main and tab images,
// WhatsApp's tray icon, Telegram's set icon. Always exactly `size`.
struct PackImageRule {
    QString file;  // its name in the archive, e.g. "tab.png"
    QString label; // for messages, in Chinese: "标签图 tab.png"
    QSize size;
    // The format it is made in: a still one, or an animated one drawn with
    // the stickers' effect.
    const OutputFileFormat *format = nullptr;
    ByteCap cap; // amount 0: no cap of its own
    // How the phrase is drawn into it: a row of the pack's own, never one of
    // stickerPresets(); its kind for this image's format is the one used.
    const StickerPreset *drawing = nullptr;
};

// What a pack of still or of animated stickers must be.
struct PackKindRule {
    bool offered = false;    // the app takes such a pack
    std::vector<int> counts; // the only sticker counts taken; empty: minCount .. maxCount
    int minCount = 1;
    int maxCount = 0; // 0: no upper bound
    std::vector<PackImageRule> images;
};

// How a pack names its sticker files.
enum class PackNaming {
    Numbered, // "01.png", "02.png" …
    ChatName, // the chat's emoji name: prefix and number, "quillow_01.png"
};

// What a pack describes itself with besides its images.
enum class PackMetadata {
    None,
    StickerAppContents, // WhatsApp's sticker-app "contents.json"
    EmojiList,          // "emoji.txt": each sticker's file and emoji, in order
};

// What one chat app takes as a whole pack: a row of the pack table. Each
// sticker is made with `preset` as a single sticker for that app would be.
struct StickerPackRule {
    QString app;   // as the command line takes it: "line"
    QString label; // in Chinese messages: "LINE"
    const StickerPreset *preset = nullptr;
    PackKindRule still;
    PackKindRule animated;
    PackNaming naming = PackNaming::Numbered;
    PackMetadata metadata = PackMetadata::None;
    ByteCap archiveCap;    // amount 0: no cap
    int maxNameLength = 0; // characters of the pack's name and publisher; 0: not recorded
    int maxEmoji = 20;     // per sticker

    const PackKindRule &kind(bool animates) const { return animates ? animated : still; }
};

// Every pack rule, in the order the window lists them.
const std::vector<StickerPackRule> &stickerPackRules();

// The rule called `app` exactly, or null.
const StickerPackRule *stickerPackNamed(QStringView app);

// "line、whatsapp、…": the names, for messages and help.
QString stickerPackNames();

// One sticker of a pack as the phrase list gives it.
struct PackEntry {
    int line = 0; // in the list, from 1, as an editor counts
    QString phrase;
    QStringList emoji; // each one emoji; never empty once read
};

// Reads a phrase list: one phrase per line, optionally followed by a tab
// and the emoji that tag it; lines that are blank or start with "#" are
// skipped. Without emoji a phrase is tagged with its own first emoji, else
// 💬. Throws QuillowError naming the line for a tag that is not emoji, or
// for more tags than `maxEmoji`.
std::vector<PackEntry> readPackPhrases(const QString &text, int maxEmoji);

// One sticker of a list: `phrase` tagged with the emoji of `tags` (spaces
// and commas between them allowed), or when there are none with the
// phrase's own first emoji, else 💬. Throws QuillowError naming `line` for a
// tag that is not emoji, or for more than `maxEmoji`.
PackEntry packEntry(int line, const QString &phrase, const QString &tags, int maxEmoji);

// The emoji of `text` in order (whole sequences: modifiers, joiners, flags).
QStringList emojiIn(const QString &text);

// Throws QuillowError naming the app and the rule unless a pack of `count`
// stickers, still or animated, is one `rule` takes.
void checkPackCount(const StickerPackRule &rule, bool animates, int count);

// Throws QuillowError unless `name` and `publisher` are what `rule` takes:
// not empty where the metadata needs them, and no longer than its limit.
void checkPackNames(const StickerPackRule &rule, const QString &name, const QString &publisher);

// Throws QuillowError naming the chat's emoji name rule (the preset's, as
// tiles are named) when `prefix` cannot start such names.
void checkChatNamePrefix(const StickerPackRule &rule, const QString &prefix);

// The archive name of sticker `index` (from 1) of `count`, in `format`:
// "01.png", or "prefix_01.gif" for a chat's emoji.
QString packStickerFileName(const StickerPackRule &rule, int index, int count, const OutputFileFormat &format,
                            const QString &prefix);

// What a made sticker or image turned out to be, as decoded from its bytes.
struct PackFileFacts {
    QSize size;
    int frames = 1;
    QRect ink; // where any frame has a pixel that is not fully transparent
};

// Decodes `bytes` in `format` and checks it against the sticker kind
// `kind` (sides, even sides and margin of the box rules, cap, frames).
// Throws QuillowError with a message starting with `who` ("第 3 行“好的”")
// and naming the rule.
PackFileFacts checkPackSticker(const QString &who, const StickerKind &kind, const OutputFileFormat &format,
                               const QByteArray &bytes);

// As checkPackSticker() for an extra image: exactly its size, its format,
// within its cap.
PackFileFacts checkPackImage(const PackImageRule &image, const QByteArray &bytes);

// Throws QuillowError when an archive of `bytes` bytes is over the rule's cap.
void checkPackArchiveSize(const StickerPackRule &rule, qint64 bytes);

// A sticker as the metadata lists it.
struct PackListedSticker {
    QString file;
    QStringList emoji;
};

// WhatsApp's sticker-app "contents.json" for one pack.
QByteArray stickerAppContents(const QString &name, const QString &publisher, const QString &trayFile,
                              bool animated, const std::vector<PackListedSticker> &stickers);

// The identifier of a pack called `name` in that file: its letters, digits,
// "_", "-", "." and spaces, others dropped; when none remain (a name all in
// Chinese), "pack_" and a digest of the name, so that two packs differ.
QString stickerAppIdentifier(const QString &name);

// "emoji.txt": one line per sticker, "01.png<TAB>😀", in the stickers' order.
QByteArray emojiList(const std::vector<PackListedSticker> &stickers);
