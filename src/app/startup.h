#pragma once

class QApplication;
class QWidget;

// Everything the program does to the application before it builds the main
// window: its name and desktop entry, and the Chinese interface.
void prepareApplication(QApplication &app);

// Shows the main window. The application icon follows the window's first
// paint: on an X server the icon is drawn at several sizes and sent to the
// server, a few milliseconds that the window's first appearance need not
// wait for.
void showMainWindow(QWidget &window);
