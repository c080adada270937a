#pragma once

#include <QString>

#include <memory>

struct QtIntStringItem
{
    int value = 0;
    QString text;
};

using QtIntStringItem_PTR = std::shared_ptr<QtIntStringItem>;
