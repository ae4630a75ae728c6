#include "cli/batch.h"

#include "composition/strip_rendering.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>
#include <QtConcurrent>

std::vector<BatchLine> readBatchLines(QIODevice &input)
{
    std::vector<BatchLine> lines;
    int number = 0;
    while (!input.atEnd()) {
        const QByteArray text = input.readLine();
        ++number;
        if (!text.trimmed().isEmpty())
            lines.push_back({number, text});
    }
    return lines;
}

BatchResult runBatchLine(const BatchLine &line, const JobDraft &defaults)
{
    BatchResult result;
    result.line = line.number;
    // This runs on a pool thread: nothing may escape it.
    try {
        const RenderJob job = jobFromJsonLine(line.text, defaults);
        result.output = job.output;
        runRenderJob(job);
    } catch (const QuillowError &error) {
        result.error = error.message();
    } catch (const std::exception &error) {
        result.error = QString::fromLocal8Bit(error.what());
    }
    if (result.output.isEmpty()) {
        // A line that failed before its job was complete may still name its
        // file; the result should say which.
        const QJsonValue output = QJsonDocument::fromJson(line.text).object().value(QStringLiteral("output"));
        result.output = output.toString();
    }
    return result;
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
    if (result.ok())
        line += ",\"ok\":true";
    else
        line += ",\"ok\":false,\"error\":" + jsonString(result.error);
    return line + "}\n";
}

int runBatch(const std::vector<BatchLine> &lines, const JobDraft &defaults, QIODevice &results,
             QThreadPool &pool)
{
    QFuture<BatchResult> future = QtConcurrent::mapped(
        &pool, lines, [&defaults](const BatchLine &line) { return runBatchLine(line, defaults); });
    int failed = 0;
    for (int index = 0; index < int(lines.size()); ++index) {
        const BatchResult result = future.resultAt(index);
        if (!result.ok())
            ++failed;
        results.write(resultLine(result));
    }
    return failed;
}
