#include "composition/grapheme_clusters.h"

#include <QTextBoundaryFinder>

namespace {

bool unpairedAt(QStringView text, qsizetype i)
{
    const QChar unit = text.at(i);
    if (unit.isHighSurrogate())
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (unit.isLowSurrogate())
        return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

// Appends `cluster` with every unpaired surrogate half split off as an entry
// of its own: the boundary finder lets marks and joiners attach to a lone
// half, but it is no character, and a mark after it stays visible on its own.
void appendSplittingLoneHalves(QStringList &clusters, QStringView cluster)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < cluster.size(); ++i) {
        if (!unpairedAt(cluster, i))
            continue;
        if (i > start)
            clusters << cluster.mid(start, i - start).toString();
        clusters << QString(cluster.at(i));
        start = i + 1;
    }
    if (start < cluster.size())
        clusters << cluster.mid(start).toString();
}

} // namespace

QStringList graphemeClusters(const QString &text)
{
    QStringList clusters;
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = boundaries.toNextBoundary(); end > 0; end = boundaries.toNextBoundary()) {
        const QStringView cluster = QStringView(text).mid(start, end - start);
        // CR LF is one cluster for Unicode, but these are controls that a
        // reader does not see as one character; each keeps a cell of its
        // own, as every other control does.
        if (cluster == u"\r\n") {
            clusters << QStringLiteral("\r") << QStringLiteral("\n");
        } else {
            appendSplittingLoneHalves(clusters, cluster);
        }
        start = end;
    }
    return clusters;
}

qsizetype wholeClustersWithin(const QString &text, qsizetype limit)
{
    if (limit <= 0)
        return 0;
    if (limit >= text.size())
        return text.size();
    qsizetype length = 0;
    for (const QString &cluster : graphemeClusters(text)) {
        if (length + cluster.size() > limit)
            break;
        length += cluster.size();
    }
    return length;
}

bool hasVisibleCharacter(QStringView text)
{
    for (const char32_t codePoint : text.toUcs4()) {
        switch (QChar::category(codePoint)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Space:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
        case QChar::Mark_NonSpacing:
            break;
        default:
            return true;
        }
    }
    return false;
}
