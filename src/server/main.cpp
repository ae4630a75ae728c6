#include "server/http_front.h"
#include "server/render_service.h"

#include <QGuiApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void dropQtMessages(QtMsgType, const QMessageLogContext &, const QString &)
{}

// The render service: a process of its own, forked before the HTTP server
// starts a thread, so that it may fork render workers that use Qt.
int serveRenders(int socket, const ServerOptions &options, int argc, char *argv[])
{
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    qInstallMessageHandler(dropQtMessages);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("quillow-serve"));
    runRenderService(socket, options.workers, options.timeLimit);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    ServerOptions options;
    std::string message;
    switch (parseServerOptions(argc, argv, options, message)) {
    case ParseOutcome::Help:
        std::fputs(message.c_str(), stdout);
        return 0;
    case ParseOutcome::Error:
        std::fprintf(stderr, "quillow-serve: %s\n", message.c_str());
        return 2;
    case ParseOutcome::Run:
        break;
    }

    signal(SIGPIPE, SIG_IGN);
    // Blocked here and in every thread the server starts: the main thread
    // alone takes them, with sigwait().
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::fprintf(stderr, "quillow-serve: 无法创建渲染通道：%s。\n", strerror(errno));
        return 1;
    }
    const pid_t service = fork();
    if (service < 0) {
        std::fprintf(stderr, "quillow-serve: 无法启动渲染进程：%s。\n", strerror(errno));
        return 1;
    }
    if (service == 0) {
        ::close(ends[0]);
        _exit(serveRenders(ends[1], options, argc, argv));
    }
    ::close(ends[1]);
    const int status = runHttpFront(options, ends[0], stopping);
    ::close(ends[0]);
    while (waitpid(service, nullptr, 0) < 0 && errno == EINTR) {
    }
    return status;
}
