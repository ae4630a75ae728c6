#include "composition/text_measurer.h"

#include "composition/image_memory.h"

#include <QFontMetrics>

QSize FontTextMeasurer::measure(const QString &text, const FontRequest &font)
{
    const Key key{text, font};
    const auto hit = m_cache.constFind(key);
    if (hit != m_cache.constEnd())
        return *hit;

    requireTextHeadroom();
    const QFontMetrics metrics(fontFor(font, m_dpi));
    const QSize box(metrics.horizontalAdvance(text) + 2 * kCellFrame, metrics.height() + 2 * kCellFrame);
    m_cache.insert(key, box);
    return box;
}
