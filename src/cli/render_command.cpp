#include "cli/render_command.h"

#include "cli/pack_command.h"
#include "export/file_output.h"
#include "jobs/batch.h"
#include "jobs/job_options.h"

#include <QFile>
#include <QThread>

#include <csignal>
#include <string_view>

#include <unistd.h>

namespace {

void say(QIODevice &device, const QString &text)
{
    device.write(text.toUtf8());
}

// Help and version go to the results stream; a stream that takes less than
// all of it is a failure the caller must hear of.
int tell(QIODevice &output, QIODevice &errors, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (output.write(bytes) == bytes.size())
        return kExitOk;
    say(errors, QStringLiteral("quillow-render: 无法写出到标准输出：%1\n").arg(output.errorString()));
    return kExitFailed;
}

// Set while a single picture is being made, for stopSingleRun().
std::atomic<bool> singleRunActive{false};

QString signalName(int signal)
{
    return signal == SIGINT ? QStringLiteral("中断信号（SIGINT）") : QStringLiteral("终止信号（SIGTERM）");
}

// Written from a signal handler, so made before there is one to handle.
constexpr std::string_view kStoppedBySigint =
    "quillow-render: 收到中断信号（SIGINT），已停止：没有写出文件，已有的同名文件保持不变。\n";
constexpr std::string_view kStoppedBySigterm =
    "quillow-render: 收到终止信号（SIGTERM），已停止：没有写出文件，已有的同名文件保持不变。\n";

std::string_view stoppedMessage(int signal)
{
    return signal == SIGINT ? kStoppedBySigint : kStoppedBySigterm;
}

QString interruptedBy(int signal)
{
    return QStringLiteral("quillow-render: 收到%1，已停止读入；已开始的行都已画完并报告。\n")
        .arg(signalName(signal));
}

int runBatchFrom(const CommandLine &command, QIODevice &input, QIODevice &output, QIODevice &errors,
                 const std::atomic<int> &stop, int wake)
{
    QFile file;
    QIODevice *source = &input;
    if (command.batchSource != QLatin1String("-")) {
        file.setFileName(command.batchSource);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            say(errors, QStringLiteral("quillow-render: 无法读取批处理文件“%1”：%2\n")
                            .arg(command.batchSource, file.errorString()));
            return kExitBadInput;
        }
        source = &file;
    } else if (!input.isOpen() || !input.isReadable()) {
        say(errors, QStringLiteral("quillow-render: 标准输入已关闭，无法读取批处理。\n"));
        return kExitBadInput;
    }

    // Two lines per core keep every core busy while one writes its file.
    const BatchOutcome outcome =
        runBatch(*source, command.draft, output, 2 * QThread::idealThreadCount(), stop, wake, &errors);
    if (!outcome.writeError.isEmpty()) {
        say(errors,
            QStringLiteral("quillow-render: 无法写出结果：%1；已停止读入。\n").arg(outcome.writeError));
        return kExitFailed;
    }
    if (outcome.signal != 0) {
        say(errors, interruptedBy(outcome.signal));
        return 128 + outcome.signal;
    }
    if (!outcome.readError.isEmpty()) {
        say(errors, QStringLiteral("quillow-render: 读取批处理时出错：%1\n").arg(outcome.readError));
        return kExitBadInput;
    }
    if (outcome.failed > 0)
        say(errors,
            QStringLiteral("quillow-render: %1 行中有 %2 行失败。\n").arg(outcome.lines).arg(outcome.failed));
    return outcome.failed > 0 ? kExitFailed : kExitOk;
}

} // namespace

int runRenderCommand(const QStringList &arguments, QIODevice &input, QIODevice &output, QIODevice &errors,
                     const std::atomic<int> &stop, int wake)
{
    if (isPackCommand(arguments))
        return runPackCommand(arguments, input, errors, stop, wake);
    CommandLine command;
    try {
        command = parseCommandLine(arguments);
    } catch (const UsageError &error) {
        say(errors, QStringLiteral("quillow-render: %1\n请用 --help 查看用法。\n").arg(error.message()));
        return kExitBadInput;
    }

    switch (command.action) {
    case CommandLine::Action::Help:
        return tell(output, errors, usageText());
    case CommandLine::Action::Version:
        return tell(output, errors,
                    QStringLiteral("quillow-render %1\n").arg(QStringLiteral(QUILLOW_VERSION)));
    case CommandLine::Action::Batch:
        return runBatchFrom(command, input, output, errors, stop, wake);
    case CommandLine::Action::Render:
        break;
    }

    // A signal that came before the picture was begun stops it here; one
    // that comes later, in stopSingleRun(). The flag is set before `stop`
    // is read, and the handler sets `stop` before it reads the flag, so
    // one of the two sees the other.
    singleRunActive.store(true);
    if (const int signal = stop.load(); signal != 0) {
        const std::string_view message = stoppedMessage(signal);
        errors.write(message.data(), qint64(message.size()));
        return 128 + signal;
    }
    const JobReport report = renderJob(command.draft.job);
    singleRunActive.store(false);
    if (!report.ok()) {
        say(errors, QStringLiteral("quillow-render: %1\n").arg(report.error));
        return report.badInput ? kExitBadInput : kExitFailed;
    }
    for (const QString &warning : report.warnings)
        say(errors, QStringLiteral("quillow-render: %1\n").arg(warning));
    // The file is not quite what was asked for: say what gave way.
    if (report.sticker && !report.sticker->fitted.isEmpty())
        say(errors, QStringLiteral("quillow-render: %1\n").arg(report.sticker->fitted));
    // What to paste into the chat once the tiles are uploaded as emoji.
    if (report.sticker && !report.sticker->pasteText.isEmpty())
        say(output, report.sticker->pasteText + QLatin1Char('\n'));
    if (const int signal = stop.load(); signal != 0) {
        // The signal came as the complete file was taking its name.
        say(errors, QStringLiteral("quillow-render: 收到%1时文件已经写完。\n").arg(signalName(signal)));
        return 128 + signal;
    }
    return kExitOk;
}

void stopSingleRun(int signal) noexcept
{
    // Files that already have their names are the run's result: it goes on
    // to report them written rather than claim the old ones stayed.
    if (!singleRunActive.load() || !abandonFileWriting() || anyTargetReplaced())
        return;
    const std::string_view message = stoppedMessage(signal);
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, message.data(), message.size());
    _exit(128 + signal);
}
