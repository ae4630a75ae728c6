#pragma once

#include <cstdlib>

// The value a PNG row filter of `type` (0 none, 1 Sub, 2 Up, 3 Average,
// 4 Paeth) predicts for a byte from its neighbours: the byte a pixel to the
// left, the byte above and the byte above that one (0 outside the picture),
// as the PNG standard defines them. A writer stores the byte minus the
// prediction, a reader adds it back; both use this one definition.
constexpr int pngPredictor(int type, int left, int up, int upLeft)
{
    switch (type) {
    case 1:
        return left;
    case 2:
        return up;
    case 3:
        return (left + up) / 2;
    case 4: {
        const int estimate = left + up - upLeft;
        const int toLeft = std::abs(estimate - left), toUp = std::abs(estimate - up),
                  toUpLeft = std::abs(estimate - upLeft);
        return toLeft <= toUp && toLeft <= toUpLeft ? left : toUp <= toUpLeft ? up : upLeft;
    }
    default:
        return 0;
    }
}
