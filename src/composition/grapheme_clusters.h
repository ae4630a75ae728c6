#pragma once

#include <QString>
#include <QStringList>

// The characters a reader sees in `text`, left to right: its grapheme
// clusters (Unicode's extended clusters, as QTextBoundaryFinder finds them),
// so that a supplementary-plane character, a base with its combining marks,
// an emoji with its modifier, variation selector or zero-width-joiner
// sequence, and a flag pair are each one entry. Two exceptions keep the
// phrase's code units where no reader sees one character: CR LF gives two
// entries, and a lone surrogate half is an entry of its own. Joined again,
// the entries give `text`. Never throws.
QStringList graphemeClusters(const QString &text);

// The longest length <= `limit` at which `text` can be cut without splitting
// one of its graphemeClusters(): `limit` itself when that is a boundary (or
// `limit` >= text.size()), otherwise the start of the cluster that `limit`
// falls inside. 0 for a negative limit.
qsizetype wholeClustersWithin(const QString &text, qsizetype limit);

// Whether `text` has a character that can leave ink: one that is not a
// control or format character (zero-width space and joiner, byte order
// mark), a space or separator, or a non-spacing mark (which shows only on
// a base). A phrase without one draws a fully transparent strip.
bool hasVisibleCharacter(QStringView text);
