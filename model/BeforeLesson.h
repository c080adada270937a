#pragma once

#include "model/LessonMode.h"

#include <QStringList>

#include <array>

// What scheduled lesson starts changed on a page beyond its lock, with the
// values they changed, so that the lesson's end puts back exactly that: what
// no start touched (a teacher's switch in between) stays as it is.
struct BeforeLesson
{
    // The value before the start; -1: the start left it.
    int allowmanualip = -1;
    int allowusbdrv = -1;
    // Per list type 1 to 3: entries the start switched off, and on; sorted.
    std::array<QStringList, 3> switched_off;
    std::array<QStringList, 3> switched_on;

    bool isEmpty() const;
    bool operator==(const BeforeLesson& other) const;

    // From the page's set-up just before and just after a start.
    static BeforeLesson between(const LessonMode& before, const LessonMode& after);
    // A start came before this one's lesson ended (back to back, or its end
    // was missed): what the earlier start found is what comes back.
    void keepEarlier(const BeforeLesson& earlier);
    // `now` with what the starts changed put back; its lock and name as they are.
    LessonMode putBack(const LessonMode& now) const;
};
