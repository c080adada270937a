#include "network/ReceivePath.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "groups/GroupOperations.h"
#include "log/EventLog.h"

#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/RegistrationAnswer.h"
#include "groups/NewMachineQueue.h"
#include "guard/LabGuard.h"
#include "model/MacAddress.h"
#include "pages/QStudentGroupWidget.h"

#include <QByteArray>

ReceivePath::ReceivePath(QStudentManage& registry, PageDirectory& pages, LabGuard& guard, UdpServer& server,
                         QObject* parent)
    : QObject(parent)
    , registry(registry)
    , pages(pages)
    , guard(guard)
    , server(server)
{
    new_machines = new NewMachineQueue(
        [this](const CStuInfo_PTR& machine, const CStuInfo_PTR& evicted) {
            if (evicted)
                emit sg_evicted(evicted);
            // The registry's lock first: the record was written under it. Not
            // one that made room for a later one meanwhile, or was deleted.
            if (this->registry.findMachine(machine->ullmac) != machine)
                return;
            emit sg_registered(machine);
        },
        this);
}

void ReceivePath::replyReregister(const SocketChannelPtr& channel)
{
    static const QByteArray reregister = Protocol::buildReregister();
    if (channel && channel->isOpened())
        channel->write(reregister.constData(), size_t(reregister.size()));
}

void ReceivePath::onUdpMessage(const SocketChannelPtr& channel, const UdpBuffer& buf)
{
    if (!running || buf.size() < size_t(Protocol::AgentHeadSize))
        return;

    std::string address = channel->peeraddr();
    const auto colon = address.rfind(':');
    if (colon != std::string::npos)
        address.erase(colon);

    const char* data = buf.data();
    const quint64 mac = Protocol::readU64(data);
    const uint32_t id = Protocol::readU32(data + 8);
    const char* payload = data + Protocol::AgentHeadSize;
    const int len = int(buf.size()) - Protocol::AgentHeadSize;

    if (mac == 0) {
        replyReregister(channel);
        return;
    }
    if (mac > MacAddress::MaxKey)
        return;
    const CStuInfo_PTR known = registry.findMachine(mac);
    if (!known && id != Protocol::MSG_STU_REGISTER) {
        replyReregister(channel);
        return;
    }
    switch (guard.screen(known, mac, id, channel->peerAddress())) {
    case LabGuard::Verdict::Reregister:
        replyReregister(channel);
        return;
    case LabGuard::Verdict::Drop:
        return;
    case LabGuard::Verdict::Accept:
        break;
    }
    if (known) {
        const bool wasOnline = known->online.load();
        known->markAlive();
        // The log is written on the UI thread; this thread never waits on it.
        if (!wasOnline)
            QMetaObject::invokeMethod(
                this,
                [this, known] {
                    if (registry.findMachine(known->ullmac) == known)
                        emit sg_online(known);
                },
                Qt::QueuedConnection);
    }

    if (id == Protocol::MSG_STU_REGISTER)
        handleRegister(mac, address, payload, len);
    else if (id == Protocol::MSG_STU_POLICY_VERSION)
        handlePolicyVersion(mac, address, payload, len);
}

// The page it returns stays valid while `directory` exists.
QStudentGroupWidget* ReceivePath::resolveMachineView(const PageDirectory::Guarded& directory, quint64 mac,
                                                     const std::string& address, CStuInfo_PTR& machine,
                                                     const QString& hostName)
{
    machine = registry.findMachine(mac);
    if (!machine) {
        const QStudentManage::Admission admission
            = guard.admitMachine(mac, hostName, QString::fromStdString(address));
        machine = admission.machine;
        if (!machine)
            return nullptr;
        // Widgets live on the UI thread; the rows are added there, together
        // (NewMachineQueue), for a record made now only.
        if (admission.made)
            new_machines->add(machine, admission.evicted);
    }
    // From the registry under its lock, never from the record, whose group
    // name the UI thread may be changing (a stored group may hold a new MAC).
    const QString groupName = registry.groupNameOfMachine(mac);
    QStudentGroupWidget* page = groupName.isEmpty() ? nullptr : directory.groupPage(groupName);
    machine->markAlive();
    return page ? page : directory.ungrouped();
}

void ReceivePath::handleRegister(quint64 mac, const std::string& address, const char* payload, int len)
{
    const CStuInfo_PTR before = registry.findMachine(mac);
    const QString addressText = QString::fromStdString(address);
    const RegistrationAnswer::Answer answer = guard.answerRegistration(before, payload, len, addressText);
    if (!answer.join)
        return;
    const QString hostName = Protocol::hostNameFromRegister(payload, len);

    uint32_t groupAddr = 0;
    CStuInfo_PTR machine;
    {
        const PageDirectory::Guarded directory = pages.guarded();
        QStudentGroupWidget* view = resolveMachineView(directory, mac, address, machine, hostName);
        if (view)
            groupAddr = view->group_addr;
    }
    if (!machine)
        return;

    // A known machine may come back under a new name or, with DHCP, a new
    // address, and one made meanwhile from an imported list has the list's
    // texts; they are changed on the UI thread, which reads them (unchanged
    // texts are left alone there) after taking the registry's lock: a record
    // made just now reaches that thread through it.
    if (answer.changed)
        QMetaObject::invokeMethod(
            this,
            [this, mac, machine, hostName, addressText] {
                if (registry.findMachine(mac) == machine)
                    emit sg_renamed(machine, hostName, addressText);
            },
            Qt::QueuedConnection);

    if (groupAddr != 0) {
        const QByteArray join = Protocol::buildJoinGroup(groupAddr);
        server.sendto(join.constData(), join.size(), Protocol::addressFromText(addressText), Protocol::AgentPort);
    }
}

void ReceivePath::handlePolicyVersion(quint64 mac, const std::string& address, const char* payload, int len)
{
    const PageDirectory::Guarded directory = pages.guarded();
    CStuInfo_PTR machine;
    QStudentGroupWidget* view = resolveMachineView(directory, mac, address, machine);
    if (!view || len < 4)
        return;
    view->resendPolicyIfNewer(Protocol::readU32(payload));
}

void ReceivePath::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* receive = new ReceivePath(core.registry(), core.pages(), *parts.guard, parts.endpoint, parts.window);
    parts.receive = receive;
    GroupOperations* groups = &core.groups();
    connect(receive, &ReceivePath::sg_evicted, groups, &GroupOperations::dropEvicted);
    connect(receive, &ReceivePath::sg_registered, groups, [groups](const CStuInfo_PTR& machine) { groups->placeMachine(machine); });
    connect(receive, &ReceivePath::sg_renamed, groups, &GroupOperations::renameMachine);
    parts.log->follow(*receive);
}
