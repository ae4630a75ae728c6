#include "jobs/option_text.h"

#include "composition/quillow_error.h"
#include "composition/sticker_look.h"

#include <QRegularExpression>

#include <cstdlib>

QColor parseStickerColour(const QString &text, bool allowAlpha, const QString &what)
{
    static const QRegularExpression opaque(QStringLiteral("^#([0-9A-Fa-f]{6})$"));
    static const QRegularExpression withAlpha(QStringLiteral("^#([0-9A-Fa-f]{6})([0-9A-Fa-f]{2})?$"));
    const auto match = (allowAlpha ? withAlpha : opaque).match(text.trimmed());
    if (!match.hasMatch())
        throw QuillowError(
            allowAlpha ? QStringLiteral("%1必须写成 #RRGGBB 或 #RRGGBBAA（如 #00000080），而不是“%2”。")
                             .arg(what, text)
                       : QStringLiteral("%1必须写成 #RRGGBB（如 #FFFFFF），而不是“%2”。").arg(what, text));
    const uint rgb = match.captured(1).toUInt(nullptr, 16);
    const int alpha = match.hasCaptured(2) ? match.captured(2).toInt(nullptr, 16) : 255;
    return QColor(int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF), alpha);
}

QString formatStickerColour(const QColor &colour)
{
    QString text = QStringLiteral("#%1%2%3")
                       .arg(colour.red(), 2, 16, QLatin1Char('0'))
                       .arg(colour.green(), 2, 16, QLatin1Char('0'))
                       .arg(colour.blue(), 2, 16, QLatin1Char('0'));
    if (colour.alpha() != 255)
        text += QStringLiteral("%1").arg(colour.alpha(), 2, 16, QLatin1Char('0'));
    return text.toUpper();
}

QPoint parseShadowOffset(const QString &text, const QString &what)
{
    static const QRegularExpression pair(QStringLiteral("^\\s*([+-]?\\d{1,6})\\s*,\\s*([+-]?\\d{1,6})\\s*$"));
    const auto match = pair.match(text);
    const QPoint offset =
        match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint();
    if (!match.hasMatch() || std::abs(offset.x()) > kMaxShadowOffset ||
        std::abs(offset.y()) > kMaxShadowOffset)
        throw QuillowError(
            QStringLiteral("%1必须写成 X,Y（如 2,2），X 和 Y 是 %2 到 %3 之间的整数，而不是“%4”。")
                .arg(what)
                .arg(-kMaxShadowOffset)
                .arg(kMaxShadowOffset)
                .arg(text));
    return offset;
}

QString formatShadowOffset(QPoint offset)
{
    return QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y());
}
