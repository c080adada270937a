#pragma once

#include <QObject>

class QDataHelper : public QObject
{
    Q_OBJECT
};
