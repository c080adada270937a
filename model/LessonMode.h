#pragma once

#include "model/QtDoubleIntStringItem.h"
#include "model/Rok_Lock_State.h"

#include <QString>
#include <QStringList>

#include <array>

// A named set-up of a group page, applied in one step at the start of a
// lesson: its lock, the manual-IP and USB switches, and the entries of the
// three central lists switched off for the group.
struct LessonMode
{
    QString name;
    int lock_type = Rok_Lock_State::None;
    bool allowmanualip = false;
    bool allowusbdrv = false;

    // Entries switched off, per list type 1 to 3; sorted, each once.
    const QStringList& disabled(int type) const;
    void setDisabled(int type, const QStringList& entries);

    // Everything but the name: two pages with the same settings make one mode.
    bool sameSettings(const LessonMode& other) const;

    // The entries switched off here that `catalog` no longer lists under
    // their type, in list order.
    QStringList missingEntries(const StringItemList& catalog) const;

    // A typed name as it is kept (the group names' rule).
    static QString normalisedName(const QString& text);
    // Why a normalised name cannot name a mode; empty when it can.
    static QString nameProblem(const QString& name);
    static constexpr int MaxNameLength = 40;

private:
    std::array<QStringList, 3> disabled_entries;
};
