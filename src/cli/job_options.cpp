#include "cli/job_options.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <climits>
#include <cmath>
#include <limits>

namespace {

// Each option with a value: its long name (also its batch field), the
// short name if any, the value's placeholder and the help line.
struct ValueOption {
    const char *name;
    const char *shortName;
    const char *valueName;
    const char *help;
};

const ValueOption kValueOptions[] = {
    {"output", "o", "FILE", "输出文件；格式由后缀（.png 或 .bmp）决定"},
    {"format", nullptr, "png|bmp|png-alpha",
     "输出格式：png 为窗口保存的索引 PNG（白色透明），bmp 为位图，png-alpha 为透明背景、边缘柔和的 RGBA PNG"},
    {"face", nullptr, "NAME", "字体名称（默认“微软雅黑”；未安装或不能写简体中文时按同一规则换用中文字体）"},
    {"halign", nullptr, "left|centre|right", "横对齐（默认 left）"},
    {"valign", nullptr, "top|middle|bottom", "纵对齐（默认 top）"},
    {"spacing", nullptr, "0..36", "每个字格额外的间隔，像素（默认 0）"},
    {"colours", nullptr, "random|gradient|default", "颜色：随机、渐变或默认文字颜色（默认 random）"},
    {"start", nullptr, "#RRGGBB", "渐变的起始色（默认 #0000FF）"},
    {"end", nullptr, "#RRGGBB", "渐变的终止色（默认 #FF0000）"},
    {"seed", nullptr, "N", "随机颜色的种子（0..4294967295），同一种子得到同样的颜色；不给则按时钟取种子"},
    {"dpi", nullptr, "N", "磅转像素所用的每英寸点数（默认 96）"},
    {"scale", nullptr, "F", "设备像素比（默认 1）：与窗口在缩放为 F 的屏幕上保存的文件逐字节相同"},
    {"batch", nullptr, "FILE|-", "批处理：JSON Lines 文件（- 为标准输入），每行一个图片"},
};

struct FlagOption {
    const char *name;
    const char *help;
};

const FlagOption kFlagOptions[] = {
    {"bold", "加粗"},
    {"italic", "斜体"},
    {"underline", "下划线"},
    {"strike-out", "删除线"},
};

constexpr double kMinDpi = 1.0;
constexpr double kMaxDpi = 1200.0; // 110 points are then 1833 pixels high
constexpr double kMinScale = 0.25;
constexpr double kMaxScale = 8.0;

const QString kUsageLine = QStringLiteral("用法：quillow-render [选项] -o FILE 短语\n"
                                          "      quillow-render [选项] --batch FILE|-");

QString quoted(const QString &value)
{
    return QStringLiteral("“%1”").arg(value);
}

// One of `names`, by position, as the 1-based value the settings keep.
int choice(const QString &option, const QString &what, const QString &value, const QStringList &names)
{
    const auto at = names.indexOf(value.trimmed().toLower());
    if (at < 0)
        throw UsageError(QStringLiteral("%1（--%2）只能是 %3，而不是 %4。")
                             .arg(what, option, names.join(QStringLiteral("、")), quoted(value)));
    return int(at) + 1;
}

ColourValue colour(const QString &option, const QString &what, const QString &value)
{
    static const QRegularExpression hexColour(
        QStringLiteral("^#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})$"));
    const auto match = hexColour.match(value.trimmed());
    if (!match.hasMatch())
        throw UsageError(QStringLiteral("%1（--%2）必须写成 #RRGGBB（如 #FF8000），而不是 %3。")
                             .arg(what, option, quoted(value)));
    return colourValue(match.captured(1).toInt(nullptr, 16), match.captured(2).toInt(nullptr, 16),
                       match.captured(3).toInt(nullptr, 16));
}

// A finite number from `low` to `high`.
double boundedNumber(const QString &option, const QString &what, const QString &value, double low,
                     double high)
{
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < low || number > high)
        throw UsageError(QStringLiteral("%1（--%2）必须是 %3 到 %4 之间的数，而不是 %5。")
                             .arg(what, option)
                             .arg(low)
                             .arg(high)
                             .arg(quoted(value)));
    return number;
}

