#pragma once

#include <QFont>
#include <QString>

constexpr int kCharsetGB2312 = 134;

// Sizes in the code are at 96 dpi; Qt scales widgets and fonts to the
// monitor itself.
constexpr double kDesignDpi = 96.0;

// The face a new composition asks for, in the window at its first show and on
// the command line without --face. Resolved like any request: where it is
// missing or cannot write Simplified Chinese, resolveFace() picks another.
inline const QString kDefaultFace = QStringLiteral("微软雅黑");

// What a character cell asks of the font engine. Measuring and painting build
// their QFont from the same request through fontFor(), so they agree.
struct FontRequest {
    QString faceName;
    int pointSize = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charSet = kCharsetGB2312;

    bool operator==(const FontRequest &) const = default;
};

// Typographic points to pixels, halves away from zero (110 pt -> 147 px and
// 20 pt -> 27 px at 96 dpi).
int pointsToPixels(int points, double dpi = kDesignDpi);

// True when the installed family `family` can write Simplified Chinese
// (GB2312). Safe on any thread.
bool writesSimplifiedChinese(const QString &family);

// The installed family used for `requested` under the character set: the
// requested family when it is installed and can write Simplified Chinese
// (GB2312); otherwise, by a fixed rule, a family that can. Never empty while
// any font is installed. Safe to call from any thread.
QString resolveFace(const QString &requested, int charSet = kCharsetGB2312);

// The QFont for a request: resolved family, pixel size from the points, the
// four style flags, no synthetic fallback surprises between measure and paint.
QFont fontFor(const FontRequest &request, double dpi = kDesignDpi);
