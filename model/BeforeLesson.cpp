#include "model/BeforeLesson.h"

namespace {

QStringList minus(const QStringList& from, const QStringList& taken)
{
    QStringList rest;
    for (const QString& entry : from)
        if (!taken.contains(entry))
            rest << entry;
    return rest;
}

QStringList sorted(QStringList entries)
{
    entries.sort();
    entries.removeDuplicates();
    return entries;
}

} // namespace

bool BeforeLesson::isEmpty() const
{
    if (allowmanualip >= 0 || allowusbdrv >= 0)
        return false;
    for (size_t i = 0; i < 3; ++i)
        if (!switched_off[i].isEmpty() || !switched_on[i].isEmpty())
            return false;
    return true;
}

bool BeforeLesson::operator==(const BeforeLesson& other) const
{
    return allowmanualip == other.allowmanualip && allowusbdrv == other.allowusbdrv
        && switched_off == other.switched_off && switched_on == other.switched_on;
}

BeforeLesson BeforeLesson::between(const LessonMode& before, const LessonMode& after)
{
    BeforeLesson changed;
    if (before.allowmanualip != after.allowmanualip)
        changed.allowmanualip = before.allowmanualip ? 1 : 0;
    if (before.allowusbdrv != after.allowusbdrv)
        changed.allowusbdrv = before.allowusbdrv ? 1 : 0;
    for (int type = 1; type <= 3; ++type) {
        changed.switched_off[size_t(type - 1)] = minus(after.disabled(type), before.disabled(type));
        changed.switched_on[size_t(type - 1)] = minus(before.disabled(type), after.disabled(type));
    }
    return changed;
}

void BeforeLesson::keepEarlier(const BeforeLesson& earlier)
{
    if (earlier.allowmanualip >= 0)
        allowmanualip = earlier.allowmanualip;
    if (earlier.allowusbdrv >= 0)
        allowusbdrv = earlier.allowusbdrv;
    for (size_t i = 0; i < 3; ++i) {
        const QStringList decided = earlier.switched_off[i] + earlier.switched_on[i];
        switched_off[i] = sorted(minus(switched_off[i], decided) + earlier.switched_off[i]);
        switched_on[i] = sorted(minus(switched_on[i], decided) + earlier.switched_on[i]);
    }
}

LessonMode BeforeLesson::putBack(const LessonMode& now) const
{
    LessonMode back = now;
    if (allowmanualip >= 0)
        back.allowmanualip = allowmanualip == 1;
    if (allowusbdrv >= 0)
        back.allowusbdrv = allowusbdrv == 1;
    for (int type = 1; type <= 3; ++type) {
        const size_t i = size_t(type - 1);
        back.setDisabled(type, minus(now.disabled(type), switched_off[i]) + switched_on[i]);
    }
    return back;
}
