#include "composition/text_measurer.h"

#include "composition/image_memory.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <optional>

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

InkRows FontTextMeasurer::inkRows(const QString &text, const FontRequest &request)
{
    const int boxHeight = measure(text, request).height();
    const QFont font = fontFor(request, m_dpi);
    const QFontMetricsF metrics(font);
    // The lines Qt draws with the text, which its outline leaves out, are
    // ink too; a space has only those.
    std::optional<QRectF> ink;
    const auto include = [&ink](const QRectF &part) { ink = ink ? ink->united(part) : part; };
    if (const QRectF glyphs = metrics.tightBoundingRect(text); !glyphs.isEmpty())
        include(glyphs);
    const qreal line = metrics.lineWidth();
    if (request.underline)
        include(QRectF(0, metrics.underlinePos(), 1, line));
    if (request.strikeOut)
        include(QRectF(0, -metrics.strikeOutPos() - line / 2, 1, line));
    if (!ink)
        return {0, 0};
    // A twentieth of the size, and what emboldening adds (it widens the
    // outline by a 24th of the size across).
    const qreal air = font.pixelSize() / 20.0 + (request.bold ? font.pixelSize() / 48.0 : 0);
    const qreal baseline = kCellFrame + metrics.ascent();
    const int top = std::clamp(int(std::floor(baseline + ink->top() - air)), 0, boxHeight);
    const int bottom = std::clamp(int(std::ceil(baseline + ink->bottom() + air)), top, boxHeight);
    return {top, bottom};
}
