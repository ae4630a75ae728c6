#include "composition/ink.h"

#include <algorithm>
#include <cmath>

namespace {

// WCAG's contrast minimum for normal text.
constexpr double kReadableContrast = 4.5;

double linearChannel(double channel)
{
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linearChannel(rgb.redF()) + 0.7152 * linearChannel(rgb.greenF()) +
           0.0722 * linearChannel(rgb.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor inkFromWindowText(const QColor &windowText)
{
    if (!windowText.isValid() || contrastRatio(windowText, Qt::white) < kReadableContrast)
        return Qt::black;
    QColor ink = windowText.toRgb();
    ink.setAlpha(255);
    return ink;
}
