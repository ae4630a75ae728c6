#include "sticker/emoji_names.h"

#include "composition/quillow_error.h"

#include <QFileInfo>

#include <algorithm>

const EmojiNameRule &discordEmojiNames()
{
    static const EmojiNameRule rule{
        2, 32, true, false, QLatin1Char('_'), "2 到 32 个英文字母、数字或下划线（_）"};
    return rule;
}

const EmojiNameRule &slackEmojiNames()
{
    static const EmojiNameRule rule{
        1, 100, false, true, QLatin1Char('-'), "最多 100 个小写英文字母、数字、连字符（-）或下划线（_）"};
    return rule;
}

QString emojiNameProblem(const EmojiNameRule &rule, const QString &name)
{
    const bool allowed = std::all_of(name.begin(), name.end(), [&](QChar c) {
        const char16_t unit = c.unicode();
        return (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') || unit == u'_' ||
               (rule.upperCase && unit >= u'A' && unit <= u'Z') || (rule.hyphen && unit == u'-');
    });
    if (allowed && name.size() >= rule.minLength && name.size() <= rule.maxLength)
        return {};
    return QStringLiteral("表情名“%1”不符合要求：须为 %2").arg(name, QString::fromUtf8(rule.description));
}

QString fallbackTileName()
{
    return QStringLiteral("shout");
}

QString tileEmojiName(const EmojiNameRule &rule, const QString &base, int index)
{
    return base + rule.indexSeparator + QString::number(index);
}

QString tileBaseName(const EmojiNameRule &rule, const QString &given, const QString &outputPath, int count)
{
    // The last tile's name is the longest; the first the shortest.
    const auto problem = [&](const QString &base) {
        const QString first = emojiNameProblem(rule, tileEmojiName(rule, base, 1));
        return first.isEmpty() ? emojiNameProblem(rule, tileEmojiName(rule, base, std::max(count, 1)))
                               : first;
    };
    if (!given.isEmpty()) {
        if (const QString why = problem(given); !why.isEmpty())
            throw QuillowError(why);
        return given;
    }
    const QString fromOutput = QFileInfo(outputPath).completeBaseName();
    if (!fromOutput.isEmpty() && problem(fromOutput).isEmpty())
        return fromOutput;
    return fallbackTileName();
}

QString tilePasteText(const EmojiNameRule &rule, const QString &base, int count)
{
    QString text;
    for (int index = 1; index <= count; ++index)
        text += QLatin1Char(':') + tileEmojiName(rule, base, index) + QLatin1Char(':');
    return text;
}

QString tileFilePath(const EmojiNameRule &rule, const QString &outputPath, const QString &base, int index)
{
    const QFileInfo output(outputPath);
    QString name = tileEmojiName(rule, base, index);
    if (!output.suffix().isEmpty())
        name += QLatin1Char('.') + output.suffix();
    // The folder as the caller wrote it, so that "shout.gif" gives
    // "shout_1.gif" and not "./shout_1.gif".
    return outputPath.left(outputPath.size() - output.fileName().size()) + name;
}
