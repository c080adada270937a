#pragma once

#include <QString>

class QTranslator;

// Qt's own texts (standard buttons, the file dialog) in Chinese, as the rest
// of the console. They come from Qt's translation files: Qt's translations
// folder on Linux, a "translations" folder beside the program on Windows.
class QtTranslation final
{
public:
    QtTranslation() = delete;

    // Where the files are looked for.
    static QString directory();
    // Loads Qt's Chinese catalog from `dir` and installs it on the running
    // application, which owns it; null when it is not there.
    static QTranslator* install(const QString& dir = directory());
};