void rejectUnknown(const QString &name)
{
    throw UsageError(QStringLiteral("未知选项：%1。").arg(quoted(name)));
}

} // namespace

bool isValueOption(const QString &name)
{
    for (const ValueOption &option : kValueOptions) {
        if (name == QLatin1String(option.name))
            return true;
    }
    return false;
}

bool isFlagOption(const QString &name)
{
    for (const FlagOption &flag : kFlagOptions) {
        if (name == QLatin1String(flag.name))
            return true;
    }
    return false;
}

void applyFlag(JobDraft &draft, const QString &name, bool on)
{
    StripSettings &settings = draft.job.settings;
    if (name == QLatin1String("bold"))
        settings.bold = on;
    else if (name == QLatin1String("italic"))
        settings.italic = on;
    else if (name == QLatin1String("underline"))
        settings.underline = on;
    else if (name == QLatin1String("strike-out"))
        settings.strikeOut = on;
    else
        rejectUnknown(name);
}

void applyOption(JobDraft &draft, const QString &name, const QString &value)
{
    RenderJob &job = draft.job;
    StripSettings &settings = job.settings;
    if (name == QLatin1String("output")) {
        job.output = value;
    } else if (name == QLatin1String("format")) {
        draft.format =
            OutputFormat(choice(name, QStringLiteral("格式"), value,
                                {QStringLiteral("png"), QStringLiteral("bmp"), QStringLiteral("png-alpha")}) -
                         1);
    } else if (name == QLatin1String("face")) {
        settings.faceName = value;
    } else if (name == QLatin1String("halign")) {
        settings.horzAlign =
            HorzAlign(choice(name, QStringLiteral("横对齐"), value,
                             {QStringLiteral("left"), QStringLiteral("centre"), QStringLiteral("right")}));
    } else if (name == QLatin1String("valign")) {
        settings.vertAlign =
            VertAlign(choice(name, QStringLiteral("纵对齐"), value,
                             {QStringLiteral("top"), QStringLiteral("middle"), QStringLiteral("bottom")}));
    } else if (name == QLatin1String("spacing")) {
        bool ok = false;
        const int spacing = value.trimmed().toInt(&ok);
        if (!ok || spacing < kMinSpacing || spacing > kMaxSpacing)
            throw UsageError(QStringLiteral("间隔（--spacing）必须是 %1 到 %2 之间的整数，而不是 %3。")
                                 .arg(kMinSpacing)
                                 .arg(kMaxSpacing)
                                 .arg(quoted(value)));
        settings.spacing = spacing;
    } else if (name == QLatin1String("colours")) {
        settings.colourMode = ColourMode(
            choice(name, QStringLiteral("颜色"), value,
                   {QStringLiteral("random"), QStringLiteral("gradient"), QStringLiteral("default")}));
    } else if (name == QLatin1String("start")) {
        settings.startColour = colour(name, QStringLiteral("起始色"), value);
    } else if (name == QLatin1String("end")) {
        settings.endColour = colour(name, QStringLiteral("终止色"), value);
    } else if (name == QLatin1String("seed")) {
        bool ok = false;
        const qulonglong seed = value.trimmed().toULongLong(&ok);
        if (!ok || seed > std::numeric_limits<std::uint32_t>::max())
            throw UsageError(QStringLiteral("种子（--seed）必须是 0 到 4294967295 之间的整数，而不是 %1。")
                                 .arg(quoted(value)));
        job.seed = std::uint32_t(seed);
    } else if (name == QLatin1String("dpi")) {
        job.dpi = boundedNumber(name, QStringLiteral("每英寸点数"), value, kMinDpi, kMaxDpi);
    } else if (name == QLatin1String("scale")) {
        job.scale = boundedNumber(name, QStringLiteral("设备像素比"), value, kMinScale, kMaxScale);
    } else {
        rejectUnknown(name);
    }
}

// Whether the system would refuse `path` for its length: a folder or file
// name longer than NAME_MAX bytes, or a whole path of PATH_MAX bytes or more.
// Said first, since any other complaint about such a name (its suffix) would
// send the user after the wrong fault.
bool nameTooLong(const QString &path)
{
    const QByteArray local = QFile::encodeName(path);
    if (local.size() >= PATH_MAX)
        return true;
    for (const QByteArray &part : local.split('/')) {
        if (part.size() > NAME_MAX)
            return true;
    }
    return false;
}

