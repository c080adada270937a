#include "model/LockShown.h"

LockShown LockShown::of(const Rok_Lock_State& state)
{
    return { state.lock_type, state.allowmanualip.load(), state.allowusbdrv.load() };
}

LockShown LockShown::common(const QList<const Rok_Lock_State*>& states)
{
    if (states.isEmpty())
        return {};
    LockShown shown = of(*states.first());
    bool sameType = true, sameIp = true, sameUsb = true;
    for (const Rok_Lock_State* state : states) {
        sameType = sameType && state->lock_type == shown.lock_type;
        sameIp = sameIp && state->allowmanualip == shown.allowmanualip;
        sameUsb = sameUsb && state->allowusbdrv == shown.allowusbdrv;
    }
    if (!sameType)
        shown.lock_type = Rok_Lock_State::None;
    if (!sameIp)
        shown.allowmanualip = true;
    if (!sameUsb)
        shown.allowusbdrv = true;
    return shown;
}
