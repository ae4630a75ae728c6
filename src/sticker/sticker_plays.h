#pragma once

#include "composition/animation.h"

#include <QString>

#include <optional>

// What an app that plays an animated sticker a limited number of times and
// then leaves it standing asks of the file. The app shows the file's first
// frame wherever the sticker does not play.
struct FinitePlayRules {
    int minFrames = 1;
    int maxFrames = 1;
    int maxPlays = 1;   // at least 1
    int maxTotalMs = 0; // every play together
    QString app;        // the app's name, which begins a refusal
};

// The most plays, 1 .. `maxPlays`, that together last at most `maxTotalMs`
// when one play lasts `cycleMs` (0 or more); none when even one play is
// longer.
std::optional<int> playsWithin(int cycleMs, int maxPlays, int maxTotalMs);

// `animation` (its first `revealFrames` frames building the picture up, the
// rest after them) made ready for an APNG that plays a limited number of
// times, to be encoded as it is, after any other thinning:
// - it starts and ends on its last frame, the finished picture: the last
//   frame's hold is split between the two ends, so that playing it again
//   shows the same hold between plays as the animation looping;
// - it has `rules.minFrames` to `rules.maxFrames` frames: too many are
//   thinned out of the reveal (see withFewerRevealFrames()), too few made up
//   by splitting the longest-showing frame into two of half the time, so
//   that nothing changes on screen;
// - its loopCount is playsWithin() of its whole duration, which the APNG
//   writer records as the number of plays.
// A one-frame animation stays one picture, repeated to the frames asked for.
// Throws QuillowError when the reveal cannot be thinned far enough (it keeps
// at least two frames) or one play lasts longer than all may.
Animation withFinitePlays(const Animation &animation, int revealFrames, const FinitePlayRules &rules);
