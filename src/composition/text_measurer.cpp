#include "composition/text_measurer.h"

#include "composition/image_memory.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

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
    QRectF ink = metrics.tightBoundingRect(text);
    if (ink.isEmpty())
        return {0, boxHeight};
    // The lines Qt draws with the text, which its outline leaves out.
    if (request.underline)
        ink.setBottom(std::max(ink.bottom(), metrics.underlinePos() + metrics.lineWidth()));
    if (request.strikeOut) {
        ink.setTop(std::min(ink.top(), -metrics.strikeOutPos() - metrics.lineWidth()));
        ink.setBottom(std::max(ink.bottom(), -metrics.strikeOutPos() + metrics.lineWidth()));
    }
    // A twentieth of the size, and what emboldening adds (it widens the
    // outline by a 24th of the size across).
    const qreal air = font.pixelSize() / 20.0 + (request.bold ? font.pixelSize() / 48.0 : 0);
    const qreal baseline = kCellFrame + metrics.ascent();
    const int top = std::clamp(int(std::floor(baseline + ink.top() - air)), 0, boxHeight);
    const int bottom = std::clamp(int(std::ceil(baseline + ink.bottom() + air)), top, boxHeight);
    return {top, bottom};
}
