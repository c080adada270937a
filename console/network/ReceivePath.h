#pragma once

#include "core/SocketChannel.h"
#include "core/UdpServer.h"
#include "model/CStuInfo.h"
#include "pages/PageDirectory.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>

class LabGuard;
class NewMachineQueue;
class QStudentGroupWidget;
class QStudentManage;
class ConsoleCore;
class WindowParts;

// The agents' datagrams, on the network thread: who is alive, who registers
// and where it belongs, who needs the policy again. Every datagram is
// untrusted; the guard screens it before anything is believed. Widgets are
// never touched here: what the UI thread must show is told by the signals,
// which are emitted there, for machines the registry still holds.
class ReceivePath final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ReceivePath)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    ReceivePath(QStudentManage& registry, PageDirectory& pages, LabGuard& guard, UdpServer& server,
                QObject* parent = nullptr);

    // Network thread (tests/fuzz calls it directly).
    void onUdpMessage(const SocketChannelPtr& channel, const UdpBuffer& buf);
    // Datagrams arriving from now on are dropped: the console is ending.
    void stop() { running = false; }
    // The machines registered here wait on it for their rows (tests place them at once).
    NewMachineQueue& newMachines() { return *new_machines; }

signals:
    // A machine new to the registry, which still holds it.
    void sg_registered(const CStuInfo_PTR& machine);
    // A machine that made room for a new one and is gone from the registry.
    void sg_evicted(const CStuInfo_PTR& machine);
    // A known machine was heard again after it had gone off line.
    void sg_online(const CStuInfo_PTR& machine);
    // A known machine registered under a new name or address.
    void sg_renamed(const CStuInfo_PTR& machine, const QString& hostName, const QString& address);

private:
    QStudentGroupWidget* resolveMachineView(const PageDirectory::Guarded& directory, quint64 mac,
                                            const std::string& address, CStuInfo_PTR& machine,
                                            const QString& hostName = QString());
    void handleRegister(quint64 mac, const std::string& address, const char* payload, int len);
    void handlePolicyVersion(quint64 mac, const std::string& address, const char* payload, int len);
    static void replyReregister(const SocketChannelPtr& channel);

    QStudentManage& registry;
    PageDirectory& pages;
    LabGuard& guard;
    UdpServer& server;
    // Machines registered here are placed on the UI thread together.
    NewMachineQueue* new_machines = nullptr;
    std::atomic_bool running{true};
};
