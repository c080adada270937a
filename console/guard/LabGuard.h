#pragma once

#include "core/AgentPortWatch.h"
#include "core/AnswerBudget.h"
#include "core/JoinRepeater.h"
#include "core/NeighbourTable.h"
#include "core/QStudentManage.h"
#include "core/RegistrationAnswer.h"
#include "core/RegistrationGate.h"
#include "model/CStuInfo.h"
#include "pages/PageDirectory.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>

#include <functional>

class EventLogStore;
class QTimer;
class GroupOperations;
class QMenu;
class SecurityMonitor;
class UdpServer;
class ConsoleCore;
class WindowParts;

// What keeps a room locked against a student PC on the lab network, beside
// the window's endpoint: the joins repeated to every machine, the watch of
// the agents' port for words the console did not send, the limits on
// registrations, the rule that a machine speaks only from its recorded
// address, and the teacher's alerts (SecurityMonitor). Its answers restore
// what a page sends, never change it, and spend from one byte budget: at
// most the normal repetition's bytes again.
class LabGuard final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LabGuard)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    // What the receive path does with a machine's datagram.
    enum class Verdict { Accept, Reregister, Drop };

    LabGuard(QStudentManage& registry, PageDirectory& pages, UdpServer& server, EventLogStore* log,
             QObject* parent = nullptr);
    ~LabGuard() override;

    // Before the endpoint's loop starts: the joins repeat on it.
    void repeatJoins();
    // Once it runs; false when the agents' port cannot be watched.
    bool watchAgentPort();
    bool watchingAgentPort() const { return port_watch.isOpen(); }
    // Before the endpoint stops.
    void stop();

    // The pages' multicast addresses changed (UI thread).
    void setGroupAddresses(const PageDirectory::Addresses& addresses);
    // Any thread, before it leaves: the window sends `datagram` to `address`
    // (network order). The watch takes back on the groups only what was
    // noted here.
    void noteSent(uint32_t address, const QByteArray& datagram);

    // Network thread. `known`: the machine of the datagram's MAC, null for a
    // new one (whose datagram is a registration, see admitMachine). May
    // record a known machine's new address (MachineIdentity). A PC that
    // claims a known MAC from another address is sent the machine's group
    // join here, and its datagram dropped.
    Verdict screen(const CStuInfo_PTR& known, quint64 mac, uint32_t id, uint32_t source);
    // Network thread: a MAC's first registration, from `ip`, through the
    // neighbour table, the limits and the registry's bounds.
    QStudentManage::Admission admitMachine(quint64 mac, const QString& hostName, const QString& ip);
    // Network thread: what an accepted registration of `known` (null for a
    // new machine) from `ip` is answered with. Anyone can make every agent
    // register again; one that changes nothing is answered once a second.
    RegistrationAnswer::Answer answerRegistration(
        const CStuInfo_PTR& known, const char* payload, int len, const QString& ip);

    // "采用新地址" in the machine menu: the machine takes the address that
    // claims its MAC (enabled for one machine in a conflict).
    void attachMachineMenu(QMenu* menu, std::function<QList<quint64>()> targets, GroupOperations* operations);
    // The OS's neighbour table (tests give it a fake reader).
    NeighbourTable& neighbourTable() { return neighbours; }

    // Which machines' events are logged, so that a flood cannot fill the log.
    bool admitMachineEvent(const CStuInfo_PTR& machine);

    SecurityMonitor* monitor() const { return security; }
    // For the tests, which feed it datagrams on their own clock.
    AgentPortWatch& portWatch() { return port_watch; }
    // What the guard may burst beyond the normal repetition, in seconds of it.
    static constexpr double BudgetSeconds = 1;

signals:
    // For the tray and the status bar.
    void sg_alert(const QString& title, const QString& text);

private:
    // Watch thread: someone else set the state of the page at `group`: its
    // lock word and/or policy again (0: every page's lock word, after a
    // sweep of the joins; network thread).
    void resendPageState(uint32_t group, bool lock, bool policy);
    void send(uint32_t group, const QByteArray& datagram);
    // A sweep's bytes: every machine's join and every page's lock word.
    int sweepBytes(int joins) const;
    // Network thread: the budget follows what the pages and joins repeat.
    void updateBudget(AnswerBudget::Clock::time_point now);
    // UI thread, each second: the rooms that foreign words hit.
    void reportRoomHits();
    bool admitMove(quint64 mac, uint32_t source);
    void tellRefused(uint32_t source, RegistrationGate::Verdict verdict);
    void tellRefused(uint32_t source, QStudentManage::Admission::Refusal refusal);
    void tellRefusedAtBound(quint64 key);
    // The datagram's MAC is not the one the OS knows at its source address.
    bool forged(quint64 mac, uint32_t source);
    void tellForged(quint64 mac, uint32_t source);
    // Another address claims the MAC: it is told the machine's group.
    void claimed(const CStuInfo_PTR& known, uint32_t source);
    void sendGroupJoin(quint64 mac, uint32_t agent);
    void showStateOf(const CStuInfo_PTR& machine);
    // UI thread: the page whose group a datagram went to; "全部" for the
    // broadcast address, a group no page has, or not known.
    QString pageAimedAt(uint32_t destination) const;

    QStudentManage& registry;
    PageDirectory& pages;
    UdpServer& server;
    SecurityMonitor* security = nullptr;
    AnswerBudget budget;
    AgentPortWatch port_watch;
    std::atomic_int page_groups { 0 };
    QTimer* hits_timer = nullptr;
    RegistrationGate registration_gate; // network thread
    NeighbourTable neighbours;
    std::unique_ptr<JoinRepeater> join_repeater;
};
