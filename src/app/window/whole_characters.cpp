#include "app/window/whole_characters.h"

#include "composition/grapheme_clusters.h"

namespace {

bool isRegionalIndicator(char32_t codePoint)
{
    return codePoint >= 0x1F1E6 && codePoint <= 0x1F1FF;
}

// True for a character that the length limit visibly cut short: a joiner
// sequence still waiting for its next part, or one letter of a flag pair.
bool unfinished(const QString &character)
{
    if (character.endsWith(QChar(0x200D)))
        return true;
    const QList<uint> codePoints = character.toUcs4();
    return codePoints.size() == 1 && isRegionalIndicator(codePoints.first());
}

} // namespace

QValidator::State WholeCharactersValidator::validate(QString &input, int &pos) const
{
    // The edit cuts an insertion at the limit, leaving the cursor at the cut.
    const bool full = input.size() >= m_limit;
    for (qsizetype i = input.size() - 1; i >= 0; --i) {
        const bool paired = i + 1 < input.size() && input.at(i + 1).isLowSurrogate();
        if (input.at(i).isHighSurrogate() && !paired) {
            input.remove(i, 1);
            if (pos > i)
                --pos;
        }
    }
    if (full && pos > 0) {
        const QStringList before = graphemeClusters(input.left(pos));
        if (!before.isEmpty() && unfinished(before.last())) {
            const auto length = int(before.last().size());
            input.remove(pos - length, length);
            pos -= length;
        }
    }
    return Acceptable;
}
