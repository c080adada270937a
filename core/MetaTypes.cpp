#include "core/MetaTypes.h"

void registerRokMetaTypes()
{
    qRegisterMetaType<MachineHash>("unordered_map<uint64_t, CStuInfo_PTR>");
    qRegisterMetaType<CStuInfo_PTR>("CStuInfo_PTR");
    qRegisterMetaType<QList<CStuInfo_PTR>>("QList<CStuInfo_PTR>");
    qRegisterMetaType<uint32_t>("uint32_t");
}
