#include "jobs/batch.h"

#include "export/file_output.h"
#include "jobs/child_pool.h"
#include "jobs/output_names.h"
#include "jobs/pack_job.h"
#include "jobs/posix_io.h"

#include <QFileDevice>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <new>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

BatchResult runBatchLine(const BatchLine &line, const JobDraft &defaults, LineOutput output)
{
    BatchResult result;
    result.line = line.number;
    if (line.tooLong) {
        result.error = QStringLiteral("这一行超过 %1 字节（1 MiB），没有处理。").arg(kMaxBatchLineBytes);
        return result;
    }
    if (isPackLine(line.text))
        return runPackLine(line, defaults, output);
    try {
        const RenderJob job = jobFromJsonLine(line.text, defaults, line.number);
        result.output = job.output;
        const JobReport report = renderJob(job, output == LineOutput::Bytes ? &result.bytes : nullptr);
        result.error = report.error;
        result.sticker = report.sticker;
        result.warnings = report.warnings;
        result.badInput = report.badInput;
        result.tooLarge = report.tooLarge;
        result.key = report.key;
    } catch (const UsageError &error) {
        result.error = error.message();
        result.badInput = true;
        result.key = error.key();
    } catch (const QuillowError &error) {
        result.error = error.message();
    } catch (const std::bad_alloc &) {
        result.error = outOfMemoryMessage();
        result.tooLarge = true;
    }
    if (result.output.isEmpty() && !result.ok()) {
        // A line that failed before its job was complete may still name its
        // file; the result should say which.
        const QJsonValue output = QJsonDocument::fromJson(line.text).object().value(QStringLiteral("output"));
        result.output = output.toString();
    }
    return result;
}

int lineTimeLimitSeconds()
{
    static const int seconds = [] {
        bool ok = false;
        const int given = qEnvironmentVariableIntValue("QUILLOW_LINE_TIMEOUT", &ok);
        return ok && given > 0 ? given : kDefaultLineTimeLimitSeconds;
    }();
    return seconds;
}

namespace {

// `text` as a JSON string, quotes and escapes included.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

QByteArray resultLine(const BatchResult &result)
{
    // Written by hand rather than through QJsonObject, which would sort the
    // keys: a reader scanning the results wants the line number first.
    QByteArray line =
        "{\"line\":" + QByteArray::number(result.line) + ",\"output\":" + jsonString(result.output);
    if (result.ok()) {
        line += ",\"ok\":true";
        if (const auto &sticker = result.sticker) {
            line += ",\"bytes\":" + QByteArray::number(sticker->bytes) +
                    ",\"frames\":" + QByteArray::number(sticker->frames) +
                    ",\"quality\":" + QByteArray::number(sticker->quality);
            if (sticker->cap)
                line += ",\"cap\":" + QByteArray::number(*sticker->cap) +
                        ",\"colours\":" + QByteArray::number(sticker->colours);
            if (!sticker->fitted.isEmpty())
                line += ",\"fitted\":" + jsonString(sticker->fitted);
            if (!sticker->tileFiles.isEmpty()) {
                QByteArray files;
                for (const QString &file : sticker->tileFiles)
                    files += (files.isEmpty() ? "" : ",") + jsonString(file);
                QByteArray frames;
                for (const int count : sticker->tileFrames)
                    frames += (frames.isEmpty() ? "" : ",") + QByteArray::number(count);
                // The dpi in full, so that --dpi draws the uncut banner alike.
                line += ",\"tiles\":[" + files + "],\"tileFrames\":[" + frames +
                        "],\"paste\":" + jsonString(sticker->pasteText) +
                        ",\"dpi\":" + QByteArray::number(sticker->tileDpi, 'g', 17);
            }
        }
    } else
        line += ",\"ok\":false,\"error\":" + jsonString(result.error);
    return line + "}\n";
}

QByteArray warningLine(int line, const QString &warning)
{
    return QStringLiteral("quillow-render: 第 %1 行：%2\n").arg(line).arg(warning).toUtf8();
}

namespace {

// Splits the input into lines as it arrives, never holding more than one
// line of kMaxBatchLineBytes plus one block. A descriptor-backed device is
// read with read(2) after poll(2), so that any readable stream (a pipe, a
// FIFO, /dev/stdin, a terminal) is read as data comes, and a signal can end
// a wait for more.
class LineReader {
public:
    explicit LineReader(QIODevice &device) : m_device(device)
    {
        if (auto *file = qobject_cast<QFileDevice *>(&device))
            m_fd = file->handle();
    }

