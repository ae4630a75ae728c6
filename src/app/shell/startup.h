#pragma once

#include <QtGlobal>
#include <functional>

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
// wait for. So does clearing out the cache files older than a day.
void showMainWindow(QWidget &window);

// Runs `work` once, on the turn of the event loop after `window`'s first
// paint, so that the window's first appearance never waits for it.
void runAfterFirstPaint(QWidget &window, std::function<void()> work);
