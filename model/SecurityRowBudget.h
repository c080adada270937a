#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

// How many "安全" rows a page gets in a minute. A datagram's source address is
// whatever its sender wrote, so made-up sources cost a student nothing: one
// row each would bury the log and the teacher. Per page and minute the first
// rows name their source and the rest are counted in one summary row ("另有 N
// 个来源未记录"). Part of the minute's rows is kept for sources that come
// back (a student who keeps sending), which one-shot made-up sources cannot
// take. The texts every such row shares are here too.
class SecurityRowBudget final
{
public:
    static constexpr int RowsPerMinute = 8;
    // Of those, sources heard for the first time take at most this many.
    static constexpr int NewSourceRows = 4;
    static constexpr qint64 MinuteMs = 60 * 1000;
    // The page of rows aimed at no one page (the broadcast address, another
    // console's beacon); every room's filter shows them.
    static const QString EveryPage;

    // Bounded: a row its caller holds to one a room and attack; always
    // recorded, and counted against the minute's rows.
    enum class Source { New, Returning, Bounded };
    struct Verdict
    {
        bool row = true; // a row of its own
        // Else the page's sources of this minute not recorded so far (a new
        // one included, a returning one counted when first turned away) and
        // the minute's start (UTC ms).
        int unrecorded = 0;
        qint64 minute = 0;
    };

    Verdict admit(const QString& page, qint64 nowMs, Source source = Source::New);

    // "另有 3 个来源未记录"
    static QString summary(int unrecorded);
    // A source address as a row names it: anyone can write any address into
    // a datagram, so it accuses no one. `machine`: the known machine at that
    // address, if any.
    static QString source(const QString& address, const QString& machine = QString());

private:
    struct Minute
    {
        qint64 start = 0;
        int rows = 0;
        int unrecorded = 0;
    };

    QHash<QString, Minute> minutes;
};
