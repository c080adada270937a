#include "storage/GroupSettingsSession.h"

#include "storage/GroupSettingsFile.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <utility>

GroupSettingsSession::GroupSettingsSession(QString path)
    : file_path(std::move(path))
{
}

bool GroupSettingsSession::load(QList<GroupSettings>& entries, QString* notice)
{
    // Read at most once per run; a failed read is reported once.
    if (loaded || read_failed)
        return false;
    if (!QFile::exists(file_path)) {
        loaded = true; // nothing to lose: the first exit creates it
        return false;
    }
    QString error;
    bool damaged = false;
    if (!GroupSettingsFile::read(file_path, entries, &error, &damaged)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        // One that could not be read at all (or moved aside) is never written over.
        const QString keptAs = damaged ? GroupSettingsFile::setAside(file_path) : QString();
        const QString shown = QDir::toNativeSeparators(file_path);
        if (keptAs.isEmpty()) {
            read_failed = true;
            if (notice)
                *notice = QStringLiteral("无法读取设置文件“%1”：%2\n本次运行不会改写该文件。").arg(shown, error);
            return false;
        }
        loaded = true;
        if (notice)
            *notice = QStringLiteral("设置文件“%1”已损坏（%2），已改名为“%3”保留。\n各组使用默认设置，并照常保存。")
                          .arg(shown, error, QDir::toNativeSeparators(keptAs));
        return false;
    }
    loaded = true;
    return true;
}

bool GroupSettingsSession::save(const QList<GroupSettings>& entries, QString* error) const
{
    if (!loaded)
        return false;
    return GroupSettingsFile::write(file_path, entries, error);
}