RenderJob finishJob(const JobDraft &draft)
{
    RenderJob job = draft.job;
    if (job.output.isEmpty())
        throw UsageError(
            QStringLiteral("缺少输出文件：命令行用 -o FILE 给出，批处理的行用 \"output\" 给出。"));
    if (nameTooLong(job.output))
        throw UsageError(QStringLiteral("文件名太长：文件或文件夹名最多 %1 字节，整个路径不到 %2 字节。")
                             .arg(NAME_MAX)
                             .arg(PATH_MAX));

    // Only the ends are trimmed, as the window does; the length that counts
    // is what remains, in UTF-16 code units.
    const QString phrase = trimmedCodeUnits(job.settings.text);
    if (phrase.isEmpty())
        throw UsageError(QStringLiteral("短语为空（去掉首尾空白后没有字），没有可画的内容。"));
    if (phrase.size() > kMaxPhraseLength)
        throw UsageError(QStringLiteral("短语太长：去掉首尾空白后有 %1 个 UTF-16 码元，最多 %2 个。")
                             .arg(phrase.size())
                             .arg(kMaxPhraseLength));
    job.settings.text = phrase;

    if (draft.format) {
        job.format = *draft.format;
    } else {
        const QString suffix = QFileInfo(job.output).suffix().toLower();
        if (suffix == QLatin1String("png"))
            job.format = OutputFormat::Png;
        else if (suffix == QLatin1String("bmp"))
            job.format = OutputFormat::Bmp;
        else
            throw UsageError(
                QStringLiteral("无法从文件名 %1 判断格式：后缀应为 .png 或 .bmp，或用 --format 指定。")
                    .arg(quoted(job.output)));
    }
    return job;
}

