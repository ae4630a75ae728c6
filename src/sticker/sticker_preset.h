#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

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

// What a chat app takes as one kind of sticker: a still, or one that moves.
struct StickerKind {
    // The formats taken, the first made unless another is asked for; empty
    // when the app takes no such sticker that Quillow can make.
    std::vector<const OutputFileFormat *> formats;
    StickerSizeRule sizeRule = StickerSizeRule::NaturalAtMost;
    int side = 0;        // pixels
    qint64 capBytes = 0; // the largest file the app takes
    QString capText;     // the cap as the app publishes it, e.g. "256 KiB"
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

// The label the window shows for choosing no preset.
QString customPresetLabel();
