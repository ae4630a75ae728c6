#include "server/render_service.h"

#include "composition/effect_frames.h"
#include "jobs/batch.h"
#include "jobs/job_options.h"
#include "server/wire.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <list>

#include <malloc.h>

#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Job {
    std::uint64_t id = 0;
    BatchLine line;
    QString path;
    QString phrase;
    const OutputFileFormat *format = nullptr;
    QByteArray etag; // empty: the bytes change from one render to the next
    pid_t pid = -1;
    int reply = -1;
    QByteArray replied;
    Clock::time_point deadline;
    bool timedOut = false;
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
// 5.14) refuses it, and the pages come one fault at a time as before.
void prepareRenderProcess()
{
    constexpr int kLargeBlock = 64 * 1024 * 1024;
    constexpr std::size_t kReady = 2 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    mallopt(M_TRIM_THRESHOLD, 4 * kLargeBlock);
    void *block = std::malloc(kReady);
    if (!block)
        return;
    const long page = sysconf(_SC_PAGESIZE);
    const auto start =
        (reinterpret_cast<std::uintptr_t>(block) + std::uintptr_t(page) - 1) & ~(std::uintptr_t(page) - 1);
    madvise(reinterpret_cast<void *>(start), kReady - std::size_t(2 * page), MADV_POPULATE_WRITE);
    std::free(block);
}

class Service {
public:
    Service(int socket, int workers, std::chrono::milliseconds timeLimit)
        : m_socket(socket), m_workers(workers), m_timeLimit(timeLimit)
    {}

    void run()
    {
        for (;;) {
            while (int(m_running.size()) < m_workers && !m_waiting.empty()) {
                start(std::move(m_waiting.front()));
                m_waiting.pop_front();
            }
            if (m_closed && m_running.empty())
                return;
            std::vector<pollfd> watched;
            if (!m_closed)
                watched.push_back({m_socket, POLLIN, 0});
            int wait = -1;
            const Clock::time_point now = Clock::now();
            for (const Job &job : m_running) {
                watched.push_back({job.reply, POLLIN, 0});
                if (!job.timedOut) {
                    const auto left =
                        std::chrono::ceil<std::chrono::milliseconds>(job.deadline - now).count();
                    wait = wait < 0 ? int(std::max<long long>(left, 0))
                                    : std::min(wait, int(std::max<long long>(left, 0)));
                }
            }
            if (poll(watched.data(), nfds_t(watched.size()), wait) < 0 && errno != EINTR)
                return;
            for (const pollfd &entry : watched) {
                if (entry.revents == 0)
                    continue;
                if (entry.fd == m_socket && !m_closed)
                    receive();
                else
                    readChild(entry.fd);
            }
            killLate();
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
            for (Job &job : m_running)
                kill(job.pid, SIGKILL);
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
            jobFromJsonLine(line, JobDraft(), 1); // throws the batch's own message
            throw UsageError(QString(), QStringLiteral("每一行必须是一个 JSON 对象。"));
        }
        QJsonObject object = document.object();
        if (object.contains(QStringLiteral("output")))
            throw UsageError(QStringLiteral("output"),
                             QStringLiteral("字段 “output” 由服务决定：请求里不能给出文件名。"));
        if (object.contains(QStringLiteral("batch")))
            throw UsageError(QStringLiteral("batch"), QStringLiteral("未知字段：“batch”。"));
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
        JobDraft chosenByOptions;
        chosenByOptions.formatByOptions = true;
        const OutputFileFormat *format =
            jobFromJsonLine(withFields(line, {{QStringLiteral("output"), QStringLiteral("render")}}),
                            chosenByOptions, 1)
                .format;
        job.path = QStringLiteral("render.") + QString(format->suffix);
        line = withFields(
            line, {{QStringLiteral("output"), job.path}, {QStringLiteral("format"), QString(format->name)}});
        const RenderJob renderJob = jobFromJsonLine(line, JobDraft(), 1);
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

    void start(Job job)
    {
        const BatchChild child = forkBatchLine(job.line, JobDraft(), LineOutput::Bytes);
        if (child.pid < 0) {
            send(errorReply(
                job.id, 500,
                QStringLiteral("无法开始渲染：%1。").arg(QString::fromLocal8Bit(strerror(errno)))));
            return;
        }
        job.pid = child.pid;
        job.reply = child.reply;
        job.deadline = Clock::now() + m_timeLimit;
        m_running.push_back(std::move(job));
    }

    void readChild(int fd)
    {
        for (auto job = m_running.begin(); job != m_running.end(); ++job) {
            if (job->reply != fd)
                continue;
            char block[64 * 1024];
            ssize_t got;
            do
                got = ::read(fd, block, sizeof block);
            while (got < 0 && errno == EINTR);
            if (got > 0) {
                job->replied.append(block, got);
                return;
            }
            ::close(fd);
            int status = 0;
            while (waitpid(job->pid, &status, 0) < 0 && errno == EINTR) {
            }
            finish(*job, status);
            m_running.erase(job);
            return;
        }
    }

    void finish(Job &job, int status)
    {
        BatchResult result = batchChildResult(job.line, job.replied, status);
        if (job.timedOut) {
            WireReply reply = errorReply(job.id, 504,
                                         QStringLiteral("渲染超过了 %1 秒的时间限制，已停止。")
                                             .arg(double(m_timeLimit.count()) / 1000.0));
            reply.workerLost = true;
            send(reply);
            return;
        }
        if (!result.ok()) {
            const bool died = WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
            WireReply reply = result.badInput ? errorReply(job.id, 400, result.error, result.key)
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
        send(reply);
    }

    void killLate()
    {
        const Clock::time_point now = Clock::now();
        for (Job &job : m_running) {
            if (!job.timedOut && job.deadline <= now) {
                kill(job.pid, SIGKILL);
                job.timedOut = true;
            }
        }
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
    std::list<Job> m_running;
};

} // namespace

void runRenderService(int socket, int workers, std::chrono::milliseconds timeLimit)
{
    setBatchChildPreparation(prepareRenderProcess);
    Service(socket, workers, timeLimit).run();
}
