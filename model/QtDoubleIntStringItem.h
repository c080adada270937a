#pragma once

#include <QList>
#include <QString>

#include <memory>

// One entry of a process-watch list: one row of tb_string_items.
struct QtDoubleIntStringItem
{
    enum ListType { ForbiddenTitles = 1, ProtectedServices = 2, ProtectedPrograms = 3, Reserved = 4 };
    enum State { Inactive = 0, Active = 1 };

    int item_type = 0;
    int item_state = 0;
    QString str_val;
};

using QtDoubleIntStringItem_PTR = std::shared_ptr<QtDoubleIntStringItem>;
using StringItemList = QList<QtDoubleIntStringItem_PTR>;
