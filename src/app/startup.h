#pragma once

#include <functional>

class QApplication;
class QWidget;

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
