#include "app/group_look.h"

#include <QGroupBox>

void setCaptionsIntoFrames(QGroupBox *group)
{
    // margin-top is half a caption line, so the frame's top line runs
    // through the middle of the caption; padding-top keeps the contents
    // clear of the caption's lower half.
    group->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 0.5em;"
        " padding-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 8px; padding: 0 3px; }"
        "QGroupBox QGroupBox { margin-left: 4px; }"));
}
