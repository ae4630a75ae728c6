#include "cli/render_command.h"
#include "composition/image_memory.h"
#include "jobs/child_pool.h"
#include "jobs/job_options.h"

#include <QFile>
#include <QGuiApplication>

#include <fontconfig/fontconfig.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

namespace {

// What reading fontconfig's configuration and starting the application
// take with the usual fonts, and some more; a phrase cannot be drawn in
// less anyway.
constexpr std::size_t kStartupHeadroomBytes = std::size_t(40) << 20;

std::atomic<int> stopSignal{0};
int wakeWrite = -1;

void onStopSignal(int signal)
{
    const int interruptedErrno = errno;
    int expected = 0;
    stopSignal.compare_exchange_strong(expected, signal);
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(wakeWrite, &byte, 1);
    stopSingleRun(signal);
    errno = interruptedErrno;
}

// The command's own messages go to standard error through its own device;
// Qt's (font warnings such as "OpenType support missing", the runtime folder
// it creates without a desktop session) are not the caller's concern.
void dropQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        const QByteArray text = message.toLocal8Bit() + '\n';
        [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, text.constData(), size_t(text.size()));
    }
}

// A descriptor the caller left closed would be taken by the first file Qt
// opens, and reading "standard input" would then read that file, or wait
// forever on a socket. /dev/null holds the place; the flag remembers.
bool holdPlace(int fd)
{
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return true;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        ::close(opened);
    }
    return false;
}

void writeRaw(const char *text)
{
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, text, strlen(text));
}

} // namespace

int main(int argc, char *argv[])
{
    // One heap for every thread. A thread of its own would reserve an
    // arena of 64 MiB of address space; under a memory limit that fails,
    // and the allocator then tries again, and fails again, on every
    // allocation of the thread (millions of system calls for one sticker)
    // before it falls back to this heap after all.
    mallopt(M_ARENA_MAX, 1);
    const bool haveInput = holdPlace(STDIN_FILENO);
    holdPlace(STDOUT_FILENO);
    holdPlace(STDERR_FILENO);

    // A name or phrase that is not UTF-8 would be read with the byte replaced,
    // and a file of another name written.
    for (int i = 1; i < argc; ++i) {
        const qsizetype bad = invalidUtf8Offset(QByteArray(argv[i]));
        if (bad >= 0) {
            const QByteArray text =
                QStringLiteral(
                    "quillow-render: 第 %1 个参数的第 %2 个字节不是有效的 UTF-8，没有写任何文件。\n")
                    .arg(i)
                    .arg(bad + 1)
                    .toUtf8();
            writeRaw(text.constData());
            return kExitBadInput;
        }
    }

    // A full disk is reported as an error, a closed reader of the results
    // as a failed write, never as a silent death.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    int wakePipe[2] = {-1, -1};
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) == 0)
        wakeWrite = wakePipe[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    qInstallMessageHandler(dropQtMessages);
    // Fonts and painting need a GUI application, but never a screen: the
    // command runs on servers and in chat bots. A platform that was asked
    // for but cannot start (xcb without a display) would abort the process,
    // and one that starts (xcb, an input method) reads its events on a
    // thread of its own, which a batch must not have when it forks its
    // lines. The offscreen platform always starts, without a thread, and
    // draws the same pixels.
    clearThreadStartingEnvironment();
    // Fontconfig crashes when an allocation fails while it reads its
    // configuration, which the first font lookup does. Starting with room
    // for that and for the application is the only way to fail cleanly.
    if (!memoryAvailable(kStartupHeadroomBytes)) {
        writeRaw("quillow-render: 内存不足，无法启动。\n");
        return kExitFailed;
    }
    // Reading fontconfig's configuration and caches is the largest part of
    // the first font lookup, and the first lookup waits for it; here it
    // runs beside the start of the GUI application. Fontconfig makes the
    // configuration once, for every thread.
    std::thread fontConfiguration;
    try {
        fontConfiguration = std::thread([] { FcInit(); });
    } catch (const std::system_error &) {
        // No room for another thread: the lookup reads it when it needs it.
    }
    QGuiApplication app(argc, argv);
    if (fontConfiguration.joinable())
        fontConfiguration.join();
    QGuiApplication::setApplicationName(QStringLiteral("quillow-render"));

    // Descriptors, not stdio streams: each result reaches the reader whole
    // and at once, never held in a buffer.
    QFile input;
    QFile output;
    QFile errors;
    if (haveInput)
        input.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered);
    output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    errors.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    const int status =
        runRenderCommand(QCoreApplication::arguments(), input, output, errors, stopSignal, wakePipe[0]);
    // Every file is complete and renamed and every message written (the
    // devices are unbuffered): taking the application, its fonts and its
    // plugins apart again would only make the caller wait.
    _exit(status);
}
