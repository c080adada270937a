#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the timetable does to a page, by page name, each the way the
// teacher's own command does it.
struct LessonActions
{
    // The lesson modes a lesson may name.
    std::function<QStringList()> modeNames;
    // Applies `mode`; its log row carries `logKindText` ("课表：周一 08:00–08:45").
    std::function<void(const QString& page, const QString& mode, const QString& logKindText)> applyMode;
    // Lock type `kind` (0 releases) through the window's lock path.
    std::function<void(const QString& page, int kind)> setLock;
    // Wake-on-LAN of the page's machines.
    std::function<void(const QString& page)> wake;
    // A row of the event log for what the timetable did besides a mode.
    std::function<void(const QString& page, const QString& detail)> log;
};
