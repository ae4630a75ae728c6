#pragma once

#include "composition/font_request.h"

#include <QHash>
#include <QHashFunctions>
#include <QSize>
#include <QString>

// The margin between a cell's edge and its text box, on every side. Measuring
// adds it and painting draws inside it, so that a left-aligned reference glyph
// exactly fills a cell whose spacing is 0.
constexpr int kCellFrame = 0;

// The rows of a text's box (as measure() gives it, from its top) that its
// ink needs: [top, bottom), empty for text that draws nothing.
struct InkRows {
    int top = 0;
    int bottom = 0;
};

// The box a one-line, non-wrapping label needs for `text` in a font: the
// text's extent plus the constant inner frame.
class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    virtual QSize measure(const QString &text, const FontRequest &font) = 0;
    // The rows of measure()'s box that `text` inks, with a little air above
    // and below so that lines set by them never touch. This one says the
    // whole box.
    virtual InkRows inkRows(const QString &text, const FontRequest &font)
    {
        return {0, measure(text, font).height()};
    }
};

// Measures with Qt's font metrics, caching by text and request so that
// repeated previews cost no font work.
// Points become pixels at `dpi`, as they do when the strip is painted.
class FontTextMeasurer : public TextMeasurer {
public:
    explicit FontTextMeasurer(double dpi = kDesignDpi) : m_dpi(dpi) {}

    QSize measure(const QString &text, const FontRequest &font) override;
    // The glyphs' tight outline where they are drawn in the box, with the
    // underline or strike-out line, plus a twentieth of the size above and
    // below and what emboldening adds, within the box; empty for a space
    // without those lines.
    InkRows inkRows(const QString &text, const FontRequest &font) override;

private:
    double m_dpi;
    struct Key {
        QString text;
        FontRequest font;
        bool operator==(const Key &) const = default;
    };
    friend size_t qHash(const Key &key, size_t seed = 0)
    {
        const FontRequest &f = key.font;
        return qHashMulti(seed, key.text, f.faceName, f.pointSize, f.bold, f.italic, f.underline, f.strikeOut,
                          f.charSet);
    }

    QHash<Key, QSize> m_cache;
};
