#pragma once

#include "model/CStuInfo.h"

#include <QList>
#include <QMetaType>

#include <cstdint>
#include <unordered_map>

using MachineHash = std::unordered_map<uint64_t, CStuInfo_PTR>;

Q_DECLARE_METATYPE(CStuInfo_PTR)
Q_DECLARE_METATYPE(MachineHash)

// Lets machine records and the message signals' uint32_t travel through
// queued connections. Safe to call more than once.
void registerRokMetaTypes();
