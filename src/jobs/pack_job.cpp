#include "jobs/pack_job.h"

#include "composition/effect_frames.h"
#include "export/alpha_png.h"
#include "export/file_output.h"
#include "export/output_format.h"
#include "export/zip_archive.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <new>
#include <system_error>
#include <thread>

namespace {

// The most stickers one pack is made of here, whatever the app takes: every
// file is held in memory until the archive is written.
constexpr int kMaxPackStickers = 500;

// The keys of a pack line that are the pack's own rather than a sticker's.
const QStringList &packKeys()
{
    static const QStringList keys{QStringLiteral("pack"),       QStringLiteral("phrases"),
                                  QStringLiteral("output"),     QStringLiteral("pack-name"),
                                  QStringLiteral("publisher"),  QStringLiteral("icon-phrase"),
                                  QStringLiteral("name-prefix")};
    return keys;
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The format the stickers are made in: the one asked for when the app
// takes it, else the app's first.
const OutputFileFormat *stickerFormat(const StickerPackRule &rule, bool animated, const JobDraft &draft)
{
    const StickerKind &kind = rule.preset->kind(animated);
    if (kind.formats.empty())
        throw UsageError(QStringLiteral("effect"), QStringLiteral("%1 不收动态贴纸").arg(rule.label));
    if (!draft.format)
        return kind.formats.front();
    if (std::find(kind.formats.begin(), kind.formats.end(), draft.format) == kind.formats.end()) {
        QStringList names;
        for (const OutputFileFormat *format : kind.formats)
            names << QString(format->name);
        throw UsageError(QStringLiteral("format"),
                         QStringLiteral("%1 的%2贴纸包只收 %3 格式，不收 %4")
                             .arg(rule.label, animated ? QStringLiteral("动态") : QStringLiteral("静态"),
                                  names.join(QStringLiteral("、")), QString(draft.format->name)));
    }
    return draft.format;
}

QString who(const PackEntry &entry)
{
    return QStringLiteral("第 %1 行“%2”").arg(entry.line).arg(entry.phrase);
}

// `bytes`, a still PNG smaller than `box`, centred on a transparent canvas
// of exactly `box`: a box that is not square is drawn within and padded.
QByteArray padStill(const QByteArray &bytes, QSize box)
{
    QImage image;
    if (!image.loadFromData(bytes, "PNG"))
        throw QuillowError(QStringLiteral("无法读回刚画好的图片"));
    if (image.size() == box)
        return bytes;
    QImage canvas(box, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage((box.width() - image.width()) / 2, (box.height() - image.height()) / 2, image);
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(canvas, buffer);
    return buffer.data();
}

PackPicture drawPicture(const PackImageRule &image, const QString &phrase, const JobDraft &draft)
{
    JobDraft icon = draft;
    icon.job.settings.text = phrase;
    icon.job.output = image.file;
    icon.format = image.format;
    icon.job.sticker.preset = nullptr;
    if (!image.format->animated)
        icon.job.sticker.effect = Effect::Still;
    RenderJob job = finishJob(icon);
    job.sticker.preset = image.drawing;
    JobReport report;
    QByteArray bytes = encodeRenderJob(job, &report);
    if (!image.format->animated)
        bytes = padStill(bytes, image.size);
    return {&image, bytes};
}

// A result line of runBatch(), read back.
BatchResult resultFromLine(const QByteArray &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    BatchResult result;
    result.line = object.value(QStringLiteral("line")).toInt();
    result.output = object.value(QStringLiteral("output")).toString();
    if (!object.value(QStringLiteral("ok")).toBool())
        result.error = object.value(QStringLiteral("error")).toString(QStringLiteral("没有画完"));
    return result;
}

// Runs task(0) … task(count - 1) on one thread per core, the calling one
// included, and returns once every thread has been joined: a process that
// forks afterwards has only its own thread again.
void onEveryCore(std::size_t count, const std::function<void(std::size_t)> &task)
{
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t at = next++; at < count; at = next++)
            task(at);
    };
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    try {
        for (std::size_t i = 1; i < std::min(cores, count); ++i)
            threads.emplace_back(work);
    } catch (const std::system_error &) {
        // Fewer threads: this one does the rest.
    }
    work();
    for (std::thread &thread : threads)
        thread.join();
}

} // namespace

