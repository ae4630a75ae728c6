#include "composition/strip_settings.h"

#include "composition/grapheme_clusters.h"

#include <algorithm>

QString trimmedCodeUnits(const QString &text)
{
    // Code-unit trimming on purpose: QString::trimmed() would also remove
    // U+3000 and other Unicode spaces, which belong to the phrase.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

QString StripSettings::trimmedPhrase() const
{
    // The edit never holds more than ten code units; a longer text from
    // elsewhere is cut the same way so that no size falls below 20 points,
    // but never inside a character.
    return trimmedCodeUnits(text.left(wholeClustersWithin(text, kMaxPhraseLength)));
}

std::int32_t radioValue(const QString &valueString)
{
    bool ok = false;
    const int value = valueString.trimmed().toInt(&ok);
    return ok ? value : 0;
}

std::int32_t wholeNumberFromField(const QString &fieldText, std::int32_t minimum, std::int32_t maximum)
{
    Q_ASSERT(minimum <= maximum);
    bool ok = false;
    const qlonglong value = fieldText.trimmed().toLongLong(&ok);
    if (!ok)
        return 0;
    return std::int32_t(std::clamp<qlonglong>(value, minimum, maximum));
}
