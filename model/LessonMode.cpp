#include "model/LessonMode.h"

#include "model/CStudentGroup.h"

#include <QSet>

namespace {

bool validType(int type)
{
    return type >= 1 && type <= 3;
}

} // namespace

const QStringList& LessonMode::disabled(int type) const
{
    static const QStringList none;
    return validType(type) ? disabled_entries[size_t(type - 1)] : none;
}

void LessonMode::setDisabled(int type, const QStringList& entries)
{
    if (!validType(type))
        return;
    QStringList& kept = disabled_entries[size_t(type - 1)];
    kept = entries;
    kept.sort();
    kept.removeDuplicates();
}

bool LessonMode::sameSettings(const LessonMode& other) const
{
    return lock_type == other.lock_type && allowmanualip == other.allowmanualip && allowusbdrv == other.allowusbdrv
        && disabled_entries == other.disabled_entries;
}

QStringList LessonMode::missingEntries(const StringItemList& catalog) const
{
    std::array<QSet<QString>, 3> listed;
    for (const QtDoubleIntStringItem_PTR& item : catalog)
        if (item && validType(item->item_type))
            listed[size_t(item->item_type - 1)].insert(item->str_val);
    QStringList missing;
    for (int type = 1; type <= 3; ++type)
        for (const QString& entry : disabled(type))
            if (!listed[size_t(type - 1)].contains(entry))
                missing << entry;
    return missing;
}

QString LessonMode::normalisedName(const QString& text)
{
    return CStudentGroup::normalisedName(text);
}

QString LessonMode::nameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("请输入课堂模式的名称。");
    if (name.size() > MaxNameLength)
        return QStringLiteral("名称不能超过 %1 个字。").arg(MaxNameLength);
    return QString();
}
