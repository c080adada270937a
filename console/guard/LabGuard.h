#pragma once

#include "AgentPortWatch.h"
#include "CStuInfo.h"
#include "JoinRepeater.h"
#include "PageDirectory.h"
#include "RegistrationGate.h"

#include <QObject>

#include <cstdint>
#include <memory>

class EventLogStore;
class QStudentManage;
class SecurityMonitor;
class UdpServer;

// What keeps a room locked against a student PC on the lab network, beside
// the window's endpoint: the joins repeated to every machine, the watch of
// the agents' port for other consoles' words, the limits on registrations,
// the rule that a machine speaks only from its recorded address, and the
// teacher's alerts (SecurityMonitor).
class LabGuard final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LabGuard)

public:
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

    // Network thread. `known`: the machine of the datagram's MAC, null for a
    // new one (whose datagram is a registration). May record a known machine's
    // new address when it registers from there while off line.
    Verdict screen(const CStuInfo_PTR& known, uint32_t id, uint32_t source);

    // Which machines' events are logged, so that a flood cannot fill the log.
    bool admitMachineEvent(const CStuInfo_PTR& machine);

    SecurityMonitor* monitor() const { return security; }

signals:
    // For the tray and the status bar.
    void sg_alert(const QString& title, const QString& text);

private:
    bool admitRegistration(uint32_t source);
    // Watch thread: someone else set the state of the page at `group`
    // (0: of every page, after a sweep of the joins).
    void resendPageState(uint32_t group);

    QStudentManage& registry;
    PageDirectory& pages;
    UdpServer& server;
    SecurityMonitor* security = nullptr;
    AgentPortWatch port_watch;
    RegistrationGate registration_gate; // network thread
    std::unique_ptr<JoinRepeater> join_repeater;
};