QString usageText()
{
    QString text =
        kUsageLine +
        QStringLiteral("\n\n把一句短语画成“喊叫”图片：字排成一行，逐字放大 10 磅，最后一个字 110 磅。\n"
                       "与窗口使用同样的设置、默认值和绘制，保存的文件逐字节相同。\n\n选项：\n");
    const auto line = [&text](const QString &names, const QString &help) {
        text += QStringLiteral("  %1\n      %2\n").arg(names, help);
    };
    for (const ValueOption &option : kValueOptions) {
        const QString shortName =
            option.shortName ? QStringLiteral("-%1, ").arg(QLatin1String(option.shortName)) : QString();
        line(QStringLiteral("%1--%2 %3")
                 .arg(shortName, QLatin1String(option.name), QLatin1String(option.valueName)),
             QString::fromUtf8(option.help));
    }
    for (const FlagOption &flag : kFlagOptions)
        line(QStringLiteral("--%1").arg(QLatin1String(flag.name)), QString::fromUtf8(flag.help));
    line(QStringLiteral("-h, --help"), QStringLiteral("显示本帮助"));
    line(QStringLiteral("-v, --version"), QStringLiteral("显示版本"));
    text +=
        QStringLiteral("\n批处理的每一行是一个 JSON 对象，含 \"phrase\"、\"output\"，以及任何选项的长名（如 "
                       "\"bold\": true、\"seed\": 3）；\n"
                       "命令行上的选项是每一行的默认值。每个非空行输出一行 JSON 结果，顺序同输入；\n"
                       "空行跳过，但计入行号。超过 1 MiB 的行是该行的错误。\n"
                       "收到 SIGINT 或 SIGTERM 时停止读入，已开始的行画完并报告，退出状态 130 或 143。\n\n"
                       "退出状态：0 成功；1 写文件失败或批处理有失败的行；2 输入有误（不写任何文件）。\n");
    return text;
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const ValueOption &option : kValueOptions) {
        QStringList names{QLatin1String(option.name)};
        if (option.shortName)
            names.prepend(QLatin1String(option.shortName));
        parser.addOption(
            QCommandLineOption(names, QString::fromUtf8(option.help), QLatin1String(option.valueName)));
    }
    for (const FlagOption &flag : kFlagOptions)
        parser.addOption(QCommandLineOption(QLatin1String(flag.name), QString::fromUtf8(flag.help)));
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, QString()));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            rejectUnknown((unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                          unknown.first());
        // The only other failures are a value missing after an option that
        // needs one, or a value given to one that takes none.
        static const QRegularExpression named(QStringLiteral("'([^']*)'"));
        const QString option = named.match(parser.errorText()).captured(1);
        const QString bare = option.mid(option.startsWith(QLatin1String("--")) ? 2 : 1);
        if (isFlagOption(bare))
            throw UsageError(QStringLiteral("选项 --%1 不带值。").arg(bare));
        throw UsageError(QStringLiteral("选项 %1 缺少值。").arg(option));
    }

    CommandLine command;
    if (parser.isSet(QStringLiteral("help"))) {
        command.action = CommandLine::Action::Help;
        return command;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        command.action = CommandLine::Action::Version;
        return command;
    }

    for (const ValueOption &option : kValueOptions) {
        const QString name = QLatin1String(option.name);
        if (name != QLatin1String("batch") && parser.isSet(name))
            applyOption(command.draft, name, parser.value(name));
    }
    for (const FlagOption &flag : kFlagOptions)
        applyFlag(command.draft, QLatin1String(flag.name), parser.isSet(QLatin1String(flag.name)));

    const QStringList phrases = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("batch"))) {
        if (!phrases.isEmpty() || parser.isSet(QStringLiteral("output")))
            throw UsageError(
                QStringLiteral("使用 --batch 时，短语和输出文件由每一行给出，命令行上不能再给。"));
        command.action = CommandLine::Action::Batch;
        command.batchSource = parser.value(QStringLiteral("batch"));
        return command;
    }

    if (phrases.size() > 1)
        throw UsageError(QStringLiteral("只能给一个短语（含空格的短语请加引号），多余的参数：%1。")
                             .arg(quoted(phrases.mid(1).join(QLatin1Char(' ')))));
    if (phrases.isEmpty() && parser.isSet(QStringLiteral("output")))
        throw UsageError(QStringLiteral("缺少短语。\n") + kUsageLine);
    if (!phrases.isEmpty())
        command.draft.job.settings.text = phrases.first();
    command.draft.job = finishJob(command.draft);
    return command;
}

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
            QStringLiteral("第 %1 行第 %2 个字节不是有效的 UTF-8。").arg(lineNumber).arg(badByte + 1));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt counts from the start of the line in bytes; a column is what
        // an editor shows, one per character.
        const int column = int(QString::fromUtf8(line.left(error.offset)).size()) + 1;
        throw UsageError(QStringLiteral("不是有效的 JSON（第 %1 行第 %2 列：%3）。")
                             .arg(lineNumber)
                             .arg(column)
                             .arg(jsonProblem(error.error)));
    }
    if (!document.isObject())
        throw UsageError(QStringLiteral("每一行必须是一个 JSON 对象。"));

    JobDraft draft = defaults;
    const QJsonObject object = document.object();
    const QHash<QString, QString> typed = numbersAsTyped(line);
    // The command line refuses to draw without a phrase; so does a line.
    if (!object.contains(QStringLiteral("phrase")))
        throw UsageError(QStringLiteral("缺少字段 “phrase”：每一行必须给出短语。"));
    for (auto field = object.begin(); field != object.end(); ++field) {
        const QString name = field.key();
        const QJsonValue value = field.value();
        if (name == QLatin1String("phrase") || name == QLatin1String("output")) {
            if (!value.isString())
                throw UsageError(QStringLiteral("字段 %1 必须是字符串。").arg(quoted(name)));
            if (name == QLatin1String("phrase"))
                draft.job.settings.text = value.toString();
            else
                draft.job.output = value.toString();
        } else if (isFlagOption(name)) {
            if (!value.isBool())
                throw UsageError(QStringLiteral("字段 %1 必须是 true 或 false。").arg(quoted(name)));
            applyFlag(draft, name, value.toBool());
        } else if (!isValueOption(name) || name == QLatin1String("batch")) {
            throw UsageError(QStringLiteral("未知字段：%1。").arg(quoted(name)));
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
            throw UsageError(QStringLiteral("字段 %1 的值必须是字符串或数字。").arg(quoted(name)));
        }
    }
    return finishJob(draft);
}
