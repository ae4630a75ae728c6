#pragma once

#include <QIcon>

// The program's icon: the installed theme icon "quillow" when there is one,
// otherwise the same picture drawn at the usual sizes.
QIcon appIcon();
