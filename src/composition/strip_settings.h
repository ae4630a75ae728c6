#pragma once

#include "composition/colour_value.h"

#include <QString>

#include <cstdint>

constexpr ColourValue kDefaultStartColour = kBlue;
constexpr ColourValue kDefaultEndColour = kRed;

// The three choices are plain 32-bit numbers taken from the radio items'
// value strings, so a value outside 1..3 is representable and simply selects
// nothing (the cell keeps left, top and the default colour).
enum class HorzAlign : std::int32_t { Left = 1, Centre = 2, Right = 3 };
enum class VertAlign : std::int32_t { Top = 1, Middle = 2, Bottom = 3 };
enum class ColourMode : std::int32_t { Random = 1, Gradient = 2, Default = 3 };

constexpr int kMaxPhraseLength = 10; // UTF-16 code units
constexpr std::int32_t kMinSpacing = 0;
constexpr std::int32_t kMaxSpacing = 36;
inline const QString kInitialPhrase = QStringLiteral("友谊的小船说翻就翻");

// Every value that drives one composition of the strip. Filled afresh from
// the controls each time "预览" runs; nothing is cached between previews.
struct StripSettings {
    QString text = kInitialPhrase; // raw, untrimmed; the save command's file name
    QString faceName;              // empty when nothing is selected
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    HorzAlign horzAlign = HorzAlign::Left;
    VertAlign vertAlign = VertAlign::Top;
    std::int32_t spacing = 0; // pixels, 0..36
    ColourMode colourMode = ColourMode::Random;
    ColourValue startColour = kDefaultStartColour;
    ColourValue endColour = kDefaultEndColour;

    // At most the first ten code units of `text`, cut before a character
    // that would not fit whole (wholeClustersWithin()), without leading and
    // trailing code units <= U+0020 (space and the C0 controls). U+3000 and
    // no-break spaces stay. Each of its grapheme clusters is one cell.
    QString trimmedPhrase() const;

    bool operator==(const StripSettings &) const = default;
};

// `text` without leading and trailing code units <= U+0020, whatever its
// length; U+3000 and no-break spaces stay.
QString trimmedCodeUnits(const QString &text);

// A radio item's value string as a number: "1" -> 1. Anything that is not a
// whole number gives 0, which selects nothing.
std::int32_t radioValue(const QString &valueString);

// A whole-number field's text: 0 when empty or unreadable (even where 0 lies
// outside the bounds: an empty field stands for 0), otherwise clamped to
// minimum..maximum.
std::int32_t wholeNumberFromField(const QString &fieldText, std::int32_t minimum, std::int32_t maximum);
