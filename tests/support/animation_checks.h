#pragma once

// What the tests of the animated writers share: a reveal made from a real
// strip, and comparisons of decoded frames with the frames given.

#include "laid_out_strip.h"

#include "composition/animation.h"
#include "composition/strip_rendering.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdlib>
#include <vector>

// The strip of `settings` appearing cell by cell on a transparent ground:
// frame k shows the first k cells at their final places; the last frame,
// the whole strip, holds for `holdMs`.
inline Animation revealOf(const StripSettings &settings, int frameMs = 120, int holdMs = 1500)
{
    const StripLayout whole = laidOutStrip(settings);
    Animation animation;
    for (std::size_t shown = 1; shown <= whole.cells.size(); ++shown) {
        StripLayout partial = whole;
        partial.cells.resize(shown);
        const bool last = shown == whole.cells.size();
        animation.frames.push_back(
            {renderStrip(partial, StripGround::Transparent, Qt::black), last ? holdMs : frameMs});
    }
    return animation;
}

// A flat rectangle of one straight-alpha colour.
struct Patch {
    QRect rect;
    QRgb colour;
};

inline Patch moved(Patch patch, int dx, int dy)
{
    patch.rect.translate(dx, dy);
    return patch;
}

// A 40 x 24 frame of flat rectangles on a transparent canvas: few enough
// colours that a shared palette holds every one exactly.
inline AnimationFrame patches(const std::vector<Patch> &parts, int delayMs)
{
    QImage image(40, 24, QImage::Format_ARGB32);
    image.fill(0);
    for (const Patch &part : parts)
        for (int y = part.rect.top(); y <= part.rect.bottom(); ++y)
            for (int x = part.rect.left(); x <= part.rect.right(); ++x)
                image.setPixel(x, y, part.colour);
    return {image.convertToFormat(QImage::Format_ARGB32_Premultiplied), delayMs};
}

inline StripSettings phraseSettings(const QString &phrase)
{
    StripSettings settings;
    settings.text = phrase;
    return settings;
}

// `image` painted over an opaque `ground`.
inline QImage onGround(const QImage &image, const QColor &ground)
{
    QImage result(image.size(), QImage::Format_RGB32);
    result.fill(ground);
    QPainter painter(&result);
    painter.drawImage(0, 0, image);
    return result;
}

// The share of pixels whose every channel on `ground` differs by at most
// `levels` between `shown` and `expected`; with `halfOpaqueOnly`, counting
// only the pixels that are at least half opaque in `expected`.
inline double shareWithin(const QImage &shown, const QImage &expected, const QColor &ground, int levels,
                          bool halfOpaqueOnly = false)
{
    const QImage a = onGround(shown, ground), b = onGround(expected, ground);
    const QImage alpha = expected.convertToFormat(QImage::Format_ARGB32);
    qint64 counted = 0, close = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (halfOpaqueOnly && qAlpha(alpha.pixel(x, y)) < 128)
                continue;
            ++counted;
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) <= levels && std::abs(qGreen(p) - qGreen(q)) <= levels &&
                std::abs(qBlue(p) - qBlue(q)) <= levels)
                ++close;
        }
    }
    return counted == 0 ? 1.0 : double(close) / double(counted);
}

// Empty when `shown` and `expected` hold the same straight-alpha pixels (any
// colour under full transparency counts as the same); otherwise where they
// first differ.
inline QString firstDifference(const QImage &shown, const QImage &expected)
{
    if (shown.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(shown.width())
            .arg(shown.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = shown.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (p != q && (qAlpha(p) != 0 || qAlpha(q) != 0))
                return QStringLiteral("(%1, %2): %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(p, 8, 16, QLatin1Char('0'))
                    .arg(q, 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}
