#pragma once

#include "model/Rok_Lock_State.h"

#include <QList>

// What the lock actions show for a tab: its page's state, or on "全部" what
// every group page shares. Where the pages differ the marks stay off (no
// lock, "自动IP" and "禁用U盘" unticked), so that a press puts the same
// restriction on each.
struct LockShown
{
    int lock_type = Rok_Lock_State::None;
    bool allowmanualip = false;
    bool allowusbdrv = false;

    static LockShown of(const Rok_Lock_State& state);
    // No pages: nothing locked, nothing allowed.
    static LockShown common(const QList<const Rok_Lock_State*>& states);
};
