#pragma once

#include <QByteArray>
#include <QImage>

#include <vector>

// An animated (or plain) PNG as a viewer shows it, read from the PNG
// standard and the APNG extension alone; it shares nothing with the writers,
// so the tests can check the writers with it.
struct ApngShownFrame {
    QImage image; // the whole canvas as shown, Format_ARGB32 (straight alpha)
    double delayMs = 0;
};

struct ApngContents {
    int width = 0;
    int height = 0;
    int colourType = 0;
    int plays = -1;         // acTL's num_plays; -1 without acTL
    int declaredFrames = 0; // acTL's num_frames
    bool defaultIsFrame = false;
    QImage defaultImage; // what a viewer without APNG support shows
    // The canvases a viewer plays: after each frame's blend, before its
    // dispose. Empty for a PNG without acTL and fcTL.
    std::vector<ApngShownFrame> frames;
    std::vector<QByteArray> chunkTypes; // in file order
};

// Reads `file`: checks every chunk's CRC and the sequence numbers, inflates
// each frame, undoes the five row filters and plays the frames through their
// blend and dispose operations. Takes 8-bit indexed and RGBA pictures without
// interlacing (what Quillow writes). Throws QuillowError saying what is wrong
// with a file it cannot read.
ApngContents readApng(const QByteArray &file);
