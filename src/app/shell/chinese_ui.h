#pragma once

class QCoreApplication;
class QTranslator;

// Makes the whole interface Simplified Chinese whatever the system locale:
// the default locale becomes zh_CN and Qt's own translations (dialogs,
// message-box buttons, context menus) are installed on `app`, which owns
// the translator. Returns the installed translator, or null when Qt's Chinese
// translation file is not installed; the program then runs with Qt's
// English strings.
QTranslator *installChineseUi(QCoreApplication &app);
