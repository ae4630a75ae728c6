#include "jobs/command_line.h"
#include "jobs/option_rules.h"

#include "sticker/sticker_pack.h"
#include "sticker/sticker_preset.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

const QString kUsageLine = QStringLiteral("用法：quillow-render [选项] -o FILE 短语\n"
                                          "      quillow-render [选项] --batch FILE|-\n"
                                          "      quillow-render [选项] --pack APP -o NAME.zip FILE|-");

QString presetLabels()
{
    QStringList labels;
    for (const StickerPreset &preset : stickerPresets())
        labels << preset.label;
    return labels.join(QStringLiteral("、"));
}

} // namespace

QString usageText()
{
    QString text =
        kUsageLine +
        QStringLiteral("\n\n把一句短语画成“喊叫”图片：字排成一行，逐字放大 10 磅，最后一个字 110 磅。\n"
                       "与窗口使用同样的设置、默认值和绘制，保存的文件逐字节相同；\n"
                       "也能做聊天用的贴纸：动画（APNG、GIF、WebP、WEBM "
                       "视频）、描边、阴影，以及按聊天软件要求的预设。\n\n"
                       "选项：\n");
    for (const OptionRow &row : optionRows()) {
        const QString shortName =
            row.shortName ? QStringLiteral("-%1, ").arg(QLatin1String(row.shortName)) : QString();
        const QString values = optionValueName(row);
        const QString valueName = row.valueName ? QStringLiteral(" ") + values : QString();
        // Each app by the name the window shows it under.
        const QString help = QString::fromUtf8(row.help) + (QLatin1String(row.name) == QLatin1String("preset")
                                                                ? QStringLiteral("（%1）").arg(presetLabels())
                                                                : QString());
        text +=
            QStringLiteral("  %1--%2%3\n      %4\n").arg(shortName, QLatin1String(row.name), valueName, help);
    }
    text += QStringLiteral(
                "\n贴纸包：--pack APP（%1）把 FILE 里每行一句短语（Tab 后可跟标注它的表情）\n"
                "做成一个上传用的 ZIP，选项用于每一张贴纸；--pack-name 和 --publisher 给出包名和发布者，\n"
                "--icon-phrase 给出画图标的短语（默认第一句），--name-prefix 给出表情名的前缀。\n")
                .arg(stickerPackNames());
    text += QStringLiteral(
        "\n批处理的每一行是一个 JSON 对象，含 \"phrase\"、\"output\"，以及任何选项的长名（如 "
        "\"bold\": true、\"seed\": 3、\"effect\": \"reveal\"、\"outline\": 3）；\n"
        "命令行上的选项是每一行的默认值。每个非空行输出一行 JSON 结果，顺序同输入；\n"
        "贴纸的结果还有 \"bytes\"、\"frames\"、\"quality\"，有大小上限时还有 \"cap\" 和 "
        "\"colours\"，\n"
        "为满足上限放弃了什么时还有 \"fitted\"；拆成多个表情时有 \"tiles\"、\"tileFrames\" 和 \"paste\"。\n"
        "空行跳过，但计入行号。超过 1 MiB 的行是该行的错误。\n"
        "收到 SIGINT 或 SIGTERM 时停止读入，已开始的行画完并报告，退出状态 130 或 143。\n\n"
        "退出状态：0 成功；1 写文件失败或批处理有失败的行；2 输入有误、选项不能同时使用或"
        "达不到大小上限（不写任何文件）。\n");
    return text;
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionRow &row : optionRows()) {
        QStringList names{QLatin1String(row.name)};
        if (row.shortName)
            names.prepend(QLatin1String(row.shortName));
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(row.help), optionValueName(row)));
    }
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, QString()));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            rejectUnknownOption((unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                                unknown.first());
        // The only other failures are a value missing after an option that
        // needs one, or a value given to one that takes none.
        static const QRegularExpression named(QStringLiteral("'([^']*)'"));
        const QString option = named.match(parser.errorText()).captured(1);
        const QString bare = option.mid(option.startsWith(QLatin1String("--")) ? 2 : 1);
        if (isFlagOption(bare))
            throw UsageError(bare, QStringLiteral("选项 --%1 不带值。").arg(bare));
        throw UsageError(bare, QStringLiteral("选项 %1 缺少值。").arg(option));
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

    for (const OptionRow &row : optionRows()) {
        const QString name = QLatin1String(row.name);
        if (row.setFlag)
            row.setFlag(command.draft, parser.isSet(name));
        else if (row.setValue && parser.isSet(name))
            row.setValue(command.draft, name, parser.value(name));
    }

    const QStringList phrases = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("batch"))) {
        if (!phrases.isEmpty() || parser.isSet(QStringLiteral("output")))
            throw UsageError(
                QStringLiteral("batch"),
                QStringLiteral("使用 --batch 时，短语和输出文件由每一行给出，命令行上不能再给。"));
        command.action = CommandLine::Action::Batch;
        command.batchSource = parser.value(QStringLiteral("batch"));
        return command;
    }

    if (phrases.size() > 1)
        throw UsageError(QStringLiteral("phrase"),
                         QStringLiteral("只能给一个短语（含空格的短语请加引号），多余的参数：%1。")
                             .arg(quotedText(phrases.mid(1).join(QLatin1Char(' ')))));
    if (phrases.isEmpty() && parser.isSet(QStringLiteral("output")))
        throw UsageError(QStringLiteral("phrase"), QStringLiteral("缺少短语。\n") + kUsageLine);
    if (!phrases.isEmpty())
        command.draft.job.settings.text = phrases.first();
    command.draft.job = finishJob(command.draft);
    return command;
}
