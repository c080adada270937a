#pragma once

#include "core/LookAlikeNames.h"
#include "core/RepeatCounter.h"
#include "model/CStuInfo.h"
#include "model/SecurityRowBudget.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <algorithm>
#include <cstdint>

class EventLogStore;
class QStudentManage;
class QTimer;

// Tells the teacher what the network threads saw of someone else on the
// lab network: another console's datagrams, a registration that tried to
// take over a machine on line elsewhere, machines whose names read alike.
// Once per sender (or pair of addresses) in a window: one "安全" row on the
// page it was aimed at, whose count grows as the same sender goes on, and an
// alert with it. Rows over the page's budget (SecurityRowBudget) only count
// in the minute's summary and bring no alert; a sender turned away so is
// tried again while it goes on.
class SecurityMonitor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SecurityMonitor)

public:
    static constexpr qint64 WindowMs = 10 * 60 * 1000;
    static constexpr int MaxPairs = 1024;
    static constexpr int CountUpdateMs = 1000;

    SecurityMonitor(const QStudentManage& registry, EventLogStore* log, QObject* parent = nullptr);

    // The watch's count of foreign senders, read for the rows' counts.
    void setSenderCounter(RepeatCounter* senders);
    // Hit by the receive path for every conflict, forgery and refused
    // registration.
    RepeatCounter& conflictCounter() { return conflicts; }
    RepeatCounter& forgeryCounter() { return forgeries; }
    RepeatCounter& refusalCounter() { return refusals; }
    // Keys of refusalCounter beside the addresses: one row for every
    // refusal at a bound.
    static constexpr quint64 RegistryFullKey = quint64(1) << 32;
    static constexpr quint64 QuotaKey = quint64(2) << 32;
    static constexpr quint64 RateKey = quint64(3) << 32;

    // Machines of one address coming, going and registering more often than
    // this in a minute are logged as one counted row, so they cannot flood
    // the log. True: log the event as usual.
    static constexpr int MachineEventsPerMinute = 20;
    bool admitMachineEvent(uint32_t address);

    // UI thread, queued from the network threads on a first sighting.
    // `kind`: AgentPortWatch::Kind; `page`: the page it was aimed at;
    // `forged`: the datagram bore the console's own address and port.
    void noteForeignSender(uint32_t sender, int kind, const QString& page, bool forged = false);
    // A room's agents were sent `perSecond` foreign words in the last second
    // (UI thread): one alert when that starts and again whenever the rate
    // has doubled, so the teacher can go and see; one "安全" row per room
    // and attack, which follows the highest rate. An attack ends after
    // RoomQuietMs without a word.
    void noteRoomUnderAttack(const QString& room, int perSecond);
    static constexpr qint64 RoomQuietMs = 60 * 1000;
    // Two addresses claim one MAC; neither is judged the impostor.
    void noteConflict(quint64 mac, uint32_t recorded, uint32_t claimed);
    // The OS gives `source` the MAC `other`, not `mac`.
    void noteForged(quint64 mac, uint32_t source, quint64 other);
    // The address holds its share of machines.
    void noteRefusedRegistrations(uint32_t address);
    // RegistryFullKey, QuotaKey (also when the quota was just reached) or
    // RateKey: one row for all, counting.
    void noteRefusedAtBound(quint64 key);

    static quint64 pairKey(uint32_t recorded, uint32_t claimed) { return quint64(recorded) << 32 | claimed; }
    // The same for either address first.
    static quint64 conflictKey(quint64 mac, uint32_t a, uint32_t b)
    {
        return (mac * 0x9E3779B97F4A7C15ULL) ^ pairKey(std::min(a, b), std::max(a, b));
    }
    static quint64 forgeryKey(quint64 mac, uint32_t source) { return (mac * 0x9E3779B97F4A7C15ULL) ^ source; }

    // A machine came, was renamed or went (UI thread): its name is compared
    // with the others', and alike names are marked on both machines
    // (CStuInfo::alike_names, shown at the pages' next refresh) with a row
    // when they first meet.
    void noteMachineNamed(const CStuInfo_PTR& machine);

signals:
    // For the tray and the status bar.
    void sg_alert(const QString& title, const QString& text);

private:
    // A row's handle and its text without the count, by key.
    struct Row
    {
        qint64 handle = 0;
        QString detail;
    };

    // A sender whose first word went into its minute's summary (kind -1:
    // not known any more).
    struct Unrecorded
    {
        QString page;
        int kind = 0;
    };
    void recordReturning(quint64 key, quint64 count);

    void updateCounts();
    // False when the row went into the summary. `rows`: where its count is
    // kept, if it has one.
    bool addRow(QHash<quint64, Row>* rows, quint64 key, const QString& page, quint64 mac, const QString& machine,
        const QString& detail, SecurityRowBudget::Source source = SecurityRowBudget::Source::New);
    // `key`: AgentPortWatch::senderKey.
    bool recordSender(quint64 key, const Unrecorded& aim, SecurityRowBudget::Source source, quint64 count);
    QString machineAt(uint32_t address) const;
    void markAlike(quint64 mac);
    // "PC-21（21:00:00:00:00:5A）、…等"
    QString namesOf(const QList<quint64>& macs) const;
    static constexpr int NamedAlike = 3;

    const QStudentManage& registry;
    EventLogStore* log = nullptr;
    RepeatCounter* senders = nullptr;
    RepeatCounter conflicts { WindowMs, MaxPairs };
    RepeatCounter forgeries { WindowMs, MaxPairs };
    RepeatCounter refusals { WindowMs, MaxPairs };
    RepeatCounter machine_events { 60 * 1000, MaxPairs };
    QHash<quint64, Row> sender_rows;
    QHash<quint64, Row> conflict_rows;
    QHash<quint64, Row> forgery_rows;
    QHash<quint64, Row> refusal_rows;
    QHash<quint64, Row> burst_rows;
    struct RoomAttack
    {
        int alerted = 0;
        qint64 last_ms = 0;
        qint64 handle = 0;
    };
    QHash<QString, RoomAttack> room_attacks;
    QHash<quint64, Unrecorded> unrecorded_senders;
    LookAlikeNames names;
    QTimer* count_timer = nullptr;
};
