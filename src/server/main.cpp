#include "composition/font_request.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "jobs/child_pool.h"
#include "server/http_front.h"
#include "server/render_service.h"

#include <QFontDatabase>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void dropQtMessages(QtMsgType, const QMessageLogContext &, const QString &)
{}

// Brings into the render service what every render would otherwise set up
// for itself in its own forked process, then throw away: fontconfig's
// configuration, Qt's font database, the resolution of the default face and
// of each face that can write Chinese (the faces a request names), their
// font files and fallbacks, and a font engine for each size a strip's cells
// take at the default resolution, which is where a render spends its font
// lookups. Only state that any render builds the same way is made here, by
// measuring alone: nothing is drawn, so each render process still starts
// from the text state a new thread would (see markTextStateFresh()).
void warmUp()
{
    // A machine with a great many Chinese faces: the first ones, in the
    // database's order, so that starting stays quick.
    constexpr qsizetype kMostFaces = 32;
    QStringList faces = QFontDatabase::families(QFontDatabase::SimplifiedChinese).mid(0, kMostFaces);
    faces.prepend(kDefaultFace);
    FontTextMeasurer measurer;
    FontRequest request;
    for (const QString &face : faces) {
        request.faceName = face;
        for (int size = kLargestPointSize; size > kLargestPointSize - kPointStep * kMaxPhraseLength;
             size -= kPointStep) {
            request.pointSize = size;
            measurer.measure(QString(QChar{kReferenceGlyph}), request);
        }
    }
}

// The render service (see renderServiceArguments()): a process of its own,
// started without threads, so that it may fork render workers that use Qt.
int serveRenders(int socket, int workers, std::chrono::milliseconds timeLimit, int argc, char *argv[])
{
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    qInstallMessageHandler(dropQtMessages);
    clearThreadStartingEnvironment();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("quillow-serve"));
    warmUp();
    // This thread only measures; each render process forked from it draws
    // in it once instead of starting a thread with its own font set-up.
    markTextStateFresh();
    runRenderService(socket, workers, timeLimit);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], kRenderServiceArgument) == 0)
        return serveRenders(std::atoi(argv[2]), std::atoi(argv[3]),
                            std::chrono::milliseconds(std::atoll(argv[4])), argc, argv);

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
    return runHttpFront(options, stopping);
}
