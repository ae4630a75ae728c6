#pragma once

class QApplication;

// Everything the program does to the application before it builds the main
// window: its name and desktop entry, its icon, and the Chinese interface.
void prepareApplication(QApplication &app);
