#pragma once

#include "model/BeforeLesson.h"

#include <QString>
#include <QStringList>

#include <functional>

// What the timetable does to a page, by page name, each through the lock
// path as the timetable's own change. `lessonText` ("课表：周一 08:00–08:45")
// goes into the log rows.
struct LessonActions
{
    // The lesson modes a lesson may name.
    std::function<QStringList()> modeNames;
    // A lesson's start applies `mode`; returns what it changed beyond the lock.
    std::function<BeforeLesson(const QString& page, const QString& mode, const QString& lessonText)> start;
    // A lesson's end: a saved lesson mode `mode` applies whole; otherwise
    // what `before` holds is put back and lock type `lock` set (the lock
    // named by `mode`, if it names one; 0 releases).
    std::function<void(const QString& page, const QString& mode, int lock, const BeforeLesson& before,
        const QString& lessonText)>
        end;
    // Wake-on-LAN of the page's machines.
    std::function<void(const QString& page)> wake;
    // A row of the event log for what the timetable did besides a mode.
    std::function<void(const QString& page, const QString& detail)> log;
};
