#include "cli/pack_command.h"

#include "cli/render_command.h"
#include "jobs/job_options.h"
#include "jobs/pack_job.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// A phrase list is a few hundred short lines; anything far larger is not one.
constexpr qint64 kMaxPhraseListBytes = 1024 * 1024;

// The pack's own options; each takes a value.
const QStringList &packOptions()
{
    static const QStringList names{QStringLiteral("pack"),        QStringLiteral("pack-name"),
                                   QStringLiteral("publisher"),   QStringLiteral("icon-phrase"),
                                   QStringLiteral("name-prefix"), QStringLiteral("output")};
    return names;
}

struct PackArguments {
    QHash<QString, QString> values; // the pack's options by name, "output" included
    QStringList rest;               // every sticker option, for the command line's parser
    QStringList sources;            // the phrase list
};

// Takes the pack's own options and the phrase list out of the arguments,
// leaving the sticker options, which the command line's own parser reads.
PackArguments splitArguments(const QStringList &arguments)
{
    PackArguments split;
    split.rest << arguments.value(0);
    bool optionsEnded = false;
    for (qsizetype at = 1; at < arguments.size(); ++at) {
        const QString &argument = arguments[at];
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            split.sources << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const bool isLong = argument.startsWith(QLatin1String("--"));
        QString name = isLong ? argument.mid(2) : argument.mid(1, 1);
        std::optional<QString> value;
        if (isLong && name.contains(QLatin1Char('='))) {
            value = name.section(QLatin1Char('='), 1);
            name = name.section(QLatin1Char('='), 0, 0);
        } else if (!isLong && argument.size() > 2) {
            value = argument.mid(2);
        }
        if (name == QLatin1String("o"))
            name = QStringLiteral("output");
        if (packOptions().contains(name)) {
            if (!value) {
                if (at + 1 >= arguments.size())
                    throw UsageError(name, QStringLiteral("选项 --%1 缺少值。").arg(name));
                value = arguments[++at];
            }
            split.values.insert(name, *value);
            continue;
        }
        split.rest << argument;
        const bool takesNext = !value && isLong && !isFlagOption(name) && name != QLatin1String("help") &&
                               name != QLatin1String("version");
        if (takesNext && at + 1 < arguments.size())
            split.rest << arguments[++at];
    }
    return split;
}

QString readAllFrom(int fd, const QString &what)
{
    QByteArray bytes;
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw QuillowError(
                QStringLiteral("无法读取短语表%1：%2").arg(what, QString::fromLocal8Bit(strerror(errno))));
        if (got == 0)
            break;
        bytes.append(block, got);
        if (bytes.size() > kMaxPhraseListBytes)
            throw UsageError(QStringLiteral("phrases"),
                             QStringLiteral("短语表%1超过 1 MiB，不像是一张短语表。").arg(what));
    }
    const qsizetype bad = invalidUtf8Offset(bytes);
    if (bad >= 0)
        throw UsageError(QStringLiteral("phrases"),
                         QStringLiteral("短语表%1的第 %2 个字节不是有效的 UTF-8。").arg(what).arg(bad + 1));
    return QString::fromUtf8(bytes);
}

QString readPhraseList(const QString &source, QIODevice &input)
{
    if (source == QLatin1String("-")) {
        auto *file = qobject_cast<QFileDevice *>(&input);
        if (!file || !file->isOpen() || file->handle() < 0)
            throw UsageError(QStringLiteral("phrases"), QStringLiteral("标准输入已关闭，无法读取短语表。"));
        return readAllFrom(file->handle(), QStringLiteral("（标准输入）"));
    }
    QFile file(source);
    if (QFileInfo(source).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw UsageError(
            QStringLiteral("phrases"),
            QStringLiteral("无法读取短语表“%1”：%2")
                .arg(source, QFileInfo(source).isDir() ? QStringLiteral("这是文件夹") : file.errorString()));
    return readAllFrom(file.handle(), QStringLiteral("“%1”").arg(source));
}

void say(QIODevice &device, const QString &text)
{
    device.write(text.toUtf8());
}

} // namespace