PackRenderer childRenderer(int workers, const std::atomic<int> &stop, int wake)
{
    return [workers, &stop, wake](const std::vector<BatchLine> &lines, const JobDraft &defaults) {
        QTemporaryDir folder;
        if (!folder.isValid())
            throw QuillowError(QStringLiteral("无法建立临时文件夹：%1").arg(folder.errorString()));
        QByteArray batch;
        for (const BatchLine &line : lines) {
            QJsonObject object = QJsonDocument::fromJson(line.text).object();
            object.insert(QStringLiteral("output"),
                          folder.filePath(object.value(QStringLiteral("output")).toString()));
            batch += compact(object) + '\n';
        }
        QBuffer input(&batch);
        input.open(QIODevice::ReadOnly);
        QBuffer results;
        results.open(QIODevice::WriteOnly);
        QBuffer messages;
        messages.open(QIODevice::WriteOnly);
        runBatch(input, defaults, results, workers, stop, wake, &messages);

        std::vector<BatchResult> made(lines.size());
        for (std::size_t at = 0; at < lines.size(); ++at) {
            made[at].line = lines[at].number;
            made[at].error = QStringLiteral("没有画完就停止了");
        }
        for (const QByteArray &text : results.data().split('\n')) {
            if (text.isEmpty())
                continue;
            BatchResult result = resultFromLine(text);
            if (result.line < 1 || std::size_t(result.line) > lines.size())
                continue;
            if (result.ok()) {
                QFile file(result.output);
                if (!file.open(QIODevice::ReadOnly))
                    result.error = QStringLiteral("无法读回画好的贴纸：%1").arg(file.errorString());
                else
                    result.bytes = file.readAll();
            }
            made[std::size_t(result.line - 1)] = result;
        }
        static const QRegularExpression warning(QStringLiteral("^quillow-render: 第 (\\d+) 行：(.*)$"));
        for (const QString &text : QString::fromUtf8(messages.data()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = warning.match(text);
            const int line = match.hasMatch() ? match.captured(1).toInt() : 0;
            if (line >= 1 && std::size_t(line) <= lines.size())
                made[std::size_t(line - 1)].warnings << match.captured(2);
        }
        return made;
    };
}

PackRenderer threadRenderer()
{
    return [](const std::vector<BatchLine> &lines, const JobDraft &defaults) {
        std::vector<BatchResult> made(lines.size());
        onEveryCore(lines.size(),
                    [&](std::size_t at) { made[at] = runBatchLine(lines[at], defaults, LineOutput::Bytes); });
        return made;
    };
}

std::vector<PackEntry> readPackList(const StickerPackRule &rule, const QString &text)
{
    try {
        return readPackPhrases(text, rule.maxEmoji);
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        throw UsageError(QStringLiteral("phrases"), error.message());
    }
}

JobDraft packDraftFromObject(const QJsonObject &options, const JobDraft &defaults)
{
    JobDraft draft = defaults;
    for (auto field = options.begin(); field != options.end(); ++field) {
        const QString name = field.key();
        if (packKeys().contains(name))
            continue;
        if (name == QLatin1String("phrase") || name == QLatin1String("batch"))
            throw UsageError(
                name, QStringLiteral("贴纸包的行不能有字段 “%1”：短语放在 \"phrases\" 里。").arg(name));
        const QJsonValue value = field.value();
        if (isFlagOption(name)) {
            if (!value.isBool())
                throw UsageError(name, QStringLiteral("字段 “%1” 必须是 true 或 false。").arg(name));
            applyFlag(draft, name, value.toBool());
        } else if (value.isString()) {
            applyOption(draft, name, value.toString());
        } else if (value.isDouble()) {
            const double number = value.toDouble();
            applyOption(draft, name,
                        std::trunc(number) == number && std::abs(number) < 1e15
                            ? QString::number(qint64(number))
                            : QString::number(number, 'g', 17));
        } else {
            throw UsageError(name, QStringLiteral("字段 “%1” 的值必须是字符串或数字。").arg(name));
        }
    }
    return draft;
}

MadePack makePack(const PackRequest &request, const PackRenderer &render)
{
    const StickerPackRule &rule = *request.rule;
    const JobDraft &draft = request.draft;
    const bool animated = effectRow(draft.job.sticker.effect).animates;
    MadePack pack;
    pack.rule = &rule;
    pack.animated = animated;

    // What can be refused without drawing is refused first.
    if (!request.output.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive))
        throw UsageError(
            QStringLiteral("output"),
            QStringLiteral("贴纸包存为 ZIP 压缩包，文件名要以 .zip 结尾：%1").arg(request.output));
    if (draft.job.tiles)
        throw UsageError(QStringLiteral("tiles"),
                         QStringLiteral("贴纸包里每句短语是一张贴纸，不能再拆成多个表情（--tiles）。"));
    if (draft.job.sticker.preset && draft.job.sticker.preset != rule.preset)
        throw UsageError(QStringLiteral("preset"),
                         QStringLiteral("%1 的贴纸包按 %2 预设做贴纸，不能另给预设 %3。")
                             .arg(rule.label, rule.preset->name, draft.job.sticker.preset->name));
    if (request.entries.size() > std::size_t(kMaxPackStickers))
        throw UsageError(QStringLiteral("phrases"),
                         QStringLiteral("一个贴纸包最多做 %1 张贴纸，短语表有 %2 句。")
                             .arg(kMaxPackStickers)
                             .arg(request.entries.size()));
    try {
        checkPackCount(rule, animated, int(request.entries.size()));
        checkPackNames(rule, request.name, request.publisher);
        checkChatNamePrefix(rule, request.namePrefix);
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        throw UsageError(QStringLiteral("pack"), error.message());
    }
    const OutputFileFormat *format = stickerFormat(rule, animated, draft);

    const int count = int(request.entries.size());
    std::vector<BatchLine> lines;
    for (int index = 1; index <= count; ++index) {
        const PackEntry &entry = request.entries[std::size_t(index - 1)];
        PackSticker sticker{
            entry, packStickerFileName(rule, index, count, *format, request.namePrefix), format, {}};
        const QJsonObject line{{QStringLiteral("phrase"), entry.phrase},
                               {QStringLiteral("output"), sticker.file},
                               {QStringLiteral("preset"), rule.preset->name},
                               {QStringLiteral("format"), QString(format->name)}};
        lines.push_back({index, compact(line), false});
        pack.stickers.push_back(sticker);
    }

    const std::vector<BatchResult> results = render(lines, draft);
    for (std::size_t at = 0; at < pack.stickers.size(); ++at) {
        PackSticker &sticker = pack.stickers[at];
        const BatchResult &result = results.at(at);
        if (!result.ok())
            throw UsageError(QStringLiteral("phrases"),
                             QStringLiteral("%1：%2").arg(who(sticker.entry), result.error));
        for (const QString &warning : result.warnings)
            pack.warnings << QStringLiteral("%1：%2").arg(who(sticker.entry), warning);
        sticker.bytes = result.bytes;
    }

    // Every sticker is read back and checked, and the extra images drawn
    // and checked, side by side; the first failure in pack order is the one
    // reported.
    const StickerKind &kind = rule.preset->kind(animated);
    const std::vector<PackImageRule> &images = rule.kind(animated).images;
    const QString iconPhrase =
        request.iconPhrase.isEmpty() ? request.entries.front().phrase : request.iconPhrase;
    const std::size_t stickers = pack.stickers.size();
    pack.pictures.resize(images.size());
    std::vector<std::exception_ptr> failures(stickers + images.size());
    onEveryCore(failures.size(), [&](std::size_t at) {
        try {
            if (at < stickers) {
                const PackSticker &sticker = pack.stickers[at];
                try {
                    checkPackSticker(who(sticker.entry), kind, *format, sticker.bytes);
                } catch (const QuillowError &error) {
                    throw UsageError(QStringLiteral("phrases"), error.message());
                }
                return;
            }
            const PackImageRule &image = images[at - stickers];
            try {
                pack.pictures[at - stickers] = drawPicture(image, iconPhrase, draft);
                checkPackImage(image, pack.pictures[at - stickers].bytes);
            } catch (const QuillowError &error) {
                throw UsageError(
                    QStringLiteral("icon-phrase"),
                    QStringLiteral("%1（用“%2”画）：%3").arg(image.label, iconPhrase, error.message()));
            }
        } catch (...) {
            failures[at] = std::current_exception();
        }
    });
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);

    std::vector<ZipMember> members;
    std::vector<PackListedSticker> listed;
    for (const PackPicture &picture : pack.pictures)
        members.push_back({picture.rule->file, picture.bytes});
    for (const PackSticker &sticker : pack.stickers) {
        members.push_back({sticker.file, sticker.bytes});
        listed.push_back({sticker.file, sticker.entry.emoji});
    }
    switch (rule.metadata) {
    case PackMetadata::StickerAppContents:
        members.push_back({QStringLiteral("contents.json"),
                           stickerAppContents(request.name, request.publisher,
                                              pack.pictures.front().rule->file, animated, listed)});
        break;
    case PackMetadata::EmojiList:
        members.push_back({QStringLiteral("emoji.txt"), emojiList(listed)});
        break;
    case PackMetadata::None:
        break;
    }
    pack.archive = zipArchiveBytes(members);
    try {
        checkPackArchiveSize(rule, pack.archive.size());
    } catch (const QuillowError &error) {
        throw UsageError(QStringLiteral("phrases"), error.message());
    }
    return pack;
}

