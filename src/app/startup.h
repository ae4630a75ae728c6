#pragma once

#include <QtGlobal>

class QApplication;
class QString;
class QWidget;

// Keeps Qt's known harmless warnings off standard error, so that an
// ordinary session prints nothing: every other message, and every message
// of another type, goes on to the handler that was in place. Call it before
// the application object is made, which is when Qt says most of them.
void silenceHarmlessQtWarnings();

// True for a message silenceHarmlessQtWarnings() drops.
bool isHarmlessQtWarning(QtMsgType type, const QString &message);

// Everything the program does to the application before it builds the main
// window: its name and desktop entry, and the Chinese interface.
void prepareApplication(QApplication &app);

// Shows the main window. The application icon follows the window's first
// paint: on an X server the icon is drawn at several sizes and sent to the
// server, a few milliseconds that the window's first appearance need not
// wait for.
void showMainWindow(QWidget &window);
