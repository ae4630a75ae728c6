#pragma once

#include "laid_out_strip.h"

// Ten characters from 20 to 110 points in random colours, the widest strip:
// what the rendering benchmarks time.
inline const StripLayout &tenCharacters()
{
    static const StripLayout layout = [] {
        StripSettings settings;
        settings.text = QStringLiteral("我们一起大声喊出来吧");
        return laidOutStrip(settings);
    }();
    return layout;
}
