#pragma once

#include "model/CStuInfo.h"

#include <QString>

#include <cstdint>
#include <memory>

// The persisted part of a machine: one row of tb_machines.
struct Machine
{
    uint64_t ullmac = 0;
    QString ip;
    QString hostname;

    static std::shared_ptr<Machine> fromStuInfo(const CStuInfo& info)
    {
        auto m = std::make_shared<Machine>();
        m->ullmac = info.ullmac;
        m->ip = info.ip;
        m->hostname = info.hostname;
        return m;
    }

    // A loaded machine starts off line and in no group.
    CStuInfo_PTR toStuInfo() const
    {
        auto info = std::make_shared<CStuInfo>();
        info->ullmac = ullmac;
        info->ip = ip;
        info->hostname = hostname;
        return info;
    }
};

using Machine_PTR = std::shared_ptr<Machine>;
