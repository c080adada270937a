#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <memory>

// A named group of machines: one row of tb_groups.
struct CStudentGroup
{
    QString group_name;
    QSet<quint64> ullmac_list;
    int display_order = 1;
    bool is_global = false;

    // Members in decimal, joined by ","; the empty set gives "".
    QString ullmacListText() const;
    // Parts that are not numbers read as 0, as stored files expect.
    void setUllmacListText(const QString& text);

    // Names the console keeps for its own pages ("全部", "未分组"); no group
    // may take one.
    static bool isReservedName(const QString& name);
    // A typed or imported group name as it is kept: no quote marks, no
    // surrounding blanks.
    static QString normalisedName(QString text);
    // The order of the group tabs: ascending display_order, equal orders by
    // name, so that they come back the same at every start.
    static bool showsBefore(const CStudentGroup& a, const CStudentGroup& b);
};

using CStudentGroup_PTR = std::shared_ptr<CStudentGroup>;
