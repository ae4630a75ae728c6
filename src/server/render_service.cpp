#include "server/render_service.h"

#include "composition/effect_frames.h"
#include "jobs/batch.h"
#include "jobs/child_pool.h"
#include "jobs/job_options.h"
#include "server/wire.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>

#include <malloc.h>

#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Job {
    std::uint64_t id = 0;
    BatchLine line;
    QString path;
    QString phrase;
    const OutputFileFormat *format = nullptr;
    QByteArray etag;                               // empty: the bytes change from one render to the next
    std::chrono::steady_clock::time_point started; // when its render process was forked
};

WireReply errorReply(std::uint64_t id, int status, const QString &message, const QString &key = QString())
{
    QJsonObject object{{QStringLiteral("error"), message}};
    object.insert(QStringLiteral("key"), key.isEmpty() ? QJsonValue() : QJsonValue(key));
    WireReply reply;
    reply.id = id;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/json; charset=utf-8"}, {"Cache-Control", "no-store"}};
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
    return reply;
}

// The query's pairs as the batch line they stand for: a flag's value is
// "true", "false", "1", "0" or nothing; every other value is text, as on
// the command line.
QByteArray lineFromQuery(const std::string &payload)
{
    QJsonObject object;
    std::size_t at = 0;
    while (at < payload.size()) {
        const std::size_t nameEnd = payload.find('\0', at);
        const std::size_t valueEnd = payload.find('\0', nameEnd + 1);
        if (nameEnd == std::string::npos || valueEnd == std::string::npos)
            break;
        const QString name = QString::fromStdString(payload.substr(at, nameEnd - at));
        const QString value = QString::fromStdString(payload.substr(nameEnd + 1, valueEnd - nameEnd - 1));
        at = valueEnd + 1;
        if (isFlagOption(name)) {
            if (value.isEmpty() || value == QLatin1String("true") || value == QLatin1String("1"))
                object.insert(name, true);
            else if (value == QLatin1String("false") || value == QLatin1String("0"))
                object.insert(name, false);
            else
                object.insert(name, value); // refused with the line's own message
        } else {
            object.insert(name, value);
        }
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// `line` (a JSON object) with `fields` put in front of its own, which stay
// as typed; a field the line gives itself is left to the line.
QByteArray withFields(QByteArray line, const QList<std::pair<QString, QString>> &fields)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    QByteArray added;
    for (const auto &[name, value] : fields) {
        if (!object.contains(name))
            added +=
                QJsonDocument(QJsonObject{{name, value}}).toJson(QJsonDocument::Compact).chopped(1).mid(1) +
                ',';
    }
    if (object.isEmpty())
        added.chop(1);
    line.insert(line.indexOf('{') + 1, added);
    return line;
}

// RFC 6266: an ASCII fallback and the UTF-8 name.
std::string contentDisposition(const QString &phrase, const OutputFileFormat &format)
{
    const QString name = phrase.trimmed() + QLatin1Char('.') + QString(format.suffix);
    std::string fallback;
    for (const QChar c : name)
        fallback +=
            c.unicode() >= 0x20 && c.unicode() < 0x7F && c != QLatin1Char('"') && c != QLatin1Char('\\')
                ? char(c.unicode())
                : '_';
    return "inline; filename=\"" + fallback + "\"; filename*=UTF-8''" +
           QUrl::toPercentEncoding(name).toStdString();
}

// A render allocates a few MiB (its canvas, the indexed copy, deflate's
// state), and a process just forked takes each new page with a fault of its
// own, a good part of a small render's time. Here they are made ready in one
// call, and every large block is then carved from them: blocks from the heap
// rather than a mapping each, and nothing handed back to the system before
// the process ends. A kernel without MADV_POPULATE_WRITE (before Linux
// 5.14) refuses it, and the pages come one fault at a time as before. The
// threads an encoder starts share the one arena (see kRenderMemoryBytes).
void prepareRenderProcess()
{
    constexpr int kLargeBlock = 64 * 1024 * 1024;
    constexpr std::size_t kReady = 2 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    mallopt(M_TRIM_THRESHOLD, 4 * kLargeBlock);
    mallopt(M_ARENA_MAX, 1);
    void *block = std::malloc(kReady);
    if (!block)
        return;
    const long page = sysconf(_SC_PAGESIZE);
    const auto start =
        (reinterpret_cast<std::uintptr_t>(block) + std::uintptr_t(page) - 1) & ~(std::uintptr_t(page) - 1);
    madvise(reinterpret_cast<void *>(start), kReady - std::size_t(2 * page), MADV_POPULATE_WRITE);
    std::free(block);
}

// What one request may make, and the memory its render process may take.
//
// Pixels drive a render's memory: a still holds its canvas, an indexed or
// raw copy and the encoded file, about 9 bytes a pixel for a PNG and 12 for
// a BMP (measured: ten characters at 600 dpi and scale 2, 23 million pixels,
// grew a render by 200 and 270 MiB). 16 million pixel-frames keeps a still
// within about 200 MiB: ten characters at 600 dpi fit, and so does every
// sticker, whose size the presets and the 96-dpi strip bound; ten at 1200
// dpi and scale 8 (1.5 billion pixels) are refused before drawing. A BMP's
// file comes back whole through this process and the HTTP process, where
// each slow reader holds one, so it has a smaller cap of its own: 32 MiB,
// 8 million pixels.
//
// The memory limit is address space over what the render shares with this
// process at the fork (about 90 MiB). The heaviest sticker measured, ten
// characters revealed and shaken with an outline and a shadow as WEBM, took
// 263 MiB of it (the video libraries loaded for it and their buffers; 160 MiB
// of it resident), the largest still under the cap 200 MiB; 288 MiB leaves
// a tenth for what was not measured. One malloc arena per process keeps the
// encoders' threads from reserving 64 MiB each that they never touch.
//
// A pod's memory is then at most workers x 288 MiB + the two long-lived
// processes (HTTP about 20 MiB resident, this one about 25 MiB with its
// fonts warmed, and up to 64 MiB of bodies for slow readers): three workers
// take 3 x 288 + 109 = 973 MiB, within a Deployment's 1 GiB; four need
// 1261 MiB, a 1.25 GiB limit or more.
constexpr RenderCap kRequestCap{16'000'000, 32 * 1024 * 1024};
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps its shadow memory and a quarantine of freed blocks in
// a render's address space, and cannot report running out of it (the render
// hangs until its time limit): a sanitized build renders without the limit.
constexpr std::size_t kRenderMemoryBytes = 0;
#else
constexpr std::size_t kRenderMemoryBytes = std::size_t(288) << 20;
#endif

class Service {
public:
    Service(int socket, int workers, std::chrono::milliseconds timeLimit)
        : m_socket(socket), m_workers(workers), m_timeLimit(timeLimit), m_pool(childLimits(timeLimit))
    {}

    void run()
    {
        for (;;) {
            while (m_pool.running() < m_workers && !m_waiting.empty()) {
                start(std::move(m_waiting.front()));
                m_waiting.pop_front();
            }
            if (m_closed && m_pool.running() == 0)
                return;
            std::vector<pollfd> watched;
            if (!m_closed)
                watched.push_back({m_socket, POLLIN, 0});
            std::vector<FinishedChild> ended;
            if (!m_pool.wait(watched, ended))
                return;
            for (FinishedChild &child : ended)
                finish(std::move(child));
            if (!m_closed && watched.front().revents != 0)
                receive();
        }
    }

private:
    void receive()
    {
        WireRequest request;
        if (!readRequest(m_socket, request)) {
            // The HTTP process is gone: nobody waits for the renders.
            m_closed = true;
            m_waiting.clear();
            m_pool.killAll();
            return;
        }
        try {
            prepare(request);
        } catch (const UsageError &error) {
            send(errorReply(request.id, 400, error.message(), error.key()));
        } catch (const QuillowError &error) {
            send(errorReply(request.id, 500, error.message()));
        }
    }

    // Checks the request as a batch line would be checked and queues it, or
    // answers 304 when the client already has its bytes.
    void prepare(const WireRequest &request)
    {
        QByteArray line =
            request.query ? lineFromQuery(request.payload) : QByteArray::fromStdString(request.payload);
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject()) {
            jobFromJsonLine(line, m_defaults, 1); // throws the batch's own message
            throw UsageError(QString(), QStringLiteral("每一行必须是一个 JSON 对象。"));
        }
        QJsonObject object = document.object();
        if (object.contains(QStringLiteral("output")))
            throw UsageError(QStringLiteral("output"),
                             QStringLiteral("字段 “output” 由服务决定：请求里不能给出文件名。"));
        if (object.contains(QStringLiteral("batch")))
            throw UsageError(QStringLiteral("batch"), QStringLiteral("未知字段：“batch”。"));
        // A sticker pack is one ZIP, made by the line's child (no format row).
        if (object.contains(QStringLiteral("pack"))) {
            object.insert(QStringLiteral("output"), QStringLiteral("pack.zip"));
            Job job;
            job.id = request.id;
            job.line = {1, QJsonDocument(object).toJson(QJsonDocument::Compact), false};
            m_waiting.push_back(std::move(job));
            return;
        }
        // A reply carries one picture; tiles are several files.
        if (object.contains(QStringLiteral("tiles")))
            throw UsageError(
                QStringLiteral("tiles"),
                QStringLiteral("服务每次只回一张图片：拆成多个表情（tiles）请用 quillow-render。"));
        Job job;
        job.id = request.id;
        // The file is never written (the bytes come back over the pipe): the
        // name only gives the line its format, the one the command line
        // would choose for the options (a preset's own, say). The fields go
        // in front of the client's own text, which stays as typed: a refusal
        // quotes the number as the client wrote it.
        JobDraft chosenByOptions = m_defaults;
        chosenByOptions.formatByOptions = true;
        const OutputFileFormat *format =
            jobFromJsonLine(withFields(line, {{QStringLiteral("output"), QStringLiteral("render")}}),
                            chosenByOptions, 1)
                .format;
        job.path = QStringLiteral("render.") + QString(format->suffix);
        line = withFields(
            line, {{QStringLiteral("output"), job.path}, {QStringLiteral("format"), QString(format->name)}});
        const RenderJob renderJob = jobFromJsonLine(line, m_defaults, 1);
        job.line = {1, line, false};
        job.phrase = renderJob.settings.text;
        job.format = renderJob.format;
        const bool fixed =
            renderJob.seed.has_value() || (renderJob.settings.colourMode != ColourMode::Random &&
                                           !effectRow(renderJob.sticker.effect).animates);
        if (fixed) {
            QCryptographicHash hash(QCryptographicHash::Sha256);
            hash.addData(QByteArrayLiteral(QUILLOW_VERSION "\n"));
            hash.addData(QByteArray(job.format->name.data(), job.format->name.size()) + '\n');
            // Each value as the command line would read it: "seed": 7 by
            // POST and seed=7 by GET are the same bytes, so the same tag.
            QJsonObject normalised;
            for (auto field = object.begin(); field != object.end(); ++field)
                normalised.insert(field.key(), field.value().toVariant().toString());
            hash.addData(QJsonDocument(normalised).toJson(QJsonDocument::Compact));
            job.etag = '"' + hash.result().toHex().left(32) + '"';
            if (matches(request.ifNoneMatch, job.etag)) {
                WireReply reply;
                reply.id = request.id;
                reply.status = 304;
                reply.headers = cacheHeaders(job);
                send(reply);
                return;
            }
        }
        m_waiting.push_back(std::move(job));
    }

    static bool matches(const std::string &ifNoneMatch, const QByteArray &etag)
    {
        const QByteArray header = QByteArray::fromStdString(ifNoneMatch);
        if (header.trimmed() == "*")
            return true;
        for (const QByteArray &candidate : header.split(',')) {
            QByteArray tag = candidate.trimmed();
            if (tag.startsWith("W/"))
                tag = tag.mid(2);
            if (tag == etag)
                return true;
        }
        return false;
    }

    static std::vector<std::pair<std::string, std::string>> cacheHeaders(const Job &job)
    {
        if (job.etag.isEmpty())
            return {{"Cache-Control", "no-store"}};
        return {{"ETag", job.etag.toStdString()}, {"Cache-Control", "public, max-age=31536000, immutable"}};
    }

    static ChildLimits childLimits(std::chrono::milliseconds timeLimit)
    {
        ChildLimits limits;
        limits.time = timeLimit;
        limits.memoryBytes = kRenderMemoryBytes;
        limits.prepare = prepareRenderProcess;
        limits.endsWithParent = true;
        return limits;
    }

    void start(Job job)
    {
        try {
            const std::uint64_t child = m_pool.start([this, &job](int reply) {
                renderLineInChild(job.line, m_defaults, LineOutput::Bytes, reply);
            });
            job.started = std::chrono::steady_clock::now();
            m_running.emplace(child, std::move(job));
        } catch (const QuillowError &error) {
            send(errorReply(job.id, 500, error.message()));
        }
    }

    void finish(FinishedChild &&child)
    {
        const auto running = m_running.find(child.id);
        if (running == m_running.end())
            return;
        finish(running->second, std::move(child.reply), child.status, child.overTimeLimit);
        m_running.erase(running);
    }

    // A file's bytes are held twice at most on their way to the socket: the
    // reply as read and the result's copy, then that copy and the message's.
    void finish(const Job &job, QByteArray &&replied, int status, bool timedOut)
    {
        BatchResult result = batchChildResult(job.line, replied, status);
        replied = QByteArray();
        if (timedOut) {
            WireReply reply = errorReply(job.id, 504,
                                         QStringLiteral("渲染超过了 %1 秒的时间限制，已停止。")
                                             .arg(double(m_timeLimit.count()) / 1000.0));
            reply.workerLost = true;
            send(reply);
            return;
        }
        if (!result.ok()) {
            const bool died = WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
            // Over the cap or out of memory: the request asks for more than
            // a render may make (413), which no retry changes.
            WireReply reply = result.tooLarge   ? errorReply(job.id, 413, result.error, result.key)
                              : result.badInput ? errorReply(job.id, 400, result.error, result.key)
                                                : errorReply(job.id, 500, result.error);
            reply.workerLost = died;
            send(reply);
            return;
        }
        WireReply reply;
        reply.id = job.id;
        reply.status = 200;
        reply.body.assign(result.bytes.constData(), std::size_t(result.bytes.size()));
        result.bytes.clear();
        reply.headers = cacheHeaders(job);
        if (!job.format) {
            reply.headers.insert(reply.headers.end(),
                                 {{"Content-Type", "application/zip"},
                                  {"Content-Disposition", "attachment; filename=\"pack.zip\""}});
            return send(reply);
        }
        reply.headers.emplace_back("Content-Type",
                                   std::string(job.format->mimeType.data(), job.format->mimeType.size()));
        reply.headers.emplace_back("Content-Disposition", contentDisposition(job.phrase, *job.format));
        reply.headers.emplace_back("X-Quillow-Format",
                                   std::string(job.format->name.data(), job.format->name.size()));
        if (const auto &facts = result.sticker) {
            reply.headers.emplace_back("X-Quillow-Bytes", std::to_string(facts->bytes));
            reply.headers.emplace_back("X-Quillow-Frames", std::to_string(facts->frames));
            reply.headers.emplace_back("X-Quillow-Quality", std::to_string(facts->quality));
            if (facts->cap) {
                reply.headers.emplace_back("X-Quillow-Cap", std::to_string(*facts->cap));
                reply.headers.emplace_back("X-Quillow-Colours", std::to_string(facts->colours));
            }
            if (!facts->fitted.isEmpty())
                reply.headers.emplace_back("X-Quillow-Fitted",
                                           QUrl::toPercentEncoding(facts->fitted).toStdString());
        }
        for (const QString &warning : result.warnings)
            reply.headers.emplace_back("X-Quillow-Warning", QUrl::toPercentEncoding(warning).toStdString());
        // The HTTP side splits a request's time into waiting and rendering
        // with it, and drops it from the answer.
        reply.headers.emplace_back("X-Quillow-Render-Ms",
                                   std::to_string(std::chrono::duration<double, std::milli>(
                                                      std::chrono::steady_clock::now() - job.started)
                                                      .count()));
        send(reply);
    }

    void send(const WireReply &reply)
    {
        if (!m_closed && !writeReply(m_socket, reply))
            m_closed = true;
    }

    int m_socket;
    int m_workers;
    std::chrono::milliseconds m_timeLimit;
    bool m_closed = false;
    std::deque<Job> m_waiting;
    JobDraft m_defaults = [] {
        JobDraft draft;
        draft.job.cap = kRequestCap;
        return draft;
    }();
    ChildPool m_pool;
    std::map<std::uint64_t, Job> m_running; // by the pool's id of its child
};

} // namespace

void runRenderService(int socket, int workers, std::chrono::milliseconds timeLimit)
{
    Service(socket, workers, timeLimit).run();
}
