#pragma once

#include "QtDoubleIntStringItem.h"

#include <QString>
#include <QStringList>

// What the process-watch lists must be for every agent to take them as the
// teacher wrote them. An agent splits a list's text at "\n" and rejects the
// whole policy when the pieces disagree with the item count; a title entry
// is a regular expression; the policy of a group travels in one datagram.
//
// Entries are named by list and row as the editor shows them: the row of an
// item is its place among the items of its type, in list order.
class PolicyRules final
{
public:
    PolicyRules() = delete;

    // Why the entry cannot go out as it stands, naming list, row and text;
    // empty when it can.
    static QString entryFault(int type, int row, const QString& text);
    // Bytes of the policy datagram carrying the active entries of types 1 to 3.
    static int policyBytes(const StringItemList& items);
    // Why a policy of `bytes` bytes cannot be sent; empty when it fits.
    static QString sizeFault(int bytes);
    // Every entry's fault in list order, then the size's.
    static QStringList faults(const StringItemList& items);
    // Makes stored lists sendable in place: line breaks and NULs are removed,
    // a title entry that does not compile is switched off (kept for the
    // teacher to mend). One line per repair, and a last one when the lists
    // stay too large; empty when nothing was wrong.
    static QStringList repair(StringItemList& items);
    // The first lines for a message box, with a count of the rest.
    static QString listed(const QStringList& lines);
};
