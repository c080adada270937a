#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QString QtTranslation::directory()
{
#ifdef Q_OS_WIN
    // A cross-built Qt names the build machine's folder; the zip and the
    // installer put the files beside the program.
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"));
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

QTranslator* QtTranslation::install(const QString& dir)
{
    // qtbase alone covers the modules the console uses; qt_zh_CN would also
    // want the catalogs of modules it does not ship.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"), dir)
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
