#pragma once

#include <QIcon>

// The program's icon: the SVG built into the program. A program started from
// where it was installed asks the icon theme for "quillow" first, so that a
// desktop's icon set can restyle it; one started from its build folder does
// not, because the theme lookup costs several milliseconds on an X server
// before the window can appear, and the theme holds no icon of its own.
QIcon appIcon();
