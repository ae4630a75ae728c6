#include "jobs/json_line.h"
#include "jobs/option_rules.h"
#include "jobs/output_names.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// Qt's parse errors in the user's language.
QString jsonProblem(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("对象没有以 } 结束");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("字段名后缺少冒号");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("数组没有以 ] 结束");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("值之间缺少逗号");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("不是合法的值");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("数字没有写完");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("不是合法的数字");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("字符串中有非法的转义");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("字符串不是有效的 UTF-8");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("字符串没有以引号结束");
    case QJsonParseError::MissingObject:
        return QStringLiteral("应是一个对象");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("嵌套太深");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("内容太大");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("对象之后还有多余的内容");
    default:
        return QStringLiteral("格式错误");
    }
}

// The number fields of a line's top-level object exactly as they are written
// there, so that a message shows "1e300" as typed rather than Qt's reading
// of it. The line is valid JSON already.
QHash<QString, QString> numbersAsTyped(const QByteArray &line)
{
    QHash<QString, QString> typed;
    int depth = 0;
    QByteArray key;
    bool afterKey = false;
    for (qsizetype at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            const qsizetype start = ++at;
            while (at < line.size() && line[at] != '"')
                at += line[at] == '\\' ? 2 : 1;
            if (depth == 1 && !afterKey)
                key = line.mid(start, at - start);
        } else if (c == ':' && depth == 1) {
            afterKey = true;
            continue;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (depth == 1 && afterKey && (c == '-' || (c >= '0' && c <= '9'))) {
            const qsizetype start = at;
            while (at + 1 < line.size() && QByteArrayView("+-.eE0123456789").contains(line[at + 1]))
                ++at;
            // Keys are compared as Qt reads them, escapes resolved.
            const QString name = QJsonDocument::fromJson("{\"" + key + "\":0}").object().keys().value(0);
            typed.insert(name, QString::fromLatin1(line.mid(start, at + 1 - start)));
        }
        if (c != ' ' && c != '\t' && c != '\r')
            afterKey = false;
    }
    return typed;
}

// The byte offset of the first byte of `text` that is not UTF-8, or -1.
qsizetype invalidUtf8At(const QByteArray &text)
{
    for (qsizetype at = 0; at < text.size();) {
        const auto lead = uchar(text[at]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || at + length > text.size())
            return at;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int i = 1; i < length; ++i) {
            const auto next = uchar(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return at;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return at;
        at += length;
    }
    return -1;
}

} // namespace

qsizetype invalidUtf8Offset(const QByteArray &text)
{
    return invalidUtf8At(text);
}

RenderJob jobFromJsonLine(const QByteArray &line, const JobDraft &defaults, int lineNumber)
{
    const qsizetype badByte = invalidUtf8At(line);
    if (badByte >= 0)
        throw UsageError(
            QString(),
            QStringLiteral("第 %1 行第 %2 个字节不是有效的 UTF-8。").arg(lineNumber).arg(badByte + 1));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt counts from the start of the line in bytes; a column is what
        // an editor shows, one per character.
        const int column = int(QString::fromUtf8(line.left(error.offset)).size()) + 1;
        throw UsageError(QString(), QStringLiteral("不是有效的 JSON（第 %1 行第 %2 列：%3）。")
                                        .arg(lineNumber)
                                        .arg(column)
                                        .arg(jsonProblem(error.error)));
    }
    if (!document.isObject())
        throw UsageError(QString(), QStringLiteral("每一行必须是一个 JSON 对象。"));

    JobDraft draft = defaults;
    const QJsonObject object = document.object();
    const QHash<QString, QString> typed = numbersAsTyped(line);
    // The command line refuses to draw without a phrase; so does a line.
    if (!object.contains(QStringLiteral("phrase")))
        throw UsageError(QStringLiteral("phrase"), QStringLiteral("缺少字段 “phrase”：每一行必须给出短语。"));
    for (auto field = object.begin(); field != object.end(); ++field) {
        const QString name = field.key();
        const QJsonValue value = field.value();
        if (name == QLatin1String("phrase") || name == QLatin1String("output")) {
            if (!value.isString())
                throw UsageError(name, QStringLiteral("字段 %1 必须是字符串。").arg(quotedText(name)));
            if (name == QLatin1String("phrase"))
                draft.job.settings.text = value.toString();
            else
                draft.job.output = checkedOutputName(value.toString());
        } else if (isFlagOption(name)) {
            if (!value.isBool())
                throw UsageError(name,
                                 QStringLiteral("字段 %1 必须是 true 或 false。").arg(quotedText(name)));
            applyFlag(draft, name, value.toBool());
        } else if (!isValueOption(name) || name == QLatin1String("batch")) {
            throw UsageError(name, QStringLiteral("未知字段：%1。").arg(quotedText(name)));
        } else if (value.isString()) {
            applyOption(draft, name, value.toString());
        } else if (value.isDouble()) {
            // As typed first, so that a refusal quotes the user's own
            // text; then whole numbers as integers, so that "seed": 3.0 or
            // 1e3 reads as an integer option wants it.
            const double number = value.toDouble();
            const bool whole = std::trunc(number) == number && std::abs(number) < 1e15;
            try {
                applyOption(draft, name, typed.value(name, QString::number(number, 'g', 17)));
            } catch (const UsageError &asTyped) {
                if (!whole)
                    throw;
                try {
                    applyOption(draft, name, QString::number(qint64(number)));
                } catch (const UsageError &) {
                    throw asTyped;
                }
            }
        } else {
            throw UsageError(name, QStringLiteral("字段 %1 的值必须是字符串或数字。").arg(quotedText(name)));
        }
    }
    return finishJob(draft);
}