    int fd() const { return m_fd; }
    bool finished() const { return m_finished && m_ready.empty(); }
    bool hasLine() const { return !m_ready.empty(); }
    const QString &error() const { return m_error; }

    BatchLine take()
    {
        BatchLine line = std::move(m_ready.front());
        m_ready.pop_front();
        return line;
    }

    // Reads one block (blocking only for a device without a descriptor,
    // which never blocks in practice: a buffer or a test's device).
    void readBlock()
    {
        char block[64 * 1024];
        qint64 got = 0;
        if (m_fd >= 0) {
            got = readSome(m_fd, block, sizeof block);
            if (got < 0)
                m_error = QString::fromLocal8Bit(strerror(errno));
        } else {
            got = m_device.read(block, sizeof block);
            if (got < 0)
                m_error = m_device.errorString();
        }
        if (got <= 0) {
            m_finished = true;
            if (!m_pending.isEmpty() || m_discarding)
                endLine();
            return;
        }
        for (qint64 at = 0; at < got;) {
            const char *start = block + at;
            const auto *newline = static_cast<const char *>(memchr(start, '\n', size_t(got - at)));
            const qint64 length = newline ? newline - start : got - at;
            if (!m_discarding) {
                if (m_pending.size() + length > kMaxBatchLineBytes) {
                    m_discarding = true;
                    m_pending.clear();
                    m_pending.squeeze();
                } else {
                    m_pending.append(start, length);
                }
            }
            at += length;
            if (newline) {
                endLine();
                ++at;
            }
        }
    }

private:
    void endLine()
    {
        ++m_number;
        if (m_discarding)
            m_ready.push_back({m_number, QByteArray(), true});
        else if (!m_pending.trimmed().isEmpty())
            m_ready.push_back({m_number, m_pending, false});
        m_pending.clear();
        m_discarding = false;
    }

