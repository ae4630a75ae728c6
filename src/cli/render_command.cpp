#include "cli/render_command.h"

#include "cli/batch.h"
#include "cli/job_options.h"

#include <QFile>
#include <QThreadPool>

namespace {

void say(QIODevice &device, const QString &text)
{
    device.write(text.toUtf8());
}

int runBatchFrom(const CommandLine &command, QIODevice &input, QIODevice &output, QIODevice &errors)
{
    std::vector<BatchLine> lines;
    if (command.batchSource == QLatin1String("-")) {
        lines = readBatchLines(input);
    } else {
        QFile file(command.batchSource);
        if (!file.open(QIODevice::ReadOnly)) {
            say(errors, QStringLiteral("quillow-render: 无法读取批处理文件“%1”：%2\n")
                            .arg(command.batchSource, file.errorString()));
            return kExitBadInput;
        }
        lines = readBatchLines(file);
    }
    const int failed = runBatch(lines, command.draft, output, *QThreadPool::globalInstance());
    if (failed > 0)
        say(errors, QStringLiteral("quillow-render: %1 行中有 %2 行失败。\n").arg(lines.size()).arg(failed));
    return failed > 0 ? kExitFailed : kExitOk;
}

} // namespace

int runRenderCommand(const QStringList &arguments, QIODevice &input, QIODevice &output, QIODevice &errors)
{
    CommandLine command;
    try {
        command = parseCommandLine(arguments);
    } catch (const UsageError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n请用 --help 查看用法。\n").arg(error.message()));
        return kExitBadInput;
    }

    switch (command.action) {
    case CommandLine::Action::Help:
        say(output, usageText());
        return kExitOk;
    case CommandLine::Action::Version:
        say(output, QStringLiteral("quillow-render %1\n").arg(QStringLiteral(QUILLOW_VERSION)));
        return kExitOk;
    case CommandLine::Action::Batch:
        return runBatchFrom(command, input, output, errors);
    case CommandLine::Action::Render:
        break;
    }

    try {
        runRenderJob(command.draft.job);
    } catch (const QuillowError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n").arg(error.message()));
        return kExitFailed;
    }
    return kExitOk;
}
