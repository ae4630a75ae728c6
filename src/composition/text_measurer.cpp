#include "composition/text_measurer.h"

#include <QFontMetrics>

QSize FontTextMeasurer::measure(const QString &text, const FontRequest &font)
{
    const QString key = QStringLiteral("%1\x1f%2\x1f%3\x1f%4%5%6%7\x1f%8")
                            .arg(text, font.faceName)
                            .arg(font.pointSize)
                            .arg(int(font.bold))
                            .arg(int(font.italic))
                            .arg(int(font.underline))
                            .arg(int(font.strikeOut))
                            .arg(font.charSet);
    const auto hit = m_cache.constFind(key);
    if (hit != m_cache.constEnd())
        return *hit;

    const QFontMetrics metrics(fontFor(font, m_dpi));
    const QSize box(metrics.horizontalAdvance(text) + 2 * kCellFrame, metrics.height() + 2 * kCellFrame);
    m_cache.insert(key, box);
    return box;
}