    QIODevice &m_device;
    int m_fd = -1;
    int m_number = 0;
    QByteArray m_pending;
    bool m_discarding = false;
    bool m_finished = false;
    QString m_error;
    std::deque<BatchLine> m_ready;
};

// Writes all of `bytes` to `fd`; gives up quietly when the reader is gone.
void writeAll(int fd, const QByteArray &bytes)
{
    ::writeAll(fd, bytes.constData(), std::size_t(bytes.size()));
}

// In a child: its end of the pipe to the parent.
int replyFd = -1;

// In a child: tells the parent each temporary file's name before anything is
// written to it, so that the parent can remove the file should the child be
// killed (by the system for memory, say) before it has replaced its target.
// Hex keeps a name with a newline on one line.
void reportTemporaryFile(const QByteArray &localPath)
{
    writeAll(replyFd, "temp " + localPath.toHex() + '\n');
}

// One line from the moment it is read until its result is written.
struct Pending {
    BatchLine line;
    QStringList files; // filesWritten() by its line
    bool started = false;
    std::uint64_t child = 0; // its render's id in the pool, while it runs
    bool done = false;
    BatchResult result;
};

// The files a line writes (its "output", or each tile it may cut), each as
// the same text for every name of it (relative or absolute, through links
// to folders or to the file itself, and through a link whose target an
// earlier line has yet to make), so that lines writing one file can be told
// apart from the others. Empty for a line that will fail before it writes.
QStringList filesWritten(const BatchLine &line, const JobDraft &defaults)
{
    if (line.tooLong)
        return {};
    QStringList files;
    try {
        for (const QString &path : outputPaths(jobFromJsonLine(line.text, defaults, line.number)))
            files << fileIdentity(path);
    } catch (const QuillowError &) {
        // Refused: the line writes nothing, and its child says why.
    }
    return files;
}

// Whether a line before `line` in `pending` writes one of its files and
// has not finished: `line` must wait for it, so that the files are what
// running the lines one after another gives.
bool waitsForEarlierLine(const std::deque<Pending> &pending, const Pending &line)
{
    if (line.files.isEmpty())
        return false;
    for (const Pending &earlier : pending) {
        if (&earlier == &line)
            return false;
        if (!earlier.done && std::any_of(earlier.files.begin(), earlier.files.end(),
                                         [&line](const QString &file) { return line.files.contains(file); }))
            return true;
    }
    return false;
}

} // namespace

// The child's reply: a line per temporary file it created ("temp" and the
// name in hex), a line per warning ("warn" and its UTF-8 in hex), "bad" when
// the options were refused (and "key" with the option's name in hex),
// "large" when the job asked for more than its cap or the memory allowed,
// the file's bytes when they were asked for
// ("bytes" and their count on a line, then the bytes themselves), then its
// result as one JSON line.
BatchResult batchChildResult(const BatchLine &line, const QByteArray &replied, int status, bool overTimeLimit)
{
    QJsonObject object;
    std::vector<QByteArray> temporaries;
    QStringList warnings;
    bool badInput = false;
    bool tooLarge = false;
    QString key;
    QByteArray bytes;
    for (qsizetype at = 0; at < replied.size();) {
        qsizetype end = replied.indexOf('\n', at);
        if (end < 0)
            end = replied.size();
        const QByteArray part = replied.mid(at, end - at);
        at = end + 1;
        if (part.startsWith("bytes ")) {
            const qsizetype size = part.mid(6).toLongLong();
            if (size < 0 || size > replied.size() - at)
                break; // cut short: the child died while sending them
            bytes = replied.mid(at, size);
            at += size;
        } else if (part.startsWith("temp "))
            temporaries.push_back(QByteArray::fromHex(part.mid(5)));
        else if (part.startsWith("warn "))
            warnings << QString::fromUtf8(QByteArray::fromHex(part.mid(5)));
        else if (part == "bad")
            badInput = true;
        else if (part == "large")
            tooLarge = true;
        else if (part.startsWith("key "))
            key = QString::fromUtf8(QByteArray::fromHex(part.mid(4)));
        else if (part.startsWith('{'))
            object = QJsonDocument::fromJson(part).object();
    }
    BatchResult result;
    result.line = line.number;
    if (!object.isEmpty()) {
        result.output = object.value(QStringLiteral("output")).toString();
        result.error = object.value(QStringLiteral("error")).toString();
        result.warnings = warnings;
        result.badInput = badInput;
        result.tooLarge = tooLarge;
        result.key = key;
        result.bytes = bytes;
        if (object.contains(QStringLiteral("bytes"))) {
            StickerFacts facts;
            facts.bytes = qint64(object.value(QStringLiteral("bytes")).toDouble());
            facts.frames = object.value(QStringLiteral("frames")).toInt();
            facts.quality = object.value(QStringLiteral("quality")).toInt();
            facts.colours = object.value(QStringLiteral("colours")).toInt();
            if (object.contains(QStringLiteral("cap")))
                facts.cap = qint64(object.value(QStringLiteral("cap")).toDouble());
            for (const QJsonValue file : object.value(QStringLiteral("tiles")).toArray())
                facts.tileFiles << file.toString();
            for (const QJsonValue frames : object.value(QStringLiteral("tileFrames")).toArray())
                facts.tileFrames << frames.toInt();
            facts.pasteText = object.value(QStringLiteral("paste")).toString();
            facts.fitted = object.value(QStringLiteral("fitted")).toString();
            facts.tileDpi = object.value(QStringLiteral("dpi")).toDouble();
            result.sticker = facts;
        }
        return result;
    }
    // The child ended without a word: killed (by the system for memory, or
    // by hand) or crashed. What it left half-written goes; the line fails;
    // the batch goes on. A temporary file that already replaced its target
    // has no name of its own any more, so nothing else can be removed.
    for (const QByteArray &temporary : temporaries)
        ::unlink(temporary.constData());
    result.output = QJsonDocument::fromJson(line.text).object().value(QStringLiteral("output")).toString();
    if (overTimeLimit)
        result.error = QStringLiteral("渲染这一行的进程 %1 秒内没有完成，已被终止；没有写出文件。")
                           .arg(lineTimeLimitSeconds());
    else if (WIFSIGNALED(status))
        result.error = QStringLiteral("渲染这一行的进程意外结束（信号 %1）。").arg(WTERMSIG(status));
    else
        result.error = QStringLiteral("渲染这一行的进程意外结束（退出状态 %1）。").arg(WEXITSTATUS(status));
    return result;
}

void renderLineInChild(const BatchLine &line, const JobDraft &defaults, LineOutput output, int reply)
{
    replyFd = reply;
    setTemporaryFileListener(reportTemporaryFile);
    const BatchResult result = runBatchLine(line, defaults, output);
    for (const QString &warning : result.warnings)
        writeAll(replyFd, "warn " + warning.toUtf8().toHex() + '\n');
    if (result.badInput)
        writeAll(replyFd, "bad\nkey " + result.key.toUtf8().toHex() + '\n');
    if (result.tooLarge)
        writeAll(replyFd, "large\n");
    if (result.ok() && output == LineOutput::Bytes) {
        writeAll(replyFd, "bytes " + QByteArray::number(result.bytes.size()) + '\n');
        writeAll(replyFd, result.bytes);
    }
    writeAll(replyFd, resultLine(result));
}

namespace {

// Forks the child that renders `pending`'s line and sends back its result
// line. A line whose child cannot be started fails on its own.
void startChild(Pending &pending, const JobDraft &defaults, ChildPool &pool)
{
    try {
        pending.child = pool.start(
            [&](int reply) { renderLineInChild(pending.line, defaults, LineOutput::File, reply); });
    } catch (const QuillowError &error) {
        pending.result.line = pending.line.number;
        pending.result.error = error.message();
        pending.done = true;
    }
}

void finishChild(std::deque<Pending> &pending, const FinishedChild &ended)
{
    for (Pending &line : pending) {
        if (line.started && !line.done && line.child == ended.id) {
            line.result = batchChildResult(line.line, ended.reply, ended.status, ended.overTimeLimit);
            line.done = true;
            return;
        }
    }
}

} // namespace

BatchOutcome runBatch(QIODevice &input, const JobDraft &defaults, QIODevice &results, int workers,
                      const std::atomic<int> &stop, int wake, QIODevice *messages)
{
    workers = qMax(1, workers);
    LineReader reader(input);
    std::deque<Pending> pending;
    BatchOutcome outcome;
    ChildLimits limits;
    limits.time = std::chrono::seconds(lineTimeLimitSeconds());
    ChildPool pool(limits);

    for (;;) {
        // Results leave in input order, each as soon as all before it are done.
        while (!pending.empty() && pending.front().done) {
            const BatchResult &result = pending.front().result;
            if (messages) {
                for (const QString &warning : result.warnings)
                    messages->write(warningLine(result.line, warning));
            }
            const QByteArray line = resultLine(result);
            if (outcome.writeError.isEmpty() && results.write(line) != line.size())
                outcome.writeError = results.errorString();
            ++outcome.lines;
            if (!result.ok())
                ++outcome.failed;
            pending.pop_front();
        }

        const bool accepting = stop.load() == 0 && outcome.writeError.isEmpty();
        if (!accepting) {
            // Lines read but not begun are left as if never read; those
            // begun finish.
            std::erase_if(pending, [](const Pending &line) { return !line.started && !line.done; });
        }
        for (Pending &line : pending) {
            if (!accepting || pool.running() >= workers)
                break;
            if (line.started || line.done || waitsForEarlierLine(pending, line))
                continue;
            line.started = true;
            startChild(line, defaults, pool);
        }

        const bool reading = accepting && !reader.finished();
        const bool room = reading && int(pending.size()) < 2 * workers;
        if (room && reader.hasLine()) {
            pending.emplace_back();
            Pending &line = pending.back();
            line.line = reader.take();
            line.files = filesWritten(line.line, defaults);
            if (line.line.tooLong) {
                line.result = runBatchLine(line.line, defaults);
                line.done = true;
            }
            continue;
        }
        if (!reading && pool.running() == 0) {
            if (pending.empty())
                break;
            continue; // only finished lines remain: write them
        }
        if (room && reader.fd() < 0) {
            reader.readBlock();
            continue;
        }

        std::vector<pollfd> watched;
        const bool wantInput = room && reader.fd() >= 0;
        if (wantInput)
            watched.push_back({reader.fd(), POLLIN, 0});
        if (wake >= 0 && reading)
            watched.push_back({wake, POLLIN, 0});
        std::vector<FinishedChild> ended;
        if (!pool.wait(watched, ended)) {
            outcome.readError = QString::fromLocal8Bit(strerror(errno));
            // Waiting without poll: each child's reply is read to its end
            // and the child reaped, so none is left a zombie.
            for (const FinishedChild &child : pool.finishAll())
                finishChild(pending, child);
            break;
        }
        for (const FinishedChild &child : ended)
            finishChild(pending, child);
        if (wantInput && watched.front().revents != 0)
            reader.readBlock();
    }
    if (outcome.readError.isEmpty())
        outcome.readError = reader.error();
    outcome.signal = stop.load();
    return outcome;
}
