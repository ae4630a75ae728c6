#pragma once

class QGroupBox;

// Gives `group` and every group box inside it at the time of the call the
// look of a classic framed group: the caption set into the top line of the
// frame, a little in from its left end, instead of standing above the frame
// flush with the edge; the contents start below the caption. A group inside
// another keeps a small gap at its left, so its frame never touches the
// control beside it. Only the painting and the contents margins change:
// every group keeps the geometry it is given, and its children keep their
// own style and font.
void setCaptionsIntoFrames(QGroupBox *group);
