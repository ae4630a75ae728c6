#include "composition/font_request.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <cmath>

bool writesSimplifiedChinese(const QString &family)
{
    return QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

namespace {

// Well-known sans-serif faces for Simplified Chinese, tried in this order
// before falling back to the first capable family by name, so that the same
// machine always gives the same face. They are family names as Qt lists them
// (微软雅黑 is listed as Microsoft YaHei).
const QStringList kPreferredChineseFaces = {
    QStringLiteral("Microsoft YaHei"),    QStringLiteral("Noto Sans CJK SC"),
    QStringLiteral("Source Han Sans SC"), QStringLiteral("WenQuanYi Micro Hei"),
    QStringLiteral("WenQuanYi Zen Hei"),  QStringLiteral("Droid Sans Fallback"),
};

// A name from Qt's own list is found there; any other name (a localized one
// such as 微软雅黑) goes through QFontDatabase::hasFamily, which first runs it
// through fontconfig's alias rules, a pass over the whole configuration that
// the window pays for before it first appears.
bool isInstalled(const QString &family, const QStringList &listed)
{
    return listed.contains(family, Qt::CaseInsensitive) || QFontDatabase::hasFamily(family);
}

QString fallbackChineseFace(const QStringList &listed)
{
    for (const QString &face : kPreferredChineseFaces) {
        if (listed.contains(face, Qt::CaseInsensitive) && writesSimplifiedChinese(face))
            return face;
    }
    QStringList capable = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    capable.sort();
    if (!capable.isEmpty())
        return capable.first();
    // No Chinese face at all: any face still draws Latin text.
    return QGuiApplication::font().family();
}

} // namespace

int pointsToPixels(int points, double dpi)
{
    return int(std::lround(double(points) * dpi / 72.0));
}

QString resolveFace(const QString &requested, int charSet)
{
    // Font database look-ups are slow compared to a preview; the answer only
    // changes when fonts are installed, which a running program does not see.
    // Strips are also rendered on worker threads, all sharing this cache.
    static QHash<QString, QString> resolved;
    static QMutex resolvedLock;
    if (charSet != kCharsetGB2312)
        return requested;
    const QMutexLocker lock(&resolvedLock);
    const auto hit = resolved.constFind(requested);
    if (hit != resolved.constEnd())
        return *hit;

    const QStringList listed = QFontDatabase::families();
    QString face;
    if (!requested.isEmpty() && isInstalled(requested, listed) && writesSimplifiedChinese(requested))
        face = requested;
    else
        face = fallbackChineseFace(listed);
    resolved.insert(requested, face);
    return face;
}

QFont fontFor(const FontRequest &request, double dpi)
{
    QFont font(resolveFace(request.faceName, request.charSet));
    font.setPixelSize(pointsToPixels(request.pointSize, dpi));
    font.setBold(request.bold);
    font.setItalic(request.italic);
    font.setUnderline(request.underline);
    font.setStrikeOut(request.strikeOut);
    font.setKerning(false);
    // Measuring and painting must agree to the pixel at every size, so the
    // metrics come from the design grid rather than hinted outlines.
    font.setHintingPreference(QFont::PreferNoHinting);
    // Grey-scale edges only: sub-pixel (LCD) edges carry colour fringes that
    // show on a transparent copy, and whether a desktop asks for them must
    // not change the saved picture.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return font;
}
