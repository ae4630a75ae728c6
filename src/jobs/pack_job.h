#pragma once

#include "jobs/batch.h"
#include "jobs/job_options.h"
#include "sticker/sticker_pack.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

// What a whole pack is made of: the app's rule, the phrases, and the options
// every sticker shares (the effect, the look, the colours, the rows).
struct PackRequest {
    const StickerPackRule *rule = nullptr;
    std::vector<PackEntry> entries;
    JobDraft draft; // every sticker starts from it; its output is unused
    QString name;   // the pack's name, where the app records one
    QString publisher;
    QString iconPhrase;                             // empty: the first phrase
    QString namePrefix = QStringLiteral("quillow"); // a chat's emoji names
    QString output;                                 // the .zip
};

// One sticker of a made pack.
struct PackSticker {
    PackEntry entry;
    QString file; // its name in the archive
    const OutputFileFormat *format = nullptr;
    QByteArray bytes;
};

// One extra image of a made pack.
struct PackPicture {
    const PackImageRule *rule = nullptr;
    QByteArray bytes;
};

// A pack, checked whole and ready to be written.
struct MadePack {
    const StickerPackRule *rule = nullptr;
    bool animated = false;
    std::vector<PackSticker> stickers;
    std::vector<PackPicture> pictures;
    QByteArray archive;   // the ZIP's bytes
    QStringList warnings; // for the user, each naming its line
};

// Renders sticker lines (batch lines, numbered from 1 in list order) and
// returns one result per line, in that order, each with the file's bytes.
using PackRenderer =
    std::function<std::vector<BatchResult>(const std::vector<BatchLine> &, const JobDraft &)>;

// Renders the lines each in a child process through runBatch(), `workers`
// at a time, into a private temporary folder that is removed afterwards.
// Fork only from a process without threads, as runBatch() asks. A line that
// got no result because `stop` ended the batch fails.
PackRenderer childRenderer(int workers, const std::atomic<int> &stop, int wake = -1);

// Renders the lines on threads of this process, one per core: for a
// process that has threads already (the window).
PackRenderer threadRenderer();

// Reads the options a pack takes from `request` and the phrases already in
// it, renders every sticker with `render`, draws the extra images from the
// icon phrase, checks every file against its row and the pack against its
// counts and archive cap, and builds the archive. Writes nothing. Throws
// UsageError naming the line and the rule for what the pack's rules refuse,
// QuillowError for other failures.
MadePack makePack(const PackRequest &request, const PackRenderer &render);

// Writes `pack.archive` to `path` complete or not at all.
void writePack(const MadePack &pack, const QString &path);

// Reads a phrase list for `rule` (see readPackPhrases()), throwing
// UsageError for what it refuses.
std::vector<PackEntry> readPackList(const StickerPackRule &rule, const QString &text);

// The options a pack line gives (every key but the pack's own and
// "output"), applied to `defaults` as a batch line's are. Throws UsageError
// naming a key the pack takes no value for.
JobDraft packDraftFromObject(const QJsonObject &options, const JobDraft &defaults);

// A batch line that makes a whole pack: {"pack":"line","phrases":["好的",
// {"phrase":"晚安","emoji":"🌙"}],"output":"a.zip","pack-name":…,
// "publisher":…,"icon-phrase":…,"name-prefix":…} and any sticker option.
bool isPackLine(const QByteArray &line);

// Makes the pack a pack line asks for and writes it, with the stickers
// rendered on threads of the calling process (a batch child) or, with
// LineOutput::Bytes, returns the archive in the result. Never throws.
BatchResult runPackLine(const BatchLine &line, const JobDraft &defaults, LineOutput output);
