#include "composition/strip_layout.h"

#include "composition/grapheme_clusters.h"

FontRequest measuringFont(const StripSettings &settings, int pointSize)
{
    FontRequest request;
    request.faceName = settings.faceName;
    request.pointSize = pointSize;
    return request;
}

FontRequest cellFont(const StripSettings &settings, const Cell &cell)
{
    FontRequest request = measuringFont(settings, cell.pointSize);
    request.bold = settings.bold;
    request.italic = settings.italic;
    request.underline = settings.underline;
    request.strikeOut = settings.strikeOut;
    return request;
}

StripLayout computeStripLayout(const StripSettings &settings, TextMeasurer &measurer, QSize previewRegion)
{
    const QString reference(QChar{kReferenceGlyph});
    const QStringList characters = graphemeClusters(settings.trimmedPhrase());
    const auto n = std::int32_t(characters.size());
    Q_ASSERT(n <= kMaxPhraseLength);

    StripLayout layout;
    layout.settings = settings;
    layout.height = measurer.measure(reference, measuringFont(settings, kLargestPointSize)).height();

    // The cell width never depends on the character shown: every cell is
    // the reference glyph's width at its size, so the strip grows evenly.
    layout.cells.resize(std::size_t(n));
    int size = kLargestPointSize;
    for (std::int32_t index = n - 1; index >= 0; --index) {
        Cell &cell = layout.cells[std::size_t(index)];
        cell.index = index;
        cell.text = characters.at(index);
        cell.pointSize = size;
        cell.width = measurer.measure(reference, measuringFont(settings, size)).width() + settings.spacing;
        cell.height = layout.height;
        layout.width += cell.width;
        size -= kPointStep;
    }

    std::int32_t x = 0;
    for (Cell &cell : layout.cells) {
        cell.x = x;
        x += cell.width;
    }

    // C++ division truncates toward zero, which is the centring wanted when
    // the strip is larger than the region (-5 / 2 == -2).
    layout.left = (previewRegion.width() - layout.width) / 2;
    layout.top = (previewRegion.height() - layout.height) / 2;
    return layout;
}
