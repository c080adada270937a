#pragma once

#include <QHash>
#include <QList>
#include <QString>

// Which machines' names read alike: the same after Unicode compatibility
// normalisation (full-width letters and digits, ligatures), with invisible
// characters, white space and case set aside (HostName::comparable). A
// student PC may call itself like a classmate's to be taken for it, a cloned
// PC may keep its image's name; the teacher is shown both, and the names stay
// as the machines sent them. UI thread only.
class LookAlikeNames final
{
public:
    // `mac` is called `name` now (empty: nothing to compare). The machines
    // whose names read like it now and did not before.
    QList<quint64> rename(quint64 mac, const QString& name);
    void remove(quint64 mac);
    // The other machines whose names read like `mac`'s, the first `most`
    // of them in the order they took the name (-1: all).
    QList<quint64> alike(quint64 mac, int most = -1) const;

private:
    QHash<QString, QList<quint64>> by_key;
    QHash<quint64, QString> key_of;
};
