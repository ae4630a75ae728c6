#pragma once

// The RIFF chunks of a WebP file, read from the container's layout alone:
// "VP8 " or "VP8L" for a simple still, "VP8X" then others for the extended
// format, where "ANIM" and one "ANMF" per frame make an animation.

#include <QByteArray>
#include <QList>

// The chunk types of `bytes` in order (after the 12-byte RIFF header).
inline QList<QByteArray> webpChunks(const QByteArray &bytes)
{
    QList<QByteArray> chunks;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const auto *size = reinterpret_cast<const uchar *>(bytes.constData() + at + 4);
        const qint64 length = size[0] | size[1] << 8 | size[2] << 16 | qint64(size[3]) << 24;
        chunks << bytes.mid(at, 4);
        at += 8 + length + (length & 1);
    }
    return chunks;
}