void writePack(const MadePack &pack, const QString &path)
{
    writeBytesReplacing(path, pack.archive);
}

bool isPackLine(const QByteArray &line)
{
    // Cheap enough for every line: only a line that names the key is parsed.
    return line.contains("\"pack\"") &&
           QJsonDocument::fromJson(line).object().contains(QStringLiteral("pack"));
}

BatchResult runPackLine(const BatchLine &line, const JobDraft &defaults, LineOutput output)
{
    BatchResult result;
    result.line = line.number;
    try {
        const QJsonObject object = QJsonDocument::fromJson(line.text).object();
        result.output = object.value(QStringLiteral("output")).toString();
        const QString app = object.value(QStringLiteral("pack")).toString();
        PackRequest request;
        request.rule = stickerPackNamed(app);
        if (!request.rule)
            throw UsageError(
                QStringLiteral("pack"),
                QStringLiteral("没有“%1”这种贴纸包，可用的有：%2。").arg(app, stickerPackNames()));
        request.output = result.output;
        if (request.output.isEmpty())
            throw UsageError(QStringLiteral("output"),
                             QStringLiteral("缺少字段 “output”：贴纸包要存成的 .zip 文件。"));
        const auto text = [&](const char *key, const QString &fallback) {
            const QJsonValue value = object.value(QLatin1String(key));
            if (!value.isUndefined() && !value.isString())
                throw UsageError(QString::fromLatin1(key),
                                 QStringLiteral("字段 “%1” 必须是字符串。").arg(QLatin1String(key)));
            return value.toString(fallback);
        };
        request.name = text("pack-name", QStringLiteral("Quillow"));
        request.publisher = text("publisher", QStringLiteral("Quillow"));
        request.iconPhrase = text("icon-phrase", QString());
        request.namePrefix = text("name-prefix", request.namePrefix);
        const QJsonValue phrases = object.value(QStringLiteral("phrases"));
        if (!phrases.isArray())
            throw UsageError(QStringLiteral("phrases"), QStringLiteral("字段 “phrases” 必须是短语的数组。"));
        // Each item is a phrase, or an object of a phrase and its emoji,
        // numbered as the item; every item is a sticker, "#" or not.
        int number = 0;
        for (const QJsonValue &item : phrases.toArray()) {
            ++number;
            const QString phrase = item.isObject()
                                       ? item.toObject().value(QStringLiteral("phrase")).toString()
                                       : item.toString();
            const QString emoji =
                item.isObject() ? item.toObject().value(QStringLiteral("emoji")).toString() : QString();
            if (phrase.trimmed().isEmpty())
                throw UsageError(QStringLiteral("phrases"),
                                 QStringLiteral("\"phrases\" 的第 %1 项不是一句短语。").arg(number));
            try {
                request.entries.push_back(packEntry(number, phrase, emoji, request.rule->maxEmoji));
            } catch (const UsageError &) {
                throw;
            } catch (const QuillowError &error) {
                throw UsageError(QStringLiteral("phrases"), error.message());
            }
        }
        request.draft = packDraftFromObject(object, defaults);
        const MadePack pack = makePack(request, threadRenderer());
        result.warnings = pack.warnings;
        if (output == LineOutput::Bytes)
            result.bytes = pack.archive;
        else
            writePack(pack, request.output);
    } catch (const UsageError &error) {
        result.error = error.message();
        result.badInput = true;
    } catch (const QuillowError &error) {
        result.error = error.message();
    } catch (const std::bad_alloc &) {
        result.error = outOfMemoryMessage();
    }
    return result;
}
