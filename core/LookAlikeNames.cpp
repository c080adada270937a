#include "core/LookAlikeNames.h"

#include "core/HostName.h"

QList<quint64> LookAlikeNames::rename(quint64 mac, const QString& name)
{
    const QString key = HostName::comparable(name);
    const auto known = key_of.constFind(mac);
    if (known != key_of.cend() ? *known == key : key.isEmpty())
        return {};
    remove(mac);
    if (key.isEmpty())
        return {};
    QList<quint64>& named = by_key[key];
    const QList<quint64> before = named;
    named << mac;
    key_of.insert(mac, key);
    return before;
}

void LookAlikeNames::remove(quint64 mac)
{
    const auto known = key_of.find(mac);
    if (known == key_of.end())
        return;
    const auto named = by_key.find(*known);
    if (named != by_key.end()) {
        named->removeAll(mac);
        if (named->isEmpty())
            by_key.erase(named);
    }
    key_of.erase(known);
}

QList<quint64> LookAlikeNames::alike(quint64 mac, int most) const
{
    const auto known = key_of.constFind(mac);
    if (known == key_of.cend())
        return {};
    QList<quint64> others;
    for (const quint64 other : by_key.value(*known)) {
        if (others.size() == most)
            break;
        if (other != mac)
            others << other;
    }
    return others;
}
