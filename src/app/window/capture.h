#pragma once

#include "export/raster.h"

class QWidget;

// The whole output area as it paints itself, children included, at physical
// pixels: also the parts that the preview region clips or another window
// covers. A null widget gives an empty (0 x 0) picture.
Raster CaptureOutputArea(QWidget *outputArea);
