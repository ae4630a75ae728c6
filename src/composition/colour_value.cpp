#include "composition/colour_value.h"

QColor toQColor(ColourValue c)
{
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

ColourValue fromQColor(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return colourValue(rgb.red(), rgb.green(), rgb.blue());
}
