#include "composition/font_request.h"
#include "composition/strip_layout.h"
#include "composition/strip_rendering.h"
#include "composition/text_measurer.h"
#include "jobs/child_pool.h"
#include "server/http_front.h"
#include "server/render_service.h"
#include "server/server_options.h"
#include "server/wire.h"

#include <QCryptographicHash>
#include <QFontDatabase>
#include <QGuiApplication>

#include <fontconfig/fontconfig.h>
#include <gif_lib.h>
#include <libimagequant.h>
#include <webp/encode.h>
#include <zlib.h>

#include <sys/stat.h>

#include <algorithm>
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

// What shapes a render's bytes besides its options and this program's
// version: the libraries that draw and encode, and the font files a face
// name may resolve to (each by path, length and time of change, so that a
// font installed, removed or replaced changes it). The WEBM encoder is
// loaded only when a WEBM is made, and WEBM answers carry no tag.
std::string renderFingerprint()
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const std::string versions = std::string("qt ") + qVersion() + "\nzlib " + zlibVersion() + "\nwebp " +
                                 std::to_string(WebPGetEncoderVersion()) + "\ngif " +
                                 std::to_string(GIFLIB_MAJOR * 10000 + GIFLIB_MINOR * 100 + GIFLIB_RELEASE) +
                                 "\nimagequant " + std::to_string(liq_version()) + "\n";
    hash.addData(QByteArray::fromStdString(versions));
    QList<QByteArray> files;
    if (FcFontSet *fonts = FcConfigGetFonts(nullptr, FcSetSystem)) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8 *file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch)
                continue;
            struct stat facts {};
            const QByteArray path(reinterpret_cast<const char *>(file));
            if (::stat(path.constData(), &facts) == 0)
                files.append(path + ' ' + QByteArray::number(qlonglong(facts.st_size)) + ' ' +
                             QByteArray::number(qlonglong(facts.st_mtim.tv_sec)) + '\n');
        }
    }
    // A font set lists a file once per face in it, in no set order.
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    for (const QByteArray &file : files)
        hash.addData(file);
    return hash.result().toHex().left(12).toStdString();
}

// The render service (see renderServiceArguments()): a process of its own,
// started without threads, so that it may fork render workers that use Qt.
int serveRenders(int socket, int workers, std::chrono::milliseconds timeLimit, int argc, char *argv[])
{
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    // A hang-up sent to the whole process group (a closed terminal) is the
    // HTTP side's to act on.
    signal(SIGHUP, SIG_IGN);
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
    if (!writeHello(socket, {renderFingerprint()}))
        return 1;
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
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    return runHttpFront(options, handled);
}