bool isPackCommand(const QStringList &arguments)
{
    for (qsizetype at = 1; at < arguments.size(); ++at) {
        if (arguments[at] == QLatin1String("--"))
            return false;
        if (arguments[at] == QLatin1String("--pack") || arguments[at].startsWith(QLatin1String("--pack=")))
            return true;
    }
    return false;
}

int runPackCommand(const QStringList &arguments, QIODevice &input, QIODevice &errors,
                   const std::atomic<int> &stop, int wake)
{
    PackRequest request;
    try {
        const PackArguments split = splitArguments(arguments);
        const QString app = split.values.value(QStringLiteral("pack"));
        request.rule = stickerPackNamed(app);
        if (!request.rule)
            throw UsageError(
                QStringLiteral("pack"),
                QStringLiteral("没有“%1”这种贴纸包，可用的有：%2。").arg(app, stickerPackNames()));
        if (arguments.contains(QStringLiteral("--batch")))
            throw UsageError(
                QStringLiteral("batch"),
                QStringLiteral("--pack 和 --batch 不能同时使用；批处理里做贴纸包请用带 \"pack\" 的行。"));
        request.output = split.values.value(QStringLiteral("output"));
        if (request.output.isEmpty())
            throw UsageError(QStringLiteral("output"),
                             QStringLiteral("缺少输出文件：用 -o NAME.zip 给出贴纸包的文件名。"));
        if (split.sources.size() != 1)
            throw UsageError(
                QStringLiteral("phrases"),
                split.sources.isEmpty()
                    ? QStringLiteral("缺少短语表：给出一个文件（每行一句短语），或用 - 从标准输入读。")
                    : QStringLiteral("只能给一个短语表，多余的参数：%1。")
                          .arg(split.sources.mid(1).join(u' ')));
        // The sticker options go through the command line's own parser, as
        // the defaults of a batch would.
        request.draft =
            parseCommandLine(split.rest + QStringList{QStringLiteral("--batch"), QStringLiteral("-")}).draft;
        const QString base = QFileInfo(request.output).completeBaseName();
        request.name = split.values.value(QStringLiteral("pack-name"), base);
        request.publisher = split.values.value(QStringLiteral("publisher"), QStringLiteral("Quillow"));
        request.iconPhrase = split.values.value(QStringLiteral("icon-phrase"));
        request.namePrefix = split.values.value(QStringLiteral("name-prefix"), request.namePrefix);
        request.entries = readPackList(*request.rule, readPhraseList(split.sources.first(), input));
    } catch (const UsageError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n请用 --help 查看用法。\n").arg(error.message()));
        return kExitBadInput;
    } catch (const QuillowError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n").arg(error.message()));
        return kExitFailed;
    }

    try {
        // Two lines per core keep every core busy while one writes its file.
        const MadePack pack = makePack(request, childRenderer(2 * QThread::idealThreadCount(), stop, wake));
        if (const int signal = stop.load(); signal != 0) {
            say(errors, QStringLiteral("quillow-render: 收到信号，已停止：没有写出贴纸包。\n"));
            return 128 + signal;
        }
        for (const QString &warning : pack.warnings)
            say(errors, QStringLiteral("quillow-render: %1\n").arg(warning));
        writePack(pack, request.output);
        if (const int signal = stop.load(); signal != 0) {
            say(errors, QStringLiteral("quillow-render: 收到信号时贴纸包已经写完。\n"));
            return 128 + signal;
        }
    } catch (const UsageError &error) {
        if (const int signal = stop.load(); signal != 0) {
            say(errors, QStringLiteral("quillow-render: 收到信号，已停止：没有写出贴纸包。\n"));
            return 128 + signal;
        }
        QString message = error.message();
        if (message.endsWith(QStringLiteral("。")))
            message.chop(1);
        say(errors, QStringLiteral("quillow-render: %1；没有写出贴纸包。\n").arg(message));
        return kExitBadInput;
    } catch (const QuillowError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n").arg(error.message()));
        return kExitFailed;
    } catch (const std::bad_alloc &) {
        say(errors, QStringLiteral("quillow-render: %1\n").arg(outOfMemoryMessage()));
        return kExitFailed;
    }
    return kExitOk;
}
