#pragma once

#include "model/QtDoubleIntStringItem.h"

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
    // Why the console cannot check a title entry itself (its expression
    // engine rejects it); empty when it can. Such an entry still goes out:
    // the agents match with engines of their own, where it may be valid.
    static QString titleNote(const QString& text);
    // titleNote for an entry of any list, naming list, row and text.
    static QString entryNote(int type, int row, const QString& text);
    // Bytes of the policy datagram carrying the active entries of types 1 to 3.
    static int policyBytes(const StringItemList& items);
    // Why a policy of `bytes` bytes cannot be sent; empty when it fits.
    static QString sizeFault(int bytes);
    // Every entry's fault in list order, then the size's.
    static QStringList faults(const StringItemList& items);
    // Makes stored lists sendable in place: line breaks and NULs are removed,
    // and nothing else is changed. One line per repair and per entry the
    // console cannot check, and a last one when the lists are too large;
    // empty when there is nothing to tell.
    static QStringList repair(StringItemList& items);
    // The first lines for a message box, with a count of the rest.
    static QString listed(const QStringList& lines);
};
