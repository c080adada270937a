#pragma once

#include <QtGlobal>

// The icons are compiled into a static library, whose registration object the
// linker drops unless something refers to it. Call this once at start-up (and in
// tests) before looking anything up under ":/RokVtxAdmin". It stays outside any
// namespace because Q_INIT_RESOURCE declares the registration function locally.
inline void initRokResources()
{
    Q_INIT_RESOURCE(RokVtxAdmin);
}
