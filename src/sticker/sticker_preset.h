#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct EmojiNameRule;
struct OutputFileFormat;

// How a preset sizes the canvas. The longest side never exceeds `side`.
enum class StickerSizeRule {
    NaturalAtMost,  // the strip as laid out, shrunk only when its longest side is over `side`
    LongestExactly, // the longest side exactly `side`, the other at most `side`
    Square,         // exactly side x side, the picture centred
    // The box rules: at most `side` wide and `height` tall, both sides even,
    // the picture as large as fits with `margin` clear pixels inside every edge.
    WithinBox,
    FillsBox, // as WithinBox, and the side the picture fills first exactly at its limit
};

// Whether `rule` is one of the box rules.
constexpr bool isBoxRule(StickerSizeRule rule)
{
    return rule == StickerSizeRule::WithinBox || rule == StickerSizeRule::FillsBox;
}

// The units apps publish their limits in: a KB is 1000 bytes, a KiB 1024,
// an MB 1000 KB and an MiB 1024 KiB.
enum class ByteUnit { KB, KiB, MB, MiB };

// A file size cap exactly as an app publishes it: one value with its unit,
// from which every text about the cap is made.
struct ByteCap {
    qint64 amount = 0;
    ByteUnit unit = ByteUnit::KB;

    qint64 bytes() const;
    QString text() const; // "256 KiB"
    bool binary() const { return unit == ByteUnit::KiB || unit == ByteUnit::MiB; }
};

// `bytes` in the family of units `cap` is stated in (KB, or KiB when the
// cap counts in 1024), rounded down to one decimal so that a size never
// reads as more than the file holds: 64,100 bytes read "64.1 KB", never
// "65 KB"; a whole number shows no decimal ("500 KB"). Without a cap, KB.
QString sizeInUnitOf(qint64 bytes, const ByteCap *cap);

// What a chat app takes as one kind of sticker: a still, or one that moves.
struct StickerKind {
    // The formats taken, the first made unless another is asked for; empty
    // when the app takes no such sticker that Quillow can make.
    std::vector<const OutputFileFormat *> formats;
    StickerSizeRule sizeRule = StickerSizeRule::NaturalAtMost;
    int side = 0; // pixels
    ByteCap cap;  // the largest file the app takes
    std::optional<int> maxFrames;
    int minFrameMs = 0;    // the shortest a frame may show; 0: any
    int maxDurationMs = 0; // the longest one play may last; 0: any
    // For an app that plays a sticker a few times and then shows its first
    // frame: the fewest frames, the most plays and the longest all plays
    // together may last. maxTotalPlayMs 0: it loops forever.
    int minFrames = 0;
    int maxPlays = 0;
    int maxTotalPlayMs = 0;
    int height = 0; // the box rules' tallest canvas; `side` is then its widest
    int margin = 0; // the box rules' clear pixels inside every edge
};

// What one chat app accepts as a sticker or custom emoji: everything the
// window, the command line and the sticker maker ask of it.
struct StickerPreset {
    QString name;  // as the command line takes it, e.g. "discord-emoji"
    QString label; // for the window, in Chinese
    StickerKind still;
    StickerKind animated;
    QString animatedRefusal; // the user's message when an effect is asked for and animated.formats is empty
    // For a chat that shows custom emoji side by side when their names are
    // typed or picked, how it names them; null for one that shows a single
    // sticker, where a shout cut into tiles means nothing. Only these
    // presets make tiles.
    const EmojiNameRule *emojiNames = nullptr;

    // The kind a sticker with or without animation is.
    const StickerKind &kind(bool animates) const { return animates ? animated : still; }
};

// Every preset. The window lists them in this order, after "自定义", which
// is no preset at all.
const std::vector<StickerPreset> &stickerPresets();

// The preset called `name`. Throws QuillowError naming it when there is none.
const StickerPreset &findStickerPreset(const QString &name);

// The preset called `name` exactly, or null.
const StickerPreset *stickerPresetNamed(QStringView name);

// Whether a sticker for `preset` (null: none) may animate.
bool presetAnimates(const StickerPreset *preset);

// The names of the presets that make tiles (their emojiNames set), for
// messages: "discord-emoji、slack".
QString tilePresetNames();

// The label the window shows for choosing no preset.
QString customPresetLabel();
