#pragma once

class QGroupBox;

// Gives `group` and every group box inside it the look of a classic framed
// group: the caption set into the top line of the frame, a little in from
// its left end, instead of standing above the frame flush with the edge.
// Nested groups keep a small gap to whatever stands at their left, so a
// caption never touches the control beside it. Only the painting changes:
// every group keeps the geometry it is given.
void setCaptionsIntoFrames(QGroupBox *group);
