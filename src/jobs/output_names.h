#pragma once

#include <QString>
#include <QStringList>

// Checks on the names of the files a job writes, made before anything is
// drawn. Each throws UsageError with the user's message.

// Whether the system would refuse `path` for its length: a folder or file
// name longer than NAME_MAX bytes, or a whole path of PATH_MAX bytes or
// more. Said before any other complaint about such a name (its suffix, say),
// which would send the user after the wrong fault.
bool nameTooLong(const QString &path);

// `name`, the output a batch line gives, when the system can take it as
// written. A NUL ends a name wherever the system reads one, so the file
// written would be another (an existing one, say); UTF-16 that is not
// Unicode (a lone surrogate) reaches the system as U+FFFD, so again the
// file would have another name. A command line can give neither.
QString checkedOutputName(const QString &name);

struct RenderJob;

// Throws when a tile of `job` would have a name longer than the system
// allows, for any number of tiles its grid can make (an automatic grid
// makes up to kMaxTileColumns).
void checkTileNames(const RenderJob &job);

// Every file `job` may write: its output, or each tile `job.tiles` can make,
// under each name the tiles may take (as checkTileNames() counts them).
QStringList outputPaths(const RenderJob &job);

// The file `path` names, as one text for every name of it: relative or
// absolute, through links to folders, and through links to the file itself,
// followed even when their target does not exist yet (it is the file
// writing the link creates). Reads the file system; never fails.
QString fileIdentity(const QString &path);
